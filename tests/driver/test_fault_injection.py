"""Damaged files (truncated, single bits flipped, ranges zeroed) either end
the run with an error line, the file byte for byte as it was and no
temporary file, or come out no larger with the same content (judged by zlib
and Python's zipfile); never a crash or a sanitizer report. (Where the file
system says no, see test_replacement.py.)"""

import io
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "containers"), os.path.join(HERE, "..", "zip")]

import gzip_samples  # noqa: E402
import png_samples  # noqa: E402
import trimbit_cli  # noqa: E402
import zip_fixtures  # noqa: E402


def damaged_copies(data):
    """(description, bytes) of many damaged versions of data: the first 24
    offsets and others spread over the whole file."""
    def positions(count):
        return sorted({p for p in [*range(24), *(len(data) * k // count for k in range(count))]
                       if p < len(data)})
    for cut in positions(40):
        yield f"truncated to {cut}", data[:cut]
    for at in positions(60):
        flipped = bytes([data[at] ^ (1 << (at % 8))])
        yield f"bit {at % 8} of byte {at} flipped", data[:at] + flipped + data[at + 1:]
    for at in positions(12):
        yield f"16 bytes zeroed at {at}", data[:at] + bytes(len(data[at:at + 16])) + data[at + 16:]


def gzip_payloads(blob):
    """Decoded deflate data of every member (trailers are not checked: the
    program does not change them) and the bytes after them; None when zlib
    cannot read the first member."""
    payloads, pos = [], 0
    while blob[pos:pos + 3] == b"\x1f\x8b\x08":
        try:
            d = zlib.decompressobj(-15)
            payloads.append(d.decompress(blob[pos + gzip_samples.header_length(blob[pos:]):]) +
                            d.flush())
        except (ValueError, IndexError, zlib.error):
            break
        if not d.eof or len(d.unused_data) < 8:
            break
        pos = len(blob) - len(d.unused_data) + 8
    return (payloads, blob[pos:]) if payloads else None


def png_pixels(blob):
    try:
        stream = png_samples.idat_stream(blob)
        return zlib.decompressobj(-15).decompress(stream[2:]) if len(stream) >= 6 else None
    except (AssertionError, zlib.error):
        return None


def zip_members(blob):
    try:
        with zipfile.ZipFile(io.BytesIO(blob)) as z:
            return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
    except Exception:
        return None


class DamagedFiles(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="trimbit-damage-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def survive(self, name, data, content_of, options=()):
        """Runs the program on every damaged copy of data; content_of(bytes)
        is what an independent reader finds in them (None: nothing)."""
        path = os.path.join(self.folder, name)
        for description, damaged in damaged_copies(data):
            with self.subTest(damage=description):
                with open(path, "wb") as f:
                    f.write(damaged)
                done = subprocess.run([trimbit_cli.program(), "-s", *options, path],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                with open(path, "rb") as f:
                    after = f.read()
                self.assertIn(done.returncode, (0, 1), done.stderr.decode(errors="replace")[-2000:])
                self.assertNotRegex(done.stderr, rb"Sanitizer|runtime error")
                trimbit_cli.assert_no_temporary_file(self, self.folder)
                if done.returncode == 1:
                    self.assertIn(b"ERROR", done.stdout)
                    self.assertEqual(after, damaged, "a refused file was changed")
                elif after != damaged:
                    self.assertLessEqual(len(after), len(damaged))
                    if content_of(damaged) is not None:
                        self.assertEqual(content_of(after), content_of(damaged))

    def test_gzip(self):
        text = gzip_samples.example_texts()[0][:6000]
        data = gzip_samples.member(text, flags=0x1E, extra=b"ab\x02\x00xy", name=b"n.txt",
                                   comment=b"c") + gzip_samples.member(text[::-1])
        self.survive("damaged.gz", data, gzip_payloads)

    def test_png(self):
        data = png_samples.make_png(width=30, height=20, colour_type=2, idat_count=3,
                                    after_idat=[png_samples.ztxt(b"Comment", b"text " * 30)])
        for options in [(), ("-k",)]:
            self.survive("damaged.png", data, png_pixels, options)

    def test_zip(self):
        M, text = zip_fixtures.Member, zip_fixtures.sample_text(4000, seed=5)
        data = zip_fixtures.build([M("a.txt", text), M("dir/", b"", method=0),
                                   M("b.txt", text[::-1], descriptor="signed"),
                                   M("c.bin", text[:300], method=0)], comment=b"note")
        self.survive("damaged.zip", data, zip_members)


if __name__ == "__main__":
    unittest.main()
