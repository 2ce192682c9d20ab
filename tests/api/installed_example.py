"""examples/optimise_file.c built against the installed library (pkg-config:
shared; find_package: static) writes what the installed program writes.
Run as: python3 installed_example.py BUILD_DIR"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLES = os.path.join(HERE, "..", "..", "examples")
SAMPLE = os.path.join(EXAMPLES, "licenses-two-members.gz")
CONSUMER = """cmake_minimum_required(VERSION 3.16)
project(optimise_file C)
find_package(Trimbit 2 REQUIRED)
add_executable(optimise_file %s/optimise_file.c)
target_compile_options(optimise_file PRIVATE -Wall -Wextra -Werror)
target_link_libraries(optimise_file PRIVATE Trimbit::trimbit_static)
"""


def run(*args, **kw):
    return subprocess.run(args, check=True, stdout=subprocess.PIPE, **kw).stdout


def read(path):
    with open(path, "rb") as f:
        return f.read()


def lib(*names):
    return os.path.join(PREFIX, "lib", *names)


class InstalledExample(unittest.TestCase):
    def test_the_library_lies_beside_the_program(self):
        for path in ("bin/trimbit", "share/man/man1/trimbit.1", "include/trimbit.h",
                     "lib/libtrimbit.a", "lib/libtrimbit.so", "lib/pkgconfig/trimbit.pc",
                     "lib/cmake/Trimbit/TrimbitConfig.cmake",
                     "lib/cmake/Trimbit/TrimbitConfigVersion.cmake"):
            self.assertTrue(os.path.exists(os.path.join(PREFIX, path)), path)
        self.assertIn(b"(SONAME)             Library soname: [libtrimbit.so.2]",
                      run("readelf", "-d", lib("libtrimbit.so")))
        # Exported: what the header declares with TRIMBIT_API, and nothing else.
        declared = re.findall(rb"TRIMBIT_API[^(]*?(trimbit_\w+)\(",
                              read(os.path.join(PREFIX, "include", "trimbit.h")))
        exported = run("nm", "-D", "--defined-only", lib("libtrimbit.so")).split()[2::3]
        self.assertEqual(sorted(exported), sorted(declared))
        self.assertIn(b"trimbit_optimise_stream", declared)
        env = dict(os.environ, PKG_CONFIG_PATH=lib("pkgconfig"))
        version = run(os.path.join(PREFIX, "bin", "trimbit"), "--version").split()[1]
        self.assertEqual(run("pkg-config", "--modversion", "trimbit", env=env).strip(), version)

    def built_examples(self):
        """The example built through pkg-config and through CMake."""
        env = dict(os.environ, PKG_CONFIG_PATH=lib("pkgconfig"))
        flags = run("pkg-config", "--cflags", "--libs", "trimbit", env=env).decode().split()
        shared = os.path.join(TMP, "optimise_file_shared")
        run("cc", "-std=c99", "-Wall", "-Wextra", "-Werror", "-o", shared,
            os.path.join(EXAMPLES, "optimise_file.c"), *flags, "-Wl,-rpath," + lib())
        source = os.path.join(TMP, "consumer")
        os.makedirs(source)
        with open(os.path.join(source, "CMakeLists.txt"), "w") as f:
            f.write(CONSUMER % os.path.abspath(EXAMPLES))
        build = os.path.join(TMP, "consumer-build")
        run("cmake", "-S", source, "-B", build, "-DCMAKE_PREFIX_PATH=" + PREFIX)
        run("cmake", "--build", build)
        return {"pkg-config": shared, "cmake": os.path.join(build, "optimise_file")}

    def test_the_example_writes_what_the_command_line_writes(self):
        by_program = shutil.copy(SAMPLE, os.path.join(TMP, "by-program.gz"))
        run(os.path.join(PREFIX, "bin", "trimbit"), "-s", by_program)
        expected = read(by_program)
        self.assertLess(len(expected), len(read(SAMPLE)))
        text = run("gzip", "-dc", SAMPLE)
        for how, example in self.built_examples().items():
            with self.subTest(how):
                output = os.path.join(TMP, how + ".gz")
                printed = run(example, SAMPLE, output).decode()
                self.assertIn("Number of bytes saved: %s (" % format(
                    len(read(SAMPLE)) - len(expected), ","), printed)
                self.assertEqual(read(output), expected)
                run("gzip", "-t", output)
                self.assertEqual(run("gzip", "-dc", output), text)
                again = os.path.join(TMP, how + "-again.gz")
                self.assertIn("the original is kept", run(example, output, again).decode())
                self.assertFalse(os.path.exists(again))


if __name__ == "__main__":
    with tempfile.TemporaryDirectory(prefix="trimbit-install-") as TMP:
        PREFIX = os.path.join(TMP, "prefix")
        run("cmake", "--install", sys.argv.pop(1), "--prefix", PREFIX)
        unittest.main()
