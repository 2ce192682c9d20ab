"""Damaged files on the command line: truncated at many points, with single
bits flipped, with ranges zeroed. Every run either ends with an error line,
leaving the file byte for byte as it was and no temporary file, or succeeds
with a file that holds the same content (judged by zlib and Python's
zipfile) and is no larger. Never a crash or a sanitizer report.

Also the places where the file system says no: a temporary file that cannot
be created, and a file that cannot be replaced."""

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


def positions(size, count):
    """count offsets spread over 0..size-1, the first bytes all included."""
    picked = set(range(min(size, 24)))
    picked.update(size * k // count for k in range(count))
    return sorted(p for p in picked if p < size)


def damaged_copies(data):
    """(description, bytes) of many damaged versions of data."""
    for cut in positions(len(data), 40):
        yield f"truncated to {cut}", data[:cut]
    for at in positions(len(data), 60):
        bit = at % 8
        yield f"bit {bit} of byte {at} flipped", data[:at] + bytes([data[at] ^ (1 << bit)]) + data[at + 1:]
    for at in positions(len(data), 12):
        yield f"16 bytes zeroed at {at}", data[:at] + bytes(min(16, len(data) - at)) + data[at + 16:]


def gzip_payloads(blob):
    """Decoded content of every member's deflate data (trailers not
    checked: the program does not change them) and the bytes after them;
    None when zlib cannot read the first member."""
    payloads, pos = [], 0
    while blob[pos:pos + 3] == b"\x1f\x8b\x08":
        try:
            start = pos + gzip_samples.header_length(blob[pos:])
            d = zlib.decompressobj(-15)
            payloads.append(d.decompress(blob[start:]) + d.flush())
        except (ValueError, IndexError, zlib.error):
            break
        if not d.eof or len(d.unused_data) < 8:
            break
        pos = len(blob) - len(d.unused_data) + 8
    return (payloads, blob[pos:]) if payloads else None


def png_pixels(blob):
    try:
        stream = png_samples.idat_stream(blob)
        d = zlib.decompressobj(-15)
        return d.decompress(stream[2:]) if len(stream) >= 6 else None
    except (AssertionError, zlib.error):
        return None


def zip_members(path):
    try:
        with zipfile.ZipFile(path) as z:
            return {i.filename: z.read(i) for i in z.infolist() if not i.is_dir()}
    except Exception:
        return None


class DamagedFiles(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="trimbit-damage-")
        self.addCleanup(shutil.rmtree, self.folder, True)

    def survive(self, name, data, content_of, options=()):
        """Runs the program on every damaged copy of data; content_of(path,
        bytes) gives what an independent reader finds in a file."""
        for description, damaged in damaged_copies(data):
            with self.subTest(damage=description):
                path = os.path.join(self.folder, name)
                with open(path, "wb") as f:
                    f.write(damaged)
                done = subprocess.run([trimbit_cli.program(), "-s", *options, path],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                with open(path, "rb") as f:
                    after = f.read()
                self.assertIn(done.returncode, (0, 1), done.stderr.decode(errors="replace")[-2000:])
                self.assertNotIn(b"Sanitizer", done.stderr)
                self.assertNotIn(b"runtime error", done.stderr)
                trimbit_cli.assert_no_temporary_file(self, self.folder)
                if done.returncode == 1:
                    self.assertIn(b"ERROR", done.stdout)
                    self.assertEqual(after, damaged, "a refused file was changed")
                elif after != damaged:
                    self.assertLessEqual(len(after), len(damaged))
                    before_content = content_of(path, damaged, before=True)
                    if before_content is not None:
                        self.assertEqual(content_of(path, after, before=False), before_content)
                os.remove(path)

    def test_gzip(self):
        text = gzip_samples.example_texts()[0][:6000]
        data = gzip_samples.member(text, flags=0x1E, extra=b"ab\x02\x00xy", name=b"n.txt",
                                   comment=b"c") + gzip_samples.member(text[::-1])
        self.survive("damaged.gz", data, lambda path, blob, before: gzip_payloads(blob))

    def test_png(self):
        data = png_samples.make_png(width=30, height=20, colour_type=2, idat_count=3,
                                    after_idat=[png_samples.ztxt(b"Comment", b"text " * 30)])
        self.survive("damaged.png", data, lambda path, blob, before: png_pixels(blob))
        self.survive("damaged.png", data, lambda path, blob, before: png_pixels(blob), ("-k",))

    def test_zip(self):
        M = zip_fixtures.Member
        text = zip_fixtures.sample_text(4000, seed=5)
        data = zip_fixtures.build([M("a.txt", text), M("dir/", b"", method=0),
                                   M("b.txt", text[::-1], descriptor="signed"),
                                   M("c.bin", text[:300], method=0)], comment=b"note")

        def content(path, blob, before):
            probe = path + (".before" if before else ".after")
            with open(probe, "wb") as f:
                f.write(blob)
            try:
                return zip_members(probe)
            finally:
                os.remove(probe)
        self.survive("damaged.zip", data, content)


class FileSystemRefusals(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="trimbit-refuse-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.data = gzip_samples.member(b"hello hello hello " * 200, flags=0x10, comment=b"x")

    def test_temporary_file_cannot_be_created(self):
        # The temporary name is the file's name plus six letters: past the
        # longest name the file system takes.
        path = os.path.join(self.folder, "n" * 252 + ".gz")
        with open(path, "wb") as f:
            f.write(self.data)
        result = trimbit_cli.run("-f", path)
        self.assertEqual(result.code, 1)
        self.assertIn("ERROR", result.stdout)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), self.data)
        trimbit_cli.assert_no_temporary_file(self, self.folder)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "needs root to run the program as another user")
    def test_file_cannot_be_replaced(self):
        # In a sticky folder another user may write the temporary file but
        # not rename it over a file that is not theirs.
        os.chmod(self.folder, 0o1777)
        path = os.path.join(self.folder, "theirs.gz")
        with open(path, "wb") as f:
            f.write(self.data)
        os.chmod(path, 0o644)
        done = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                               trimbit_cli.program(), "-f", path], stdout=subprocess.PIPE)
        self.assertEqual(done.returncode, 1, done.stdout)
        self.assertIn(b"rename() failed", done.stdout)
        with open(path, "rb") as f:
            self.assertEqual(f.read(), self.data)
        trimbit_cli.assert_no_temporary_file(self, self.folder)


if __name__ == "__main__":
    unittest.main()
