"""Archives the program refuses: spanned (two-disk) and ZIP64 archives, and
malformed ones whose lengths, counts or offsets point outside the file or
the structure they belong to. Each ends the run with its message and exit
status 1, leaves the archive byte for byte as it was, and leaves no
temporary file."""

import os
import shutil
import struct
import tempfile
import unittest

import trimbit_cli as cli
import zip_fixtures as fx
from zip_fixtures import Member


def sound_archive():
    return fx.build([Member("first.txt", fx.sample_text(3000, 1)),
                     Member("second.txt", fx.sample_text(2000, 2))], comment=b"note")


def central_entries(raw):
    """Offsets of the central entries of a `build` archive."""
    _at, end = fx.end_record(raw)
    offsets, at = [], end[6]
    while at < end[6] + end[5]:
        offsets.append(at)
        n, m, k = struct.unpack_from("<HHH", raw, at + 28)
        at += 46 + n + m + k
    return offsets


def patched(raw, at, fmt, *values):
    out = bytearray(raw)
    struct.pack_into(fmt, out, at, *values)
    return bytes(out)


def end_field(raw, offset, fmt, value):
    return patched(raw, fx.end_record(raw)[0] + offset, fmt, value)


def cut_short_entry(raw):
    # Ten stray bytes at the end of the directory, counted as a third entry.
    at, end = fx.end_record(raw)
    raw = raw[:at] + b"\0" * 10 + raw[at:]
    at += 10
    raw = patched(raw, at + 8, "<HH", 3, 3)
    return patched(raw, at + 12, "<I", end[5] + 10)


def local_size(raw, value):
    return patched(raw, 18, "<I", value)  # the first member's local header


MALFORMED = [
    ("a central entry's fixed part runs past the directory", cut_short_entry,
     "Central fileheader cut short at the end of the zip directory"),
    ("a name runs past the directory",
     lambda raw: patched(raw, central_entries(raw)[-1] + 28, "<H", 500),
     "Invalid filename length in zip directory"),
    ("an extra field runs past the directory",
     lambda raw: patched(raw, central_entries(raw)[-1] + 30, "<H", 500),
     "Invalid extra field length in zip directory"),
    ("the archive comment runs past the end of the file",
     lambda raw: end_field(raw, 20, "<H", 5),
     "Archive comment runs past the end of the Zipfile"),
    ("the directory's offset is past the end",
     lambda raw: end_field(raw, 16, "<I", 0x7FFFFF00),
     "Central directory's offset or size points past the ECD"),
    ("the directory's size is past the end",
     lambda raw: end_field(raw, 12, "<I", 0xFFFFFF00),
     "Central directory's offset or size points past the ECD"),
    ("a local header offset is past the end",
     lambda raw: patched(raw, central_entries(raw)[0] + 42, "<I", 0xFFFFFFF0),
     "Local fileheader runs past the next member or the central directory"),
    ("a compressed size that does not fit", lambda raw: local_size(raw, 0xFFFFFFFF),
     "Member data run past the next member or the central directory"),
    ("local data run into the next member",
     lambda raw: local_size(raw, struct.unpack_from("<I", raw, 18)[0] + 1),
     "Member data run past the next member or the central directory"),
    ("more entries counted than present",
     lambda raw: patched(raw, fx.end_record(raw)[0] + 8, "<HH", 3, 3),
     "Unexpected end of Central Directory"),
    ("no end record", lambda raw: raw[:fx.end_record(raw)[0]], "Could not find ECD"),
    ("an empty file", lambda raw: b"", "Zero filesize or could not get filesize of Zipfile"),
    ("a local header without its signature", lambda raw: patched(raw, 0, "<I", 0),
     "Local fileheader's signature not found"),
    ("a CRC that differs", lambda raw: patched(raw, 14, "<I", 1),
     "CRC in local fileheader differs from the one in the central directory"),
    ("a central entry without its signature",
     lambda raw: patched(raw, central_entries(raw)[1], "<I", 0),
     "Central fileheader's signature not found"),
    ("an uncompressed size that differs", lambda raw: patched(raw, 22, "<I", 1),
     "Uncompressed size in local fileheader differs from the one in the central directory"),
    ("a name that differs", lambda raw: patched(raw, 30, "<B", ord("F")),
     "Name in local fileheader differs from the one in the central directory"),
    ("a method that differs", lambda raw: patched(raw, 8, "<H", 0),
     "Compression method in local fileheader differs from the one in the central directory"),
    ("a stored member whose sizes differ",
     lambda raw: fx.build([Member("s", b"12345", method=0)])
     .replace(b"\x05\x00\x00\x00\x05\x00\x00\x00", b"\x05\x00\x00\x00\x06\x00\x00\x00"),
     "Compressed size differs from uncompressed size for Stored data!?!?!?"),
    ("deflate data that do not decode",
     lambda raw: patched(raw, 30 + len("first.txt"), "<B", 0xFF),
     None),  # the decoder's own message
]

SPANNED = "Zipfile corrupt or contains spanned disks"


class RefusedArchives(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        shutil.rmtree(self.folder)

    def assert_refused(self, path, message):
        with open(path, "rb") as f:
            before = f.read()
        result = cli.run(path)
        self.assertEqual(result.code, 1, result.stdout)
        if message is not None:
            self.assertIn("ERROR: %s." % message, result.stdout)
        else:
            self.assertIn("ERROR: ", result.stdout)
        self.assertNotIn("File rewritten.", result.stdout)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), before)
        cli.assert_no_temporary_file(self, self.folder)

    def write(self, raw):
        path = os.path.join(self.folder, "refused.zip")
        with open(path, "wb") as f:
            f.write(raw)
        return path

    def test_malformed_archives(self):
        for name, damage, message in MALFORMED:
            with self.subTest(name):
                self.assert_refused(self.write(damage(sound_archive())), message)

    def test_two_disk_archives(self):
        for disks in [(1, 0), (0, 1), (1, 1)]:
            with self.subTest(disks=disks):
                path = self.write(fx.build([Member("a", fx.sample_text(500))], disks=disks))
                self.assert_refused(path, SPANNED)
        with self.subTest("entries on this disk differ from the total"):
            raw = fx.build([Member("a", fx.sample_text(500))])
            self.assert_refused(self.write(end_field(raw, 8, "<H", 0)), SPANNED)

    def test_archive_split_by_the_zip_tool(self):
        source = os.path.join(self.folder, "src")
        os.mkdir(source)
        with open(os.path.join(source, "noise.bin"), "wb") as f:
            f.write(os.urandom(150000))
        fx.zip_tool(source, "split.zip", ["noise.bin"], "-s", "64k")
        path = os.path.join(self.folder, "split.zip")
        shutil.move(os.path.join(source, "split.zip"), path)
        self.assert_refused(path, SPANNED)

    def test_zip64_end_records(self):
        raw = fx.build([Member("a", fx.sample_text(500))], zip64_records=True)
        self.assert_refused(self.write(raw), "Digital signature or ECD signature expected")

    def test_zip64_archive_from_the_zip_tool(self):
        source = os.path.join(self.folder, "src")
        os.mkdir(source)
        with open(os.path.join(source, "text.txt"), "wb") as f:
            f.write(fx.sample_text(5000))
        fx.zip_tool(source, "big.zip", ["text.txt"], "-fz")
        path = os.path.join(self.folder, "big.zip")
        shutil.move(os.path.join(source, "big.zip"), path)
        self.assert_refused(path, "Zipfile uses ZIP64 records, which are not supported")


if __name__ == "__main__":
    unittest.main()
