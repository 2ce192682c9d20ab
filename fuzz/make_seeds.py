#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from the tests' own sample builders.

    fuzz/make_seeds.py OUTDIR   ->  OUTDIR/{deflate,gzip,png,zip}/...
"""
import os
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "tests", "common"), os.path.join(HERE, "..", "tools")]

import gzip_samples  # noqa: E402
import png_samples  # noqa: E402
import zip_samples  # noqa: E402
from trimbit_formats import png_idat  # noqa: E402


def texts():
    yield b""
    yield b"a"
    yield b"abcabcabcabcabcabc" * 20
    yield zip_samples.sample_text(3000, seed=3)
    yield bytes(range(256)) * 4
    yield bytes([144 + (i * 7) % 112 for i in range(400)])


def deflate_seeds():
    for i, data in enumerate(texts()):
        for level, strategy in ((1, zlib.Z_DEFAULT_STRATEGY), (9, zlib.Z_DEFAULT_STRATEGY),
                                (6, zlib.Z_FIXED), (6, zlib.Z_HUFFMAN_ONLY), (6, zlib.Z_RLE)):
            yield f"{i}-{level}-{strategy}", gzip_samples.raw_deflate(data, level, strategy)
        c = zlib.compressobj(6, zlib.DEFLATED, -15)
        yield f"{i}-flushed", c.compress(data[:len(data) // 2]) + c.flush(zlib.Z_SYNC_FLUSH) \
            + c.compress(data[len(data) // 2:]) + c.flush()
        yield f"{i}-stored", gzip_samples.raw_deflate(data, 0)
    # Codes zlib refuses or accepts only as exceptions: incomplete ones, a
    # lone code of length 1, no distance code.
    ab = [0] * 97 + [2, 2] + [0] * 157 + [2]
    lone = [0] * 97 + [1] + [0] * 158 + [1]
    yield "incomplete-litlen", gzip_samples.dynamic_stream(ab, b"abba")
    yield "incomplete-cl", gzip_samples.dynamic_stream(lone, b"aa", cl_lengths=[2, 2] + [0] * 17)
    yield "lone-end", gzip_samples.dynamic_stream([0] * 256 + [1], b"")
    yield "no-distance", gzip_samples.dynamic_stream(lone, b"aaa", dist_lengths=(0, 0))
    yield "lone-distance", gzip_samples.dynamic_stream(lone, b"a", dist_lengths=(1,))


def gzip_seeds():
    for i, data in enumerate(texts()):
        yield f"{i}-plain", gzip_samples.member(data)
        yield f"{i}-fields", gzip_samples.member(data, flags=0x1E, extra=b"ab\x02\x00xy",
                                                  name=b"name.txt", comment=b"note")
        yield f"{i}-two", gzip_samples.member(data) + gzip_samples.member(
            data[::-1], stream=gzip_samples.raw_deflate(data[::-1], 1))
        yield f"{i}-padded", gzip_samples.member(data) + b"\0" * 16
        yield f"{i}-hcrc", gzip_samples.member(data, flags=0x0A, name=b"n")
    yield "empty-stored", gzip_samples.member(b"", stream=gzip_samples.stored_stream(b""))
    yield "dictzip", gzip_samples.dictzip_member(b"dictionary entry " * 200, chunk_length=500)


def png_seeds():
    for colour, depth in ((0, 1), (0, 8), (2, 8), (3, 4), (4, 8), (6, 16)):
        yield f"c{colour}-d{depth}", png_samples.make_png(width=9, height=7, colour_type=colour,
                                                          bit_depth=depth, idat_count=2)
    yield "interlaced", png_samples.make_png(width=12, height=5, interlace=1)
    whole = png_samples.make_png(width=6, height=5)
    stream = png_idat(whole)
    head = whole[:33]  # signature and IHDR
    yield "tiny-first-idat", head + b"".join(png_samples.chunk(b"IDAT", p) for p in (
        b"", stream[:1], stream[1:])) + png_samples.chunk(b"IEND", b"")
    yield "unknown-critical", head + png_samples.chunk(b"SECR", b"x") + \
        png_samples.chunk(b"IDAT", stream) + png_samples.chunk(b"IEND", b"")
    yield "text", png_samples.make_png(width=4, height=4, after_idat=[
        png_samples.ztxt(b"Comment", b"hello " * 20),
        png_samples.itxt(b"Title", b"title text " * 5)])


def zip_seeds():
    M = zip_samples.Member
    for i, data in enumerate(list(texts())[1:4]):
        yield f"{i}-deflated", zip_samples.build([M(b"a.txt", data), M(b"dir/", b"", method=0)])
        yield f"{i}-descriptor", zip_samples.build([M(b"b.txt", data, descriptor="signed"),
                                                     M(b"c.bin", data[:50], method=0)],
                                                    comment=b"archive note")
        yield f"{i}-names", zip_samples.build([
            M(b"top/", b"", method=0), M(b"top/empty/", b"", method=0), M(b"top\\x.txt", data),
            M(b"top/./", b"", method=0), M(b"e", b"", descriptor="bare"),
            M(b"u.txt", data[:100], local_extra=zip_samples.extra_field(0x7075, b"\x01abcdu"),
              central_extra=zip_samples.extra_field(0x6375, b"\x01abcdc") +
              zip_samples.extra_field(0x7075, b"\x01abcdu"), comment=b"c")])
        yield f"{i}-outside", zip_samples.build([M(b"a.txt", data, after=b"gap")], start=b"stub")


def main():
    out = sys.argv[1]
    for target, seeds in (("deflate", deflate_seeds), ("gzip", gzip_seeds), ("png", png_seeds),
                          ("zip", zip_seeds)):
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, blob in seeds():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(blob)


if __name__ == "__main__":
    main()
