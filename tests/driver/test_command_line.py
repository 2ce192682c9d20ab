"""The command line as a user meets it: options, messages and exit codes, and
which files a run takes. Every GZIP file must still hold its data (Python's
gzip module judges)."""

import gzip
import os
import re
import resource
import shutil
import subprocess
import unittest

from trimbit_cli import ScratchTest, program, read, snapshot

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


class CommandLine(ScratchTest):
    def setUp(self):
        super().setUp()
        # A folder yields no file: runs on it show options without processing.
        self.empty = self.path("nothing here")
        os.mkdir(self.empty)

    def path(self, name):
        return os.path.join(self.folder, name)

    def write(self, name, data=PACKED):
        return super().write(name, data)

    def run_in_dir(self, *args, error=None):
        """Runs the program in the scratch folder; returns the quoted names it
        printed. error: None for a run that must complete, else the error line
        it must end with ("" for any), with no summary."""
        out = self.trimbit(*args, cwd=self.folder, code=0 if error is None else 1)
        names = re.findall(r'^"(.*)"$', out, re.M)
        if error is None:
            self.assertRegex(out, "Number of files processed  : +%d\n" % len(names)
                             if "-s" not in args else r"\A\Z")
        else:
            self.assertRegex(out, r"\n\nERROR: %s\.\n\Z" % (re.escape(error) or ".*"))
        return names

    def assert_data_kept(self, path, data=TEXT):
        with gzip.open(path, "rb") as f:
            self.assertEqual(f.read(), data, path)

    def test_help_and_version_answer_first_and_alone(self):
        self.write("a.gz")
        for args, expected in [
                ([], HELP), (["--help"], HELP), (["-s", "a.gz", "--help"], HELP),
                (["-q", "--help"], HELP), (["--version"], "Trimbit 2.08 beta\n"),
                (["--version", "--help", "a.gz"], "Trimbit 2.08 beta\n")]:
            with self.subTest(args=args):
                before = snapshot(self.folder)
                out = self.trimbit(*args, cwd=self.folder)
                self.assertEqual(after_banner(self, out) if expected == HELP else out, expected)
                self.assertEqual(snapshot(self.folder), before, "a file was processed")

    def test_option_groups_and_errors_after_the_banner(self):
        summary, version = SUMMARY, re.escape(VERSION) + SUMMARY
        folder, missing = self.empty, os.path.join(self.empty, "missing.gz")
        cases = [  # (arguments, exit status, what follows the banner; None: no output)
            (["-v"], 0, version), ([folder], 0, summary), (["-s-v", folder], 0, version),
            ([folder, "-V"], 0, version),  # options after file names apply too
            (["-b-c-k", folder], 0, summary), (["-B", folder], 0, summary),
            (["-", folder], 0, summary), (["-abcdfkr", folder], 0, summary),
            (["-ABCDFKR", folder], 0, summary), (["--", folder], 0, summary),
            (["-bB", folder], 0, summary), (["-FrS", folder], 0, None),
            (["-j1", folder], 0, summary), (["-J12", folder], 0, summary),
            (["-j0099999999999b", folder], 0, summary), (["-sj3v", folder], 0, version),
            (["-vs", folder], 0, None), (["-v", "-s", folder], 0, None), ([folder, "-s"], 0, None),
            # Errors are shown even in silent runs, and no summary follows them.
            ([folder, "-q"], 1, "Invalid option specified"), (["-s", "-1"], 1,
                                                              "Invalid option specified"),
            (["-s", missing], 1, "Could not resolve [%s]: No such file or directory" % missing),
        ] + [([group], 1, "Invalid option specified") for group in
             ["-q", "-e", "-1", "-w", "-vq", "-b-c-q", "-a.gz", "-\u00e9", "--helpme", "--Help",
              "-help", "--version=1", "-j", "-j0", "-j00", "-jq", "-j2q", "-j-2", "-j 2"]]
        for args, code, expected in cases:
            with self.subTest(args=args):
                out = self.trimbit(*args, code=code)
                if expected is None:
                    self.assertEqual(out, "")
                elif code:
                    self.assertEqual(after_banner(self, out), "\n\nERROR: %s.\n" % expected)
                else:
                    self.assertRegex(after_banner(self, out), r"\A%s\Z" % expected)

    def test_refusals_end_the_run_and_leave_every_file_alone(self):
        deep = self.folder
        while len(deep) < 850:
            deep = os.path.join(deep, "d" * 150)
            os.mkdir(deep)
        fits, too_long = (self.write(os.path.join(deep, "f" * n + ".gz")) for n in
                          (1019 - len(deep), 1020 - len(deep)))
        self.assertEqual((len(fits), len(too_long)), (1023, 1024))
        good, small = self.write("good.gz"), self.write("a-small.gz", PACKED[:17])
        pipe = self.path("stream.gz")
        os.mkfifo(pipe)  # refused without waiting for a writer
        before = snapshot(self.folder)
        for args, error, listed in [
                ([good, "missing.gz"], "Could not resolve [missing.gz]: No such file or directory",
                 []),
                ([too_long], "Path longer than 1023 characters [%s]" % too_long, []),
                ([os.path.dirname(too_long)], "Path longer than 1023 characters [%s]" % too_long,
                 []),  # found in a folder
                ([small, good], "File too small", [small]),
                ([pipe, good], "Not a regular file [%s]" % pipe, [pipe])]:
            with self.subTest(args=args):
                self.assertEqual(self.run_in_dir(*args, error=error), listed)
                self.assertEqual(snapshot(self.folder), before)
        os.remove(too_long)
        # The longest path is rewritten: its temporary name is six characters longer.
        self.assertIn("File rewritten.", self.trimbit("-f", fits))
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
        os.chmod(self.folder, 0o755)
        self.write("a.gz")
        locked = self.path("locked")
        os.mkdir(locked, 0o700)
        out = self.trimbit("-r", self.folder, code=1, prefix=[
            "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"])
        self.assertEqual(after_banner(self, out),
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

    def test_a_small_memory_limit_is_enough(self):
        # The program keeps no large tables of its own: it starts and works
        # in 40 MB of address space, on one thread and on several.
        if re.search(rb"__[at]san_init", read(program())):
            self.skipTest("the sanitizers reserve far more address space")
        limit = 40 << 20
        for jobs in ("-j1", "-j4"):
            with self.subTest(jobs=jobs):
                paths = [self.write(name) for name in ("a.gz", "b.gz", "c.gz")]
                done = subprocess.run(
                    [program(), "-f", jobs, *paths], capture_output=True,
                    preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (limit, limit)))
                self.assertEqual(done.returncode, 0, done.stdout)
                self.assertIn(b"Number of files rewritten  :        3\n", done.stdout)
                for path in paths:
                    self.assert_data_kept(path)


if __name__ == "__main__":
    unittest.main()
