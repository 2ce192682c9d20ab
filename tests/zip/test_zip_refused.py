"""Archives the program refuses: spanned (two-disk), ZIP64, and malformed
ones whose lengths, counts or offsets point outside the file or their
structure. Each ends the run with its message and exit status 1, the archive
byte for byte as it was and no temporary file."""

import os
import struct
import unittest

import zip_fixtures as fx
from zip_fixtures import Member

SOUND = fx.build([Member("first.txt", fx.sample_text(3000, 1)),
                  Member("second.txt", fx.sample_text(2000, 2))], comment=b"note")
END_AT, END = fx.end_record(SOUND)
FIRST_ENTRY = END[6]
LAST_ENTRY = FIRST_ENTRY + 46 + len("first.txt")
SPANNED = "Zipfile corrupt or contains spanned disks"
DIFFERS = "%s in local fileheader differs from the one in the central directory"
PAST_MEMBER = "Member data run past the next member or the central directory"
ZIP64 = "Zipfile uses ZIP64 records, which are not supported"
PAST_ECD = "Central directory's offset or size points past the ECD"


def patched(at, fmt, *values, raw=SOUND):
    out = bytearray(raw)
    struct.pack_into(fmt, out, at, *values)
    return bytes(out)


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
    ("compressed size that does not fit", patched(18, "<I", 0xFFFFFFFF), PAST_MEMBER),
    ("data run into the next member",
     patched(18, "<I", struct.unpack_from("<I", SOUND, 18)[0] + 1), PAST_MEMBER),
    ("more entries counted than present", patched(END_AT + 8, "<HH", 3, 3),
     "Unexpected end of Central Directory"),
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
    ("ZIP64 end records", fx.build([Member("a", b"x")], zip64_records=True),
     "Digital signature or ECD signature expected"),
]


class RefusedArchives(fx.ArchiveTest):
    def assert_refused(self, path, message):
        before = fx.read(path)
        result = self.trimbit(path)
        self.assertEqual(result.code, 1, result.stdout)
        self.assertIn("ERROR: %s." % message if message else "ERROR: ", result.stdout)
        self.assertNotIn("File rewritten.", result.stdout)
        self.assertEqual(fx.read(path), before)

    def test_malformed_archives(self):
        for damage, raw, message in MALFORMED:
            with self.subTest(damage):
                self.assert_refused(self.write(raw), message)

    def test_archives_the_zip_tool_splits_or_marks_zip64(self):
        for options, data, message in [
                (("-s", "64k"), os.urandom(150000), SPANNED),
                (("-fz",), fx.sample_text(5000), ZIP64)]:
            with self.subTest(options=options):
                folder = os.path.join(self.folder, options[0])
                self.assert_refused(fx.zip_tool(folder, {"file": data}, *options), message)


if __name__ == "__main__":
    unittest.main()
