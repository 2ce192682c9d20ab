#!/usr/bin/env python3
"""Round trip over real files: copy every .gz, .tgz, .png and .zip file found
under the given folders into a scratch folder, run Trimbit on each copy, and
verify every result with independent tools (zlib, pngcheck, unzip -t and
Python's zipfile).

A file Trimbit refuses must be left byte for byte as it was, with no
temporary file beside it. A file it rewrites must hold exactly the same
content and never grow.

    tools/roundtrip.py [--trimbit build/trimbit] [--limit N] [--max-size BYTES] DIR...
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import zipfile
import zlib

from trimbit_formats import gzip_members, png_chunks, png_idat

EXTENSIONS = (".gz", ".tgz", ".png", ".zip")


def gzip_content(data):
    """(decoded content of every member, bytes after the last member), or
    None when the first member does not decode."""
    members, rest = gzip_members(data, strict=False)
    return (b"".join(m.data for m in members), rest) if members else None


def png_content(data):
    """The image data inflated, or None when a chunk CRC is wrong, the chunks
    do not end at the end of the file or the image data do not inflate."""
    try:
        chunks = png_chunks(data)
        if any(crc != zlib.crc32(ctype + body) for ctype, body, crc in chunks):
            return None
        return zlib.decompress(png_idat(data))
    except (ValueError, zlib.error):
        return None


def zip_content(path):
    """{name: (crc, bytes)} of every member that is not a directory, or None."""
    try:
        with zipfile.ZipFile(path) as z:
            out = {}
            for info in z.infolist():
                # Names are stored with '/' whatever separator they were read with.
                name = info.filename.replace("\\", "/")
                if name.endswith("/") and info.file_size == 0:
                    continue
                if info.flag_bits & 1:
                    out[name] = ("encrypted", info.CRC)
                    continue
                out[name] = (info.CRC, z.read(info))
            return out
    except Exception:
        return None


def tool_ok(args):
    try:
        return subprocess.run(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=300).returncode == 0
    except (OSError, subprocess.TimeoutExpired):
        return False


def kind_of(name):
    lower = name.lower()
    if lower.endswith(".png"):
        return "png"
    if lower.endswith(".zip"):
        return "zip"
    return "gzip"


def verify(kind, original_path, original, result_path, result):
    """Returns a failure text, or None when the result is sound."""
    if len(result) > len(original):
        return f"grew from {len(original)} to {len(result)} bytes"
    if kind == "gzip":
        before, after = gzip_content(original), gzip_content(result)
        if before is None:
            return None if result == original else "changed a file zlib cannot read"
        if after is None:
            return "result does not decode"
        if before[0] != after[0]:
            return "decoded content differs"
        if before[1] != after[1]:
            return "bytes after the last member differ"
        if not tool_ok(["gzip", "-t", result_path]) and tool_ok(["gzip", "-t", original_path]):
            return "gzip -t fails on the result"
    elif kind == "png":
        before, after = png_content(original), png_content(result)
        if after is None:
            return "a chunk CRC is wrong, the chunks run past the end or the image data are broken"
        if before is not None and before != after:
            return "image data differ"
        if shutil.which("pngcheck") and tool_ok(["pngcheck", "-q", original_path]) \
                and not tool_ok(["pngcheck", "-q", result_path]):
            return "pngcheck fails on the result"
    else:
        before = zip_content(original_path)
        after = zip_content(result_path)
        if before is not None:
            if after is None:
                return "zipfile cannot read the result"
            if before != after:
                return "member contents differ"
        if tool_ok(["unzip", "-tqq", original_path]) and not tool_ok(["unzip", "-tqq", result_path]):
            return "unzip -t fails on the result"
    return None


def collect(folders, max_size):
    seen = set()
    for folder in folders:
        for root, dirs, files in os.walk(folder):
            dirs.sort()
            for name in sorted(files):
                if not name.lower().endswith(EXTENSIONS):
                    continue
                path = os.path.join(root, name)
                try:
                    if os.path.islink(path) or not os.path.isfile(path):
                        continue
                    st = os.stat(path)
                except OSError:
                    continue
                if st.st_size > max_size or (st.st_dev, st.st_ino) in seen:
                    continue
                seen.add((st.st_dev, st.st_ino))
                yield path


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("folders", nargs="+")
    parser.add_argument("--trimbit", default=os.path.join(os.path.dirname(__file__), "..", "build", "trimbit"))
    parser.add_argument("--limit", type=int, default=0, help="check at most this many files")
    parser.add_argument("--max-size", type=int, default=64 << 20)
    parser.add_argument("--options", default="", help="extra options for every run, e.g. -k")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="trimbit-roundtrip-")
    checked = rewritten = saved = 0
    failures, refusals = [], []
    try:
        for path in collect(args.folders, args.max_size):
            if args.limit and checked >= args.limit:
                break
            checked += 1
            kind = kind_of(path)
            work = os.path.join(scratch, f"{checked:06d}-{os.path.basename(path)}")
            shutil.copyfile(path, work)
            with open(work, "rb") as f:
                original = f.read()
            command = [args.trimbit, "-s"] + args.options.split() + [work]
            try:
                run = subprocess.run(command, capture_output=True, timeout=600)
            except subprocess.TimeoutExpired:
                failures.append((path, "timed out"))
                continue
            with open(work, "rb") as f:
                result = f.read()
            leftovers = [n for n in os.listdir(scratch) if n.endswith("trbQLX")]
            for n in leftovers:
                os.remove(os.path.join(scratch, n))
            if leftovers:
                failures.append((path, "temporary file left behind"))
            if run.returncode not in (0, 1) or b"Sanitizer" in run.stderr or b"runtime error" in run.stderr:
                failures.append((path, f"crashed (status {run.returncode}): {run.stderr[-300:]!r}"))
            elif run.returncode == 1:
                errors = [line for line in run.stdout.decode(errors="replace").splitlines()
                          if line.startswith("ERROR")]
                refusals.append((path, errors[-1] if errors else "no error line"))
                if result != original:
                    failures.append((path, "refused but changed the file"))
            elif result != original:
                rewritten += 1
                saved += len(original) - len(result)
                problem = verify(kind, path, original, work, result)
                if problem:
                    failures.append((path, problem))
            os.remove(work)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)

    print(f"Files checked : {checked}")
    print(f"Rewritten     : {rewritten}")
    print(f"Refused       : {len(refusals)} (left untouched)")
    print(f"Bytes saved   : {saved}")
    print(f"Failures      : {len(failures)}")
    for path, problem in failures:
        print(f"  FAIL {path}: {problem}")
    for path, error in refusals:
        print(f"  refused {path}: {error}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
