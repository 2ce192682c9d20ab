"""ZIP archives made by the zip tool, by Python's zipfile and by hand are
optimised, and afterwards pass `unzip -t` and read back with zipfile with the
same members, contents and CRCs, whatever is kept."""

import os
import shutil
import tempfile
import unittest
import zipfile

import trimbit_cli as cli
import zip_fixtures as fx
from zip_fixtures import Member

OPTION_SETS = [(), ("-c",), ("-k",), ("-c", "-k")]
EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "examples")


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def tool_folder(folder):
    """A folder with text, incompressible data, an empty file and a directory."""
    os.makedirs(os.path.join(folder, "docs", "empty_dir"))
    with open(os.path.join(folder, "docs", "words.txt"), "wb") as f:
        f.write(fx.sample_text(40000))
    with open(os.path.join(folder, "docs", "noise.bin"), "wb") as f:
        f.write(os.urandom(3000))
    open(os.path.join(folder, "docs", "empty.txt"), "wb").close()
    with open(os.path.join(folder, "short.txt"), "wb") as f:
        f.write(b"a short member\n")


def by_zip_tool(level):
    def make(folder):
        source = os.path.join(folder, "src")
        tool_folder(source)
        path = fx.zip_tool(source, "tool.zip", ["docs", "short.txt"], "-r", level)
        # An archive comment, then one comment per member (zip reads them from stdin).
        fx.zip_tool(source, "tool.zip", [], "-z", stdin=b"archive comment\n")
        fx.zip_tool(source, "tool.zip", ["docs/words.txt", "short.txt"], level, "-c",
                    stdin=b"first note\nsecond note\n")
        target = os.path.join(folder, "tool.zip")
        shutil.move(path, target)
        return target
    return make


def by_zipfile(streamed):
    def make(folder):
        path = os.path.join(folder, "python.zip")
        commented = zipfile.ZipInfo("commented.txt", (2025, 1, 1, 12, 0, 0))
        commented.comment = b"member comment"
        with_extra = zipfile.ZipInfo("extra.txt", (2025, 1, 1, 12, 0, 0))
        with_extra.extra = fx.extra_field(0xCAFE, b"private data")
        fx.python_archive(path, [
            ("deflated.txt", fx.sample_text(20000, 2), zipfile.ZIP_DEFLATED),
            ("stored.txt", fx.sample_text(5000, 3), zipfile.ZIP_STORED),
            ("folder/", b"", zipfile.ZIP_STORED),
            ("empty.txt", b"", zipfile.ZIP_DEFLATED),
            ("empty-stored.txt", b"", zipfile.ZIP_STORED),
            (commented, fx.sample_text(3000, 4), zipfile.ZIP_DEFLATED),
            (with_extra, fx.sample_text(3000, 5), zipfile.ZIP_DEFLATED),
        ], comment=b"archive comment", streamed=streamed)
        return path
    return make


def by_hand(**layout):
    def make(folder):
        path = os.path.join(folder, "built.zip")
        note = fx.extra_field(0x7777, b"local")
        with open(path, "wb") as f:
            f.write(fx.build([
                Member("bare.txt", fx.sample_text(9000, 6), level=1, descriptor="bare"),
                Member("signed.txt", fx.sample_text(7000, 7), level=9, descriptor="signed",
                       local_extra=note, comment=b"signed"),
                Member("stored.bin", os.urandom(500), method=0, descriptor="bare"),
                Member("dir/", b"", method=0),
                Member("dir/empty", b"", descriptor="signed"),
                Member("filtered.txt", fx.sample_text(6000, 8), level=0),
            ], comment=b"built by hand", **layout))
        return path
    return make


def example(folder):
    path = os.path.join(folder, "licenses.zip")
    shutil.copy(os.path.join(EXAMPLES, "licenses.zip"), path)
    return path


MAKERS = {
    "zip -1": by_zip_tool("-1"),
    "zip -9": by_zip_tool("-9"),
    "zipfile": by_zipfile(streamed=False),
    "zipfile with descriptors": by_zipfile(streamed=True),
    "by hand, descriptors": by_hand(),
    "by hand, entries out of offset order": by_hand(central_order=[4, 1, 5, 0, 3, 2]),
    "example": example,
}


class ArchivesReadBack(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        cli.assert_no_temporary_file(self, self.folder)
        shutil.rmtree(self.folder)

    def test_every_member_reads_back_with_every_option_set(self):
        for maker_name, make in MAKERS.items():
            for options in OPTION_SETS:
                with self.subTest(archive=maker_name, options=options):
                    work = tempfile.mkdtemp(dir=self.folder)
                    path = make(work)
                    before = fx.members(path)
                    old_size = os.path.getsize(path)
                    result = cli.run(*options, path)
                    self.assertEqual(result.code, 0, result.stdout)
                    self.assertIn("File rewritten.", result.stdout)
                    self.assertLess(os.path.getsize(path), old_size)
                    fx.assert_same_members(self, path, before)
                    with zipfile.ZipFile(path) as z:
                        infos = z.infolist()
                    self.assertFalse([i.filename for i in infos if i.is_dir()])
                    self.assertFalse([i.filename for i in infos if i.flag_bits & 0x08])
                    # Central entries follow the order of the local headers.
                    offsets = [i.header_offset for i in infos]
                    self.assertEqual(offsets, sorted(offsets))
                    cli.assert_no_temporary_file(self, work)

    def test_empty_member_becomes_stored_without_data(self):
        path = by_zipfile(streamed=False)(self.folder)
        result = cli.run("-v", path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertIn('[ZIPPED]: "empty.txt"', result.stdout)
        self.assertIn('Compression method is "Stored"; no deflated data to optimise.',
                      result.stdout)
        self.assertIn("Stored directory name; skipping.", result.stdout)
        self.assertIn("Number of bytes saved for this zip: ", result.stdout)
        with zipfile.ZipFile(path) as z:
            empty = z.getinfo("empty.txt")
        self.assertEqual((empty.compress_type, empty.compress_size, empty.file_size), (0, 0, 0))

    def test_descriptors_removed_and_their_bytes_saved(self):
        # Without extra fields, comments or directories, only the descriptors
        # (12 or 16 bytes) and what re-encoding saves can go.
        path = os.path.join(self.folder, "descriptors.zip")
        with open(path, "wb") as f:
            f.write(fx.build([Member("a", os.urandom(100), method=0, descriptor="bare"),
                              Member("b", os.urandom(100), method=0, descriptor="signed")]))
        old_size = os.path.getsize(path)
        result = cli.run(path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(os.path.getsize(path), old_size - 28)
        self.assertIn("Number of bytes saved: 28 (%d --> %d)" % (old_size, old_size - 28),
                      result.stdout)
        for name, flags, _extra, data_at, size in fx.local_headers(path):
            self.assertEqual(flags & 0x08, 0, name)
        headers = fx.local_headers(path)
        self.assertEqual(headers[0][3] + headers[0][4] + 30 + 1, headers[1][3])

    def test_nothing_to_save_leaves_the_archive_alone(self):
        path = os.path.join(self.folder, "tight.zip")
        with open(path, "wb") as f:
            f.write(fx.build([Member("a", os.urandom(300), method=0)]))
        before = read_bytes(path)
        result = cli.run(path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertNotIn("File rewritten.", result.stdout)
        self.assertEqual(read_bytes(path), before)
        forced = cli.run("-f", path)
        self.assertIn("Number of bytes saved: 0 (", forced.stdout)
        self.assertIn("File rewritten.", forced.stdout)
        self.assertEqual(read_bytes(path), before)


if __name__ == "__main__":
    unittest.main()
