"""Builders of GZIP test files: streams from zlib, or packed by hand where a
test needs an exact bit count."""

import os
import struct
import zlib

from trimbit_formats import gzip_members

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    """A raw deflate stream of data made by zlib."""
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy)
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


def contents(blob):
    """([what every member holds], bytes after the last member), read by
    zlib; zlib.error when a member, its header CRC or its trailer is broken."""
    members, rest = gzip_members(blob)
    return [m.data for m in members], rest


def example_texts():
    """The texts inside the bundled .gz examples (a few tens of KiB each)."""
    texts = []
    for name in sorted(n for n in os.listdir(EXAMPLES) if n.endswith(".gz")):
        with open(os.path.join(EXAMPLES, name), "rb") as f:
            texts.extend(contents(f.read())[0])
    return texts


class Bits:
    """A deflate stream being written: fields least significant bit first,
    Huffman codes most significant bit first."""

    def __init__(self):
        self.value = self.count = 0

    def put(self, value, n):
        self.value |= value << self.count
        self.count += n
        return self

    def code(self, value, n):
        return self.put(int(format(value, "0%db" % n)[::-1], 2) if n else 0, n)

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def canonical_codes(lengths):
    """{symbol: (code, length)} of RFC 1951's canonical code for the lengths,
    whether or not they make a complete code."""
    codes, code = {}, 0
    for length in range(1, 16):
        for symbol, n in enumerate(lengths):
            if n == length:
                codes[symbol] = (code, length)
                code += 1
        code <<= 1
    return codes


def fixed_block_with_far_copy(text, distance):
    """A final fixed-code block: text (bytes below 144) as literals, then one
    3-byte copy from `distance` (24577 to 32768) back. The copy costs 7 + 5 +
    13 = 25 bits, one more than three literals, so written as literals the
    stream saves exactly 1 bit and no byte. Returns (stream, decoded data)."""
    assert 24577 <= distance <= min(len(text), 32768) and max(text) < 144
    bits = Bits().put(1, 1).put(1, 2)  # BFINAL, fixed codes
    for b in text:
        bits.code(0x30 + b, 8)
    bits.code(1, 7).code(29, 5).put(distance - 24577, 13).code(0, 7)
    return bits.bytes(), text + text[-distance:][:3]


def dynamic_stream(lit_lengths, literals, dist_lengths=(0,), cl_lengths=None):
    """One final dynamic block that sends the literal/length code lengths
    `lit_lengths` (at least 257) and `dist_lengths` one by one, then the
    `literals` and end-of-block in the canonical codes of those lengths,
    complete or not. The code-length code is `cl_lengths` (19 lengths by
    symbol) or else a complete one over the lengths sent."""
    lengths = list(lit_lengths) + list(dist_lengths)
    if cl_lengths is None:
        used = sorted(set(lengths))
        top = max(1, (len(used) - 1).bit_length())
        cl_lengths = [0] * 19
        for i, symbol in enumerate(used):
            cl_lengths[symbol] = top - 1 if i < (1 << top) - len(used) else top
    order = (16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15)
    hclen = max(4, max(i + 1 for i, s in enumerate(order) if cl_lengths[s] or i < 4))
    bits = Bits().put(1, 1).put(2, 2)
    bits.put(len(lit_lengths) - 257, 5).put(len(dist_lengths) - 1, 5).put(hclen - 4, 4)
    for symbol in order[:hclen]:
        bits.put(cl_lengths[symbol], 3)
    cl_codes = canonical_codes(cl_lengths)
    for n in lengths:
        bits.code(*cl_codes[n])
    codes = canonical_codes(lit_lengths)
    for symbol in list(literals) + [256]:
        bits.code(*codes[symbol])
    return bits.bytes()


def dictzip_member(data, chunk_length=1000):
    """A GZIP member as dictzip writes it: the data compressed in chunks,
    each ended by a full flush so that it can be inflated on its own, and
    the extra subfield RA (version 1, chunk length, chunk count, then each
    chunk's compressed size) indexing them."""
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    stream, sizes = b"", []
    for at in range(0, len(data), chunk_length):
        piece = c.compress(data[at:at + chunk_length]) + c.flush(zlib.Z_FULL_FLUSH)
        stream += piece
        sizes.append(len(piece))
    stream += c.flush()
    ra = struct.pack("<HHH", 1, chunk_length, len(sizes)) + struct.pack("<%dH" % len(sizes), *sizes)
    extra = b"RA" + struct.pack("<H", len(ra)) + ra
    return member(data, flags=0x0C, extra=extra, name=b"dict.txt", stream=stream)


def stored_stream(data):
    """One final stored block holding data (at most 65535 bytes)."""
    return b"\x01" + struct.pack("<HH", len(data), len(data) ^ 0xFFFF) + data
