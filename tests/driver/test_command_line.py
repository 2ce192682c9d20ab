"""The command line as a user meets it: help, banner, options in every
spelling, the version block, the summary, error lines and exit codes.
None of these runs needs a file to be processed."""

import os
import re
import tempfile
import unittest

from trimbit_cli import run

BANNER = re.compile(
    r"\n\*\*\* {15}Trimbit V2\.08 beta {14}\*\*\*\n"
    r"\*\*\* {9}Built on [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d {9}\*\*\*\n\n\n")

HELP = """Description:
  Trimbit tries to reduce the size of GZIP (extensions .gz and .tgz), PNG, and
  ZIP files. Regardless of which programs/settings were used to create them,
  Trimbit will usually be able to reduce these files by at least a few bytes.

Parameters:
  [options] <filespec> [<filespec> [<filespec> ...]]

Available options:
  -a: Scans all files that match the specifications to determine whether they
      are in a supported format (GZIP, PNG, ZIP), regardless of extensions.
  -b: Replaces files also when no bytes, but more than zero bits were saved.
  -d: Preserves the date and time of files it rewrites.
  -c: Comments in GZIP and ZIP files are kept. By default, these are removed.
  -f: Forces every file to be rewritten, even when no bits/bytes were saved.
  -k: Keeps all chunks/structures within files, even the mostly useless ones.
  -r: Recursively go through all subdirectories.
  -s: Silent mode. Nothing is displayed except in case of errors.
  -v: Verbose output.

Notes (for more detailed information, see Trimbit.txt):
- Wildcards * and ? are allowed.
- For directories, all GZIP, PNG, and ZIP files in those directories are
  processed.
- If <filespec> has no extension, .gz, .tgz, .png, and .zip are used, unless
  the -a option is specified -- in that case, Trimbit will scan every file to
  determine the format and process every file accordingly.
- Trimbit will NOT process GZIP, PNG, and ZIP files WITHIN (G)ZIP files.
- By default, Trimbit rewrites a file only when it can reduce the number of
  bytes of that file. It is possible that Trimbit makes the deflated data
  one or more bits shorter but that this does not make the size in bytes less.
  Use the -b option to have Trimbit rewrite files also when it can only
  save one or more bits but no actual bytes.

Examples:
  Trimbit -r *.zip abc*.png
  Trimbit -K "~/Pictures/Quillon"
  Trimbit ../../stuff -b-c-k -FrS
  Trimbit -ad * ../* ../../* -f
"""

VERSION_BLOCK = ("Version information for included Quillon's classes:\n"
                 "- V2.53 of BigFile\n"
                 "- V1.10 of Exceptions\n"
                 "- V1.02 of MemoryBlocks\n"
                 "- V1.03 of TextBuffers\n"
                 "- V1.26 of Zip\n")

SUMMARY = re.compile(
    r"\n\nNumber of files processed  : (?P<processed>[ \d,]{8,})\n"
    r"Number of files rewritten  : (?P<rewritten>[ \d,]{8,})\n"
    r"Total number of bytes saved: (?P<saved>[ \d,]{8,})\n"
    r"(?P<cycles>\d{1,3}(,\d{3})*) cycles\.\n")

ZERO_SUMMARY_LINES = ("Number of files processed  :        0\n"
                      "Number of files rewritten  :        0\n"
                      "Total number of bytes saved:        0\n")


def after_banner(testcase, out):
    """Checks that out starts with the banner; returns what follows it."""
    match = BANNER.match(out)
    testcase.assertIsNotNone(match, "no banner at the start of:\n" + out)
    return out[match.end():]


class CommandLine(unittest.TestCase):

    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        # A folder yields no file: runs on it show options without processing.
        self.folder = os.path.join(scratch.name, "nothing here")
        os.mkdir(self.folder)

    def assert_zero_summary(self, rest):
        match = SUMMARY.fullmatch(rest)
        self.assertIsNotNone(match, "no summary in:\n" + rest)
        self.assertEqual(rest[:-len(match.group("cycles")) - len(" cycles.\n")],
                         "\n\n" + ZERO_SUMMARY_LINES)

    def test_no_arguments_shows_banner_and_help(self):
        result = run()
        self.assertEqual(result.code, 0)
        self.assertEqual(after_banner(self, result.stdout), HELP)

    def test_verbose_alone_shows_version_block_and_zero_summary(self):
        result = run("-v")
        self.assertEqual(result.code, 0)
        rest = after_banner(self, result.stdout)
        self.assertTrue(rest.startswith(VERSION_BLOCK), rest)
        self.assert_zero_summary(rest[len(VERSION_BLOCK):])

    def test_run_without_files_reports_zero_summary(self):
        result = run(self.folder)
        self.assertEqual(result.code, 0)
        self.assert_zero_summary(after_banner(self, result.stdout))

    def test_invalid_option_groups(self):
        for group in ["-x", "-e", "-1", "-w", "-vx", "-b-c-q", "-a.gz", "-\u00e9", "--help"]:
            for args in [[group], [self.folder, group], ["-s", group]]:
                with self.subTest(args=args):
                    result = run(*args)
                    self.assertEqual(result.code, 1)
                    # The banner shows even in silent runs; no summary follows.
                    self.assertEqual(after_banner(self, result.stdout),
                                     "\n\nERROR: Invalid option specified.\n")

    def test_accepted_option_groups(self):
        normal = ["-b-c-k", "-B", "-", "-abcdfkr", "-ABCDFKR", "--", "-bB", "-s-v"]
        for group in normal:
            with self.subTest(group=group):
                result = run(group, self.folder)
                self.assertEqual(result.code, 0)
                rest = after_banner(self, result.stdout)
                if group in ("-s-v",):
                    self.assertTrue(rest.startswith(VERSION_BLOCK), rest)
                    rest = rest[len(VERSION_BLOCK):]
                self.assert_zero_summary(rest)
        for silent in [["-FrS"], ["-vs"], ["-v", "-s"], ["-S"]]:
            with self.subTest(group=silent):
                result = run(*silent, self.folder)
                self.assertEqual((result.code, result.stdout), (0, ""))

    def test_options_after_file_names_still_apply(self):
        result = run(self.folder, "-s")
        self.assertEqual((result.code, result.stdout), (0, ""))
        result = run(self.folder, "-V")
        self.assertEqual(result.code, 0)
        self.assertTrue(after_banner(self, result.stdout).startswith(VERSION_BLOCK))

    def test_silent_run_still_reports_an_error_after_the_banner(self):
        missing = os.path.join(self.folder, "missing.gz")
        result = run("-s", missing)
        self.assertEqual(result.code, 1)
        self.assertEqual(after_banner(self, result.stdout), "\n\nERROR: realpath() failed.\n")


if __name__ == "__main__":
    unittest.main()
