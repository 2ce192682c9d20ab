"""Archives the program refuses: spanned (two-disk), ZIP64, and malformed
ones whose lengths, counts or offsets point outside the file or their
structure, whose end record miscounts the members, or whose sizes hide data.
Each ends the run with its message and exit status 1, the archive byte for
byte as it was and no temporary file."""

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
END_AT, END, _ = zip_end_record(SOUND)
FIRST_ENTRY = END[6]
LAST_ENTRY = FIRST_ENTRY + 46 + len("first.txt")
SPANNED = "Zipfile corrupt or contains spanned disks"
DIFFERS = "%s in local fileheader differs from the one in the central directory"
PAST_MEMBER = "Member data run past the next member or the central directory"
ZIP64 = "ZIP64 archives are not supported"
PAST_ECD = "Central directory's offset or size points past the ECD"
MISCOUNTED = "Number of entries in the end record does not match the central directory"
HIDDEN = "Member sizes do not match its data"


def patched(at, fmt, *values, raw=SOUND):
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


# Ten stray bytes at the end of the directory, counted as a third entry.
CUT_SHORT = patched(END_AT + 10 + 8, "<HHI", 3, 3, END[5] + 10,
                    raw=SOUND[:END_AT] + bytes(10) + SOUND[END_AT:])

MALFORMED = [  # (damage, archive, message; None for the decoder's own)
    ("entry cut short", CUT_SHORT, "Central fileheader cut short at the end of the zip directory"),
    ("name past the directory", patched(LAST_ENTRY + 28, "<H", 500),
     "Invalid filename length in zip directory"),
    ("extra past the directory", patched(LAST_ENTRY + 30, "<H", 500),
     "Invalid extra field length in zip directory"),
    ("comment past the end", patched(END_AT + 20, "<H", 5),
     "Archive comment runs past the end of the Zipfile"),
    ("directory offset past the end", patched(END_AT + 16, "<I", 0x7FFFFF00), PAST_ECD),
    ("directory size past the end", patched(END_AT + 12, "<I", 0xFFFFFF00), PAST_ECD),
    ("local header offset past the end", patched(FIRST_ENTRY + 42, "<I", 0xFFFFFFF0),
     "Local fileheader runs past the next member or the central directory"),
    ("compressed size that does not fit", patched(18, "<I", 0xFFFFFFF0), PAST_MEMBER),
    ("data run into the next member",
     patched(18, "<I", struct.unpack_from("<I", SOUND, 18)[0] + 1), PAST_MEMBER),
    ("more entries counted than present", patched(END_AT + 8, "<HH", 3, 3), MISCOUNTED),
    ("no entries counted", patched(END_AT + 8, "<HH", 0, 0), MISCOUNTED),
    ("stored data behind size 0", said_empty(Member("s", b"12345", method=0)), HIDDEN),
    ("deflate data of 5,000 bytes behind size 0", HIDING, HIDDEN),
    ("deflate data behind size 0 that end past the member",  # zlib wants a second byte
     said_empty(Member("cut", b"\x03", method=0), method=8), HIDDEN),
    ("no end record", SOUND[:END_AT], "Could not find ECD"),
    ("empty file", b"", "Zero filesize or could not get filesize of Zipfile"),
    ("local signature missing", patched(0, "<I", 0), "Local fileheader's signature not found"),
    ("central signature missing", patched(LAST_ENTRY, "<I", 0),
     "Central fileheader's signature not found"),
    ("CRC differs", patched(14, "<I", 1), DIFFERS % "CRC"),
    ("size differs", patched(22, "<I", 1), DIFFERS % "Uncompressed size"),
    ("name differs", patched(30, "<B", ord("F")), DIFFERS % "Name"),
    ("method differs", patched(8, "<H", 0), DIFFERS % "Compression method"),
    ("stored sizes differ", fx.build([Member("s", b"12345", method=0)])  # local and central
     .replace(b"\x05\0\0\0\x05\0\0\0", b"\x05\0\0\0\x06\0\0\0"),
     "Compressed size differs from uncompressed size for Stored data!?!?!?"),
    ("deflate data that do not decode", patched(30 + len("first.txt"), "<B", 0xFF), None),
    ("this disk 1", fx.build([Member("a", b"x")], disks=(1, 0)), SPANNED),
    ("all on disk 1", fx.build([Member("a", b"x")], disks=(1, 1)), SPANNED),
    ("entries on this disk differ", patched(END_AT + 8, "<H", 0), SPANNED),
    ("ZIP64 end records", fx.build([Member("a", b"x")], zip64_records=True), ZIP64),
    ("ZIP64 marker for a member's size", patched(FIRST_ENTRY + 24, "<I", 0xFFFFFFFF), ZIP64),
    ("ZIP64 marker for the directory's offset", patched(END_AT + 16, "<I", 0xFFFFFFFF), ZIP64),
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
