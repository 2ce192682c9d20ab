"""Archives for the ZIP command-line tests, and the judges of the results.

Archives come from the `zip` tool, from Python's zipfile, or from `build`,
which writes the records by hand so that every structure the program must
handle (data descriptors with and without their signature, extra fields,
comments, entries out of offset order, a digital signature, ZIP64 end
records, disk numbers) can be placed exactly.

The judges are `unzip -t` and Python's zipfile: `members` reads what an
archive holds, `assert_same_members` checks a rewritten archive against it.
"""

import io
import os
import struct
import subprocess
import zipfile
import zlib

LOCAL = 0x04034B50
CENTRAL = 0x02014B50
DESCRIPTOR = 0x08074B50
SIGNATURE = 0x05054B50
END = 0x06054B50
ZIP64_END = 0x06064B50
ZIP64_LOCATOR = 0x07064B50

DOS_TIME = 0x6000  # 12:00:00
DOS_DATE = 0x5A21  # 2025-01-01


def deflate(data, level=6):
    """Raw deflate stream of data (zlib, no wrapper)."""
    compressor = zlib.compressobj(level, zlib.DEFLATED, -15)
    return compressor.compress(data) + compressor.flush()


def sample_text(size, seed=1):
    """Deterministic English-like text that compresses well."""
    words = [b"archive", b"member", b"deflate", b"block", b"header", b"stream",
             b"the", b"of", b"and", b"with", b"central", b"directory", b"record"]
    out = bytearray()
    state = seed
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[state % len(words)]
        out += b".\n" if state % 11 == 0 else b" "
    return bytes(out[:size])


class Member:
    """One member for `build`. Data are deflated for method 8 and written as
    given otherwise. descriptor: None, "signed" or "bare"; flags: general
    purpose flags besides bit 3."""

    def __init__(self, name, data=b"", method=8, level=6, local_extra=b"",
                 central_extra=b"", comment=b"", descriptor=None, flags=0):
        self.name = name.encode() if isinstance(name, str) else name
        self.data = data
        self.method = method
        self.level = level
        self.local_extra = local_extra
        self.central_extra = central_extra
        self.comment = comment
        self.descriptor = descriptor
        self.flags = flags


def extra_field(tag, payload):
    """One extra-field block: tag, length, payload."""
    return struct.pack("<HH", tag, len(payload)) + payload


def build(members, comment=b"", central_order=None, signature=None,
          zip64_records=False, disks=(0, 0), prefix=b""):
    """Bytes of an archive holding members, written record by record.

    central_order: order of the central entries (indexes into members);
    signature: data of a digital signature record after the directory;
    zip64_records: ZIP64 end record and locator before the end record, whose
    own fields keep the real values; disks: (this disk, directory's disk).
    """
    out = bytearray(prefix)
    central = []
    for m in members:
        packed = deflate(m.data, m.level) if m.method == 8 else m.data
        crc = zlib.crc32(m.data)
        flags = m.flags | (0x08 if m.descriptor else 0)
        offset = len(out)
        sizes = (0, 0, 0) if m.descriptor else (crc, len(packed), len(m.data))
        out += struct.pack("<IHHHHHIIIHH", LOCAL, 20, flags, m.method, DOS_TIME,
                           DOS_DATE, *sizes, len(m.name), len(m.local_extra))
        out += m.name + m.local_extra + packed
        if m.descriptor == "signed":
            out += struct.pack("<I", DESCRIPTOR)
        if m.descriptor:
            out += struct.pack("<III", crc, len(packed), len(m.data))
        external = 0x10 if m.name.endswith(b"/") else 0
        central.append(
            struct.pack("<IBBBBHHHHIIIHHHHHII", CENTRAL, 30, 3, 20, 0, flags,
                        m.method, DOS_TIME, DOS_DATE, crc, len(packed),
                        len(m.data), len(m.name), len(m.central_extra),
                        len(m.comment), 0, 0, external, offset)
            + m.name + m.central_extra + m.comment)
    order = central_order if central_order is not None else range(len(members))
    directory_offset = len(out)
    for index in order:
        out += central[index]
    directory_size = len(out) - directory_offset
    if signature is not None:
        out += struct.pack("<IH", SIGNATURE, len(signature)) + signature
    if zip64_records:
        zip64_offset = len(out)
        out += struct.pack("<IQHHIIQQQQ", ZIP64_END, 44, 45, 45, 0, 0,
                           len(members), len(members), directory_size,
                           directory_offset)
        out += struct.pack("<IIQI", ZIP64_LOCATOR, 0, zip64_offset, 1)
    out += struct.pack("<IHHHHIIH", END, disks[0], disks[1], len(members),
                       len(members), directory_size, directory_offset,
                       len(comment))
    out += comment
    return bytes(out)


def python_archive(path, entries, comment=b"", streamed=False):
    """Writes an archive with Python's zipfile. entries: (ZipInfo or name,
    data, compress_type). streamed: written to a stream that cannot seek, so
    every member gets a data descriptor with its signature."""
    class Unseekable(io.RawIOBase):
        def __init__(self, sink):
            self.sink = sink

        def writable(self):
            return True

        def write(self, b):
            return self.sink.write(b)

    with open(path, "wb") as sink:
        target = Unseekable(sink) if streamed else sink
        with zipfile.ZipFile(target, "w") as z:
            for info, data, method in entries:
                if isinstance(info, str):
                    info = zipfile.ZipInfo(info, date_time=(2025, 1, 1, 12, 0, 0))
                info.compress_type = method
                z.writestr(info, data)
            z.comment = comment


def zip_tool(folder, archive, paths, *options, stdin=None):
    """Runs the `zip` tool in folder; returns the archive's path."""
    subprocess.run(["zip", "-q", *options, archive, *paths], cwd=folder,
                   input=stdin, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(folder, archive)


def members(path):
    """{name: (content, CRC)} of every member that is not a directory."""
    with zipfile.ZipFile(path) as z:
        return {i.filename: (z.read(i), i.CRC) for i in z.infolist()
                if not i.is_dir()}


def unzip_test(path, password=None):
    """Exit status and output of `unzip -t` on path."""
    command = ["unzip", "-t"] + (["-P", password] if password else []) + [path]
    done = subprocess.run(command, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, check=False)
    return done.returncode, done.stdout.decode("utf-8", "replace")


def assert_same_members(testcase, path, expected):
    """path passes `unzip -t`, and Python's zipfile reads from it exactly the
    members of expected ({name: (content, CRC)}), each with its CRC."""
    code, text = unzip_test(path)
    testcase.assertEqual(code, 0, text)
    with zipfile.ZipFile(path) as z:
        testcase.assertIsNone(z.testzip())
        got = {}
        for info in z.infolist():
            content = z.read(info)
            testcase.assertEqual(info.CRC, zlib.crc32(content), info.filename)
            got[info.filename] = (content, info.CRC)
    testcase.assertEqual(got, expected)


def local_headers(path):
    """[(name, flags, extra, data offset, compressed size)] from the local
    headers, found through the central directory."""
    with open(path, "rb") as f:
        raw = f.read()
    found = []
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            at = info.header_offset
            fields = struct.unpack_from("<IHHHHHIIIHH", raw, at)
            assert fields[0] == LOCAL
            n, m = fields[9], fields[10]
            extra = raw[at + 30 + n:at + 30 + n + m]
            found.append((info.filename, fields[2], extra, at + 30 + n + m,
                          info.compress_size))
    return found


def end_record(raw):
    """(position, fields) of the end record nearest the end of raw."""
    at = raw.rfind(struct.pack("<I", END))
    return at, struct.unpack_from("<IHHHHIIH", raw, at)
