"""PNG files built from scratch with zlib and struct, and the independent
checks every rewritten PNG must pass.

    chunk(type, data, crc=None) -> bytes of one chunk (correct CRC by default)
    image_data(width, height, colour_type, bit_depth, interlace, seed) -> the
        filtered scanlines (what the IDAT stream inflates to)
    make_png(...) -> a whole PNG file
    parse(data) -> [(type, data, stored crc)]
    check_rewritten(testcase, before, after, ...) -> pngcheck, CRCs, content
"""

import struct
import subprocess
import zlib

SIGNATURE = b"\x89PNG\r\n\x1a\n"

CHANNELS = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}
ALWAYS_KEPT = {b"IHDR", b"PLTE", b"tRNS", b"IDAT", b"IEND", b"acTL", b"fcTL", b"fdAT"}

# Adam7: (x start, y start, x step, y step) of the seven passes.
ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2),
         (0, 1, 1, 2)]


def chunk(ctype, data, crc=None):
    if crc is None:
        crc = zlib.crc32(ctype + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + ctype + data + struct.pack(">I", crc)


def ihdr(width, height, bit_depth, colour_type, interlace=0, compression=0):
    return chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bit_depth, colour_type,
                                      compression, 0, interlace))


def _rng(seed):
    state = seed * 2654435761 % 2**32 or 1
    while True:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        yield state


def image_data(width, height, colour_type, bit_depth, interlace=0, seed=1):
    """Filtered scanlines of a picture with smooth areas and some noise, as
    an encoder would pass them to zlib (filter types 0 to 4 in turn)."""
    bits_per_pixel = CHANNELS[colour_type] * bit_depth
    passes = ADAM7 if interlace else [(0, 0, 1, 1)]
    rnd = _rng(seed)
    out = bytearray()
    row_number = 0
    for x0, y0, dx, dy in passes:
        pass_width = (width - x0 + dx - 1) // dx if width > x0 else 0
        pass_height = (height - y0 + dy - 1) // dy if height > y0 else 0
        if pass_width == 0 or pass_height == 0:
            continue
        row_bytes = (pass_width * bits_per_pixel + 7) // 8
        for y in range(pass_height):
            out.append(row_number % 5)
            row_number += 1
            for x in range(row_bytes):
                if (x + y) % 23 < 20:
                    out.append(((x * 3 + y * 5) // 7) & 0xFF)
                else:
                    out.append(next(rnd) & 0xFF)
    return bytes(out)


def split(data, parts):
    """data cut into `parts` pieces of nearly equal size (empty ones allowed)."""
    size = len(data)
    return [data[size * i // parts:size * (i + 1) // parts] for i in range(parts)]


def make_png(width=40, height=30, colour_type=2, bit_depth=8, interlace=0, idat_count=1,
             level=6, strategy=zlib.Z_DEFAULT_STRATEGY, before_idat=(), after_idat=(), seed=1):
    """A complete PNG; before_idat/after_idat are extra chunks (bytes) placed
    after IHDR (and PLTE) and between the last IDAT and IEND."""
    parts = [SIGNATURE, ihdr(width, height, bit_depth, colour_type, interlace)]
    if colour_type == 3:
        entries = 1 << bit_depth
        parts.append(chunk(b"PLTE", bytes((i * 37 + k * 91) & 0xFF
                                          for i in range(entries) for k in range(3))))
        parts.append(chunk(b"tRNS", bytes(range(255, 255 - min(entries, 8), -1))))
    parts.extend(before_idat)
    compressor = zlib.compressobj(level, zlib.DEFLATED, 15, 8, strategy)
    stream = compressor.compress(image_data(width, height, colour_type, bit_depth, interlace,
                                            seed)) + compressor.flush()
    parts.extend(chunk(b"IDAT", piece) for piece in split(stream, idat_count))
    parts.extend(after_idat)
    parts.append(chunk(b"IEND", b""))
    return b"".join(parts)


def parse(data):
    """[(type, data, stored crc)] of every chunk; asserts the layout is whole."""
    assert data[:8] == SIGNATURE, "no PNG signature"
    pos, chunks = 8, []
    while pos < len(data):
        assert pos + 12 <= len(data), "truncated chunk"
        length, ctype = struct.unpack(">I4s", data[pos:pos + 8])
        assert pos + 12 + length <= len(data), "chunk runs past the end"
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        chunks.append((ctype, body, crc))
        pos += 12 + length
    return chunks


def idat_stream(data):
    return b"".join(body for ctype, body, _ in parse(data) if ctype == b"IDAT")


def inflate_whole(stream):
    """(inflated bytes, bytes behind the zlib stream); zlib checks the header
    and the Adler-32."""
    d = zlib.decompressobj()
    out = d.decompress(stream) + d.flush()
    assert d.eof, "zlib stream does not end"
    return out, d.unused_data


def pngcheck(path):
    done = subprocess.run(["pngcheck", str(path)], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def check_rewritten(testcase, path, before, after, keep_all=False, run_pngcheck=True):
    """The checks every PNG the program writes must pass against its
    original: pngcheck, every CRC, one IDAT chunk whose stream inflates to
    what the original's did, kept chunks in order and (streams aside) with
    their data unchanged, and never larger."""
    if run_pngcheck:
        code, text = pngcheck(path)
        testcase.assertEqual(code, 0, text)
    testcase.assertLessEqual(len(after), len(before))
    new_chunks = parse(after)
    for ctype, body, crc in new_chunks:
        testcase.assertEqual(crc, zlib.crc32(ctype + body) & 0xFFFFFFFF, ctype)
    testcase.assertEqual(inflate_whole(idat_stream(after)), inflate_whole(idat_stream(before)))
    testcase.assertEqual([c[0] for c in new_chunks].count(b"IDAT"), 1)

    # Expected sequence of chunk types: a run of IDAT chunks becomes one.
    expected = []
    for ctype, body, _ in parse(before):
        if ctype == b"IDAT" and expected and expected[-1][0] == b"IDAT":
            continue
        if keep_all or ctype in ALWAYS_KEPT:
            expected.append((ctype, body))
    testcase.assertEqual([c[0] for c in new_chunks], [c[0] for c in expected])
    for (ctype, body, _), (_, old_body) in zip(new_chunks, expected):
        if ctype == b"IDAT":
            continue
        if ctype in (b"zTXt", b"iCCP", b"iTXt"):
            testcase.assertEqual(text_chunk_content(ctype, body),
                                 text_chunk_content(ctype, old_body), ctype)
        else:
            testcase.assertEqual(body, old_body, ctype)
    return new_chunks


def text_chunk_content(ctype, body):
    """(bytes before the stream, inflated stream) of an iCCP, zTXt or iTXt
    chunk; the whole body when it holds no stream."""
    keyword_end = body.index(b"\0")
    if ctype == b"iTXt":
        if body[keyword_end + 1] == 0:
            return body, None
        lang_end = body.index(b"\0", keyword_end + 3)
        start = body.index(b"\0", lang_end + 1) + 1
    else:
        start = keyword_end + 2
    return body[:start], inflate_whole(body[start:])


def ztxt(keyword, text, level=6):
    return chunk(b"zTXt", keyword + b"\0\0" + zlib.compress(text, level))


def itxt(keyword, text, compressed=True, language=b"en", translated=b"", level=6):
    payload = zlib.compress(text, level) if compressed else text
    return chunk(b"iTXt", keyword + b"\0" + bytes([1 if compressed else 0, 0]) + language +
                 b"\0" + translated + b"\0" + payload)


def iccp(name, profile, level=6):
    return chunk(b"iCCP", name + b"\0\0" + zlib.compress(profile, level))
