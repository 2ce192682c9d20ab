"""PNG files through the program, judged by pngcheck, zlib's crc32 and inflate."""

import itertools
import os
import resource
import struct
import subprocess
import unittest
import zlib

import png_samples as ps
from gzip_samples import EXAMPLES
from trimbit_cli import ScratchTest, program, read
from trimbit_formats import inflate_zlib, png_chunks, png_idat

DEPTHS = [(0, (1, 2, 4, 8, 16)), (2, (8, 16)), (3, (1, 2, 4, 8)), (4, (8, 16)), (6, (8, 16))]


class PngTest(ScratchTest):
    def rewrite(self, name, data, *options):
        """Runs the program on data; checks and returns the rewritten chunks."""
        path = self.write(name, data)
        self.trimbit(*options, path)
        return ps.check_rewritten(self, path, data, read(path), keep_all="-k" in options)

    def test_every_colour_type_depth_interlace_and_idat_split(self):
        files = []
        for (colour, depth), interlace, (idats, level, strategy) in itertools.product(
                [(c, d) for c, depths in DEPTHS for d in depths], (0, 1),
                ((1, 9, zlib.Z_DEFAULT_STRATEGY), (5, 1, zlib.Z_FILTERED), (3, 6, zlib.Z_FIXED))):
            data = ps.make_png(37, 23, colour, depth, interlace, idats, level, strategy,
                               seed=colour * 100 + depth)
            name = "c%d-d%d-i%d-n%d.png" % (colour, depth, interlace, idats)
            files.append((self.write(name, data), data))
        self.trimbit(*(path for path, _ in files))
        for path, before in files:
            with self.subTest(os.path.basename(path)):
                ps.check_rewritten(self, path, before, read(path))

    def test_bundled_examples(self):
        names = sorted(n for n in os.listdir(EXAMPLES) if n.endswith(".png"))
        self.assertTrue(names, "no PNG example bundled")
        for name, options in ((n, o) for n in names for o in ((), ("-k",), ("-x",))):
            with self.subTest(name, options=options):
                self.rewrite(name, read(os.path.join(EXAMPLES, name)), *options)

    def test_verbose_report_of_a_joined_idat_run(self):
        data = ps.make_png(300, 2, 6, 16, idat_count=3, level=9)
        path = self.write("verbose.png", data)
        out = self.trimbit("-v", path)
        after = read(path)
        ps.check_rewritten(self, path, data, after)
        self.assertGreaterEqual(len(data) - len(after), 24)  # two chunk frames gone
        self.assertIn("Number of bytes saved for this png: %s (%s --> %s)" % tuple(
            format(n, ",") for n in (len(data) - len(after), len(data), len(after))), out)
        crc = zlib.crc32(data[12:29])
        self.assertIn("\nIHDR chunk (0x49484452)\n  Length:            13\n"
                      "  CRC   :    0x%08x (from file)\n  CRC   :    0x%08x (calculated)\n"
                      "    Width      :    300\n    Height     :      2\n"
                      "    Bit depth  :     16\n    Colour type: RGBA 6\n"
                      "    Compression:      0\n    Filter     :      0\n"
                      "    Interlace  :      0\n" % (crc, crc), out)
        self.assertEqual(out.count("IDAT chunk (0x49444154)"), 3)  # each as read

    def test_nothing_to_save_leaves_the_file_unless_forced(self):
        path = self.write("twice.png", ps.make_png(50, 50, 2, 8, idat_count=4, level=1))
        for _ in range(4):  # until a run finds nothing more to save
            before = read(path)
            if "File rewritten" not in self.trimbit(path):
                break
        self.assertEqual(read(path), before)
        out = self.trimbit("-f", path)
        self.assertIn("Number of bytes saved: 0 (%s --> %s)\nFile rewritten." % (
            (format(len(before), ","),) * 2), out)
        self.assertEqual(read(path), before)

    def test_unneeded_chunks_dropped_unless_k_and_animation_always_kept(self):
        def fctl(sequence):
            return ps.chunk(b"fcTL", struct.pack(">IIIIIHHBB", sequence, 30, 20, 0, 0, 1, 10, 0, 0))

        frame = ps.split(zlib.compress(ps.image_data(30, 20, 2, 8, seed=7), 1), 2)
        before_idat = [ps.chunk(b"acTL", struct.pack(">II", 2, 0)), fctl(0),
                       ps.chunk(b"gAMA", struct.pack(">I", 45455)),
                       ps.chunk(b"iCCP", b"icc\0\0" + zlib.compress(bytes(range(256)) * 8, 1)),
                       ps.chunk(b"tEXt", b"Comment\0made for a test")]
        after_idat = [ps.ztxt(b"Description", b"a compressed comment " * 40, level=1), fctl(1),
                      ps.chunk(b"fdAT", b"\0\0\0\2" + frame[0]),
                      ps.chunk(b"fdAT", b"\0\0\0\3" + frame[1], crc=0xDEADBEEF),
                      ps.itxt(b"Title", b"ein Titel " * 30, language=b"de", translated=b"Titel"),
                      ps.itxt(b"Author", b"plain text", compressed=False),
                      ps.ztxt(b"Empty", b""), ps.ztxt(b"Empty", b"", level=0),
                      ps.chunk(b"prVt", b"private data")]
        data = ps.make_png(30, 20, 2, 8, before_idat=before_idat, after_idat=after_idat)
        self.assertEqual([c[0] for c in self.rewrite("drop.png", data)],
                         [b"IHDR", b"acTL", b"fcTL", b"IDAT", b"fcTL", b"fdAT", b"fdAT", b"IEND"])
        self.assertEqual(len(self.rewrite("keep.png", data, "-k")), 17)

    def test_wrong_crcs_and_zlib_check_bits_are_corrected(self):
        # A correction alone saves nothing: it reaches the file when the file
        # is rewritten anyway (here: an IDAT run joined) or with -f.
        for options, idat_count in ((("-k",), 2), (("-k", "-f"), 1)):
            with self.subTest(options=options):
                good = ps.make_png(30, 30, 4, 8, idat_count=idat_count, after_idat=[
                    ps.chunk(b"tEXt", b"Comment\0text"), ps.ztxt(b"Comment", b"text " * 50)])
                bad = bytearray(good)
                for at in (bad.index(b"IDAT") + 5, bad.index(b"zTXtComment") + 14):
                    bad[at] ^= 1  # FLG no longer makes the zlib header check
                bad = ps.SIGNATURE + b"".join(ps.chunk(t, b, None if t == b"IEND" else c ^ 0xFFFF)
                                              for t, b, c in png_chunks(bytes(bad)))
                with self.assertRaises(zlib.error):
                    zlib.decompress(png_idat(bad))
                path = self.write("check.png", bad)
                self.trimbit(*options, path)
                ps.check_rewritten(self, path, good, read(path), keep_all=True)

    def test_image_data_split_anywhere_or_followed_by_bytes(self):
        # A first IDAT chunk of 0 or 1 byte is valid: the zlib header is read
        # from the joined image data, which may be cut anywhere, into chunks
        # of a byte each too, the Adler-32 included. Bytes an encoder left
        # behind the Adler-32 must not be taken for it (-f: the file is written).
        data = ps.make_png(30, 20, 6, 8, level=9)
        stream = png_idat(data)
        n = len(stream)
        for sizes, tail in (((0,), b""), ((1,), b""), ((0, 1), b""), ((1, 0, 1), b""),
                            ((0, 0, 2), b""), ((), b"\1\2\3"), ((1,) * (n - 1), b""),
                            ((1, 0) * n, b"\1"), ((n - 3, 1, 0, 1), b""), ((n - 1,), b"\1\2"),
                            ((n - 5,) + (1,) * 4, b"\1")):
            with self.subTest(sizes=sizes, tail=tail):
                cuts = [0, *itertools.accumulate(sizes), len(stream)]
                pieces = [stream[a:b] for a, b in zip(cuts, cuts[1:])]
                pieces[-1] += tail
                self.rewrite("split.png", data[:33] + b"".join(  # signature, IHDR, the pieces
                    ps.chunk(b"IDAT", p) for p in pieces) + ps.chunk(b"IEND", b""), "-f")

    def test_large_image_streams_in_bounded_memory(self):
        # Past 16 MiB a file streams: the image data of thousands of chunks
        # are read across them and the new file written as it is made, in
        # far less memory than the file takes (no sanitizer: they reserve
        # far more address space).
        data = ps.large_png(23 << 20, 8192)
        self.assertGreater(len(data), 16 << 20)
        path = self.write("large.png", data)
        limit = (48 << 20) if b"__asan_init" not in read(program()) else resource.RLIM_INFINITY
        done = subprocess.run(
            [program(), path], stdout=subprocess.PIPE,
            preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertIn(b"File rewritten.", done.stdout)
        ps.check_rewritten(self, path, data, read(path))

    def test_unknown_critical_chunks_are_kept_as_they_are(self):
        # A decoder must refuse an image with a critical chunk it does not
        # know: the chunk stays in its place, data and CRC as read (a wrong
        # CRC included), so pngcheck still refuses (SECR) or warns (XpRV).
        data = ps.make_png(20, 10, 2, 8, idat_count=2, before_idat=[
            ps.chunk(b"SECR", b"secret"), ps.chunk(b"tEXt", b"a\0dropped")],
            after_idat=[ps.chunk(b"XpRV", b"private", crc=0x12345678)])
        kept = [(t, b, c) for t, b, c in png_chunks(data) if t in (b"SECR", b"XpRV")]
        for options in ((), ("-k",)):
            with self.subTest(options=options):
                path = self.write("critical.png", data)
                self.trimbit(*options, path)
                after = read(path)
                self.assertLess(len(after), len(data))
                new_chunks = png_chunks(after)
                self.assertEqual([c for c in new_chunks if c[0] in (b"SECR", b"XpRV")], kept)
                self.assertEqual([c[0] for c in new_chunks][:3], [b"IHDR", b"SECR"] +
                                 ([b"tEXt"] if options else [b"IDAT"]))
                self.assertEqual(new_chunks[-2][0], b"XpRV")
                self.assertEqual(inflate_zlib(png_idat(after)),
                                 inflate_zlib(png_idat(data)))
                done = subprocess.run(["pngcheck", path], stdout=subprocess.PIPE)
                self.assertNotEqual(done.returncode, 0)
                self.assertIn(b"SECR", done.stdout)


if __name__ == "__main__":
    unittest.main()
