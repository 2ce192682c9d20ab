"""Builders of GZIP test files (streams from zlib, or hand-packed where a test
needs an exact bit count), and a zlib-only reader to judge results."""

import os
import struct
import zlib

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=15, memlevel=8):
    """A raw deflate stream of data made by zlib."""
    c = zlib.compressobj(level, zlib.DEFLATED, -wbits, memlevel, strategy)
    return c.compress(data) + c.flush()


def member(data, flags=0, extra=b"", name=b"", comment=b"", mtime=0x12345678, stream=None):
    """One GZIP member of data with the fields its flags announce (FHCRC 2,
    FEXTRA 4, FNAME 8, FCOMMENT 16); a header CRC is the correct one."""
    header = b"\x1f\x8b\x08" + bytes([flags]) + struct.pack("<I", mtime) + b"\x00\x03"
    if flags & 4:
        header += struct.pack("<H", len(extra)) + extra
    header += (name + b"\0") * bool(flags & 8) + (comment + b"\0") * bool(flags & 16)
    if flags & 2:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    stream = raw_deflate(data) if stream is None else stream
    return header + stream + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def read_members(blob):
    """(decoded payload of every member, bytes after the last member); zlib
    raises when a member is broken or its CRC-32 or size does not match."""
    payloads, rest = [], blob
    while rest[:3] == b"\x1f\x8b\x08":
        d = zlib.decompressobj(31)
        payloads.append(d.decompress(rest) + d.flush())
        if not d.eof:
            raise zlib.error("member does not end")
        rest = d.unused_data
    return payloads, rest


def header_length(blob):
    """Length of the header of the member at the start of blob."""
    flags, at = blob[3], 10
    if flags & 4:
        at += 2 + struct.unpack_from("<H", blob, at)[0]
    for flag in (8, 16):
        if flags & flag:
            at = blob.index(b"\0", at) + 1
    return at + (2 if flags & 2 else 0)


def example_texts():
    """The texts inside the bundled .gz examples (a few tens of KiB each)."""
    texts = []
    for name in sorted(n for n in os.listdir(EXAMPLES) if n.endswith(".gz")):
        with open(os.path.join(EXAMPLES, name), "rb") as f:
            texts.extend(read_members(f.read())[0])
    return texts


def fixed_block_with_far_copy(text, distance):
    """A final fixed-code block: text (bytes below 144) as literals, then one
    3-byte copy from `distance` (24577 to 32768) back. The copy costs 7 + 5 +
    13 = 25 bits, one more than three literals, so written as literals the
    stream saves exactly 1 bit and no byte. Returns (stream, decoded data)."""
    assert 24577 <= distance <= min(len(text), 32768) and max(text) < 144

    def code(value, length):  # Huffman codes go most significant bit first
        return int(format(value, "0%db" % length)[::-1], 2), length

    fields = [(1, 1), (1, 2)] + [code(0x30 + b, 8) for b in text]  # BFINAL, fixed codes
    fields += [code(1, 7), code(29, 5), (distance - 24577, 13), code(0, 7)]
    value = bits = 0
    for v, n in fields:
        value |= v << bits
        bits += n
    return value.to_bytes((bits + 7) // 8, "little"), text + text[-distance:][:3]


def stored_stream(data):
    """One final stored block holding data (at most 65535 bytes)."""
    return b"\x01" + struct.pack("<HH", len(data), len(data) ^ 0xFFFF) + data
