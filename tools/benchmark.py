#!/usr/bin/env python3
"""Whole-program benchmark: Trimbit's time against the time zlib needs just to
inflate the same streams, per format, on a corpus of real files.

The corpus is built from GZIP, PNG and ZIP files found on this machine
(/usr/share, /usr/lib, /root by default) plus fresh `gzip -1` and `gzip -9`
compressions of real text. Files Trimbit refuses are left out, so that one
run per format covers the whole corpus. Peak memory comes from
`/usr/bin/time -v` (package `time`).

    tools/benchmark.py [--trimbit build/trimbit] [--per-format 400] [--keep DIR]

Beside Trimbit's time it measures the replacement floor: the time it takes
just to replace the files Trimbit rewrote safely with their own bytes
(read, write a temporary file, flush it to disk, rename it over the
original), which any tool that rewrites files in place this way pays; and
Trimbit's user CPU time, its own work without the file system's, also
against zlib's time.

Before each timed run it waits --settle seconds: on ext4 without a journal
every new file skips over the inodes freed in the last 30 seconds, so that
the files the benchmark itself just deleted would slow the next run down.

Prints a table, with the ratio Trimbit aims at per format beside the one
measured; with --hashes FILE it also writes the SHA-256 of every
output file, so that two builds can be shown to write the same bits.

With --jobs N [N ...] every format is run once per worker count (-jN); the
table gains a column for it, and the output hashes of every count are
compared (and written to FILE.jN with --hashes FILE). --corpus DIR reuses a
corpus built earlier with --keep (its files named gzip-*, png-*, zip-*).

Every format is also run with -x into separate copies: the column "-x saved"
gives the bytes -x saves beyond the default run as a percentage of the
default output, "-x time" its time over the default run's, and "-x worse"
counts files -x wrote larger than the default did (there should be none).
--no-x leaves these out.
"""
import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zlib

from trimbit_formats import gzip_members, png_idat, zip_entries

# The whole-program time over zlib's inflate time that Trimbit aims at, on
# every core and with one worker (-j1).
TARGET_RATIOS = {"gzip": (1.3, 1.3), "png": (1.0, 1.0), "zip": (2.0, 3.3)}

ROOTS = ["/usr/share", "/usr/lib", "/root"]


def find_files(roots, extensions, limit, max_size):
    found = []
    seen = set()
    for root in roots:
        for dirpath, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                if not name.lower().endswith(extensions):
                    continue
                path = os.path.join(dirpath, name)
                try:
                    st = os.lstat(path)
                except OSError:
                    continue
                if not os.path.isfile(path) or os.path.islink(path):
                    continue
                if st.st_size < 64 or st.st_size > max_size or (st.st_dev, st.st_ino) in seen:
                    continue
                seen.add((st.st_dev, st.st_ino))
                found.append(path)
    # Spread the sample over the whole list rather than one folder.
    if len(found) > limit:
        step = len(found) / limit
        found = [found[int(i * step)] for i in range(limit)]
    return found


def raw_streams(kind, data):
    """The raw deflate streams of a file: every GZIP member's, the PNG image
    data without their zlib header, every deflated ZIP member's that is not
    encrypted."""
    if kind == "gzip":
        return [m.stream for m in gzip_members(data, strict=False)[0]]
    if kind == "png":
        joined = png_idat(data)
        return [joined[2:]] if len(joined) > 6 else []
    return [e.data for e in zip_entries(data) if e.method == 8 and not e.flags & 1]


def inflate_seconds(streams, repeat=3):
    best = None
    for _ in range(repeat):
        start = time.perf_counter()
        for s in streams:
            zlib.decompressobj(-15).decompress(s)
        elapsed = time.perf_counter() - start
        best = elapsed if best is None else min(best, elapsed)
    return best


def replace_seconds(paths):
    """Time to replace every file safely by a copy of itself, as Trimbit
    replaces a file it improved."""
    start = time.perf_counter()
    for path in paths:
        with open(path, "rb") as f:
            data = f.read()
        status = os.stat(path)
        temporary = path + ".floor"
        fd = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_CLOEXEC, 0o600)
        try:
            os.write(fd, data)
            os.fsync(fd)
            os.fchmod(fd, status.st_mode & 0o7777)
        finally:
            os.close(fd)
        os.rename(temporary, path)
    return time.perf_counter() - start


def run_timed(command):
    """(seconds, peak kB, user CPU seconds, return code) of one run of command."""
    timer = shutil.which("time", path="/usr/bin")
    wrapped = [timer, "-v"] + command if timer else command
    start = time.perf_counter()
    run = subprocess.run(wrapped, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    peak = user = None
    match = re.search(r"Maximum resident set size \(kbytes\): (\d+)", run.stderr)
    if match:
        peak = int(match.group(1))
    match = re.search(r"User time \(seconds\): ([\d.]+)", run.stderr)
    if match:
        user = float(match.group(1))
    return elapsed, peak, user, run.returncode


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--trimbit", default=os.path.join(os.path.dirname(__file__), "..", "build", "trimbit"))
    parser.add_argument("--per-format", type=int, default=400)
    parser.add_argument("--max-size", type=int, default=32 << 20)
    parser.add_argument("--roots", nargs="*", default=ROOTS)
    parser.add_argument("--fresh-texts", type=int, default=120,
                        help="real text files to compress afresh with gzip -1 and -9 (0: none)")
    parser.add_argument("--keep", help="build the corpus in this folder and keep it")
    parser.add_argument("--hashes", help="write the SHA-256 of every output file here")
    parser.add_argument("--repeat", type=int, default=2, help="Trimbit runs per format; the fastest counts")
    parser.add_argument("--settle", type=float, default=31,
                        help="seconds to wait before each timed run (0: no wait)")
    parser.add_argument("--jobs", type=int, nargs="+", default=[None],
                        help="worker counts to run with (-jN); default: the program's own")
    parser.add_argument("--corpus", help="use the files of this corpus folder as they are")
    parser.add_argument("--no-x", action="store_true", help="do not run with -x too")
    args = parser.parse_args()
    trimbit = os.path.abspath(args.trimbit)

    base = args.keep or tempfile.mkdtemp(prefix="trimbit-bench-")
    corpus = os.path.join(base, "corpus")
    os.makedirs(corpus, exist_ok=True)
    formats = {"gzip": (".gz", ".tgz"), "png": (".png",), "zip": (".zip",)}
    files = {k: [] for k in formats}
    if args.corpus:
        for name in sorted(os.listdir(args.corpus)):
            kind = name.split("-", 1)[0]
            if kind in files:
                files[kind].append(os.path.join(args.corpus, name))
        args.roots, args.fresh_texts = [], 0
    for kind, ext in formats.items():
        for i, path in enumerate(find_files(args.roots, ext, args.per_format, args.max_size)):
            dest = os.path.join(corpus, f"{kind}-{i:05d}{os.path.splitext(path)[1].lower()}")
            shutil.copyfile(path, dest)
            files[kind].append(dest)
    # Fresh compressions of real text at both ends of gzip's range.
    texts = find_files(["/usr/share/doc", "/usr/share/common-licenses", "/usr/include"],
                       (".txt", ".h", ".md", "copyright", "README"), args.fresh_texts,
                       8 << 20) if args.fresh_texts > 0 else []
    for i, path in enumerate(texts):
        with open(path, "rb") as f:
            raw = f.read()
        for level in (1, 9):
            dest = os.path.join(corpus, f"gzip-text{level}-{i:04d}.gz")
            with open(dest, "wb") as out:
                out.write(subprocess.run(["gzip", f"-{level}", "-c", "-n"], input=raw,
                                         capture_output=True, check=True).stdout)
            files["gzip"].append(dest)

    # Keep only files Trimbit accepts, so that one run covers them all.
    for kind in files if not args.corpus else []:
        accepted = []
        for path in files[kind]:
            probe = path + ".probe" + os.path.splitext(path)[1]
            shutil.copyfile(path, probe)
            if subprocess.run([trimbit, "-s", probe], capture_output=True).returncode == 0:
                accepted.append(path)
            os.remove(probe)
        files[kind] = accepted

    def fresh_copies(kind, label, paths):
        work = os.path.join(base, f"run-{kind}-{label}")
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)
        copies = []
        for p in paths:
            dest = os.path.join(work, os.path.basename(p))
            shutil.copyfile(p, dest)
            copies.append(dest)
        os.sync()
        time.sleep(args.settle)
        return work, copies

    print(f"{'format':<6} {'-j':>3} {'files':>6} {'MB in':>9} {'zlib s':>8} {'trimbit s':>10} "
          f"{'ratio':>6} {'target':>6} {'replace s':>10} {'user s':>7} {'user ratio':>10} {'MB/s':>7} "
          f"{'peak MiB':>9} {'limit MiB':>10} {'saved':>10}"
          + ("" if args.no_x else f" {'-x saved':>9} {'-x time':>8} {'-x worse':>8}"))
    hashes = {jobs: [] for jobs in args.jobs}

    def extra_column(kind, jobs, option, paths, default_sizes, elapsed, size_out):
        """The -x run of the same files: bytes saved beyond the default
        output (%), the time over the default run's, files larger than
        with the default run."""
        best_x = None
        worse = 0
        for r in range(args.repeat):
            work, copies = fresh_copies(kind, f"x-{r}", paths)
            seconds, _, _, code = run_timed([trimbit, "-s", "-x"] + option + copies)
            if code != 0:
                print(f"trimbit -x failed on the {kind} corpus (status {code})", file=sys.stderr)
                sys.exit(1)
            if r == 0:
                sizes = {p: os.path.getsize(c) for p, c in zip(paths, copies)}
                worse = sum(sizes[p] > default_sizes[p] for p in paths)
                size_x = sum(sizes.values())
            best_x = seconds if best_x is None else min(best_x, seconds)
            shutil.rmtree(work)
        saved = 100 * (size_out - size_x) / size_out if size_out else 0
        return f" {saved:>8.3f}% {best_x / elapsed:>8.2f} {worse:>8}"
    for kind, paths in files.items():
        if not paths:
            continue
        streams = []
        for p in paths:
            with open(p, "rb") as f:
                data = f.read()
            try:
                streams += raw_streams(kind, data)
            except Exception:
                pass
        zlib_time = inflate_seconds(streams)
        size_in = sum(os.path.getsize(p) for p in paths)
        largest = max(os.path.getsize(p) for p in paths)
        for jobs in args.jobs:
            option = [] if jobs is None else [f"-j{jobs}"]
            best = best_user = None
            rewritten = []
            default_sizes = {}
            for r in range(args.repeat):
                work, copies = fresh_copies(kind, r, paths)
                elapsed, peak, user, code = run_timed([trimbit, "-s"] + option + copies)
                if code != 0:
                    print(f"trimbit failed on the {kind} corpus (status {code})", file=sys.stderr)
                    return 1
                size_out = sum(os.path.getsize(c) for c in copies)
                if best is None or elapsed < best[0]:
                    best = (elapsed, peak, size_out)
                if user is not None:
                    best_user = user if best_user is None else min(best_user, user)
                if r == 0:
                    default_sizes = {p: os.path.getsize(c) for p, c in zip(paths, copies)}
                    for p, c in zip(paths, copies):
                        with open(c, "rb") as f:
                            data = f.read()
                        hashes[jobs].append(f"{hashlib.sha256(data).hexdigest()}  {kind}/{os.path.basename(c)}")
                        with open(p, "rb") as f:
                            if f.read() != data:
                                rewritten.append(p)
                shutil.rmtree(work)
            # The floor: the files Trimbit rewrote, each replaced by itself
            # (the same files whatever -j).
            if jobs == args.jobs[0]:
                floor = None
            for r in range(args.repeat if jobs == args.jobs[0] else 0):
                work, copies = fresh_copies(kind, f"floor-{r}", rewritten)
                seconds = replace_seconds(copies)
                floor = seconds if floor is None else min(floor, seconds)
                shutil.rmtree(work)
            elapsed, peak, size_out = best
            limit = 2.2 * largest / 2**20 + 32
            def per_zlib(seconds):
                return seconds / zlib_time if zlib_time else 0
            target = TARGET_RATIOS[kind][1 if jobs == 1 else 0]
            print(f"{kind:<6} {jobs or '':>3} {len(paths):>6} {size_in / 1e6:>9.2f} {zlib_time:>8.3f} {elapsed:>10.3f} "
                  f"{per_zlib(elapsed):>6.2f} {target:>6.1f} {floor:>10.3f} {best_user or 0:>7.3f} "
                  f"{per_zlib(best_user or 0):>10.2f} {size_in / 1e6 / elapsed:>7.1f} "
                  f"{(peak or 0) / 1024:>9.1f} {limit:>10.1f} {size_in - size_out:>10}"
                  + ("" if args.no_x else extra_column(kind, jobs, option, paths, default_sizes,
                                                       elapsed, size_out)))
    first = hashes[args.jobs[0]]
    for jobs, listed in hashes.items():
        if len(args.jobs) > 1:
            differ = sum(a != b for a, b in zip(listed, first))
            print(f"-j{jobs}: {len(listed)} outputs, {differ} differ from -j{args.jobs[0]}")
        if args.hashes:
            name = args.hashes if len(args.jobs) == 1 else f"{args.hashes}.j{jobs}"
            with open(name, "w") as f:
                f.write("\n".join(listed) + "\n")
    if not args.keep:
        shutil.rmtree(base, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
