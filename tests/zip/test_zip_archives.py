"""Archives made by the zip tool, by Python's zipfile and by hand are
optimised, and afterwards pass `unzip -t` and read back with zipfile with the
same members, contents and CRCs, keeping what each option keeps: -c the
comments, -k the extra fields, member comments and the digital signature."""

import os
import struct
import unittest
import zipfile

import zip_fixtures as fx
from zip_fixtures import Member

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "licenses.zip")
TOOL_FILES = {"docs/words.txt": fx.sample_text(40000), "docs/noise.bin": os.urandom(3000),
              "docs/empty.txt": b"", "docs/empty_dir/": b"", "short.txt": b"a short member\n"}


def by_zip_tool(level):
    def make(folder):
        path = fx.zip_tool(folder, TOOL_FILES, level)
        fx.zip_tool(folder, {}, "-z", stdin=b"archive comment\n")
        fx.zip_tool(folder, {"short.txt": TOOL_FILES["short.txt"]}, level, "-c", stdin=b"note\n")
        return path
    return make


def by_zipfile(streamed):
    def make(folder):
        os.makedirs(folder)
        path, deflated, stored = os.path.join(folder, "python.zip"), zipfile.ZIP_DEFLATED, 0
        fx.python_archive(path, [
            ("deflated.txt", fx.sample_text(20000, 2), deflated, b"", b""),
            ("stored.txt", fx.sample_text(5000, 3), stored, b"", b""),
            ("folder/", b"", stored, b"", b""), ("empty.txt", b"", deflated, b"", b""),
            ("commented.txt", fx.sample_text(3000, 4), deflated, b"member comment", b""),
            ("extra.txt", fx.sample_text(3000, 5), deflated, b"",
             fx.extra_field(0xCAFE, b"private data")),
        ], comment=b"archive comment", streamed=streamed)
        return path
    return make


def by_hand(**layout):
    def make(folder):
        return fx.write_file(os.path.join(folder, "built.zip"), fx.build([
            Member("bare.txt", fx.sample_text(9000, 6), level=1, descriptor="bare"),
            Member("signed.txt", fx.sample_text(7000, 7), level=9, descriptor="signed",
                   local_extra=fx.extra_field(0x7777, b"local"), comment=b"signed",
                   central_extra=fx.extra_field(0x7778, b"central")),
            Member("stored.bin", os.urandom(500), method=0, descriptor="bare"),
            Member("dir/", b"", method=0), Member("dir/empty", b"", descriptor="signed"),
            Member("filtered.txt", fx.sample_text(6000, 8), level=0),
        ], comment=b"built by hand", **layout))
    return make


MAKERS = {
    "zip -1": by_zip_tool("-1"), "zip -9": by_zip_tool("-9"),
    "zipfile": by_zipfile(False), "zipfile with descriptors": by_zipfile(True),
    "by hand, descriptors": by_hand(),
    "by hand, entries out of offset order": by_hand(central_order=[4, 1, 5, 0, 3, 2]),
    "example": lambda folder: fx.write_file(os.path.join(folder, "licenses.zip"), fx.read(EXAMPLE)),
}
OPTION_SETS = [(), ("-c",), ("-k",), ("-c", "-k")]


def layout(path):
    """(archive comment, {name: (member comment, central extra, local extra)})
    of the members that are not directories."""
    with zipfile.ZipFile(path) as z:
        comment, infos = z.comment, [i for i in z.infolist() if not i.is_dir()]
    local = {name: extra for name, _flags, extra, _at, _size in fx.local_headers(path)}
    return comment, {i.filename: (i.comment, i.extra, local[i.filename]) for i in infos}


def kept(layout_before, options):
    """What the table of kept structures leaves of layout_before: -c keeps
    comments, -k extra fields and member comments."""
    comments, extras = "-c" in options, "-k" in options
    comment, entries = layout_before
    return comment if comments else b"", {
        name: (member_comment if comments or extras else b"", central if extras else b"",
               local if extras else b"")
        for name, (member_comment, central, local) in entries.items()}


class ArchivesReadBack(fx.ArchiveTest):
    def test_every_member_reads_back_with_every_option_set(self):
        for maker, make in MAKERS.items():
            for n, options in enumerate(OPTION_SETS):
                with self.subTest(archive=maker, options=options):
                    path = make(os.path.join(self.folder, maker + str(n)))
                    before, structures, size = fx.members(path), layout(path), len(fx.read(path))
                    result = self.trimbit(*options, path)
                    self.assertEqual(result.code, 0, result.stdout)
                    self.assertIn("File rewritten.", result.stdout)
                    self.assertLess(os.path.getsize(path), size)
                    fx.assert_same_members(self, path, before)
                    self.assertEqual(layout(path), kept(structures, options))
                    with zipfile.ZipFile(path) as z:
                        infos = z.infolist()
                    # Descriptors go; empty members become stored without data.
                    self.assertEqual([i.filename for i in infos if i.flag_bits & 0x08], [])
                    for i in infos:
                        if i.file_size == 0:
                            self.assertEqual((i.compress_type, i.compress_size), (0, 0))
                    # Central entries follow the local headers, with no gap between members.
                    at = 0
                    for name, _flags, extra, data_at, size in fx.local_headers(path):
                        self.assertEqual(at + 30 + len(name.encode()) + len(extra), data_at)
                        at = data_at + size

    def test_archive_without_members_becomes_a_bare_end_record(self):
        comment, signature = b"c" * 65535, b"not really a signature"
        for options in OPTION_SETS:
            with self.subTest(options=options):
                path = self.write(fx.build([Member("only/", b"", method=0),
                                            Member("only/deeper/", b"", method=0)],
                                           comment=comment, signature=signature))
                result = self.trimbit(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                kept_comment = comment if "-c" in options else b""
                expected = (struct.pack("<IH", fx.SIGNATURE, len(signature)) + signature
                            if "-k" in options else b"")
                expected += struct.pack("<IHHHHIIH", fx.END, 0, 0, 0, 0, 0, 0, len(kept_comment))
                self.assertEqual(fx.read(path), expected + kept_comment)

    def test_end_record_found_across_the_search_chunks(self):
        # Bytes after the end record put it on either side of each 64 KiB
        # chunk of the backward search; they are not part of the archive.
        raw = fx.build([Member("one", fx.sample_text(3000)), Member("two", b"", method=0)],
                       comment=b"hello")
        expected = fx.members(self.write(raw))
        for trailing in [1, 65532, 65533, 200000]:
            with self.subTest(trailing=trailing):
                path = self.write(raw + bytes(trailing))
                result = self.trimbit("-c", path)
                self.assertEqual(result.code, 0, result.stdout)
                fx.assert_same_members(self, path, expected)
                with zipfile.ZipFile(path) as z:
                    self.assertEqual(z.comment, b"hello")

    def test_other_methods_copied_and_named_descriptors_and_directories_dropped(self):
        data = os.urandom(200)
        raw = fx.build([Member("d/", b"", method=0), Member("s", data, method=0, descriptor="bare"),
                        Member("k", data, method=1, descriptor="signed"),
                        Member("i", data, method=6, flags=6), Member("x", data, method=9),
                        Member("u", data, method=12)])
        path = self.write(raw)
        result = self.trimbit("-v", path)
        self.assertEqual(result.code, 0, result.stdout)
        for name in ["Stored", "Shrink", "Implode 8k3", "Deflate64", "Unknown"]:
            self.assertIn('\n  Compression method is "%s"; no deflated data to optimise.\n' % name,
                          result.stdout)
        self.assertIn('[ZIPPED]: "d/"\n\n  Stored directory name; skipping.\n', result.stdout)
        saved = (30 + 46 + 2 * len("d/")) + 12 + 16  # the directory entry and the descriptors
        self.assertIn("Number of bytes saved for this zip: {:,} ({:,} --> {:,})".format(
            saved, len(raw), len(raw) - saved), result.stdout)
        self.assertEqual(os.path.getsize(path), len(raw) - saved)
        headers = fx.local_headers(path)
        self.assertEqual([fx.read(path)[at:at + size] for _n, _f, _e, at, size in headers],
                         [data] * 5)
        self.assertEqual([flags & 0x08 for _n, flags, _e, _a, _s in headers], [0] * 5)

    def test_backslashes_in_a_local_name_match_the_central_slashes(self):
        raw = fx.build([Member("dir/name", fx.sample_text(3000))])
        path = self.write(raw.replace(b"dir/name", b"dir\\name", 1))
        result = self.trimbit("-f", path)
        self.assertEqual(result.code, 0, result.stdout)
        fx.assert_same_members(self, path, fx.members(self.write(raw, "plain.zip")))

    def test_nothing_to_save_leaves_the_archive_alone(self):
        before = fx.build([Member("a", os.urandom(300), method=0)])
        path = self.write(before)
        result = self.trimbit(path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertNotIn("File rewritten.", result.stdout)
        forced = self.trimbit("-f", path)
        self.assertIn("Number of bytes saved: 0 (", forced.stdout)
        self.assertIn("File rewritten.", forced.stdout)
        self.assertEqual(fx.read(path), before)


if __name__ == "__main__":
    unittest.main()
