"""Which files a run takes, as a user sees it: extensions and signatures,
each file once however it is named, folders, missing and over-long paths.
Runs that process GZIP files check that every file still holds exactly the
data it held (Python's gzip module is the judge) and that no temporary file
is left behind."""

import gzip
import os
import re
import tempfile
import unittest

from trimbit_cli import assert_no_temporary_file, run, snapshot

BANNER = re.compile(r"\n\*\*\* {15}Trimbit V2\.08 beta {14}\*\*\*\n\*\*\*[^\n]*\*\*\*\n\n\n")
PROCESSED = re.compile(r"Number of files processed  : +([\d,]+)\n")

TEXT = b"".join(b"line %d of a small text that gzip shrinks well\n" % i for i in range(300))


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def gzip_bytes(data=TEXT):
    return gzip.compress(data, compresslevel=6, mtime=0)


class FileCollection(unittest.TestCase):

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = os.path.realpath(scratch.name)

    def path(self, name):
        return os.path.join(self.dir, name)

    def error_line(self, result):
        """The run's output after the banner must end in exactly one error line."""
        self.assertEqual(result.code, 1)
        self.assertIsNotNone(BANNER.match(result.stdout), result.stdout)
        self.assertNotIn("Number of files processed", result.stdout)
        match = re.search(r"\n\nERROR: (.*)\.\n\Z", result.stdout, re.S)
        self.assertIsNotNone(match, result.stdout)
        return match.group(1)

    def processed(self, result):
        match = PROCESSED.search(result.stdout)
        self.assertIsNotNone(match, result.stdout)
        return int(match.group(1).replace(",", ""))

    def headers(self, result):
        """The quoted names that processing printed, in order."""
        return re.findall(r'^"(.*)"$', result.stdout, re.M)

    def assert_data_kept(self, path, data=TEXT):
        with gzip.open(path, "rb") as f:
            self.assertEqual(f.read(), data, path)

    # Runs that process nothing.

    def test_missing_file_ends_the_run_before_any_processing(self):
        good = write(self.path("good.gz"), gzip_bytes())
        before = snapshot(self.dir)
        result = run(good, self.path("missing.gz"))
        self.assertEqual(self.error_line(result), "realpath() failed")
        self.assertEqual(self.headers(result), [])
        self.assertEqual(snapshot(self.dir), before)

    def test_path_longer_than_1023_characters_is_refused_by_name(self):
        deep = self.dir
        while len(deep) < 1000:
            deep = os.path.join(deep, "d" * 150)
            os.mkdir(deep)
        name = write(os.path.join(deep, "data.gz"), gzip_bytes())
        self.assertGreater(len(name), 1023)
        result = run(name)
        self.assertEqual(self.error_line(result),
                         "Path longer than 1023 characters [%s]" % name)

    def test_files_that_are_not_taken(self):
        write(self.path("x.data"), gzip_bytes())
        os.symlink(self.path("x.data"), self.path("x.gz"))  # judged by the name it resolves to
        os.mkdir(self.path("folder"))
        os.mkdir(self.path("folder.d"))
        write(self.path("notes.txt"), b"text")
        write(self.path("seven"), gzip_bytes()[:7])
        os.mkdir(self.path("dir.gz"))
        for args in [["x.gz", "folder", "folder.d", "notes.txt"],
                     ["-a", "seven", "folder", "dir.gz", "notes.txt"]]:
            with self.subTest(args=args):
                result = run(*args, cwd=self.dir)
                self.assertEqual(result.code, 0, result.stdout)
                self.assertEqual(self.processed(result), 0)
                self.assertEqual(self.headers(result), [])

    def test_folder_named_like_an_archive_is_taken_and_fails(self):
        folder = self.path("old.zip")
        os.mkdir(folder)
        result = run(folder)
        self.assertEqual(self.headers(result), [folder])
        self.error_line(result)
        assert_no_temporary_file(self, self.dir)

    def test_first_failure_ends_the_run(self):
        small = write(self.path("a-small.gz"), gzip_bytes()[:17])
        other = write(self.path("b-other.gz"), gzip_bytes())
        before = snapshot(self.dir)
        result = run(small, other)
        self.assertEqual(self.error_line(result), "File too small")
        self.assertEqual(self.headers(result), [small])
        self.assertEqual(snapshot(self.dir), before)
        assert_no_temporary_file(self, self.dir)

    # Runs that process GZIP files.

    def test_gzip_files_are_processed_and_keep_their_data(self):
        names = [write(self.path(n), gzip_bytes()) for n in ("a.gz", "B.GZ", "c.tar.gz", "d.Tgz")]
        result = run(*names)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(self.processed(result), 4)
        self.assertEqual(self.headers(result), names)
        for name in names:
            self.assert_data_kept(name)
        assert_no_temporary_file(self, self.dir)

    def test_each_file_is_processed_once_however_it_is_named(self):
        data = write(self.path("data.gz"), gzip_bytes())
        os.mkdir(self.path("sub"))
        os.symlink(data, self.path("link.gz"))
        upper = write(self.path("CASE.gz"), gzip_bytes())
        lower = write(self.path("case.gz"), gzip_bytes(b"another text"))
        result = run("data.gz", "./data.gz", "sub/../data.gz", data, "link.gz",
                     upper, lower, cwd=self.dir)
        self.assertEqual(result.code, 0, result.stdout)
        # Names that differ only in case count as one file: the first one wins.
        self.assertEqual(self.headers(result), [data, upper])
        self.assertEqual(self.processed(result), 2)
        self.assert_data_kept(data)
        self.assert_data_kept(lower, b"another text")

    def test_scan_all_takes_files_by_their_first_bytes(self):
        photo = write(self.path("packed.dat"), gzip_bytes())
        write(self.path("plain.gz"), b"not compressed at all")
        write(self.path("seven.gz"), gzip_bytes()[:7])
        result = run("-a", "packed.dat", "plain.gz", "seven.gz", cwd=self.dir)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual(self.headers(result), [photo])
        self.assertEqual(self.processed(result), 1)
        self.assert_data_kept(photo)

    def test_name_with_percent_signs_is_printed_as_named(self):
        name = write(self.path("100%s%n%d.gz"), gzip_bytes())
        result = run(name)
        self.assertEqual(self.headers(result), [name])
        self.assertEqual(result.code, 0, result.stdout)
        self.assert_data_kept(name)

    def test_silent_processing_prints_nothing(self):
        name = write(self.path("quiet.gz"), gzip_bytes())
        result = run(name, "-s")
        self.assertEqual((result.code, result.stdout), (0, ""))
        self.assert_data_kept(name)


if __name__ == "__main__":
    unittest.main()
