"""Encrypted members are carried over byte for byte (local header with its
flags and extra field, data, data descriptor; the central entry changes only
its offset) while the other members of the same archive are optimised."""

import os
import shutil
import struct
import tempfile
import unittest
import zipfile

import trimbit_cli as cli
import zip_fixtures as fx
from zip_fixtures import Member

PASSWORD = "secret"


def member_spans(path):
    """{name: (local bytes up to the next member, central entry with its
    offset field zeroed)}."""
    with open(path, "rb") as f:
        raw = f.read()
    with zipfile.ZipFile(path) as z:
        infos = sorted(z.infolist(), key=lambda i: i.header_offset)
        start_dir = z.start_dir
    ends = [i.header_offset for i in infos[1:]] + [start_dir]
    locals_ = {i.filename: raw[i.header_offset:end] for i, end in zip(infos, ends)}
    centrals = {}
    at = start_dir
    for _ in infos:
        n, m, k = struct.unpack_from("<HHH", raw, at + 28)
        entry = bytearray(raw[at:at + 46 + n + m + k])
        struct.pack_into("<I", entry, 42, 0)
        centrals[entry[46:46 + n].decode()] = bytes(entry)
        at += 46 + n + m + k
    return {name: (locals_[name], centrals[name]) for name in locals_}


def read_all(path, password=None):
    with zipfile.ZipFile(path) as z:
        if password:
            z.setpassword(password.encode())
        return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}


class EncryptedMembers(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()

    def tearDown(self):
        cli.assert_no_temporary_file(self, self.folder)
        shutil.rmtree(self.folder)

    def test_zip_tool_password_members_copied_others_optimised(self):
        source = os.path.join(self.folder, "src")
        os.mkdir(source)
        contents = {"plain.txt": fx.sample_text(30000, 1), "locked.txt": fx.sample_text(20000, 2),
                    "locked-empty.txt": b"", "plain2.txt": fx.sample_text(9000, 3)}
        for name, data in contents.items():
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
        fx.zip_tool(source, "mixed.zip", ["plain.txt"], "-9")
        fx.zip_tool(source, "mixed.zip", ["locked.txt", "locked-empty.txt"], "-9", "-P", PASSWORD)
        fx.zip_tool(source, "mixed.zip", ["plain2.txt"], "-1")
        path = os.path.join(self.folder, "mixed.zip")
        shutil.move(os.path.join(source, "mixed.zip"), path)
        before = member_spans(path)
        with zipfile.ZipFile(path) as z:
            self.assertEqual({i.filename for i in z.infolist() if i.flag_bits & 1},
                             {"locked.txt", "locked-empty.txt"})
        # The empty encrypted member holds its 12-byte encryption header.
        self.assertEqual(zipfile.ZipFile(path).getinfo("locked-empty.txt").compress_size, 12)

        result = cli.run("-v", path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(result.stdout.count("Encrypted member; copied unchanged."), 2)
        self.assertIn("File rewritten.", result.stdout)

        code, text = fx.unzip_test(path, PASSWORD)
        self.assertEqual(code, 0, text)
        self.assertEqual(read_all(path, PASSWORD), contents)
        after = member_spans(path)
        for name in ("locked.txt", "locked-empty.txt"):
            self.assertEqual(after[name], before[name], name)
        for name in ("plain.txt", "plain2.txt"):
            self.assertLess(len(after[name][0]), len(before[name][0]), name)
        for name, flags, extra, _at, _size in fx.local_headers(path):
            if name.startswith("plain"):
                self.assertEqual((flags & 0x08, extra), (0, b""), name)

    def test_aes_style_member_keeps_its_extra_fields(self):
        # Method 99 with its 0x9901 extra field, as AES encryption writes it:
        # opaque data, and the extra fields are needed to decrypt them.
        aes_extra = fx.extra_field(0x9901, b"\x02\x00AE\x03\x08\x00")
        plain = {"open.txt": fx.sample_text(5000, 4), "after.txt": fx.sample_text(4000, 5)}
        path = os.path.join(self.folder, "aes.zip")
        with open(path, "wb") as f:
            f.write(fx.build([
                Member("open.txt", plain["open.txt"], level=1, descriptor="signed",
                       local_extra=fx.extra_field(0x5455, b"\x01\0\0\0\0")),
                Member("sealed.bin", os.urandom(400), method=99, flags=0x01,
                       descriptor="signed", local_extra=aes_extra, central_extra=aes_extra,
                       comment=b"sealed"),
                Member("after.txt", plain["after.txt"], descriptor="bare"),
            ], comment=b"archive"))
        before = member_spans(path)
        result = cli.run(path)
        self.assertEqual(result.code, 0, result.stdout)
        after = member_spans(path)
        self.assertEqual(after["sealed.bin"], before["sealed.bin"])
        for name in ("open.txt", "after.txt"):
            self.assertLess(len(after[name][0]), len(before[name][0]), name)
        with zipfile.ZipFile(path) as z:
            self.assertEqual(z.comment, b"")
            for name, data in plain.items():
                self.assertEqual(z.getinfo(name).flag_bits & 0x08, 0)
                self.assertEqual(z.read(name), data)


if __name__ == "__main__":
    unittest.main()
