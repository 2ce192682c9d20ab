"""PNG files built from scratch with zlib and struct, and the independent
checks (pngcheck, zlib's crc32 and inflate) every rewritten PNG must pass."""

import os
import struct
import subprocess
import zlib

from trimbit_formats import PNG_SIGNATURE as SIGNATURE, inflate_zlib, png_chunk_stream, \
    png_chunks, png_idat
CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ALWAYS_KEPT = {b"IHDR", b"PLTE", b"tRNS", b"IDAT", b"IEND", b"acTL", b"fcTL", b"fdAT"}
# Adam7: (x start, y start, x step, y step) of the seven passes.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def chunk(ctype, data, crc=None):
    """One chunk; its CRC is the correct one unless crc is given."""
    crc = zlib.crc32(ctype + data) if crc is None else crc
    return struct.pack(">I", len(data)) + ctype + data + struct.pack(">I", crc)


def ihdr(width, height, bit_depth, colour_type, interlace=0, compression=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type,
                                      compression, 0, interlace))


def image_data(width, height, colour_type, bit_depth, interlace=0, seed=1):
    """Filtered scanlines (filter types 0 to 4 in turn) of a picture with
    smooth areas and some noise: what the IDAT stream inflates to."""
    state = seed * 2654435761 % 2**32 or 1
    out, row = bytearray(), 0
    for x0, y0, dx, dy in ADAM7 if interlace else [(0, 0, 1, 1)]:
        pass_width = max(0, width - x0 + dx - 1) // dx
        for y in range(max(0, height - y0 + dy - 1) // dy if pass_width else 0):
            out.append(row % 5)
            row += 1
            for x in range((pass_width * CHANNELS[colour_type] * bit_depth + 7) // 8):
                if (x + y) % 23 < 20:
                    out.append(((x * 3 + y * 5) // 7) & 0xFF)
                    continue
                state ^= (state << 13) & 0xFFFFFFFF  # xorshift noise
                state ^= state >> 17
                state ^= (state << 5) & 0xFFFFFFFF
                out.append(state & 0xFF)
    return bytes(out)


def split(data, parts):
    """data cut into `parts` pieces of nearly equal size (empty ones allowed)."""
    return [data[len(data) * i // parts:len(data) * (i + 1) // parts] for i in range(parts)]


def make_png(width=40, height=30, colour_type=2, bit_depth=8, interlace=0, idat_count=1,
             level=6, strategy=zlib.Z_DEFAULT_STRATEGY, before_idat=(), after_idat=(), seed=1):
    """A complete PNG; before_idat/after_idat are extra chunks (bytes) placed
    after IHDR (and PLTE, tRNS) and between the last IDAT and IEND."""
    parts = [SIGNATURE, ihdr(width, height, bit_depth, colour_type, interlace)]
    if colour_type == 3:
        entries = 1 << bit_depth
        parts.append(chunk(b"PLTE", bytes((i * 37 + k * 91) & 0xFF
                                          for i in range(entries) for k in range(3))))
        parts.append(chunk(b"tRNS", bytes(range(255, 255 - min(entries, 8), -1))))
    compressor = zlib.compressobj(level, zlib.DEFLATED, 15, 8, strategy)
    stream = compressor.compress(image_data(width, height, colour_type, bit_depth, interlace,
                                            seed)) + compressor.flush()
    parts += [*before_idat, *(chunk(b"IDAT", p) for p in split(stream, idat_count)), *after_idat]
    return b"".join(parts + [chunk(b"IEND", b"")])


def large_png(size, chunk_size):
    """An RGB image whose pixels take about `size` bytes, quick to make:
    noise of 64 values a byte (a file of about 3/4 of that), compressed by
    zlib's fastest level, in IDAT chunks of chunk_size bytes."""
    width = 4096
    row = 3 * width + 1
    rows = size // (row - 1) + 1
    pixels = bytearray(os.urandom(rows * row).translate(bytes(range(64)) * 4))
    pixels[::row] = bytes(rows)  # filter type 0 on every row
    stream = zlib.compress(bytes(pixels), 1)
    return b"".join([SIGNATURE, ihdr(width, rows, 8, 2),
                     *(chunk(b"IDAT", stream[i:i + chunk_size])
                       for i in range(0, len(stream), chunk_size)), chunk(b"IEND", b"")])


def stream_content(ctype, body):
    """(bytes before the stream, inflated stream) of an iCCP, zTXt or iTXt
    chunk; (body, None) for an uncompressed iTXt."""
    head, stream = png_chunk_stream(ctype, body)
    return head, stream if stream is None else inflate_zlib(stream)


def check_rewritten(testcase, path, before, after, keep_all=False):
    """What every PNG the program writes must show against its original:
    pngcheck passes, every CRC is right, one IDAT chunk inflates to what the
    original's IDAT data did, the kept chunks are in order with their data
    (or the content of their streams) unchanged, and it is never larger."""
    done = subprocess.run(["pngcheck", path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    testcase.assertEqual(done.returncode, 0, done.stdout)
    testcase.assertLessEqual(len(after), len(before))
    new_chunks = png_chunks(after)
    for ctype, body, crc in new_chunks:
        testcase.assertEqual(crc, zlib.crc32(ctype + body), ctype)
    testcase.assertEqual(inflate_zlib(png_idat(after)), inflate_zlib(png_idat(before)))
    expected = []  # a run of IDAT chunks becomes one
    for ctype, body, _ in png_chunks(before):
        if (keep_all or ctype in ALWAYS_KEPT) and not (ctype == b"IDAT" == expected[-1][0]):
            expected.append((ctype, body))
    testcase.assertEqual([c[0] for c in new_chunks], [c[0] for c in expected])
    for (ctype, body, _), (_, old_body) in zip(new_chunks, expected):
        if ctype in (b"zTXt", b"iCCP", b"iTXt"):
            testcase.assertEqual(stream_content(ctype, body), stream_content(ctype, old_body))
        elif ctype != b"IDAT":
            testcase.assertEqual(body, old_body, ctype)
    return new_chunks


def ztxt(keyword, text, level=6):
    return chunk(b"zTXt", keyword + b"\0\0" + zlib.compress(text, level))


def itxt(keyword, text, compressed=True, language=b"en", translated=b"", level=6):
    payload = zlib.compress(text, level) if compressed else text
    return chunk(b"iTXt", keyword + b"\0" + bytes([compressed, 0]) + language + b"\0" +
                 translated + b"\0" + payload)

