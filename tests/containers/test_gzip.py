"""GZIP files on the command line: every file written inflates (by zlib and
gzip -t) to exactly what the original held, is never larger, and carries the
header each option asks for."""

import os
import shutil
import subprocess
import tempfile
import unittest
import zlib

import gzip_samples as gs
from trimbit_cli import assert_no_temporary_file, run

REWRITTEN = "Number of files rewritten  : %8s"


def gzip_tool(level, data, folder, name):
    """data compressed by the gzip command at the given level."""
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    subprocess.run(["gzip", "-%d" % level, "-f", path], check=True)
    return path + ".gz"


class GzipTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="trimbit-gzip-")
        self.texts = gs.example_texts()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def write(self, name, blob):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(blob)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assert_same_content(self, before, after):
        """after inflates member for member to what before held, keeps the
        trailing bytes, and is never larger."""
        old, old_tail = gs.read_members(before)
        new, new_tail = gs.read_members(after)
        self.assertEqual(new, old)
        self.assertEqual(new_tail, old_tail)
        self.assertLessEqual(len(after), len(before))


class RealFilesTest(GzipTestCase):
    def test_gzip_and_zlib_made_files_keep_their_content(self):
        random_bytes = os.urandom(1 << 15)
        runs = b"".join(bytes([i % 7]) * (i % 300) for i in range(600))
        contents = self.texts + [random_bytes, runs, self.texts[0] + random_bytes + runs]
        originals = {}
        for i, data in enumerate(contents):
            for level in (1, 9):
                path = gzip_tool(level, data, self.dir, "tool%d-%d" % (i, level))
                originals[path] = self.read(path)
            for level, strategy in ((1, zlib.Z_DEFAULT_STRATEGY), (6, zlib.Z_FILTERED),
                                    (9, zlib.Z_DEFAULT_STRATEGY), (6, zlib.Z_HUFFMAN_ONLY),
                                    (6, zlib.Z_RLE), (6, zlib.Z_FIXED)):
                c = zlib.compressobj(level, zlib.DEFLATED, 31, 8, strategy)
                path = self.write("zlib%d-%d-%d.gz" % (i, level, strategy),
                                  c.compress(data) + c.flush())
                originals[path] = self.read(path)

        result = run(*sorted(originals))
        self.assertEqual(result.code, 0, result.stdout)
        for path, before in originals.items():
            with self.subTest(path=os.path.basename(path)):
                after = self.read(path)
                self.assert_same_content(before, after)
                subprocess.run(["gzip", "-t", path], check=True)
        assert_no_temporary_file(self, self.dir)
        self.assertIn("Number of files processed  : %8s" % len(originals), result.stdout)

    def test_bundled_examples_shrink_and_report(self):
        for name in sorted(os.listdir(gs.EXAMPLES)):
            if not name.endswith(".gz"):
                continue
            with self.subTest(name=name):
                path = os.path.join(self.dir, name)
                shutil.copy(os.path.join(gs.EXAMPLES, name), path)
                before = self.read(path)
                result = run(path)
                self.assertEqual(result.code, 0, result.stdout)
                after = self.read(path)
                self.assert_same_content(before, after)
                self.assertLess(len(after), len(before))
                self.assertIn("Number of bytes saved: %s (" % format(len(before) - len(after), ","),
                              result.stdout)
                self.assertIn("File rewritten.", result.stdout)


class HeaderRulesTest(GzipTestCase):
    """What each option keeps of the member header."""

    def test_fields_kept_per_option(self):
        data = self.texts[0]
        extra = b"XY\x03\x00abc"
        original = gs.member(data, flags=0x1E, extra=extra, name=b"story.txt",
                             comment=b"made for a test")
        fixed = original[4:10]  # MTIME, XFL and OS are always kept
        cases = [
            ((), b"\x1f\x8b\x08\x08" + fixed + b"story.txt\0"),
            (("-c",), b"\x1f\x8b\x08\x18" + fixed + b"story.txt\0made for a test\0"),
            (("-k",), original[:gs.header_length(original)]),
        ]
        for options, header in cases:
            with self.subTest(options=options):
                path = self.write("h.gz", original)
                result = run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                after = self.read(path)
                self.assertEqual(after[:len(header)], header)
                self.assertEqual(gs.header_length(after), len(header))
                self.assert_same_content(original, after)
                assert_no_temporary_file(self, self.dir)

    def test_extra_field_removed_and_reserved_bits_cleared(self):
        data = self.texts[1]
        # Each carries an extra field, so that removing it makes the file shorter.
        for flags, expected in ((0x04, 0x00), (0xE4, 0x00), (0xED, 0x09), (0x45, 0x01)):
            with self.subTest(flags=hex(flags)):
                original = gs.member(data, flags=flags, extra=b"AB\x02\x00xy", name=b"n")
                path = self.write("r.gz", original)
                self.assertEqual(run(path).code, 0)
                after = self.read(path)
                self.assertEqual(after[3], expected)
                self.assertEqual(gs.header_length(after), 10 + (1 + 1 if flags & 0x08 else 0))
                # zlib itself refuses reserved bits: the new file is the more readable one.
                self.assertEqual(zlib.decompress(after, 31), data)

    def test_keep_all_keeps_reserved_bits(self):
        original = gs.member(self.texts[1], flags=0xE0 | 0x04, extra=b"AB\x00\x00")
        path = self.write("k.gz", original)
        self.assertEqual(run("-k", path).code, 0)
        after = self.read(path)
        self.assertEqual(after[:gs.header_length(original)], original[:gs.header_length(original)])


class RewriteDecisionTest(GzipTestCase):
    def test_bits_without_bytes_need_b(self):
        text = bytes(b for b in self.texts[0] if b < 128)
        text = (text * (1 + 30000 // len(text)))[:30000]
        stream, data = gs.fixed_block_with_far_copy(text, 30000)
        original = gs.member(data, stream=stream)
        for options, rewritten in (((), False), (("-b",), True)):
            with self.subTest(options=options):
                path = self.write("bits.gz", original)
                os.utime(path, (1000000000, 1000000000))
                result = run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                after = self.read(path)
                self.assertEqual(len(after), len(original))
                self.assertEqual(gs.read_members(after)[0], [data])
                self.assertEqual(os.stat(path).st_mtime != 1000000000, rewritten)
                self.assertIn(REWRITTEN % (1 if rewritten else 0), result.stdout)
                if rewritten:
                    self.assertNotEqual(after, original)
                    size = format(len(original), ",")
                    self.assertIn("Number of bytes saved: 0 (%s --> %s) (1 bit)\n" % (size, size),
                                  result.stdout)
                else:
                    self.assertEqual(after, original)
                    self.assertNotIn("Number of bytes saved", result.stdout)
                assert_no_temporary_file(self, self.dir)

    def test_force_rewrites_and_counts_a_file_with_nothing_to_save(self):
        data = self.texts[0][:5000]
        original = gs.member(data, stream=gs.stored_stream(data))
        for options, rewritten in (((), False), (("-f",), True), (("-v",), False)):
            with self.subTest(options=options):
                path = self.write("stored.gz", original)
                os.utime(path, (1000000000, 1000000000))
                result = run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                self.assertEqual(self.read(path), original)
                self.assertEqual(os.stat(path).st_mtime != 1000000000, rewritten)
                self.assertIn(REWRITTEN % (1 if rewritten else 0), result.stdout)
                self.assertEqual("File rewritten." in result.stdout, rewritten)
                size = format(len(original), ",")
                self.assertEqual("Number of bytes saved: 0 (%s --> %s) (0 bits)" % (size, size)
                                 in result.stdout, rewritten)
                self.assertNotIn("Number of bits that can be saved", result.stdout)
                assert_no_temporary_file(self, self.dir)

    def test_force_with_verbose_shows_zero_bits(self):
        data = self.texts[0][:5000]
        path = self.write("stored.gz", gs.member(data, stream=gs.stored_stream(data)))
        result = run("-f", "-v", path)
        self.assertIn("\nNumber of bits that can be saved: 0 (0.000 bytes)\n", result.stdout)


class MembersTest(GzipTestCase):
    """Files of several members, and bytes after the last one."""

    def test_every_member_and_trailing_bytes_are_kept(self):
        a, b, c = self.texts[0], self.texts[1], self.texts[0][:777]
        members = (gs.member(a, flags=0x1C, extra=b"QQ\x00\x00", name=b"a", comment=b"first")
                   + gs.member(b, stream=gs.raw_deflate(b, 1))
                   + gs.member(c, flags=0x02, stream=gs.raw_deflate(c, 9, zlib.Z_FIXED)))
        tails = [b"", b"\0" * 512, b"not a member\n", b"\x1f\x8b\x07 looks like one", b"\x1f"]
        for tail in tails:
            with self.subTest(tail=tail[:16]):
                original = members + tail
                path = self.write("multi.gz", original)
                result = run("-v", path)
                self.assertEqual(result.code, 0, result.stdout)
                after = self.read(path)
                self.assertEqual(gs.read_members(after), ([a, b, c], tail))
                self.assertTrue(after.endswith(tail))
                self.assertLess(len(after), len(original))
                self.assertIn("\nMember 2 at offset ", result.stdout)
                self.assertIn("\nMember 3 at offset ", result.stdout)
                self.assertNotIn("\nMember 4 ", result.stdout)
                # Every member follows the header rules: comments, extra
                # fields and header CRCs are gone.
                for _ in range(3):
                    self.assertEqual(after[3] & 0x16, 0)
                    after = after[gs.header_length(after):]
                    d = zlib.decompressobj(-15)
                    d.decompress(after)
                    after = d.unused_data[8:]
                self.assertEqual(after, tail)

    def test_many_small_members(self):
        blob = b""
        payloads = []
        for i in range(300):
            data = self.texts[i % len(self.texts)][i * 37:i * 37 + 50 + i * 11]
            payloads.append(data)
            blob += gs.member(data, flags=0x08 if i % 2 else 0, name=b"part%d" % i,
                              stream=gs.raw_deflate(data, 1 + i % 9, i % 5))
        path = self.write("many.gz", blob)
        result = run("-f", path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(gs.read_members(self.read(path)), (payloads, b""))
        subprocess.run(["gzip", "-t", path], check=True)

    def test_block_gzip_file_is_left_alone(self):
        # Block-gzip members: an extra field with subfield BC holding the member size.
        blob = b""
        for data in (self.texts[0][:3000], self.texts[1][:4000], b""):
            stream = gs.raw_deflate(data, 1)
            size = 12 + 6 + len(stream) + 8 - 1
            blob += gs.member(data, flags=0x04, extra=b"BC\x02\x00" + size.to_bytes(2, "little"),
                              stream=stream)
        for options in ((), ("-f", "-k", "-b")):
            with self.subTest(options=options):
                path = self.write("reads.bam.gz", blob)
                result = run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                self.assertEqual(self.read(path), blob)
                self.assertIn("Block-gzip file", result.stdout)
                self.assertIn(REWRITTEN % 0, result.stdout)
                assert_no_temporary_file(self, self.dir)


class ErrorTest(GzipTestCase):
    """A failing file stays byte for byte, leaves no temporary file, and
    ends the run with status 1 before any further file."""

    def check_error(self, blob, message, options=()):
        path = self.write("bad.gz", blob)
        good = gs.member(self.texts[0], flags=0x10, comment=b"removable")
        later = self.write("later.gz", good)
        result = run(*options, path, later)
        self.assertEqual(result.code, 1, result.stdout)
        self.assertIn("\n\nERROR: %s" % message, result.stdout)
        self.assertNotIn("Number of files processed", result.stdout)
        self.assertEqual(self.read(path), blob)
        self.assertEqual(self.read(later), good, "the run went on after the error")
        assert_no_temporary_file(self, self.dir)

    def test_errors(self):
        text = self.texts[0][:2000]
        good = gs.member(text)
        stream = gs.raw_deflate(text)
        cases = [
            ("17 bytes", good[:17], "File too small."),
            ("18 bytes", b"\x1f\x8b\x08\0\0\0\0\0\0\x03" + bytes(8), "GZIP file too small."),
            ("unterminated name", good[:3] + b"\x08" + good[4:10] + b"n" * 40,
             "GZIP file too small."),
            ("signature", b"\x1f\x8c" + good[2:], "Invalid GZIP signature."),
            ("method", good[:2] + b"\x07" + good[3:], "Invalid GZIP compression method."),
            ("block type 3", good[:10] + b"\x07" + good[11:], ""),
            ("stream cut short", good[:10] + stream[:len(stream) // 2], ""),
            ("trailer cut short", good[:-3], "GZIP file too small."),
            ("broken second member", good + good[:10] + b"\xff" * 30, ""),
        ]
        for name, blob, message in cases:
            with self.subTest(name=name):
                self.check_error(blob, message)

    def test_errors_with_force_and_silent(self):
        result_blob = b"\x1f\x8c" + gs.member(b"x" * 100)[2:]
        self.check_error(result_blob, "Invalid GZIP signature.", options=("-f", "-s"))


if __name__ == "__main__":
    unittest.main()
