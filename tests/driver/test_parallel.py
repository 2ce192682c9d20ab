"""Several files at once (-jN): the bytes written, the console and the exit
status are those of -j1 whatever N, also when the carried tie-break mode was
guessed wrong, a file fails, a signal comes or a file changes mid-batch, and
while later files wait for their turn with their temporary files made."""

import base64
import os
import re
import resource
import shutil
import signal
import subprocess
import time
import unittest
import zlib

import gzip_samples
import png_samples
import zip_samples
from trimbit_cli import TEMPORARY_SUFFIX, ScratchTest, program, snapshot, temporary_files

# Raw deflate streams found by search: the first, rewritten with -f, comes
# out differently after a file that leaves tie-break mode 1, as the second
# does.
READS_MODE = base64.b64decode(
    "NVFLssMgDNtzCh+A6Z2chhSmAWf4PCa3f5ZJN8FERpbkKePcPcno1GNogXjT2lORTnJ4apwAp5My78GhqQaaUndHfJ7E3Rna"
    "JIeXo8m3N9RTlLl4WwSSudyOthAKfUT5R95CpVtGBacRp6pd37BmeBoN75roPTWtPsE0Zi3l0M8p5aOwI+N/Q43CNwnee+qK"
    "pAJkWZw4ltgNDg/RyVNoRu40LmL1dXHt+oKfAB6RWrrVJoUmhllIa9ASZkIxk9icqv1kQgt4X7DHZbltYtdw64EhM/W4/hRn"
    "0enlqJItda0j/wU7AHDBF0uB40JJlb5X9KYS+a5mY8xaWnZZHne0Y58q5PXkhlRT6Sr+FPkiFf9LUEOBHqxg53tZWLsdl1Le"
    "oNEcU21w8cSv4lPZfwoYnqKSYwRdQa4zuH8=")
LEAVES_MODE_1 = base64.b64decode(
    "VU7BCQAxCPt3Cgco7iRcj76uH/enxtjCgSpGTWJd1iumLVoU+x7Wk8AZXXzVFYban0df3KPnWxafI0agYqmDwRKvD6QmoJdc"
    "62COstJITQz+rt2/YRKWHxKH6BEgC9U3")
CYCLES = re.compile(r"^[\d,]+ cycles\.$", re.M)


def gz(stream):
    return gzip_samples.member(zlib.decompress(stream, -15), stream=stream)


def batch():
    """Files in command-line order. The first takes long and leaves mode 1;
    the next ones are done before it and guess mode 0."""
    slow = zip_samples.sample_text(1 << 20, seed=7)
    M, build = zip_samples.Member, zip_samples.build
    png = png_samples.make_png()
    return [("a-slow.gz", gzip_samples.member(slow) + gz(LEAVES_MODE_1)),
            # No deflate stream: the mode passes through.
            ("b-stored.zip", build([M("notes.txt", b"kept as it is\n" * 50, method=0)])),
            ("c-reads.gz", gz(READS_MODE)), ("d-reads.gz", gz(READS_MODE)),
            ("e.png", png_samples.make_png()),
            ("f.zip", build([M("a.txt", zip_samples.sample_text(4000))])),
            ("g-linked.gz", gz(READS_MODE)), ("h.gz", gz(LEAVES_MODE_1)),
            # Its verbose report is too long to keep: it is done at its turn.
            ("i-report.png", png[:-12] + png_samples.chunk(b"IDAT", b"") * 20000 + png[-12:])]


class Parallel(ScratchTest):
    def make_batch(self, files, jobs):
        """Writes files (data None: a named pipe) afresh in a folder of their
        own; returns the folder and the files' paths."""
        folder = os.path.join(self.folder, "j%d" % jobs)
        shutil.rmtree(folder, ignore_errors=True)
        os.mkdir(folder)
        os.chmod(folder, 0o1777)  # another user may race for names in it
        paths = [os.path.join(folder, name) for name, _ in files]
        for path, (name, data) in zip(paths, files):
            os.mkfifo(path) if data is None else self.write(path, data)
            if name == "g-linked.gz":
                os.link(path, path[:-3])  # left alone: two names
        return folder, paths

    def run_batch(self, files, options, jobs, code=0, env=None, leftover=None, descriptors=None):
        """Runs the program on files made by make_batch (and `leftover`,
        bytes the temporary name of the fourth file holds already; with at
        most `descriptors` open files); returns
        (console without the cycle count, the folder's bytes after, the
        TRIMBIT_STATS line)."""
        folder, paths = self.make_batch(files, jobs)
        if leftover is not None:
            self.write(paths[3] + TEMPORARY_SUFFIX, leftover)
            if os.geteuid() == 0:
                os.chown(paths[3] + TEMPORARY_SUFFIX, 65534, 65534)  # nobody's
        limit = (lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (descriptors,) * 2)
                 ) if descriptors else None
        done = subprocess.run([program(), *options, "-j%d" % jobs, *paths], capture_output=True,
                              env=dict(env or os.environ, TRIMBIT_STATS="1"), preexec_fn=limit)
        console = done.stdout.decode()
        self.assertEqual(done.returncode, code, console)
        self.assertEqual(temporary_files(folder), [] if leftover is None else
                         [os.path.basename(paths[3]) + TEMPORARY_SUFFIX],
                         "temporary file left behind")
        return CYCLES.sub("N cycles.", console.replace(folder, "DIR")), snapshot(folder), \
            done.stderr.decode()

    def test_any_number_of_threads_writes_and_prints_what_one_does(self):
        files = batch()
        for options in (["-f", "-v"], [], ["-x", "-f", "-v"]):
            with self.subTest(options=options):
                alone, written, _ = self.run_batch(files, options, 1)
                if options:  # the guess matters: the mode left changes these bytes
                    self.assertNotEqual(written["c-reads.gz"], self.run_batch(
                        files[2:3], options, 1)[1]["c-reads.gz"])
                for jobs in (2, 4):
                    for attempt in range(3):  # until a guess was wrong
                        console, after, stats = self.run_batch(files, options, jobs)
                        self.assertEqual(console, alone)
                        self.assertEqual(after, written)
                        reruns, checks = map(int, re.search(
                            r"(\d+) re-runs, (\d+) mode checks", stats).groups())
                        if not options or (reruns and checks):
                            break
                    else:
                        self.fail("no guess was ever wrong: " + stats)
                if not options:  # files opened ahead leave one file's descriptors free
                    self.assertEqual(self.run_batch(files, options, 8, descriptors=16)[:2],
                                     (alone, written))
        for name, _ in files:
            data = written[name]
            if name.endswith(".gz"):
                self.assertEqual(gzip_samples.contents(data)[0],
                                 gzip_samples.contents(dict(files)[name])[0])

    def test_first_error_ends_the_batch_as_with_one_thread(self):
        good = gzip_samples.member(zip_samples.sample_text(20000), comment=b"x", flags=0x10)
        damaged = good[:len(good) // 2]
        slow = gzip_samples.member(zip_samples.sample_text(1 << 20, seed=3), comment=b"x",
                                   flags=0x10)
        # Refused before the library runs, by the library after some lines
        # of its report, and when opened.
        for bad, data in [("small.gz", good[:17]), ("damaged.gz", damaged),
                          ("pipe.gz", None)]:
            files = [("a.gz", slow), ("b.gz", good), (bad, data), ("d.gz", good), ("e.gz", good)]
            with self.subTest(bad):
                results = []
                for jobs in (1, 2, 4):
                    # The files after it have their temporary files made meanwhile.
                    console, after, _ = self.run_batch(files, ["-v"], jobs, code=1)
                    results.append((console, after))
                    self.assertTrue(console.endswith(".\n") and "\n\nERROR: " in console)
                    self.assertNotIn("Number of files processed", console)
                    self.assertNotEqual(after["b.gz"], good)
                    self.assertEqual((after["d.gz"], after["e.gz"]), (good, good))
                self.assertEqual(results[1:], results[:1] * 2)
        # The temporary name of a later file is taken: refused at that
        # file's turn, the other's file kept.
        files = [("a.gz", slow), ("b.gz", good), ("c.gz", good), ("d.gz", good), ("e.gz", good)]
        results = [self.run_batch(files, [], jobs, code=1, leftover=b"someone's")[:2]
                   for jobs in (1, 4)]
        self.assertEqual(results[0], results[1])
        self.assertTrue(results[0][0].endswith(
            "ERROR: Temporary file exists already; remove it if no other run is using it "
            "[DIR/d.gz%s].\n" % TEMPORARY_SUFFIX), results[0][0])
        self.assertEqual([results[0][1][n + ".gz"] == good for n in "bcde"],
                         [False, False, True, True])

    def test_interference_while_later_files_wait(self):
        """A slow first file holds the commits back while the next files get
        their temporary files: a signal then, text appended to a waiting
        file, or another user who swaps a waiting temporary file for hers."""
        slow = gzip_samples.member(zip_samples.sample_text(8 << 20, seed=5), comment=b"x",
                                   flags=0x10)
        small = gzip_samples.member(zip_samples.sample_text(30000), comment=b"x", flags=0x10)
        files = [("a.gz", slow)] + [("%s.gz" % n, small) for n in "bcdefg"]
        cases = [(signal.SIGINT, 130, None), (signal.SIGTERM, 143, None),
                 ("append", 1, "File changed while being processed [{p}]"),
                 ("swap", 1, "Temporary file changed while being processed [{t}]")]
        for action, code, message in cases:
            with self.subTest(action):
                folder, paths = self.make_batch(files, 4)
                process = subprocess.Popen([program(), "-j4", *paths], stdout=subprocess.PIPE)
                waiting = []
                while process.poll() is None and len(waiting) < 2:
                    waiting = [p for p in paths[1:] if os.path.exists(p + TEMPORARY_SUFFIX)]
                    time.sleep(0.001)
                self.assertIsNone(process.poll(), "finished before two files waited")
                victim, temporary = waiting[-1], waiting[-1] + TEMPORARY_SUFFIX
                if action == "append":
                    with open(victim, "ab") as f:
                        f.write(b"appended meanwhile\n")
                elif action == "swap":
                    os.rename(temporary, temporary + ".moved")
                    self.write(temporary, b"hers")
                else:
                    process.send_signal(action)
                out = process.communicate()[0].decode()
                self.assertEqual(process.returncode, code, out)
                if message:
                    self.assertTrue(out.endswith("\n\nERROR: %s.\n" % message.format(
                        p=victim, t=temporary)), out)
                after = snapshot(folder)
                if action == "swap":
                    self.assertEqual(after.pop(os.path.basename(temporary)), b"hers")
                    after.pop(os.path.basename(temporary) + ".moved")
                if action == "append":
                    self.assertEqual(after[os.path.basename(victim)],
                                     small + b"appended meanwhile\n")
                    after[os.path.basename(victim)] = small
                self.assertEqual(sorted(after), sorted(name for name, _ in files))
                # Replaced files, in order, up to the one that ends the run.
                changed = [after[name] != data for name, data in files]
                self.assertEqual(changed, sorted(changed, reverse=True))
                self.assertFalse(any(changed[paths.index(victim):]), changed)
                if code == 1:
                    self.assertTrue(all(changed[:paths.index(victim)]), changed)

    def test_signal_and_change_in_mid_batch(self):
        library = os.environ.get("FAULT_SHIM_LIBRARY")
        if not library:
            self.skipTest("set FAULT_SHIM_LIBRARY to the preloaded fault library")
        files = batch()[:4]
        # The signal comes as the first file is renamed, while the next ones
        # wait with their temporary files. No thread, or one of two, can be
        # started: the run goes on with those it has.
        for action, code in [("rename-signal:2", 130), ("append:{a}", 1), ("threads:0", 0),
                             ("threads:1", 0)]:
            with self.subTest(action):
                results = []
                for jobs in (1, 2):
                    first = os.path.join(self.folder, "j%d" % jobs, "a-slow.gz")
                    env = dict(os.environ, LD_PRELOAD=library, SHIM_ACTION=action.format(a=first),
                               ASAN_OPTIONS="verify_asan_link_order=0:" +
                               os.environ.get("ASAN_OPTIONS", ""))
                    console, after, stats = self.run_batch(files, ["-f"], jobs, code=code,
                                                           env=env)
                    results.append((console, after if code == 0 else None))
                    if action.startswith("threads") and jobs == 2:
                        self.assertIn("Trimbit: %s worker threads" % action[-1], stats)
                    for name, data in files[1:] if code else []:
                        self.assertEqual(after[name], data, name)
                self.assertEqual(results[0], results[1])
                if code == 1:
                    self.assertTrue(results[0][0].endswith(
                        "ERROR: File changed while being processed [DIR/a-slow.gz].\n"), results[0][0])


if __name__ == "__main__":
    unittest.main()
