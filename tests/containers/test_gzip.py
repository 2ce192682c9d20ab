"""GZIP files on the command line: every file written inflates (by zlib and
gzip -t) to exactly what the original held, is never larger and carries the
header each option asks for; damaged and indexed files are left alone."""

import gzip
import os
import re
import struct
import subprocess
import unittest
import zlib

import gzip_samples as gs
from trimbit_cli import ScratchTest, read
from trimbit_formats import gzip_members

REWRITTEN = "Number of files rewritten  : %8s"


def gzip_t(path):
    return subprocess.run(["gzip", "-t", path], stderr=subprocess.DEVNULL).returncode == 0


class GzipTest(ScratchTest):
    def setUp(self):
        super().setUp()
        self.texts = gs.example_texts()

    def assert_same_content(self, path, before):
        """Member for member the same payloads and trailing bytes, never larger, gzip -t passes."""
        after = read(path)
        self.assertEqual(gs.contents(after), gs.contents(before))
        self.assertLessEqual(len(after), len(before))
        self.assertTrue(gzip_t(path), path)
        return after

    def test_gzip_and_zlib_made_files_keep_their_content(self):
        made = [read(os.path.join(gs.EXAMPLES, name)) for name in os.listdir(gs.EXAMPLES)
                if name.endswith(".gz")]
        runs = b"".join(bytes([i % 7]) * (i % 300) for i in range(600))
        for data in self.texts + [os.urandom(1 << 15), runs, b""]:
            made += [subprocess.run(["gzip", "-%d" % level], input=data, stdout=subprocess.PIPE,
                                    check=True).stdout for level in (1, 9)]
            for level, strategy in ((1, zlib.Z_DEFAULT_STRATEGY), (6, zlib.Z_FILTERED),
                                    (9, zlib.Z_DEFAULT_STRATEGY), (6, zlib.Z_HUFFMAN_ONLY),
                                    (6, zlib.Z_RLE), (6, zlib.Z_FIXED)):
                c = zlib.compressobj(level, zlib.DEFLATED, 31, 8, strategy)
                made.append(c.compress(data) + c.flush())
        for options in ((), ("-x",)):
            paths = [self.write("%d.gz" % i, blob) for i, blob in enumerate(made)]
            self.assertIn("Number of files processed  : %8s" % len(made),
                          self.trimbit(*options, *paths))
            for path, before in zip(paths, made):
                with self.subTest(path=os.path.basename(path), options=options):
                    self.assert_same_content(path, before)

    def test_x_splits_where_the_data_change_and_never_loses(self):
        text = bytes(b for b in self.texts[0] if b < 128)
        noise = os.urandom(6000)
        # (data, zlib level, -x must be shorter, new blocks at least: none
        # means it keeps the default bytes, bit for bit); zlib gives each of
        # these one block. Uniform text may gain a little, in few blocks.
        # The new blocks' bits add up to the stream's, fixed ones included.
        for name, data, level, shorter, blocks in (
                ("text, then random bytes", text[:8000] + noise, 9, True, 2),
                ("random bytes, then text", noise + text[:8000], 9, True, 2),
                ("text, then runs", text[:8000] + bytes(range(200)) * 40, 6, True, 2),
                ("uniform text", text[:3000], 9, False, 2),
                ("a few bytes", b"abc", 6, False, 0),
                ("a few bytes, stored", b"hello, hello", 0, True, 1)):
            with self.subTest(name):
                before = gs.member(data, stream=gs.raw_deflate(data, level))
                default = self.write("default.gz", before)
                split = self.write("split.gz", before)
                self.trimbit("-f", default)
                out = self.trimbit("-f", "-v", "-x", split)
                self.assert_same_content(split, before)
                self.assertLessEqual(len(read(split)), len(read(default)))
                new_blocks = out.split("New block boundaries:")[1:]
                if shorter:
                    self.assertLess(len(read(split)), len(read(default)))
                    self.assertGreaterEqual(new_blocks[0].count("  Block      :"), blocks)
                    bits = sum(int(b.replace(",", "")) for b in
                               re.findall(r"Bits \(new\) :\s*([\d,]+)", new_blocks[0]))
                    self.assertEqual((bits + 7) // 8, len(read(split)) - 18)
                elif new_blocks:
                    self.assertLessEqual(new_blocks[0].count("  Block      :"), blocks)
                else:
                    self.assertEqual(read(split), read(default))

    def test_header_kept_per_option(self):
        data = self.texts[0]

        def blob(flags):
            return gs.member(data, flags, extra=b"XY\x03\x00abc", name=b"story.txt",
                             comment=b"a comment")

        # (flags, options, flags of the header expected); extra fields, header
        # CRCs and reserved bits go unless -k.
        for flags, options, kept in ((0x1E, (), 0x08), (0x1E, ("-c",), 0x18),
                                     (0x1F, ("-k",), 0x1F), (0xE4, (), 0x00), (0xED, (), 0x09),
                                     (0xE6, ("-k",), 0xE6), (0xF6, ("-c", "-k"), 0xF6)):
            with self.subTest(flags=hex(flags), options=options):
                path = self.write("h.gz", blob(flags))
                self.trimbit(*options, path)
                after = read(path)
                header = gzip_members(blob(kept))[0][0].header
                self.assertEqual(after[:len(header)], header)
                self.assertLessEqual(len(after), len(blob(flags)))
                self.assertEqual(zlib.decompressobj(-15).decompress(after[len(header):]), data)

    def test_bits_need_b_and_f_rewrites_what_saves_nothing(self):
        text = bytes(b for b in self.texts[0] if b < 128)[:30000]
        far_copy = gs.fixed_block_with_far_copy(text, 30000)  # saves 1 bit and no byte
        stored = (gs.stored_stream(text[:5000]), text[:5000])  # saves nothing
        for (stream, data), options, rewritten, bits in (
                (far_copy, (), False, ""), (far_copy, ("-b",), True, "1 bit"),
                (stored, (), False, ""), (stored, ("-v",), False, ""),
                (stored, ("-f",), True, "0 bits"), (stored, ("-f", "-v"), True, "0 bits")):
            with self.subTest(options=options, bits=bits):
                original = gs.member(data, stream=stream)
                path = self.write("f.gz", original)
                os.utime(path, (1000000000, 1000000000))
                out = self.trimbit(*options, path)
                after = read(path)
                self.assertEqual(gs.contents(after), ([data], b""))
                self.assertEqual(len(after), len(original))
                self.assertEqual(after != original, bits == "1 bit")
                self.assertEqual(os.stat(path).st_mtime != 1000000000, rewritten)
                self.assertIn(REWRITTEN % int(rewritten), out)
                self.assertEqual("File rewritten." in out, rewritten)
                size = format(len(original), ",")
                self.assertEqual("Number of bytes saved: 0 (%s --> %s) (%s)\n" % (size, size, bits)
                                 in out, rewritten)
                self.assertEqual("\nNumber of bits that can be saved: 0 (0.000 bytes)\n" in out,
                                 options == ("-f", "-v"))

    def test_every_member_and_trailing_bytes_are_kept(self):
        a, b, c = self.texts[0], self.texts[1], self.texts[0][:777]
        members = (gs.member(a, flags=0x1C, extra=b"QQ\x00\x00", name=b"a", comment=b"first")
                   + gs.member(b, stream=gs.raw_deflate(b, 1))
                   + gs.member(c, flags=0x02, stream=gs.raw_deflate(c, 9, zlib.Z_FIXED)))
        for tail in (b"", b"\0" * 512, b"not a member\n", b"\x1f\x8b\x07 looks like one", b"\x1f"):
            with self.subTest(tail=tail[:16]):
                path = self.write("multi.gz", members + tail)
                out = self.trimbit("-v", path)
                after = read(path)
                self.assertEqual(gs.contents(after), ([a, b, c], tail))
                self.assertLess(len(after), len(members + tail))
                self.assertEqual([line[:9] for line in out.split("\n") if line[:7] == "Member "],
                                 ["Member 2 ", "Member 3 "])
                # No member keeps a comment, an extra field or a header CRC.
                self.assertEqual([m.flags & 0x16 for m in gzip_members(after)[0]], [0, 0, 0])
        # Past 16 MiB a file streams: read as it goes, the new file sent to the
        # temporary file as it grows, also among files run on two threads; a
        # second run saves nothing and leaves it.
        big = os.urandom(17 << 20)
        large = gs.member(big, stream=gs.raw_deflate(big, 0)) + members
        path = self.write("large.gz", large)
        small = [self.write(name, members) for name in ("small1.gz", "small2.gz")]
        self.assertIn(REWRITTEN % 3, self.trimbit("-j2", small[0], path, small[1]))
        for name in small:
            self.assert_same_content(name, members)
        after = self.assert_same_content(path, large)
        self.assertEqual(gs.contents(after), ([big, a, b, c], b""))
        self.assertIn(REWRITTEN % 0, self.trimbit(path))
        self.assertEqual(read(path), after)

    def test_empty_members_are_valid_and_the_run_goes_on(self):
        # `gzip </dev/null` and Python's gzip write the empty stream 03 00,
        # which stays; any other stream that decodes to nothing becomes it.
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        flushed = c.flush(zlib.Z_SYNC_FLUSH) + c.flush()
        made = subprocess.run(["gzip", "-n"], input=b"", stdout=subprocess.PIPE,
                              check=True).stdout
        cases = [(made, True), (gzip.compress(b"", mtime=0), True),
                 (gs.member(b"", stream=gs.stored_stream(b"")), False),
                 (gs.member(b"", stream=flushed), False),
                 (gs.member(self.texts[0][:5000]) + made + gs.member(b"", stream=flushed), False)]
        paths = [self.write("e%d.gz" % i, blob) for i, (blob, _) in enumerate(cases)]
        self.assertIn(REWRITTEN % 3, self.trimbit(*paths))
        for path, (before, unchanged) in zip(paths, cases):
            with self.subTest(path=os.path.basename(path)):
                after = self.assert_same_content(path, before)
                self.assertEqual(after == before, unchanged)
                self.assertEqual(after[-10:], b"\x03\x00" + bytes(8))

    def test_many_members(self):
        # Each member costs what it holds, not what follows it (no time is
        # asserted here): every one keeps its content, empty ones included.
        texts = [b"line %d\n" % i * (i % 5) for i in range(20000)]
        blob = b"".join(gs.member(t, stream=gs.raw_deflate(t, 9)) for t in texts)
        path = self.write("many.gz", blob)
        self.trimbit(path)
        self.assert_same_content(path, blob)

    def test_indexed_files_are_left_alone(self):
        # Block-gzip: the subfield BC of every member holds its size less 1,
        # and index files elsewhere point into the compressed bytes.
        block_gzip = b""
        for data in (self.texts[0][:3000], self.texts[1][:4000], b""):
            stream = gs.raw_deflate(data, 1)
            size = (12 + 6 + len(stream) + 8 - 1).to_bytes(2, "little")
            block_gzip += gs.member(data, flags=0x04, extra=b"BC\x02\x00" + size, stream=stream)
        # dictzip: the subfield RA lists the compressed size of every chunk.
        dictzip = gs.dictzip_member(self.texts[0][:20000])
        later = gs.member(self.texts[1], flags=0x10, comment=b"removable") + dictzip
        for blob, line in ((block_gzip, "Block-gzip file (extra subfield BC) left unchanged"),
                           (dictzip, "Random-access gzip file (extra subfield RA, as dictzip "
                                     "writes) left unchanged"),
                           (later, "Random-access gzip file")):
            for options in ((), ("-f", "-k", "-b")):
                with self.subTest(line=line, options=options, members=blob.count(b"\x1f\x8b\x08")):
                    path = self.write("indexed.gz", blob)
                    out = self.trimbit(*options, path)
                    self.assertEqual(read(path), blob)
                    self.assertIn(line, out)
                    self.assertIn(REWRITTEN % 0, out)
        # The index still reaches every chunk: each inflates on its own.
        ra = dictzip[12:]
        count = struct.unpack_from("<H", ra, 8)[0]
        at = len(gzip_members(dictzip)[0][0].header)
        for k, size in enumerate(struct.unpack_from("<%dH" % count, ra, 10)):
            piece = zlib.decompressobj(-15).decompress(dictzip[at:at + size])
            self.assertEqual(piece, self.texts[0][k * 1000:(k + 1) * 1000])
            at += size
        # "BC" inside another subfield's data does not make a block-gzip file.
        path = self.write("not.gz", gs.member(self.texts[0], flags=0x04, extra=b"XY\x02\x00BC"))
        self.assertIn(REWRITTEN % 1, self.trimbit(path))

    def test_errors_leave_the_file_and_stop_the_run(self):
        text = self.texts[0][:2000]
        good = gs.member(text)
        stream = gs.raw_deflate(text)
        named = gs.member(text, flags=0x0A, name=b"a.txt")  # with a header CRC
        at = len(named) - len(stream) - 10
        bad_crc = named[:at] + bytes([named[at] ^ 0x40]) + named[at + 1:]
        # "abba" under codes zlib refuses although the block uses only codes
        # that exist: 'a', 'b' and end-of-block of length 2 leave 11 unused,
        # and a code-length code of two codes of length 2 leaves half unused.
        ab = [0] * 97 + [2, 2] + [0] * 157 + [2]
        incomplete = gs.dynamic_stream(ab, b"abba")
        a = [0] * 97 + [1] + [0] * 158 + [1]  # 'a' and end-of-block, complete
        incomplete_cl = gs.dynamic_stream(a, b"a", cl_lengths=[2, 2] + [0] * 17)
        damaged = [  # (name, file, message, options), refused by zlib and gzip -t as well
            ("trailer CRC-32", good[:-8] + bytes([good[-8] ^ 1]) + good[-7:],
             "Damaged GZIP member 1: the CRC-32 in its trailer does not match its data.", ()),
            ("trailer size", good[:-4] + struct.pack("<I", len(text) + 1),
             "Damaged GZIP member 1: the size in its trailer does not match its data.", ()),
            ("second member's trailer", good + good[:-1] + b"\x01",
             "Damaged GZIP member 2: the size in its trailer does not match its data.", ()),
            ("header CRC", bad_crc,
             "Damaged GZIP member 1: its header CRC does not match the header.", ()),
            ("header CRC with -k", bad_crc,
             "Damaged GZIP member 1: its header CRC does not match the header.", ("-k",)),
            ("incomplete literal/length code", gs.member(b"abba", stream=incomplete),
             "Incomplete literal/length code.", ()),
            ("incomplete code-length code", gs.member(b"a", stream=incomplete_cl),
             "Incomplete code-length code.", ()),
        ]
        for name, blob, _, _ in damaged:
            with self.subTest(judge=name):
                self.assertFalse(gzip_t(self.write("judged.gz", blob)))
                with self.assertRaises(zlib.error):
                    gs.contents(blob)
        later = self.write("later.gz", gs.member(self.texts[0], flags=0x10, comment=b"removable"))
        # Headers, trailers and streams cut short or damaged otherwise: in
        # memory, gzip_malformed_test.cpp. Streamed (past 16 MiB), a header
        # must fit the few MiB read at once.
        for name, blob, message, options in damaged + [
                ("9 MiB name", gs.member(text, flags=0x08, name=b"n" * (9 << 20)) + bytes(8 << 20),
                 "GZIP member header too large.", ())]:
            with self.subTest(name=name):
                self.assert_refused(blob, message, *options, name="bad.gz", later=later)

if __name__ == "__main__":
    unittest.main()
