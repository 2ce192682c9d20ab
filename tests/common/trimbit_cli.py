"""Helpers for the command-line tests of the built program (named by the
environment variable TRIMBIT), and the scratch folder each test works in."""

import collections
import os
import shutil
import subprocess
import tempfile
import unittest

TEMPORARY_SUFFIX = "trbQLX"

Result = collections.namedtuple("Result", ["code", "stdout"])


def program():
    return os.environ["TRIMBIT"]


def run(*args, cwd=None, env=None, prefix=()):
    """Runs the program (behind the command `prefix`, if any); returns its
    exit status and standard output. Standard error goes to the caller's."""
    done = subprocess.run([*prefix, program(), *[str(a) for a in args]], cwd=cwd, env=env,
                          stdout=subprocess.PIPE, check=False)
    return Result(done.returncode, done.stdout.decode("utf-8", "replace"))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    """Writes data to path, making the folders above it; returns path."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def snapshot(folder):
    """Every regular file below folder as {relative path: content}."""
    paths = (os.path.join(root, name) for root, _dirs, names in os.walk(folder) for name in names)
    return {os.path.relpath(p, folder): read(p)
            for p in paths if os.path.isfile(p) and not os.path.islink(p)}


def temporary_files(folder):
    """Relative paths of leftover temporary files below folder."""
    return sorted(os.path.relpath(os.path.join(root, name), folder)
                  for root, _dirs, names in os.walk(folder) for name in names
                  if name.endswith(TEMPORARY_SUFFIX))


class ScratchTest(unittest.TestCase):
    """A scratch folder per test (self.folder, a real path); no run through
    self.trimbit may leave a temporary file there."""

    def setUp(self):
        self.folder = os.path.realpath(tempfile.mkdtemp(prefix="trimbit-test-"))
        self.addCleanup(shutil.rmtree, self.folder, True)

    def write(self, name, data, mode=None):
        """Writes data to name below the scratch folder; returns its path."""
        path = write(os.path.join(self.folder, name), data)
        if mode is not None:
            os.chmod(path, mode)
        return path

    def trimbit(self, *args, code=0, clean=True, **how):
        """Runs the program (keywords of `run` in how); checks its exit status
        and, if clean, that no temporary file is left; returns its output."""
        result = run(*args, **how)
        self.assertEqual(result.code, code, result.stdout)
        if clean:
            self.assertEqual(temporary_files(self.folder), [], "temporary file left behind")
        return result.stdout

    def assert_refused(self, blob, message, *options, name="bad", later=None):
        """The program, given blob (in a file called name) and then the file
        `later`, ends the run with an error line holding message and without
        a summary, and leaves both files byte for byte as they were."""
        path = self.write(name, blob)
        waiting = read(later) if later else None
        out = self.trimbit(*options, path, *[later] * bool(later), code=1)
        self.assertIn("\n\nERROR: " + message, out)
        self.assertNotIn("Number of files processed", out)
        self.assertNotIn("File rewritten.", out)
        self.assertEqual(read(path), blob)
        if later:
            self.assertEqual(read(later), waiting, "the run went on after the error")
