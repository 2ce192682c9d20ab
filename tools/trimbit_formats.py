"""Walking GZIP, PNG and ZIP files with struct and zlib alone, for the tools
(benchmark, round trip), the tests and the fuzzers' seed writer. zlib does
every inflating; nothing here comes from the program under test.

GZIP  gzip_members(blob, strict=True) -> ([GzipMember], bytes after the last)
PNG   png_chunks(blob) -> [(type, body, stored CRC)]
      png_idat(blob) -> the IDAT data joined
      png_chunk_stream(type, body) -> (bytes before the zlib stream, stream)
      inflate_zlib(stream) -> (inflated bytes, bytes behind the stream)
ZIP   zip_end_record(raw) -> (position, fields, archive comment)
      zip_entries(raw) -> [ZipEntry] in central order
      zip_subfields(extra) -> [(tag, payload)]
"""

import collections
import struct
import zlib

GZIP_MAGIC = b"\x1f\x8b\x08"
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"

# start: offset in the file; header: its raw bytes (fields: None when the
# flags do not announce them); stream: the raw deflate data; data: what they
# inflate to; end: offset after the trailer.
GzipMember = collections.namedtuple("GzipMember",
                                    "start flags extra name comment header stream data end")


def _gzip_member(blob, start):
    flags, at, fields = blob[start + 3], start + 10, {}
    if flags & 4:
        size = int.from_bytes(blob[at:at + 2], "little")
        fields["extra"], at = blob[at + 2:at + 2 + size], at + 2 + size
    for flag, field in ((8, "name"), (16, "comment")):
        if flags & flag:
            zero = blob.find(b"\0", at)
            if zero < 0:
                raise zlib.error("header field not terminated")
            fields[field], at = blob[at:zero], zero + 1
    if flags & 2:
        if blob[at:at + 2] != struct.pack("<H", zlib.crc32(blob[start:at]) & 0xFFFF):
            raise zlib.error("header CRC does not match")
        at += 2
    # Fed piece by piece, so that a file of many members costs linear time.
    d, pos, pieces, view = zlib.decompressobj(-15), at, [], memoryview(blob)
    while not d.eof and pos < len(blob):
        pieces.append(d.decompress(view[pos:pos + 65536]))
        pos = min(pos + 65536, len(blob))
    data = b"".join(pieces) + d.flush()
    stream_end = pos - len(d.unused_data)
    trailer = blob[stream_end:stream_end + 8]
    if not d.eof or len(trailer) < 8 or struct.unpack("<II", trailer) != (
            zlib.crc32(data), len(data) & 0xFFFFFFFF):
        raise zlib.error("deflate data do not end, or the trailer does not match them")
    return GzipMember(start, flags, fields.get("extra"), fields.get("name"),
                      fields.get("comment"), blob[start:at], blob[at:stream_end], data,
                      stream_end + 8)


def gzip_members(blob, strict=True):
    """The members from the start of blob while bytes start with a member's
    signature, and the bytes after the last one. A member whose header,
    deflate data, header CRC or trailer (CRC-32 and size) is broken raises
    zlib.error when strict; otherwise the walk stops there."""
    members, at = [], 0
    while blob[at:at + 3] == GZIP_MAGIC:
        try:
            members.append(_gzip_member(blob, at))
        except zlib.error:
            if strict:
                raise
            break
        at = members[-1].end
    return members, blob[at:]


def png_chunks(blob):
    """[(type, body, stored CRC)] of every chunk; raises ValueError without
    a signature or when the chunks do not end exactly at the end of blob."""
    if blob[:8] != PNG_SIGNATURE:
        raise ValueError("no PNG signature")
    at, chunks = 8, []
    while at < len(blob):
        if at + 12 > len(blob):
            raise ValueError("chunk cut short")
        length, ctype = struct.unpack_from(">I4s", blob, at)
        if at + 12 + length > len(blob):
            raise ValueError("chunk cut short")
        chunks.append((ctype, blob[at + 8:at + 8 + length],
                       struct.unpack_from(">I", blob, at + 8 + length)[0]))
        at += 12 + length
    return chunks


def png_idat(blob):
    """The image data: the bodies of all IDAT chunks joined."""
    return b"".join(body for ctype, body, _ in png_chunks(blob) if ctype == b"IDAT")


def png_chunk_stream(ctype, body):
    """(bytes before the zlib stream, stream) of an iCCP, zTXt or iTXt
    chunk; (body, None) for an iTXt chunk that is not compressed."""
    start = body.index(b"\0") + 2
    if ctype == b"iTXt":
        if body[start - 1] == 0:
            return body, None
        start = body.index(b"\0", body.index(b"\0", start + 1) + 1) + 1
    return body[:start], body[start:]


def inflate_zlib(stream):
    """(inflated bytes, bytes behind the stream); zlib checks the header and
    the Adler-32 and raises zlib.error when the stream does not end."""
    d = zlib.decompressobj()
    data = d.decompress(stream) + d.flush()
    if not d.eof:
        raise zlib.error("zlib stream does not end")
    return data, d.unused_data


# name, local_name: as bytes, from the central entry and the local header;
# flags, method, crc, size (uncompressed): from the central entry; data: the
# compressed bytes; offset: of the local header; data_at: of the data;
# central: the raw central entry.
ZipEntry = collections.namedtuple(
    "ZipEntry", "name local_name flags local_flags method crc size data local_extra "
                "central_extra comment offset data_at central")


def zip_end_record(raw):
    """(position, the fields of struct format <IHHHHIIH, archive comment)
    of the end record nearest the end of raw."""
    at = raw.rfind(b"PK\5\6")
    fields = struct.unpack_from("<IHHHHIIH", raw, at)
    return at, fields, raw[at + 22:at + 22 + fields[7]]


def zip_entries(raw):
    """Every central entry from the directory's offset on, with the local
    header it points to; struct.error when a record runs past the end."""
    at, entries = zip_end_record(raw)[1][6], []
    while raw[at:at + 4] == b"PK\1\2":
        (flags, method, crc, csize, size, n, m, k,
         offset) = struct.unpack_from("<8xHH4xIIIHHH8xI", raw, at)
        central = raw[at:at + 46 + n + m + k]
        local_flags, ln, lm = struct.unpack_from("<6xH18xHH", raw, offset)
        data_at = offset + 30 + ln + lm
        entries.append(ZipEntry(central[46:46 + n], raw[offset + 30:offset + 30 + ln], flags,
                                local_flags, method, crc, size, raw[data_at:data_at + csize],
                                raw[offset + 30 + ln:data_at], central[46 + n:46 + n + m],
                                central[46 + n + m:], offset, data_at, central))
        at += len(central)
    return entries


def zip_subfields(extra):
    """[(tag, payload)] of the subfields of an extra field."""
    out, at = [], 0
    while at + 4 <= len(extra):
        tag, size = struct.unpack_from("<HH", extra, at)
        out.append((tag, extra[at + 4:at + 4 + size]))
        at += 4 + size
    return out
