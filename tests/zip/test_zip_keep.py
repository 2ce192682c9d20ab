"""What a rewritten archive keeps under no option, -c, -k and -c -k: extra
fields, member and archive comments, the digital signature; data
descriptors and directory entries always go."""

import os
import shutil
import struct
import tempfile
import unittest
import zipfile

import trimbit_cli as cli
import zip_fixtures as fx
from zip_fixtures import Member

LOCAL_EXTRA = fx.extra_field(0x5455, b"\x01\x00\x00\x00\x00")
CENTRAL_EXTRA = fx.extra_field(0x7875, b"\x01\x04\xe8\x03\x00\x00\x04\xe8\x03\x00\x00")
ARCHIVE_COMMENT = b"the archive's own comment"
SIGNATURE_DATA = b"not really a signature"

# options: (local extra, central extra, member comments, archive comment, signature)
KEPT = {
    (): (False, False, False, False, False),
    ("-c",): (False, False, True, True, False),
    ("-k",): (True, True, True, False, True),
    ("-c", "-k"): (True, True, True, True, True),
}


def rich_members():
    return [
        Member("a.txt", fx.sample_text(8000, 1), local_extra=LOCAL_EXTRA,
               central_extra=CENTRAL_EXTRA, comment=b"about a"),
        Member("dir/", b"", method=0, comment=b"a directory"),
        Member("dir/b.txt", fx.sample_text(6000, 2), descriptor="signed",
               local_extra=LOCAL_EXTRA, central_extra=CENTRAL_EXTRA, comment=b"about b"),
        Member("c.bin", os.urandom(700), method=0, descriptor="bare",
               local_extra=LOCAL_EXTRA),
    ]


def signature_after_directory(raw):
    """Data of the digital signature record between the central directory and
    the end record, or None."""
    at, end = fx.end_record(raw)
    directory_end = end[6] + end[5]
    if raw[directory_end:directory_end + 4] != struct.pack("<I", fx.SIGNATURE):
        return None
    size = struct.unpack_from("<H", raw, directory_end + 4)[0]
    return raw[directory_end + 6:directory_end + 6 + size]


class KeepTable(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        cli.assert_no_temporary_file(self, self.folder)
        shutil.rmtree(self.folder)

    def write(self, name, raw):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(raw)
        return path

    def test_kept_structures_by_option(self):
        for options, kept in KEPT.items():
            with self.subTest(options=options):
                path = self.write("keep.zip", fx.build(rich_members(), comment=ARCHIVE_COMMENT))
                before = fx.members(path)
                result = cli.run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                fx.assert_same_members(self, path, before)
                local_kept, central_kept, comments_kept, archive_kept, _ = kept
                with zipfile.ZipFile(path) as z:
                    infos = {i.filename: i for i in z.infolist()}
                    archive_comment = z.comment
                self.assertEqual(sorted(infos), ["a.txt", "c.bin", "dir/b.txt"])
                self.assertEqual(archive_comment, ARCHIVE_COMMENT if archive_kept else b"")
                self.assertEqual(infos["a.txt"].comment, b"about a" if comments_kept else b"")
                self.assertEqual(infos["a.txt"].extra, CENTRAL_EXTRA if central_kept else b"")
                for name, flags, extra, _at, _size in fx.local_headers(path):
                    self.assertEqual(flags & 0x08, 0, name)
                    self.assertEqual(extra, LOCAL_EXTRA if local_kept else b"", name)
                # No descriptor or gap is left between members.
                headers = fx.local_headers(path)
                for (_n, _f, _e, at, size), following in zip(headers, headers[1:]):
                    next_name = following[0].encode()
                    next_extra = following[2]
                    self.assertEqual(at + size + 30 + len(next_name) + len(next_extra),
                                     following[3])

    def test_digital_signature_kept_only_with_k(self):
        for options, kept in KEPT.items():
            with self.subTest(options=options):
                path = self.write("signed.zip", fx.build(
                    rich_members(), comment=ARCHIVE_COMMENT, signature=SIGNATURE_DATA))
                result = cli.run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                with open(path, "rb") as f:
                    raw = f.read()
                self.assertEqual(signature_after_directory(raw),
                                 SIGNATURE_DATA if kept[4] else None)
                if not kept[4]:  # the tools below do not know the signature record
                    self.assertEqual(fx.unzip_test(path)[0], 0)

    def test_archive_without_members_becomes_a_bare_end_record(self):
        for options, kept in KEPT.items():
            with self.subTest(options=options):
                path = self.write("hollow.zip", fx.build(
                    [Member("only/", b"", method=0), Member("only/deeper/", b"", method=0)],
                    comment=ARCHIVE_COMMENT, signature=SIGNATURE_DATA))
                result = cli.run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                expected = b""
                if kept[4]:
                    expected += struct.pack("<IH", fx.SIGNATURE, len(SIGNATURE_DATA))
                    expected += SIGNATURE_DATA
                comment = ARCHIVE_COMMENT if kept[3] else b""
                expected += struct.pack("<IHHHHIIH", fx.END, 0, 0, 0, 0, 0, 0, len(comment))
                expected += comment
                with open(path, "rb") as f:
                    self.assertEqual(f.read(), expected)


if __name__ == "__main__":
    unittest.main()
