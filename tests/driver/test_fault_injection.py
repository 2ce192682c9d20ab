"""Damaged files either end the run with an error line, the file untouched,
or come out no larger with the same content (zlib and zipfile judge); never
a crash or a sanitizer report."""

import io
import subprocess
import unittest
import zipfile
import zlib

import gzip_samples
import png_samples
import zip_samples
from trimbit_cli import ScratchTest, program, read, temporary_files
from trimbit_formats import gzip_members, png_idat


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
    """What every member zlib reads holds, and the bytes after them."""
    members, rest = gzip_members(blob, strict=False)
    return ([m.data for m in members], rest) if members else None


def png_pixels(blob):
    """The image data inflated, whatever their zlib header and Adler-32."""
    try:
        stream = png_idat(blob)
        return zlib.decompressobj(-15).decompress(stream[2:]) if len(stream) >= 6 else None
    except (ValueError, zlib.error):
        return None


def zip_members(blob):
    try:
        with zipfile.ZipFile(io.BytesIO(blob)) as z:
            return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
    except Exception:
        return None


class DamagedFiles(ScratchTest):
    def survive(self, name, data, content_of, options=()):
        """Runs the program on every damaged copy of data; content_of(bytes)
        is what an independent reader finds in them (None: nothing)."""
        for description, damaged in damaged_copies(data):
            with self.subTest(damage=description):
                path = self.write(name, damaged)
                done = subprocess.run([program(), "-s", *options, path],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                after = read(path)
                self.assertIn(done.returncode, (0, 1), done.stderr.decode(errors="replace")[-2000:])
                self.assertNotRegex(done.stderr, rb"Sanitizer|runtime error")
                self.assertEqual(temporary_files(self.folder), [])
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
        M, text = zip_samples.Member, zip_samples.sample_text(4000, seed=5)
        data = zip_samples.build([M("a.txt", text), M("dir/", b"", method=0),
                                  M("b.txt", text[::-1], descriptor="signed"),
                                  M("c.bin", text[:300], method=0)], comment=b"note")
        self.survive("damaged.zip", data, zip_members)


if __name__ == "__main__":
    unittest.main()
