"""Small helpers for command-line tests of the built program.

The program under test is named by the environment variable TRIMBIT.

    run(*args, cwd=None) -> Result(code, stdout)
    snapshot(folder) -> {relative path: bytes} of every file below folder
    temporary_files(folder) -> sorted relative paths ending in "trbQLX"
    assert_no_temporary_file(testcase, folder)
"""

import collections
import os
import subprocess

TEMPORARY_SUFFIX = "trbQLX"

Result = collections.namedtuple("Result", ["code", "stdout"])


def program():
    """Path of the program under test (environment variable TRIMBIT)."""
    path = os.environ.get("TRIMBIT")
    if not path:
        raise RuntimeError("set TRIMBIT to the built program")
    return path


def run(*args, cwd=None):
    """Runs the program with the given arguments; returns its exit status and
    standard output (text). Standard error is passed through to the caller's."""
    done = subprocess.run([program(), *[str(a) for a in args]], cwd=cwd,
                          stdout=subprocess.PIPE, check=False)
    return Result(done.returncode, done.stdout.decode("utf-8", "replace"))


def snapshot(folder):
    """Every regular file below folder as {relative path: content}."""
    files = {}
    for root, _dirs, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            if os.path.isfile(path) and not os.path.islink(path):
                with open(path, "rb") as f:
                    files[os.path.relpath(path, folder)] = f.read()
    return files


def temporary_files(folder):
    """Relative paths of leftover temporary files below folder."""
    found = []
    for root, _dirs, names in os.walk(folder):
        for name in names:
            if name.endswith(TEMPORARY_SUFFIX):
                found.append(os.path.relpath(os.path.join(root, name), folder))
    return sorted(found)


def assert_no_temporary_file(testcase, folder):
    """Fails the test when a temporary file was left behind below folder."""
    testcase.assertEqual(temporary_files(folder), [], "temporary file left behind")
