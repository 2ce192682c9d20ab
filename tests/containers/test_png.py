"""PNG files through the program, as a user meets it.

Every rewritten file is judged by tools no one here wrote: pngcheck, zlib's
crc32 for every chunk, and zlib inflating the joined IDAT data to exactly
what the original's inflated to.
"""

import os
import shutil
import struct
import tempfile
import unittest
import zlib

import png_samples as ps
import trimbit_cli as cli

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")

# (colour type, bit depths) as PNG allows them.
DEPTHS = [(0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)), (6, (8, 16))]


class PngTest(unittest.TestCase):

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="trimbit-png-")
        self.addCleanup(shutil.rmtree, self.folder)

    def write(self, name, data):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    @staticmethod
    def read(path):
        with open(path, "rb") as f:
            return f.read()

    def run_ok(self, *args):
        result = cli.run(*args)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertNotIn("ERROR", result.stdout)
        cli.assert_no_temporary_file(self, self.folder)
        return result

    # -- content kept, every colour type ------------------------------------

    def test_every_colour_type_depth_interlace_and_idat_split(self):
        originals = {}
        for colour_type, depths in DEPTHS:
            for depth in depths:
                for interlace in (0, 1):
                    for idat_count, level, strategy in ((1, 9, zlib.Z_DEFAULT_STRATEGY),
                                                        (5, 1, zlib.Z_FILTERED),
                                                        (3, 6, zlib.Z_FIXED)):
                        name = "c%d-d%d-i%d-n%d.png" % (colour_type, depth, interlace, idat_count)
                        data = ps.make_png(37, 23, colour_type, depth, interlace, idat_count,
                                           level, strategy, seed=colour_type * 100 + depth)
                        originals[self.write(name, data)] = data
        self.run_ok(*sorted(originals))
        for path, before in sorted(originals.items()):
            with self.subTest(os.path.basename(path)):
                ps.check_rewritten(self, path, before, self.read(path))

    def test_joined_idat_run_counts_its_headers(self):
        # Joining three IDAT chunks alone saves two chunk frames of 12 bytes.
        data = ps.make_png(64, 64, 6, 8, idat_count=3, level=9)
        path = self.write("three.png", data)
        out = self.run_ok("-v", path).stdout
        after = self.read(path)
        chunks = ps.check_rewritten(self, path, data, after)
        idat = [body for ctype, body, _ in chunks if ctype == b"IDAT"][0]
        self.assertGreaterEqual(len(data) - len(after), 24)
        # Verbose shows every IDAT as read; the three arrive as one.
        self.assertEqual(out.count("IDAT chunk (0x49444154)"), 3)
        self.assertIn("Number of bytes saved for this png: %s (%s --> %s)"
                      % (format(len(data) - len(after), ","), format(len(data), ","),
                         format(len(after), ",")), out)
        self.assertEqual(zlib.decompress(idat), ps.image_data(64, 64, 6, 8))

    def test_nothing_to_save_leaves_the_file_unless_forced(self):
        path = self.write("twice.png", ps.make_png(50, 50, 2, 8, idat_count=4, level=1))
        # Run until a run finds nothing more to save (normally the second).
        for _ in range(4):
            before = self.read(path)
            result = self.run_ok(path)
            if "File rewritten" not in result.stdout:
                break
        self.assertNotIn("File rewritten", result.stdout)
        self.assertEqual(self.read(path), before)
        result = self.run_ok("-f", path)
        size = format(len(before), ",")
        self.assertIn("Number of bytes saved: 0 (%s --> %s)" % (size, size), result.stdout)
        self.assertIn("File rewritten.", result.stdout)
        self.assertEqual(self.read(path), before)

    def test_bundled_examples(self):
        names = sorted(n for n in os.listdir(EXAMPLES) if n.endswith(".png"))
        self.assertTrue(names, "no PNG example bundled")
        for name in names:
            with self.subTest(name):
                before = self.read(os.path.join(EXAMPLES, name))
                self.assertLess(len(before), 100 * 1024)
                path = self.write(name, before)
                self.run_ok(path)
                ps.check_rewritten(self, path, before, self.read(path))
                self.run_ok("-k", self.write("k-" + name, before))
                ps.check_rewritten(self, os.path.join(self.folder, "k-" + name), before,
                                   self.read(os.path.join(self.folder, "k-" + name)),
                                   keep_all=True)

    # -- chunks dropped and kept --------------------------------------------

    PLAIN_ITXT = ps.itxt(b"Author", b"plain text", compressed=False)

    def ancillary_chunks(self):
        """(chunks before the image data, chunks after it)."""
        return ([ps.chunk(b"gAMA", struct.pack(">I", 45455)),
                 ps.chunk(b"pHYs", struct.pack(">IIB", 2835, 2835, 1)),
                 ps.iccp(b"profile", bytes(range(256)) * 8, level=1),
                 ps.chunk(b"tEXt", b"Comment\0made for a test")],
                [ps.ztxt(b"Description", b"a compressed comment " * 40, level=1),
                 ps.itxt(b"Title", b"ein Titel " * 30, compressed=True, language=b"de",
                         translated=b"Titel", level=9),
                 self.PLAIN_ITXT,
                 ps.chunk(b"prVt", b"private data")])

    def test_chunks_dropped_without_k(self):
        before, after_idat = self.ancillary_chunks()
        data = ps.make_png(30, 20, 3, 4, before_idat=before, after_idat=after_idat)
        path = self.write("drop.png", data)
        out = self.run_ok(path).stdout
        after = self.read(path)
        chunks = ps.check_rewritten(self, path, data, after)
        self.assertEqual([c[0] for c in chunks], [b"IHDR", b"PLTE", b"tRNS", b"IDAT", b"IEND"])
        self.assertGreaterEqual(len(data) - len(after), sum(map(len, before + after_idat)))
        self.assertIn("Number of bytes saved: ", out)
        self.assertIn("File rewritten.", out)

    def test_chunks_kept_with_k_and_their_streams_reencoded(self):
        before, after_idat = self.ancillary_chunks()
        data = ps.make_png(30, 20, 2, 8, before_idat=before, after_idat=after_idat)
        path = self.write("keep.png", data)
        self.run_ok("-k", path)
        after = self.read(path)
        ps.check_rewritten(self, path, data, after, keep_all=True)
        # The iTXt without compression is exactly as it was.
        self.assertIn(self.PLAIN_ITXT, after)

    # A correction alone saves nothing, so it reaches the file when the file
    # is rewritten anyway (here: an IDAT run joined) or with -f.
    REWRITE_CASES = ((("-k",), 2), (("-k", "-f"), 1))

    def test_wrong_crcs_are_corrected(self):
        body = b"Comment\0kept with its CRC put right"
        for options, idat_count in self.REWRITE_CASES:
            with self.subTest(options=options):
                data = ps.make_png(20, 20, 0, 8, idat_count=idat_count,
                                   before_idat=[ps.chunk(b"tEXt", body, crc=0x12345678)])
                # Spoil the CRCs of IHDR and of the IDAT chunks too.
                spoiled = bytearray(data)
                pos = 8
                for ctype, cbody, crc in ps.parse(data):
                    end = pos + 8 + len(cbody)
                    if ctype in (b"IHDR", b"IDAT"):
                        spoiled[end:end + 4] = struct.pack(">I", crc ^ 0xFFFF)
                    pos = end + 4
                path = self.write("crc.png", bytes(spoiled))
                self.run_ok(*options, path)
                after = self.read(path)
                ps.check_rewritten(self, path, data, after, keep_all=True)
                self.assertIn(ps.chunk(b"tEXt", body), after)

    def test_wrong_zlib_check_bits_are_corrected(self):
        for options, idat_count in self.REWRITE_CASES:
            with self.subTest(options=options):
                good = ps.make_png(30, 30, 4, 8, idat_count=idat_count,
                                   after_idat=[ps.ztxt(b"Comment", b"text " * 50)])
                bad = bytearray(good)
                for marker, skip in ((b"IDAT", 0), (b"zTXt", len(b"Comment\0\0"))):
                    at = bad.index(marker) + 4 + skip
                    bad[at + 1] ^= 0x01  # FLG no longer makes the header a multiple of 31
                # The chunk CRCs are right: only the zlib headers are wrong.
                bad = b"".join([ps.SIGNATURE] +
                               [ps.chunk(t, b) for t, b, _ in ps.parse(bytes(bad))])
                with self.assertRaises(zlib.error):
                    zlib.decompress(ps.idat_stream(bad))
                path = self.write("check.png", bad)
                self.run_ok(*options, path)
                ps.check_rewritten(self, path, good, self.read(path), keep_all=True)

    def test_animated_png_keeps_its_frames(self):
        def fctl(sequence, width, height):
            return ps.chunk(b"fcTL", struct.pack(">IIIIIHHBB", sequence, width, height, 0, 0,
                                                 1, 10, 0, 0))

        frame = zlib.compress(ps.image_data(24, 16, 6, 8, seed=7), 1)
        frame_parts = ps.split(frame, 2)
        before_idat = [ps.chunk(b"acTL", struct.pack(">II", 3, 0)), fctl(0, 24, 16),
                       ps.chunk(b"tEXt", b"Comment\0dropped")]
        after_idat = [fctl(1, 24, 16),
                      ps.chunk(b"fdAT", struct.pack(">I", 2) + frame_parts[0]),
                      ps.chunk(b"fdAT", struct.pack(">I", 3) + frame_parts[1],
                               crc=0xDEADBEEF),
                      fctl(4, 24, 16),
                      ps.chunk(b"fdAT", struct.pack(">I", 5) +
                               zlib.compress(ps.image_data(24, 16, 6, 8, seed=9), 9))]
        data = ps.make_png(24, 16, 6, 8, idat_count=2, before_idat=before_idat,
                           after_idat=after_idat)
        path = self.write("anim.png", data)
        self.run_ok(path)
        after = self.read(path)
        chunks = ps.check_rewritten(self, path, data, after)
        self.assertEqual([c[0] for c in chunks],
                         [b"IHDR", b"acTL", b"fcTL", b"IDAT", b"fcTL", b"fdAT", b"fdAT",
                          b"fcTL", b"fdAT", b"IEND"])
        fdat = [body for ctype, body, _ in chunks if ctype == b"fdAT"]
        self.assertEqual(zlib.decompress(fdat[0][4:] + fdat[1][4:]),
                         ps.image_data(24, 16, 6, 8, seed=7))

    def test_data_behind_the_zlib_stream_is_kept(self):
        # Bytes an encoder left behind the Adler-32 inside the IDAT data: they
        # are not the checksum and must not be taken for it.
        compressor = zlib.compressobj(9, zlib.DEFLATED, 15, 8, zlib.Z_FIXED)
        stream = compressor.compress(ps.image_data(40, 40, 2, 8)) + compressor.flush()
        stream += b"\x01\x02\x03"
        data = b"".join([ps.SIGNATURE, ps.ihdr(40, 40, 8, 2), ps.chunk(b"tEXt", b"a\0dropped"),
                         ps.chunk(b"IDAT", stream), ps.chunk(b"IEND", b"")])
        path = self.write("tail.png", data)
        self.assertIn("File rewritten.", self.run_ok(path).stdout)
        after = self.read(path)
        ps.check_rewritten(self, path, data, after)
        self.assertTrue(ps.idat_stream(after).endswith(stream[-7:]))

    def test_verbose_report(self):
        data = ps.make_png(300, 2, 6, 16, idat_count=2)
        path = self.write("verbose.png", data)
        out = self.run_ok("-v", path).stdout
        crc = struct.unpack(">I", data[29:33])[0]
        self.assertIn("\nIHDR chunk (0x49484452)\n  Length:            13\n"
                      "  CRC   :    0x%08x (from file)\n  CRC   :    0x%08x (calculated)\n"
                      "    Width      :    300\n    Height     :      2\n"
                      "    Bit depth  :     16\n    Colour type: RGBA 6\n"
                      "    Compression:      0\n    Filter     :      0\n"
                      "    Interlace  :      0\n" % (crc, crc), out)
        # Each IDAT shows its first two bytes; the last one of the run shows
        # the stream's Adler-32.
        first, last = [body for ctype, body, _ in ps.parse(data) if ctype == b"IDAT"]
        self.assertIn("    Compression:     78\n    Add'l flags:     9c\n", out)
        self.assertIn("    Compression:     %02x\n    Add'l flags:     %02x\n    CRC    : 0x%s\n"
                      % (last[0], last[1], last[-4:].hex()), out)


class PngRefusedTest(unittest.TestCase):
    """Files the program refuses: an error line, exit status 1, the file
    byte for byte as it was, and no temporary file."""

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="trimbit-png-")
        self.addCleanup(shutil.rmtree, self.folder)

    def assert_refused(self, name, data, message, *options):
        path = os.path.join(self.folder, name)
        with open(path, "wb") as f:
            f.write(data)
        result = cli.run(*options, path)
        self.assertEqual(result.code, 1, result.stdout)
        self.assertIn("ERROR: " + message, result.stdout)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), data)
        cli.assert_no_temporary_file(self, self.folder)

    def test_refused_files(self):
        good = ps.make_png(16, 16, 2, 8, idat_count=2)
        stream = ps.idat_stream(good)
        iend = ps.chunk(b"IEND", b"")
        head = ps.SIGNATURE + ps.ihdr(16, 16, 8, 2)
        idat = ps.chunk(b"IDAT", stream)

        def ihdr_with(colour_type=2, compression=0):
            return ps.SIGNATURE + ps.ihdr(16, 16, 8, colour_type, 0, compression) + idat + iend

        cases = [
            ("signature", b"\x89PNG\r\n\x1a\x00" + good[8:], "Invalid PNG signature.", ()),
            ("jpeg", b"\xff\xd8\xff\xe0" + good[4:], "Invalid PNG signature.", ()),
            ("no-iend", head + idat, "No IDAT chunk found.", ()),
            ("no-idat", head + iend, "No IDAT chunk found.", ()),
            ("colour1", ihdr_with(colour_type=1), "Unknown colour type.", ()),
            ("colour5", ihdr_with(colour_type=5), "Unknown colour type.", ()),
            ("colour7", ihdr_with(colour_type=7), "Unknown colour type.", ()),
            ("method", ihdr_with(compression=1), "PNG compression method must be 0.", ()),
            ("two-runs", head + idat + ps.chunk(b"tEXt", b"a\0b") + ps.chunk(b"IDAT", stream) +
             iend, "Non-consecutive IDAT chunk.", ()),
            ("short-ihdr", ps.SIGNATURE + ps.chunk(b"IHDR", b"\0" * 12) + idat + iend,
             "IHDR too small.", ()),
            ("cut-header", good + b"\0\0\0\0IE", "Unexpected end of file (1).", ()),
            ("cut-chunk", good[:-3], "Unexpected end of file (2).", ()),
            # 0xFFFFFFF4 + 12 wraps to 0 in 32 bits.
            ("huge-length", head + b"\xff\xff\xff\xf4tEXt" + b"\0" * 40 + idat + iend,
             "Unexpected end of file (2).", ()),
            ("bad-type", head + ps.chunk(b"t3Xt", b"x") + idat + iend, "Invalid PNG chunk type",
             ()),
            ("one-byte-idat", head + ps.chunk(b"IDAT", stream[:1]) +
             ps.chunk(b"IDAT", stream[1:]) + iend, "IDAT chunk too short for a zlib header.", ()),
            ("empty-idat", head + ps.chunk(b"IDAT", b"") + idat + iend,
             "IDAT chunk too short for a zlib header.", ()),
            ("short-stream", head + ps.chunk(b"IDAT", stream[:2]) + ps.chunk(b"IDAT", b"\0" * 4) +
             iend, "zlib stream in IDAT chunk too short.", ()),
            ("dictionary", head + ps.chunk(b"IDAT", b"\x78\xbb" + stream[2:]) + iend,
             "zlib stream in IDAT chunk asks for a preset dictionary.", ()),
            ("ztxt-keyword", head + ps.chunk(b"zTXt", b"Comment") + idat + iend,
             "Malformed zTXt chunk: keyword not terminated.", ("-k",)),
            ("ztxt-method", head + ps.chunk(b"zTXt", b"Comment\0\1" + zlib.compress(b"x")) +
             idat + iend, "PNG compression method must be 0.", ("-k",)),
            ("itxt-language", head + ps.chunk(b"iTXt", b"Title\0\1\0en") + idat + iend,
             "Malformed iTXt chunk: language tag not terminated.", ("-k",)),
            ("itxt-translation", head + ps.chunk(b"iTXt", b"Title\0\1\0en\0Titel") + idat + iend,
             "Malformed iTXt chunk: translated keyword not terminated.", ("-k",)),
            ("iccp-short", head + ps.chunk(b"iCCP", b"icc\0\0\x78\x9c\x03") + idat + iend,
             "zlib stream in iCCP chunk too short.", ("-k",)),
            ("corrupt-stream", head + ps.chunk(b"IDAT", stream[:2] + b"\xff" * 20 + stream[-4:]) +
             iend, "", ()),
        ]
        for name, data, message, options in cases:
            with self.subTest(name):
                self.assert_refused(name + ".png", data, message, *options)

    def test_run_stops_at_the_first_refused_file(self):
        good = ps.make_png(16, 16, 2, 8, idat_count=3)
        paths = []
        for name, data in (("a.png", good), ("b.png", good[:20]), ("c.png", good)):
            paths.append(os.path.join(self.folder, name))
            with open(paths[-1], "wb") as f:
                f.write(data)
        result = cli.run(*paths)
        self.assertEqual(result.code, 1)
        with open(paths[0], "rb") as f:
            self.assertLess(len(f.read()), len(good))  # processed before the failure
        with open(paths[2], "rb") as f:
            self.assertEqual(f.read(), good)  # never reached
        cli.assert_no_temporary_file(self, self.folder)


if __name__ == "__main__":
    unittest.main()
