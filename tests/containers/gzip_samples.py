"""Builders of GZIP test files, and an independent reader to judge results.

Streams come from zlib (any level and strategy) or, where a test needs an
exact bit count, from the small fixed-code encoder below. The reader uses
zlib only, never the program under test.
"""

import os
import struct
import zlib

FTEXT, FHCRC, FEXTRA, FNAME, FCOMMENT = 0x01, 0x02, 0x04, 0x08, 0x10

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


def raw_deflate(data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, wbits=15, memlevel=8):
    """A raw deflate stream of data made by zlib."""
    c = zlib.compressobj(level, zlib.DEFLATED, -wbits, memlevel, strategy)
    return c.compress(data) + c.flush()


def member(data, flags=0, extra=b"", name=b"", comment=b"", mtime=0x12345678, xfl=0,
           os_byte=3, stream=None):
    """One GZIP member of data with the optional fields the flags announce
    (the header CRC, if any, is the correct one)."""
    header = b"\x1f\x8b\x08" + bytes([flags]) + struct.pack("<I", mtime) + bytes([xfl, os_byte])
    if flags & FEXTRA:
        header += struct.pack("<H", len(extra)) + extra
    if flags & FNAME:
        header += name + b"\0"
    if flags & FCOMMENT:
        header += comment + b"\0"
    if flags & FHCRC:
        header += struct.pack("<H", zlib.crc32(header) & 0xFFFF)
    if stream is None:
        stream = raw_deflate(data)
    return header + stream + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def read_members(blob):
    """Inflates every member of blob with zlib. Returns (list of decoded
    payloads, bytes after the last member). Raises zlib.error when a member
    is broken or its trailer does not match."""
    payloads = []
    rest = blob
    while rest[:3] == b"\x1f\x8b\x08":
        d = zlib.decompressobj(31)  # GZIP wrapper: checks the CRC-32 and ISIZE
        payloads.append(d.decompress(rest) + d.flush())
        if not d.eof:
            raise zlib.error("member does not end")
        rest = d.unused_data
    return payloads, rest


def header_length(blob):
    """Length of the header of the member at the start of blob."""
    flags = blob[3]
    at = 10
    if flags & FEXTRA:
        at += 2 + struct.unpack_from("<H", blob, at)[0]
    if flags & FNAME:
        at = blob.index(b"\0", at) + 1
    if flags & FCOMMENT:
        at = blob.index(b"\0", at) + 1
    if flags & FHCRC:
        at += 2
    return at


def example_texts():
    """The texts inside the bundled .gz examples (a few tens of KiB each)."""
    texts = []
    for name in sorted(os.listdir(EXAMPLES)):
        if name.endswith(".gz"):
            with open(os.path.join(EXAMPLES, name), "rb") as f:
                texts.extend(read_members(f.read())[0])
    return texts


class BitWriter:
    """Deflate's bit order: fields least significant bit first."""

    def __init__(self):
        self.value = 0
        self.bits = 0

    def put(self, value, count):
        self.value |= value << self.bits
        self.bits += count

    def put_code(self, code, length):
        """A Huffman code, whose bits go most significant first."""
        self.put(int(format(code, "0%db" % length)[::-1], 2), length)

    def to_bytes(self):
        return self.value.to_bytes((self.bits + 7) // 8, "little")


def fixed_block_with_far_copy(text, distance):
    """A final fixed-code block: the bytes of text (all below 144) as
    literals, then one copy of 3 bytes from `distance` back (24577 to
    32768, distance code 29 with 13 extra bits). The copy costs 7 + 5 + 13 =
    25 bits, one more than its three literals: written as literals it saves
    exactly 1 bit, and the stream stays the same number of bytes long.
    Returns (stream, decoded data)."""
    assert 24577 <= distance <= 32768 <= len(text) + 32768 and distance <= len(text)
    assert max(text) < 144
    decoded = text + text[len(text) - distance:len(text) - distance + 3]
    w = BitWriter()
    w.put(1, 1)  # BFINAL
    w.put(1, 2)  # fixed codes
    for b in text:
        w.put_code(0x30 + b, 8)
    w.put_code(257 - 256, 7)  # length 3
    w.put_code(29, 5)
    w.put(distance - 24577, 13)
    w.put_code(0, 7)  # end of block
    return w.to_bytes(), decoded


def stored_stream(data):
    """One final stored block holding data (at most 65535 bytes)."""
    return b"\x01" + struct.pack("<HH", len(data), len(data) ^ 0xFFFF) + data
