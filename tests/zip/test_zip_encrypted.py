"""Encrypted members are carried over byte for byte (local header with its
flags and extra fields, data, descriptor; the central entry, extra fields
included, changes only its offset) while the other members are optimised."""

import struct
import unittest
import zipfile

import zip_fixtures as fx


def member_spans(path):
    """{name: (local bytes up to the next member, central entry with its
    offset field zeroed)}."""
    raw = fx.read(path)
    with zipfile.ZipFile(path) as z:
        infos, at = sorted(z.infolist(), key=lambda i: i.header_offset), z.start_dir
    ends = [i.header_offset for i in infos[1:]] + [at]
    spans = {i.filename: raw[i.header_offset:end] for i, end in zip(infos, ends)}
    centrals = {}
    for _ in infos:
        n, m, k = struct.unpack_from("<HHH", raw, at + 28)
        entry = bytearray(raw[at:at + 46 + n + m + k])
        struct.pack_into("<I", entry, 42, 0)
        centrals[entry[46:46 + n].decode()] = bytes(entry)
        at += len(entry)
    return {name: (spans[name], centrals[name]) for name in spans}


class EncryptedMembers(fx.ArchiveTest):
    def test_zip_tool_password_members(self):
        fx.zip_tool(self.folder, {"plain.txt": fx.sample_text(30000, 1)}, "-9")
        fx.zip_tool(self.folder, {"locked.txt": fx.sample_text(20000, 2), "locked-empty.txt": b""},
                    "-9", "-P", "secret")
        path = fx.zip_tool(self.folder, {"plain2.txt": fx.sample_text(9000, 3)}, "-1")
        sealed = {"locked.txt", "locked-empty.txt"}
        with zipfile.ZipFile(path) as z:
            # zip sets bit 3 on them and writes descriptors; the empty one
            # holds its 12-byte encryption header.
            self.assertEqual({i.filename for i in z.infolist() if i.flag_bits & 9 == 9}, sealed)
            self.assertEqual(z.getinfo("locked-empty.txt").compress_size, 12)
        expected, before = fx.content(path, b"secret"), member_spans(path)
        result = self.trimbit("-v", path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(result.stdout.count("Encrypted member; copied unchanged."), len(sealed))
        after = member_spans(path)
        for name in before:
            if name in sealed:
                self.assertEqual(after[name], before[name], name)
            else:
                self.assertLess(len(after[name][0]), len(before[name][0]), name)
        for name, flags, extra, _at, _size in fx.local_headers(path):
            if name not in sealed:
                self.assertEqual((flags & 0x09, extra), (0, b""), name)
        fx.assert_same_content(self, path, expected, b"secret")


if __name__ == "__main__":
    unittest.main()
