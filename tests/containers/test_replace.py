"""Replacing a rewritten file: permissions kept, -d restores the times, and a
file in the temporary file's way is never overwritten."""

import os
import shutil
import stat
import tempfile
import unittest

import gzip_samples as gs
from trimbit_cli import assert_no_temporary_file, run, snapshot


class ReplaceTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="trimbit-replace-")
        self.data = gs.example_texts()[0]
        # A removable comment makes sure every run rewrites the file.
        self.original = gs.member(self.data, flags=0x10, comment=b"removable comment")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def make(self, name="a.gz", mode=0o644, times=None):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(self.original)
        os.chmod(path, mode)
        if times:
            os.utime(path, times)
        return path

    def test_permission_bits_are_kept(self):
        for mode in (0o600, 0o644, 0o640, 0o755, 0o444):
            with self.subTest(mode=oct(mode)):
                path = self.make(mode=mode)
                result = run(path)
                self.assertEqual(result.code, 0, result.stdout)
                self.assertIn("File rewritten.", result.stdout)
                self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), mode)
                with open(path, "rb") as f:
                    self.assertEqual(gs.read_members(f.read()), ([self.data], b""))
                assert_no_temporary_file(self, self.dir)

    def test_dates(self):
        accessed, modified = 1200000000, 1100000000
        for options, restored in ((("-d",), True), ((), False)):
            with self.subTest(options=options):
                path = self.make(times=(accessed, modified))
                result = run(*options, path)
                self.assertEqual(result.code, 0, result.stdout)
                status = os.stat(path)  # before reading, which may move the access time
                self.assertIn("File rewritten.", result.stdout)
                if restored:
                    self.assertEqual(status.st_mtime, modified)
                    self.assertEqual(status.st_atime, modified)
                else:
                    self.assertGreater(status.st_mtime, modified + 1000000)

    def test_existing_temporary_name_is_never_overwritten(self):
        path = self.make()
        squatter = path + "trbQLX"
        with open(squatter, "wb") as f:
            f.write(b"not ours")
        before = snapshot(self.dir)
        result = run(path)
        self.assertEqual(result.code, 1, result.stdout)
        self.assertIn("ERROR: ", result.stdout)
        self.assertIn("trbQLX", result.stdout)
        self.assertNotIn("Number of files processed", result.stdout)
        self.assertEqual(snapshot(self.dir), before)

    def test_symbolic_link_target_is_rewritten_and_link_kept(self):
        target = self.make(name="real.gz")
        link = os.path.join(self.dir, "link.gz")
        os.symlink("real.gz", link)
        result = run(link)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertTrue(os.path.islink(link))
        with open(target, "rb") as f:
            rewritten = f.read()
        self.assertLess(len(rewritten), len(self.original))
        self.assertEqual(gs.read_members(rewritten), ([self.data], b""))
        assert_no_temporary_file(self, self.dir)


if __name__ == "__main__":
    unittest.main()
