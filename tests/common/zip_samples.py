"""Archives for the tests (zip tool, zipfile, or `build` by hand), and their
judges: `unzip -t` and Python's zipfile."""

import io
import os
import struct
import subprocess
import zipfile
import zlib

from gzip_samples import raw_deflate
from trimbit_cli import read
from trimbit_formats import zip_entries

LOCAL, CENTRAL, DESCRIPTOR = 0x04034B50, 0x02014B50, 0x08074B50
SIGNATURE, END = 0x05054B50, 0x06054B50
ZIP64_END, ZIP64_LOCATOR = 0x06064B50, 0x07064B50
DOS_TIME_DATE = (0x6000, 0x5A21)  # 2025-01-01 12:00:00


def sample_text(size, seed=1):
    """Deterministic English-like text that compresses well."""
    words = (b"archive member deflate block header stream the of and with central directory "
             b"record").split()
    out, state = bytearray(), seed
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[state % len(words)] + (b".\n" if state % 11 == 0 else b" ")
    return bytes(out[:size])


class Member:
    """One member for `build`: data are deflated (zlib at `level`) for method
    8 and written as given otherwise. descriptor: None, "signed" or "bare";
    flags: general purpose flags besides bit 3; after: bytes that belong to
    no member, written behind this one."""

    def __init__(self, name, data=b"", method=8, level=6, local_extra=b"",
                 central_extra=b"", comment=b"", descriptor=None, flags=0, after=b""):
        self.name = name.encode() if isinstance(name, str) else name
        self.data, self.method, self.level, self.flags = data, method, level, flags
        self.local_extra, self.central_extra, self.comment = local_extra, central_extra, comment
        self.descriptor, self.after = descriptor, after


def extra_field(tag, payload):
    """One extra-field block: tag, length, payload."""
    return struct.pack("<HH", tag, len(payload)) + payload


def build(members, comment=b"", central_order=None, signature=None, zip64_records=False,
          before_end=b"", start=b""):
    """Bytes of an archive holding members. central_order: indexes of the
    central entries in their order; signature: data of a digital signature
    record; zip64_records: ZIP64 end record and locator before the end record;
    before_end, start: bytes right before the end record, before the first member."""
    out, central = bytearray(start), []
    for m in members:
        packed = raw_deflate(m.data, m.level) if m.method == 8 else m.data
        crc, flags, offset = zlib.crc32(m.data), m.flags | (0x08 if m.descriptor else 0), len(out)
        sizes = (0, 0, 0) if m.descriptor else (crc, len(packed), len(m.data))
        out += struct.pack("<IHHHHHIIIHH", LOCAL, 20, flags, m.method, *DOS_TIME_DATE, *sizes,
                           len(m.name), len(m.local_extra)) + m.name + m.local_extra + packed
        if m.descriptor:
            out += struct.pack("<I", DESCRIPTOR) if m.descriptor == "signed" else b""
            out += struct.pack("<III", crc, len(packed), len(m.data))
        out += m.after
        external = 0x10 if m.name.endswith(b"/") else 0
        central.append(struct.pack(
            "<IBBBBHHHHIIIHHHHHII", CENTRAL, 30, 3, 20, 0, flags, m.method, *DOS_TIME_DATE,
            crc, len(packed), len(m.data), len(m.name), len(m.central_extra), len(m.comment),
            0, 0, external, offset) + m.name + m.central_extra + m.comment)
    directory_offset = len(out)
    for index in central_order if central_order is not None else range(len(members)):
        out += central[index]
    directory_size = len(out) - directory_offset
    if signature is not None:
        out += struct.pack("<IH", SIGNATURE, len(signature)) + signature
    if zip64_records:
        out += struct.pack("<IQHHIIQQQQ", ZIP64_END, 44, 45, 45, 0, 0, len(members),
                           len(members), directory_size, directory_offset)
        out += struct.pack("<IIQI", ZIP64_LOCATOR, 0, len(out) - 56, 1)
    out += before_end
    count = len(members) % 65536  # as tools without ZIP64 write larger counts
    out += struct.pack("<IHHHHIIH", END, 0, 0, count, count, directory_size, directory_offset,
                       len(comment)) + comment
    return bytes(out)


def python_archive(path, entries, comment=b"", streamed=False):
    """Writes an archive with Python's zipfile. entries: (name, data, method,
    member comment, extra field). streamed: written where it cannot seek, so
    every member gets a data descriptor with its signature."""
    class Unseekable(io.RawIOBase):
        def writable(self):
            return True

        def write(self, b):
            return sink.write(b)

    with open(path, "wb") as sink, zipfile.ZipFile(Unseekable() if streamed else sink, "w") as z:
        for name, data, method, member_comment, extra in entries:
            info = zipfile.ZipInfo(name, date_time=(2025, 1, 1, 12, 0, 0))
            info.compress_type, info.comment, info.extra = method, member_comment, extra
            z.writestr(info, data)
        z.comment = comment


def zip_tool(folder, files, *options, stdin=None):
    """Writes files ({relative name: data}; a name ending in "/" is an empty
    folder) below folder/src and runs the `zip` tool there to add them to
    made.zip (with no files, only the options act). Returns the archive's path."""
    source = os.path.join(folder, "src")
    os.makedirs(source, exist_ok=True)
    for name, data in files.items():
        os.makedirs(os.path.dirname(os.path.join(source, name)), exist_ok=True)
        if not name.endswith("/"):
            with open(os.path.join(source, name), "wb") as f:
                f.write(data)
    subprocess.run(["zip", "-q", *options, "made.zip", *files], cwd=source, input=stdin,
                   check=True, stdout=subprocess.DEVNULL)
    return os.path.join(source, "made.zip")


def content(path, password=None):
    """What extracting path gives: ({name: (data, CRC)} of every member that
    is not a directory, {every directory entry and folder above a member})."""
    with zipfile.ZipFile(path) as z:
        z.setpassword(password)
        return ({i.filename: (z.read(i), i.CRC) for i in z.infolist() if not i.is_dir()},
                {"/".join(n.split("/")[:k]) + "/" for n in z.namelist()
                 for k in range(1, n.count("/") + 1)})


def assert_same_content(testcase, path, expected, password=None):
    """path passes `unzip -t`, and zipfile (which checks every CRC) reads
    from it exactly the members and folders of expected (from `content`)."""
    done = subprocess.run(["unzip", "-t"] + (["-P", password.decode()] if password else []) +
                          [path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    testcase.assertEqual(done.returncode, 0, done.stdout.decode("utf-8", "replace"))
    with zipfile.ZipFile(path) as z:
        testcase.assertEqual(len([i for i in z.infolist() if not i.is_dir()]), len(expected[0]))
    testcase.assertEqual(content(path, password), expected)


def raw_names(path):
    """[(central name, local name)] as bytes, in central order."""
    return [(e.name, e.local_name) for e in zip_entries(read(path))]
