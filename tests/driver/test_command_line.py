"""The command line as a user meets it: help, --help and --version, banner,
options in every spelling and place, the version block, the summary, error
lines and exit codes; then which files a run takes: extensions and
signatures, each file once however it is named, folders walked with and
without -r, missing and over-long paths. Every GZIP file must still hold
exactly its data afterwards (Python's gzip module is the judge), and no
temporary file may be left behind."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from trimbit_cli import assert_no_temporary_file, program, run, snapshot

BANNER = re.compile(
    r"\n\*\*\* {15}Trimbit V2\.08 beta {14}\*\*\*\n"
    r"\*\*\* {9}Built on [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d {9}\*\*\*\n\n\n")
with open(os.path.join(os.path.dirname(__file__), "expected_help.txt")) as f:
    HELP = f.read()
VERSION = ("Version information for included Quillon's classes:\n- V2.53 of BigFile\n"
           "- V1.10 of Exceptions\n- V1.02 of MemoryBlocks\n- V1.03 of TextBuffers\n"
           "- V1.26 of Zip\n")
TEXT = b"".join(b"line %d of a small text that gzip shrinks well\n" % i for i in range(300))
PACKED = gzip.compress(TEXT, compresslevel=6, mtime=0)
SUMMARY = (r"\n\nNumber of files processed  :        0\nNumber of files rewritten  :        0\n"
           r"Total number of bytes saved:        0\n\d{1,3}(,\d{3})* cycles\.\n")


def after_banner(testcase, out):
    """Checks that out starts with the banner; returns what follows it."""
    match = BANNER.match(out)
    testcase.assertIsNotNone(match, "no banner at the start of:\n" + out)
    return out[match.end():]


class CommandLine(unittest.TestCase):
    def setUp(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        self.dir = os.path.realpath(scratch.name)
        # A folder yields no file: runs on it show options without processing.
        self.folder = self.path("nothing here")
        os.mkdir(self.folder)

    def write(self, name, data=PACKED):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def path(self, name):
        return os.path.join(self.dir, name)

    def run_in_dir(self, *args, error=None):
        """Runs the program in the scratch folder; returns the quoted names it
        printed. error: None for a run that must complete, else the error line
        it must end with ("" for any), with no summary."""
        result = run(*args, cwd=self.dir)
        assert_no_temporary_file(self, self.dir)
        names = re.findall(r'^"(.*)"$', result.stdout, re.M)
        if error is None:
            self.assertEqual(result.code, 0, result.stdout)
            self.assertRegex(result.stdout, "Number of files processed  : +%d\n" % len(names)
                             if "-s" not in args else r"\A\Z")
        else:
            self.assertEqual(result.code, 1, result.stdout)
            self.assertRegex(result.stdout, r"\n\nERROR: %s\.\n\Z" % (re.escape(error) or ".*"))
        return names

    def assert_data_kept(self, path, data=TEXT):
        with gzip.open(path, "rb") as f:
            self.assertEqual(f.read(), data, path)

    def test_no_arguments_shows_banner_and_help(self):
        result = run()
        self.assertEqual(result.code, 0)
        self.assertEqual(after_banner(self, result.stdout), HELP)

    def test_help_and_version_answer_first_and_alone(self):
        self.write("a.gz")
        for args, expected in [
                (["--help"], HELP), (["-s", "a.gz", "--help"], HELP), (["-x", "--help"], HELP),
                (["--version"], "Trimbit 2.08 beta\n"), (["--version", "--help", "a.gz"],
                                                          "Trimbit 2.08 beta\n")]:
            with self.subTest(args=args):
                before = snapshot(self.dir)
                result = run(*args, cwd=self.dir)
                self.assertEqual(result.code, 0)
                shown = result.stdout if expected != HELP else after_banner(self, result.stdout)
                self.assertEqual(shown, expected)
                self.assertEqual(snapshot(self.dir), before, "a file was processed")

    def test_accepted_option_groups(self):
        summary, version = re.compile(SUMMARY), re.compile(re.escape(VERSION) + SUMMARY)
        folder = self.folder
        for args, expected in [
                (["-v"], version), ([folder], summary), (["-s-v", folder], version),
                ([folder, "-V"], version),  # options after file names apply too
                (["-b-c-k", folder], summary), (["-B", folder], summary), (["-", folder], summary),
                (["-abcdfkr", folder], summary), (["-ABCDFKR", folder], summary),
                (["--", folder], summary), (["-bB", folder], summary),
                (["-FrS", folder], None), (["-vs", folder], None), (["-v", "-s", folder], None),
                ([folder, "-s"], None)]:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.code, 0)
                if expected is None:  # silent
                    self.assertEqual(result.stdout, "")
                else:
                    self.assertIsNotNone(expected.fullmatch(after_banner(self, result.stdout)))

    def test_errors_follow_the_banner_even_in_silent_runs(self):
        cases = [([group], "Invalid option specified") for group in
                 ["-x", "-e", "-1", "-w", "-vx", "-b-c-q", "-a.gz", "-\u00e9", "--helpme",
                  "--Help", "-help", "--version=1"]]
        cases += [([self.folder, "-x"], "Invalid option specified"),
                  (["-s", "-1"], "Invalid option specified"),
                  (["-s", os.path.join(self.folder, "missing.gz")],
                   "Could not resolve [%s]: No such file or directory"
                   % os.path.join(self.folder, "missing.gz"))]
        for args, message in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual(result.code, 1)
                # No summary follows the error line.
                self.assertEqual(after_banner(self, result.stdout), "\n\nERROR: %s.\n" % message)

    def test_refusals_end_the_run_and_leave_every_file_alone(self):
        deep = self.dir
        while len(deep) < 850:
            deep = os.path.join(deep, "d" * 150)
            os.mkdir(deep)
        fits, too_long = (self.write(os.path.join(deep, "f" * n + ".gz")) for n in
                          (1019 - len(deep), 1020 - len(deep)))
        self.assertEqual((len(fits), len(too_long)), (1023, 1024))
        good, small = self.write("good.gz"), self.write("a-small.gz", PACKED[:17])
        before = snapshot(self.dir)
        for args, error, listed in [
                ([good, "missing.gz"], "Could not resolve [missing.gz]: No such file or directory",
                 []),
                ([too_long], "Path longer than 1023 characters [%s]" % too_long, []),
                ([os.path.dirname(too_long)], "Path longer than 1023 characters [%s]" % too_long,
                 []),  # found in a folder
                ([small, good], "File too small", [small])]:
            with self.subTest(args=args):
                self.assertEqual(self.run_in_dir(*args, error=error), listed)
                self.assertEqual(snapshot(self.dir), before)
        os.remove(too_long)
        # The longest path is rewritten: its temporary name is six characters longer.
        result = run("-f", fits)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertIn("File rewritten.", result.stdout)
        self.assert_data_kept(fits)

    def test_files_taken_by_name_or_signature_once_each(self):
        taken = [self.write(n) for n in ("a.gz", "B.GZ", "c.tar.gz", "d.Tgz", "100%s%n%d.gz")]
        packed, upper = self.write("packed.dat"), self.write("CASE.gz")
        lower = self.write("case.gz", gzip.compress(b"another text"))
        self.write("x.data")
        os.symlink(self.path("x.data"), self.path("x.gz"))  # judged by the name it resolves to
        os.symlink(taken[0], self.path("link.gz"))
        linked = self.write("linked.gz")
        os.link(linked, self.path("hard.gz"))  # one file, two names: listed once, left alone
        for folder in ("folder", "folder.d", "dir.gz", "sub"):
            os.mkdir(self.path(folder))
        self.write("notes.txt", b"text")
        self.write("folder.d/file")  # its only dot is in the folder's name
        self.write("plain.gz", b"not compressed at all")
        self.write("seven", PACKED[:7])
        for args, listed in [
                (taken, taken),
                (["x.gz", "folder", "folder.d", "folder.d/file", "notes.txt"], []),
                (["-a", "seven", "folder", "dir.gz", "notes.txt", "plain.gz", "packed.dat"],
                 [packed]),
                # One file however it is named; names that differ only in
                # case are two files.
                (["a.gz", "./a.gz", "sub/../a.gz", taken[0], "link.gz", upper, lower],
                 [taken[0], upper, lower]),
                (["hard.gz", "linked.gz", "sub/../hard.gz"], [self.path("hard.gz")]),
                (["-s", "c.tar.gz"], [])]:
            with self.subTest(args=args):
                self.assertEqual(self.run_in_dir(*args), listed)
        for path in taken + [packed, upper, linked]:
            self.assert_data_kept(path)
        self.assertTrue(os.path.samefile(linked, self.path("hard.gz")))
        self.assert_data_kept(lower, b"another text")

    def test_folders_give_their_files_in_byte_order_and_with_r_all_below(self):
        tree = self.path("tree")
        outside = self.path("outside")
        os.makedirs(os.path.join(tree, "sub", "deeper"))
        os.makedirs(os.path.join(tree, "sub.gz"))  # a folder, whatever its name
        os.makedirs(os.path.join(tree, "empty"))
        os.makedirs(outside)
        names = [".hidden.gz", "A.tgz", "b.gz", "z.gz", "sub/c.gz", "sub/deeper/d.gz",
                 "sub.gz/e.gz"]
        for name in names:
            self.write(os.path.join("tree", name))
        self.write("tree/notes.txt", b"text")
        self.write("tree/packed.dat")
        self.write("outside/o.gz")
        os.symlink(outside, os.path.join(tree, "link-to-folder"))  # links are not followed
        os.symlink(self.path("outside/o.gz"), os.path.join(tree, "link.gz"))
        os.mkfifo(os.path.join(tree, "pipe.gz"))
        inside = lambda *ns: [os.path.join(tree, n) for n in ns]  # noqa: E731
        top = inside(".hidden.gz", "A.tgz", "b.gz", "z.gz")
        for args, listed in [
                (["tree"], top),
                (["-r", "tree"], inside(".hidden.gz", "A.tgz", "b.gz", "sub/c.gz",
                                        "sub/deeper/d.gz", "sub.gz/e.gz", "z.gz")),
                (["-a", "tree"], inside(".hidden.gz", "A.tgz", "b.gz", "packed.dat", "z.gz")),
                (["tree/b.gz", "tree", "tree/sub/../z.gz"], inside("b.gz", ".hidden.gz", "A.tgz",
                                                                   "z.gz")),
                (["tree/sub", "-r", "tree"], inside("sub/c.gz", "sub/deeper/d.gz", ".hidden.gz",
                                                    "A.tgz", "b.gz", "sub.gz/e.gz", "z.gz")),
                (["tree/empty", "-r"], [])]:
            with self.subTest(args=args):
                self.assertEqual(self.run_in_dir(*args), listed)
        for name in names + ["packed.dat", "../outside/o.gz"]:
            self.assert_data_kept(os.path.join(tree, name))

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "needs root to act as another user")
    def test_a_folder_that_cannot_be_read_ends_the_run_before_any_file(self):
        os.chmod(self.dir, 0o755)
        self.write("a.gz")
        locked = self.path("locked")
        os.mkdir(locked, 0o700)
        done = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                               program(), "-r", self.dir], stdout=subprocess.PIPE)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(after_banner(self, done.stdout.decode()),
                         "\n\nERROR: Could not read folder [%s]: Permission denied.\n" % locked)

    def test_scan_all_judges_the_first_eight_bytes(self):
        os.mkfifo(self.path("pipe"))  # opening it for reading must not wait for a writer
        gz, png = b"\x1f\x8b\x08\0\0\0\0\0", b"\x89PNG\r\n\x1a\n"
        for content, taken in [(gz, True), (b"\x1f\x8b\x07" + gz[3:], False), (png, True),
                               (png[:7] + b"\x0b", False), (b"PK\3\4\x14\0\0\0", True),
                               (b"PK\5\6\0\0\0\0", False), (gz[:7], False), (b"", False)]:
            with self.subTest(content=content):
                path = self.write("file", content)  # taken, then refused as damaged
                self.assertEqual(self.run_in_dir("-a", "file", "pipe", error="" if taken else None),
                                 [path] if taken else [])

    def test_a_pipe_named_like_an_archive_is_refused_without_waiting(self):
        os.mkfifo(self.path("stream.gz"))
        self.assertEqual(self.run_in_dir("stream.gz", error="Not a regular file [%s]"
                                         % self.path("stream.gz")), [self.path("stream.gz")])


if __name__ == "__main__":
    unittest.main()
