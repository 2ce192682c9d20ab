"""Replacing a file, tried the way an attacker and a careless user would:
what must survive (owner, group, permissions, ACL, extended attributes, the
time to the nanosecond), hard links left alone, a name swapped for a link
mid-run, text appended while the file is processed, signals, a full disk, a
folder where nothing can be renamed or removed, the leftover of an earlier
run, memory that runs out. Afterwards the original holds its bytes, or the
new file the same data with the same metadata, and every file left in the
folder is accounted for."""

import gzip
import os
import re
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest
import zipfile

import gzip_samples
import png_samples
import zip_samples
from trimbit_cli import TEMPORARY_SUFFIX, ScratchTest, program, read, run, write

TEXT = b"".join(b"record %d of a log that gzip shrinks well\n" % i for i in range(2000))
DATA = gzip_samples.member(TEXT, flags=0x10, comment=b"x")  # always shrinks: the comment goes
NOBODY = 65534
AS_NOBODY = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"]
IS_ROOT = os.geteuid() == 0
as_root = unittest.skipUnless(IS_ROOT and shutil.which("setpriv"),
                              "needs root (to mount, to change owners, to act as another user)")


def has_sanitizers():
    return b"__asan_init" in read(program())


class Replacement(ScratchTest):
    def make(self, name, data=DATA, mode=0o644, owner=None):
        path = self.write(name, data)
        if owner is not None:
            os.chown(path, owner, owner)
        os.chmod(path, mode)
        return path

    def shim(self, action):
        library = os.environ.get("FAULT_SHIM_LIBRARY")
        if not library:
            self.skipTest("set FAULT_SHIM_LIBRARY to the preloaded fault library")
        return dict(os.environ, LD_PRELOAD=library, SHIM_ACTION=action,
                    ASAN_OPTIONS="verify_asan_link_order=0:" + os.environ.get("ASAN_OPTIONS", ""))

    def assert_folder_holds(self, *names):
        self.assertEqual(sorted(os.listdir(self.folder)), sorted(names))

    def assert_bytes(self, path, data):
        self.assertEqual(read(path), data, path)

    @staticmethod
    def metadata(path):
        status = os.stat(path)
        attributes = {name: os.getxattr(path, name) for name in os.listxattr(path)}
        return stat.S_IMODE(status.st_mode), status.st_uid, status.st_gid, attributes

    def assert_error(self, message, *args, **how):
        """The run of the program on args ends with the error line message."""
        out = self.trimbit(*args, code=1, **how)
        self.assertTrue(out.endswith("\n\nERROR: %s.\n" % message), out)

    def test_owner_permissions_acl_attributes_and_time_are_kept(self):
        setfacl = shutil.which("setfacl")
        # The ACL denies the owning group what its mask allows the named user:
        # a new file without it would hand the group the mask's rights.
        acl = ["setfacl", "-m", "u:%d:rw,g::-,m::rw" % NOBODY]
        for name, mode, owner, commands, root_only in [
                ("plain.gz", 0o604, None, [], False),  # the only one without -d
                ("read-only.gz", 0o444, None, [], False),
                ("setgid-of-nobody.gz", 0o2640, NOBODY, [], True),
                ("acl.gz", 0o640, None, [acl], False),
                ("attributes.gz", 0o600, None, [["setfattr", "-n", "user.origin", "-v", "cam 7"],
                                                ["setfattr", "-n", "security.trimbit", "-v", "x"]],
                 True),
                ("inherits-nothing.gz", 0o644, None, [["setfacl", "-d", "-m", "u:%d:rwx" % NOBODY,
                                                       "."]], False)]:
            with self.subTest(name):
                if root_only and not IS_ROOT:
                    self.skipTest("needs root")
                if commands and not (setfacl and shutil.which("setfattr")):
                    self.skipTest("needs setfacl and setfattr (packages acl and attr)")
                path = self.make(name, mode=mode, owner=owner)
                for command in commands:  # "." is the folder, whose default ACL a new file takes
                    subprocess.run(command + [path] * (command[-1] != "."), check=True,
                                   cwd=self.folder)
                os.utime(path, ns=(1_500_000_000_123_456_789, 1_600_000_000_987_654_321))
                before, dated = self.metadata(path), name != "plain.gz"
                self.assertIn("File rewritten.", self.trimbit("-f", *["-d"] * dated, path))
                self.assertEqual(self.metadata(path), before)
                status = os.stat(path)  # -d sets both times to the modification time
                self.assertEqual((status.st_atime_ns, status.st_mtime_ns) ==
                                 (1_600_000_000_987_654_321,) * 2, dated)
                self.assertEqual(gzip_samples.contents(read(path)), ([TEXT], b""))
                subprocess.run(["setfacl", "-k", "."], cwd=self.folder, check=False)
                os.remove(path)
                self.assert_folder_holds()

    def test_what_cannot_be_kept_leaves_the_file_unchanged(self):
        # A second name would be cut off from a new file. Another user, in a
        # sticky folder open to everyone, may write a new file there but not
        # give it root's ownership, nor set a security attribute.
        os.chmod(self.folder, 0o1777)
        label = ["setfattr", "-n", "security.trimbit", "-v", "x"]
        for name, owner, setup, reason in [
                ("linked.gz", None, lambda path: os.link(path, path + "-link"),
                 "File has 2 links; left unchanged so that they stay one file"),
                ("roots.gz", 0, None,
                 "Owner and group cannot be kept (Operation not permitted); left unchanged"),
                ("labelled.gz", NOBODY, lambda path: subprocess.run(label + [path], check=True),
                 "Extended attribute security.trimbit cannot be copied (Operation not permitted); "
                 "left unchanged")]:
            with self.subTest(name):
                if owner is not None and not (IS_ROOT and shutil.which("setpriv")):
                    self.skipTest("needs root to change owners and act as another user")
                path = self.make(name, owner=owner)
                if setup:
                    setup(path)
                before, holds = self.metadata(path), os.listdir(self.folder)
                out = self.trimbit("-f", path, prefix=AS_NOBODY if owner is not None else ())
                self.assertIn("\n%s.\n" % reason, out)
                self.assertRegex(out, r"rewritten  : +0\nTotal number of bytes saved: +0\n")
                self.assert_bytes(path, DATA)
                self.assertEqual(self.metadata(path), before)
                self.assert_folder_holds(*holds)
                for leftover in holds:
                    os.remove(os.path.join(self.folder, leftover))
        if not (IS_ROOT and shutil.which("setpriv")):
            return
        # All at once, with files that can be replaced between them: refused
        # ahead of their turn, then again at it, as one at a time.
        results = []
        for jobs in (1, 4):
            paths = [self.make("a.gz", owner=NOBODY), self.make("roots.gz", owner=0),
                     self.make("b.gz", owner=NOBODY), self.make("labelled.gz", owner=NOBODY),
                     self.make("c.gz", owner=NOBODY)]
            subprocess.run(label + [paths[3]], check=True)
            out = self.trimbit("-f", "-j%d" % jobs, *paths, prefix=AS_NOBODY)
            results.append((re.sub(r"[\d,]+ cycles", "", out), [read(p) == DATA for p in paths]))
        self.assertEqual(results[0], results[1])
        self.assertEqual(results[0][1], [False, True, False, True, False])

    def test_interference_while_the_file_is_replaced(self):
        """The fault library acts when the program first changes the owner or
        permissions of a file or flushes one: the new file is complete then."""
        victims = tempfile.mkdtemp(prefix="trimbit-victim-")
        self.addCleanup(shutil.rmtree, victims, True)
        victim = write(os.path.join(victims, "precious"), b"root's own")
        os.chmod(victim, 0o600)
        victim_before = os.stat(victim)
        png, archive = png_samples.make_png(), zip_samples.build(
            [zip_samples.Member("a.txt", zip_samples.sample_text(4000))])
        temp = "%s" + TEMPORARY_SUFFIX
        cases = [
            # Text appended to a log while it is processed is never lost.
            ("log.gz", DATA, "append:{p}", 1, "File changed while being processed [{p}]",
             DATA + b"appended meanwhile\n", []),
            # A user who owns the folder swaps the temporary name for a link
            # to root's file: nothing reaches that file, nothing is renamed.
            ("swapped.gz", DATA, "swap:{t}:" + victim, 1,
             "Temporary file changed while being processed [{t}]", DATA,
             [os.path.basename(temp % "swapped.gz"), os.path.basename(temp % "swapped.gz") +
              ".moved"]),
        ]
        for number in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGPIPE):
            cases.append(("signal%d.gz" % number, DATA, "signal:%d" % number, 128 + number, None,
                          DATA, []))
        for name, data in [("flush.gz", DATA), ("flush.png", png), ("flush.zip", archive)]:
            cases.append((name, data, "fail-fsync", 1, "Could not flush [{t}]: Input/output error",
                          data, []))
        for name, data, action, status, message, after, others in cases:
            with self.subTest(name):
                path = self.make(name, data, owner=NOBODY if IS_ROOT else None)
                fill = lambda text: text.format(p=path, t=temp % path)  # noqa: E731
                out = self.trimbit("-f", path, code=status, clean=not others,
                                   env=self.shim(fill(action)))
                if message is not None:
                    self.assertTrue(out.endswith("\n\nERROR: %s.\n" % fill(message)), out)
                self.assert_bytes(path, after)
                self.assert_folder_holds(name, *others)
                for other in others:
                    os.remove(os.path.join(self.folder, other))
                os.remove(path)
        self.assert_bytes(victim, b"root's own")
        after = os.stat(victim)
        self.assertEqual((after.st_mode, after.st_uid, after.st_gid),
                         (victim_before.st_mode, victim_before.st_uid, victim_before.st_gid))

    def test_signal_while_a_large_file_is_written(self):
        archive = os.path.join(self.folder, "large.zip")
        words = [b"%x" % (i * 2654435761 % 99991) for i in range(3000)]
        with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
            for k in range(12):
                z.writestr("part%d.txt" % k, b" ".join(words[(i * 7 + k) % 3000]
                                                      for i in range(300000)))
        original = read(archive)
        temporary = archive + TEMPORARY_SUFFIX
        # The new archive is written once it is complete; a slow disk keeps
        # the writing going for long enough.
        process = subprocess.Popen([program(), "-f", archive], stdout=subprocess.DEVNULL,
                                   env=self.shim("slow-write"))
        try:
            while process.poll() is None:  # until it has written a good part of the new file
                try:
                    if os.path.getsize(temporary) >= 256 * 1024:
                        break
                except FileNotFoundError:
                    pass
                time.sleep(0.0005)
            self.assertIsNone(process.poll(), "finished before it could be interrupted")
            process.send_signal(signal.SIGINT)
        finally:
            code = process.wait()
        self.assertEqual(code, 128 + signal.SIGINT)
        self.assert_bytes(archive, original)
        self.assert_folder_holds("large.zip")
        # Nothing blocks the next run.
        before = zip_samples.content(archive)
        self.assertEqual(self.trimbit("-f", "-s", archive), "")
        zip_samples.assert_same_content(self, archive, before)

    def test_file_shrinking_while_streamed(self):
        # Past 16 MiB the file is read as it goes: an attacker cuts it short.
        data = gzip.compress(os.urandom(17 << 20), compresslevel=1, mtime=0)
        path = self.make("shrinks.gz", data)
        self.assert_error("BigFile::fread(): Failed to read the desired number of bytes (less "
                          "read) [%s]" % path, "-f", path, env=self.shim("shrink:" + path))
        self.assert_bytes(path, data[:1 << 20])
        self.assert_folder_holds("shrinks.gz")

    def test_leftover_of_an_earlier_run_is_named_and_kept(self):
        path = self.make("a.gz")
        leftover = self.make("a.gz" + TEMPORARY_SUFFIX, b"half a file")
        self.assert_error("Temporary file exists already; remove it if no other run is using "
                          "it [%s]" % leftover, "-f", path, clean=False)
        self.assert_bytes(path, DATA)
        self.assert_bytes(leftover, b"half a file")
        self.assert_folder_holds("a.gz", os.path.basename(leftover))

    def test_temporary_file_cannot_be_created(self):
        # The temporary name, six letters longer, is past the longest name
        # the file system takes.
        path = self.make("n" * 252 + ".gz")
        self.assert_error("Could not create [%s%s]: File name too long" % (path, TEMPORARY_SUFFIX),
                          "-f", path)
        self.assert_bytes(path, DATA)
        self.assert_folder_holds(os.path.basename(path))

    def mount(self, *arguments):
        """Mounts as asked, unmounted at the end; skips the test where the
        machine does not allow it."""
        done = subprocess.run(["mount", *arguments], stderr=subprocess.PIPE)
        if done.returncode != 0:
            self.skipTest("cannot mount here: " + done.stderr.decode(errors="replace").strip())
        self.addCleanup(subprocess.run, ["umount", arguments[-1]])

    @as_root
    def test_full_disk(self):
        # Room for one copy only: of a file made in memory, and of one that
        # streams and is sent to the temporary file as it is made.
        for size, room in ((150 << 10, "256k"), (17 << 20, "24m")):
            with self.subTest(size=size):
                small = os.path.join(self.folder, "small%d" % size)
                os.mkdir(small)
                self.mount("-t", "tmpfs", "-o", "size=" + room, "tmpfs", small)
                data = gzip.compress(os.urandom(size), compresslevel=1, mtime=0)
                path = self.write(os.path.join(small, "full.gz"), data)
                self.assert_error("Could not write [%s%s]: No space left on device"
                                  % (path, TEMPORARY_SUFFIX), "-f", path)
                self.assert_bytes(path, data)
                self.assertEqual(os.listdir(small), ["full.gz"])
        # Room for the files and one new copy at a time: several files at
        # once end as one at a time does, whatever their temporary files made
        # ahead took. In the second batch the last file finds no room.
        small = os.path.join(self.folder, "batch")
        os.mkdir(small)
        self.mount("-t", "tmpfs", "-o", "size=256k", "tmpfs", small)
        for sizes, code in (((40 << 10,) * 4, 0), ((30 << 10, 30 << 10, 100 << 10), 1)):
            with self.subTest(sizes=sizes):
                for name in os.listdir(small):
                    os.remove(os.path.join(small, name))
                files = [(os.path.join(small, "%d.gz" % i),
                          gzip.compress(os.urandom(size), compresslevel=1, mtime=0))
                         for i, size in enumerate(sizes)]
                results = []
                for jobs in (1, 4):
                    for path, data in files:
                        write(path, data)
                    code, out = run("-f", "-j%d" % jobs, *[path for path, _ in files])
                    results.append((code, re.sub(r"[\d,]+ cycles", "", out),
                                    [read(path) == data for path, data in files]))
                    self.assertEqual(sorted(os.listdir(small)), sorted(
                        os.path.basename(path) for path, _ in files))
                self.assertEqual(results[0], results[1])
                self.assertEqual(results[0][0], code, results[0][1])

    @as_root
    def test_rename_refused(self):
        path = self.make("busy.gz")
        self.mount("--bind", self.make("other", DATA), path)
        self.assert_error("Could not replace [%s]: Device or resource busy" % path, "-f", path)
        self.assert_bytes(path, DATA)
        self.assert_folder_holds("busy.gz", "other")

    @as_root
    def test_append_only_folder_names_what_it_leaves(self):
        path = self.make("log.gz")
        if subprocess.run(["chattr", "+a", self.folder], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("this file system has no append-only folders")
        self.addCleanup(subprocess.run, ["chattr", "-a", self.folder])
        temporary = path + TEMPORARY_SUFFIX
        self.assert_error("Could not replace [%s]: Operation not permitted (the new file [%s] "
                          "could not be removed: Operation not permitted)" % (path, temporary),
                          "-f", path, clean=False)
        self.assert_bytes(path, DATA)
        self.assert_folder_holds("log.gz", os.path.basename(temporary))

    def test_out_of_memory(self):
        library = os.environ.get("FAIL_ALLOCATION_LIBRARY")
        if not library or has_sanitizers():
            self.skipTest("needs FAIL_ALLOCATION_LIBRARY and a build without sanitizers")
        text = b"".join(b"%d, %x and %o\n" % (i, i * 7, i * 13) for i in range(150000))
        data = gzip.compress(text, compresslevel=1, mtime=0)
        self.assertGreater(len(data), 1 << 20)
        path = self.make("large.gz", data)
        messages = set()
        for n in range(1, 9):  # the nth large allocation fails
            with self.subTest(n=n):
                code, out = run("-f", path, env=dict(os.environ, LD_PRELOAD=library,
                                                     FAIL_ALLOCATION=str(n)))
                if code == 0:
                    self.assertEqual(gzip.decompress(read(path)), text)
                else:
                    self.assertEqual(code, 1, out)
                    messages.add(re.search(r"\n\nERROR: (.*)\.\n\Z", out).group(1))
                    self.assert_bytes(path, data)
                self.assert_folder_holds("large.gz")
        self.assertIn("Out of memory", messages)
        self.assertFalse(any("Something" in m for m in messages), messages)


if __name__ == "__main__":
    unittest.main()
