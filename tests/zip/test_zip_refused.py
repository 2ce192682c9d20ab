"""Refused archives made by the zip tool, zipfile or by hand: each ends the run
with its message, the archive byte for byte as it was. Damaged lengths,
counts and offsets are zip_malformed_test.cpp's."""

import io
import os
import struct
import subprocess
import unittest
import zipfile

import zip_samples as fx
from trimbit_cli import ScratchTest, read
from trimbit_formats import zip_end_record
from zip_samples import Member

SOUND = fx.build([Member("first.txt", fx.sample_text(3000, 1)),
                  Member("second.txt", fx.sample_text(2000, 2))], comment=b"note")
SPANNED = "Zipfile corrupt or contains spanned disks"
ZIP64 = "ZIP64 archives are not supported"
MISCOUNTED = "Number of entries in the end record does not match the central directory"
HIDDEN = "Member sizes do not match its data"


def patched(at, fmt, *values, raw):
    out = bytearray(raw)
    struct.pack_into(fmt, out, at, *values)
    return bytes(out)


def said_empty(member, method=None):
    """An archive of member whose headers say it decodes to nothing (and,
    given a method, that its data, written as they are, use it)."""
    raw = fx.build([member])
    central = zip_end_record(raw)[1][6]
    raw = patched(central + 24, "<I", 0, raw=patched(22, "<I", 0, raw=raw))
    if method is not None:
        raw = patched(central + 10, "<H", method, raw=patched(8, "<H", method, raw=raw))
    return raw


def zip64_by_zipfile():
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z, z.open("a.txt", "w", force_zip64=True) as f:
        f.write(fx.sample_text(5000))
    return out.getvalue()


# A member that decodes to 5,000 bytes while its headers say 0.
HIDING = said_empty(Member("hiding.txt", fx.sample_text(5000)))


MALFORMED = [  # (damage, archive, message)
    ("stored data behind size 0", said_empty(Member("s", b"12345", method=0)), HIDDEN),
    ("deflate data of 5,000 bytes behind size 0", HIDING, HIDDEN),
    ("deflate data behind size 0 that end past the member",  # zlib wants a second byte
     said_empty(Member("cut", b"\x03", method=0), method=8), HIDDEN),
    ("stored sizes differ", fx.build([Member("s", b"12345", method=0)])  # local and central
     .replace(b"\x05\0\0\0\x05\0\0\0", b"\x05\0\0\0\x06\0\0\0"),
     "Compressed size differs from uncompressed size for Stored data!?!?!?"),
    ("ZIP64 end records", fx.build([Member("a", b"x")], zip64_records=True), ZIP64),
    ("ZIP64 member written by zipfile", zip64_by_zipfile(), ZIP64),
]


class RefusedArchives(ScratchTest):
    def assert_refused(self, raw, message, name="test.zip"):
        later = self.write("later.zip", SOUND)
        super().assert_refused(raw, message + "." if message else "", name=name, later=later)

    def test_malformed_archives(self):
        for damage, raw, message in MALFORMED:
            with self.subTest(damage):
                self.assert_refused(raw, message)

    def test_archives_the_zip_tool_splits_or_marks_zip64(self):
        for options, data, message in [
                (("-s", "64k"), os.urandom(150000), SPANNED),
                (("-fz",), fx.sample_text(5000), ZIP64)]:
            with self.subTest(options=options):
                folder = os.path.join(self.folder, options[0])
                self.assert_refused(read(fx.zip_tool(folder, {"file": data}, *options)), message)

    def test_more_members_than_the_end_record_can_count(self):
        # Without ZIP64 the count is written modulo 65,536: here 1.
        raw = fx.build([Member("f%05d" % k, b"", method=0) for k in range(65537)])
        self.assertEqual(zip_end_record(raw)[1][4], 1)
        with zipfile.ZipFile(io.BytesIO(raw)) as z:
            self.assertEqual(len(z.infolist()), 65537)
        self.assert_refused(raw, MISCOUNTED)

    def test_member_whose_sizes_hide_its_data(self):
        extracted = subprocess.run(["unzip", "-p", self.write("hiding.zip", HIDING)],
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        self.assertEqual(extracted, fx.sample_text(5000))
        self.assert_refused(HIDING, HIDDEN)


if __name__ == "__main__":
    unittest.main()
