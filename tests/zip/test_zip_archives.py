"""Archives by the zip tool, zipfile and by hand pass `unzip -t` and read back
with zipfile with the same members, keeping what -c and -k keep."""

import os
import struct
import subprocess
import unittest
import zipfile
import zlib

import zip_samples as fx
from trimbit_cli import ScratchTest, read, write
from trimbit_formats import zip_end_record, zip_entries, zip_subfields
from zip_samples import Member

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "licenses.zip")
TOOL_FILES = {"docs/words.txt": fx.sample_text(40000), "docs/noise.bin": os.urandom(3000),
              "docs/empty.txt": b"", "docs/empty_dir/": b"", "short.txt": b"a short member\n"}


def by_zip_tool(level):
    def make(folder):
        path = fx.zip_tool(folder, TOOL_FILES, level)
        fx.zip_tool(folder, {}, "-z", stdin=b"archive comment\n")
        fx.zip_tool(folder, {"short.txt": TOOL_FILES["short.txt"]}, level, "-c", stdin=b"note\n")
        return path
    return make


def by_zipfile(streamed):
    def make(folder):
        os.makedirs(folder)
        path, deflated, stored = os.path.join(folder, "python.zip"), zipfile.ZIP_DEFLATED, 0
        fx.python_archive(path, [
            ("deflated.txt", fx.sample_text(20000, 2), deflated, b"", b""),
            ("stored.txt", fx.sample_text(5000, 3), stored, b"", b""),
            ("folder/", b"", stored, b"", b""), ("empty.txt", b"", deflated, b"", b""),
            ("commented.txt", fx.sample_text(3000, 4), deflated, b"member comment", b""),
            ("extra.txt", fx.sample_text(3000, 5), deflated, b"",
             fx.extra_field(0xCAFE, b"private data")),
        ], comment=b"archive comment", streamed=streamed)
        return path
    return make


def unicode_path(name, real):
    """The Unicode Path extra field: version 1, CRC of the header's name, UTF-8 name."""
    return fx.extra_field(0x7075, b"\x01" + struct.pack("<I", zlib.crc32(name)) + real.encode())


NATIVE = b"\x81ber.txt"  # "über.txt" in code page 437
UNICODE_NAMED = Member(
    NATIVE, fx.sample_text(4000, 9), comment=b"\x81",
    local_extra=fx.extra_field(0x5455, b"\x01abcd") + unicode_path(NATIVE, "über.txt"),
    central_extra=(fx.extra_field(0x6375, b"\x01" + struct.pack("<I", zlib.crc32(b"\x81")) +
                                  "ü".encode()) + unicode_path(NATIVE, "über.txt") +
                   fx.extra_field(0x5455, b"\x01abcd")))


def by_hand(**layout):
    def make(folder):
        return write(os.path.join(folder, "built.zip"), fx.build([
            Member("bare.txt", fx.sample_text(9000, 6), level=1, descriptor="bare"),
            Member("signed.txt", fx.sample_text(7000, 7), level=9, descriptor="signed",
                   local_extra=fx.extra_field(0x7777, b"local"), comment=b"signed",
                   central_extra=fx.extra_field(0x7778, b"central")),
            Member("stored.bin", os.urandom(500), method=0, descriptor="bare"),
            Member("dir/", b"", method=0), Member("dir/empty", b"", descriptor="signed"),
            Member("filtered.txt", fx.sample_text(6000, 8), level=0), UNICODE_NAMED,
            Member("empty folder/", b"", method=0),
        ], comment=b"built by hand", **layout))
    return make


MAKERS = {
    "zip -1": by_zip_tool("-1"), "zip -9": by_zip_tool("-9"),
    "zipfile": by_zipfile(False), "zipfile with descriptors": by_zipfile(True),
    "by hand, descriptors": by_hand(),
    "by hand, entries out of offset order": by_hand(central_order=[4, 1, 5, 0, 7, 3, 6, 2]),
    "example": lambda folder: write(os.path.join(folder, "licenses.zip"), read(EXAMPLE)),
}
OPTION_SETS = [(), ("-c",), ("-k",), ("-c", "-k"), ("-x",)]


def layout(path):
    """(archive comment, {name: (member comment, central extra, local extra)})
    of the members that are not directories."""
    raw = read(path)
    return zip_end_record(raw)[2], {e.name: (e.comment, e.central_extra, e.local_extra)
                                    for e in zip_entries(raw) if not e.name.endswith(b"/")}


def kept(layout_before, options):
    """What the table of kept structures leaves of layout_before: -c keeps
    comments, -k extra fields and member comments. Without -k only the
    Unicode Path subfields stay, and the Unicode Comment ones with -c."""
    comments, extras = "-c" in options, "-k" in options
    tags = {0x7075, 0x6375} if comments else {0x7075}

    def field(extra):
        return extra if extras else b"".join(
            fx.extra_field(tag, payload) for tag, payload in zip_subfields(extra) if tag in tags)
    comment, entries = layout_before
    return comment if comments else b"", {
        name: (member_comment if comments or extras else b"", field(central), field(local))
        for name, (member_comment, central, local) in entries.items()}


def unzip(*args):
    """What unzip with args prints, in a UTF-8 locale."""
    return subprocess.run(["unzip", *args], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                          env=dict(os.environ, LC_ALL="C.UTF-8")).stdout


class ArchivesReadBack(ScratchTest):
    def optimise(self, path, *options, password=None):
        """Runs the program on path, which then passes unzip -t and reads
        back the same members and folders; returns the output."""
        before = fx.content(path, password)
        out = self.trimbit(*options, path)
        fx.assert_same_content(self, path, before, password)
        return out

    def test_every_member_reads_back_with_every_option_set(self):
        for maker, make in MAKERS.items():
            for n, options in enumerate(OPTION_SETS):
                with self.subTest(archive=maker, options=options):
                    path = make(os.path.join(self.folder, maker + str(n)))
                    structures, size, names = layout(path), len(read(path)), fx.raw_names(path)
                    self.assertIn("File rewritten.", self.optimise(path, "-f", *options))
                    self.assertLessEqual(os.path.getsize(path), size)
                    self.assertEqual(layout(path), kept(structures, options))
                    # Every name stays byte for byte; only folders that another
                    # member's name makes anyway may go.
                    self.assertTrue(set(fx.raw_names(path)) <= set(names))
                    for gone, _local in set(names) - set(fx.raw_names(path)):
                        self.assertTrue(gone.endswith(b"/"), gone)
                        self.assertTrue(any(n.startswith(gone) and n != gone for n, _ in names))
                    # Descriptors go; empty members become stored without data;
                    # central entries follow the local headers, with no gap.
                    at = 0
                    for e in zip_entries(read(path)):
                        self.assertEqual(e.flags & 0x08, 0, e.name)
                        if e.size == 0:
                            self.assertEqual((e.method, e.data), (0, b""), e.name)
                        self.assertEqual(e.data_at, at + 30 + len(e.local_name + e.local_extra))
                        at = e.data_at + len(e.data)

    def test_archives_past_16_mib_stream(self):
        # Read as they go, the new archive sent to the temporary file as it
        # grows: the first local header is patched there. A second run leaves it.
        path = os.path.join(self.folder, "large.zip")
        fx.python_archive(path, [
            ("big.bin", os.urandom(17 << 20), zipfile.ZIP_DEFLATED, b"", b""),
            ("words.txt", fx.sample_text(20000, 2), zipfile.ZIP_DEFLATED, b"", b"")],
            comment=b"archive comment", streamed=True)
        size = os.path.getsize(path)
        self.assertIn("File rewritten.", self.optimise(path))
        after = read(path)
        self.assertLess(len(after), size)
        first = zip_entries(after)[0]
        self.assertEqual(struct.unpack_from("<I", after, 18)[0], len(first.data))
        self.optimise(path)
        self.assertEqual(read(path), after)

    def test_archive_without_members_becomes_a_bare_end_record(self):
        comment, signature = b"c" * 65535, b"not really a signature"
        for options in OPTION_SETS:
            with self.subTest(options=options):
                path = self.write("test.zip", fx.build([], comment=comment, signature=signature))
                self.trimbit("-f", *options, path)
                kept_comment = comment if "-c" in options else b""
                expected = (struct.pack("<IH", fx.SIGNATURE, len(signature)) + signature
                            if "-k" in options else b"")
                expected += struct.pack("<IHHHHIIH", fx.END, 0, 0, 0, 0, 0, 0, len(kept_comment))
                self.assertEqual(read(path), expected + kept_comment)

    def test_folder_entries_go_only_when_a_member_below_makes_them(self):
        text = fx.sample_text(2000)
        for names, kept_names in [  # (entries in file order, those kept; None: all)
                (["a/", "a/b/", "a/b/c"], ["a/b/c"]), (["only/", "only/deeper/"], ["only/deeper/"]),
                (["empty/", "other/"], None), (["d/", "d/x", "d/"], ["d/x"]),
                (["a/", "ab/c", "b/a/x"], None), (["a/", "a\\b"], None),
                (["a/", "a//", "a/./", "a/.."], None), (["a/", "a/./b"], ["a/./b"])]:
            with self.subTest(names=names):
                path = self.write("test.zip", fx.build([
                    Member(n, b"", method=0) if n.endswith("/") else Member(n, text)
                    for n in names]))
                self.optimise(path, "-f")
                self.assertEqual(fx.raw_names(path),
                                 [(n.encode(), n.encode()) for n in kept_names or names])

    def test_names_kept_byte_for_byte(self):
        text = fx.sample_text(5000, 3)
        fx.zip_tool(self.folder, {"report\\2024.txt": text, "..\\..\\x": text[::-1],
                                  "ends\\": b""}, "-9")
        path = fx.zip_tool(self.folder, {"locked\\file.txt": text[:3000]}, "-P", "secret")
        names = fx.raw_names(path)
        self.assertIn((b"..\\..\\x", b"..\\..\\x"), names)
        self.optimise(path, "-f", password=b"secret")
        self.assertEqual(fx.raw_names(path), names)

        # Some tools write backslashes in the local header only: zipfile
        # refuses such a pair, unzip warns and goes by the central name.
        raw = fx.build([Member("dir/name", text)])
        mixed = self.write("mixed.zip", raw.replace(b"dir/name", b"dir\\name", 1))
        seen = unzip("-Z1", mixed), unzip("-p", mixed), fx.raw_names(mixed)
        self.assertEqual(seen[:2], (b"dir/name\n", text))
        self.trimbit("-f", mixed)
        self.assertEqual((unzip("-Z1", mixed), unzip("-p", mixed), fx.raw_names(mixed)), seen)

    def test_unicode_path_field_kept_and_malformed_extra_fields_dropped(self):
        # A subfield whose length runs past the field; a subfield header cut short.
        field = unicode_path(b"broken.txt", "bröken.txt")
        broken = Member("broken.txt", fx.sample_text(3000, 4),
                        local_extra=field + b"\x99\x99\xff\xff", central_extra=field + b"up\x01")
        path = self.write("test.zip", fx.build([UNICODE_NAMED, broken]))
        listed = unzip("-Z1", path)
        self.assertEqual(listed.split(), ["über.txt".encode(), "bröken.txt".encode()])
        self.optimise(path)
        self.assertEqual(unzip("-Z1", path), listed)
        extras = {e.name: (e.local_extra, e.central_extra) for e in zip_entries(read(path))}
        self.assertEqual(extras[NATIVE], (unicode_path(NATIVE, "über.txt"),) * 2)
        self.assertEqual(extras[b"broken.txt"], (field, field))

    def test_other_methods_copied_and_named_descriptors_and_directories_dropped(self):
        data = os.urandom(200)
        raw = fx.build([Member("d/", b"", method=0),
                        Member("d/s", data, method=0, descriptor="bare"),
                        Member("k", data, method=1, descriptor="signed"),
                        Member("i", data, method=6, flags=6), Member("x", data, method=9),
                        Member("u", data, method=12)])
        path = self.write("test.zip", raw)
        out = self.trimbit("-v", path)
        for name in ["Stored", "Shrink", "Implode 8k3", "Deflate64", "Unknown"]:
            self.assertIn('\n  Compression method is "%s"; no deflated data to optimise.\n' % name,
                          out)
        self.assertIn('[ZIPPED]: "d/"\n\n  Stored directory name; skipping.\n', out)
        saved = (30 + 46 + 2 * len("d/")) + 12 + 16  # the directory entry and the descriptors
        self.assertIn("Number of bytes saved for this zip: {:,} ({:,} --> {:,})".format(
            saved, len(raw), len(raw) - saved), out)
        self.assertEqual(os.path.getsize(path), len(raw) - saved)
        entries = zip_entries(read(path))
        self.assertEqual([(e.data, e.local_flags & 0x08) for e in entries], [(data, 0)] * 5)

    def test_archives_with_data_outside_their_members_are_left_unchanged(self):
        text = fx.sample_text(6000, 5)
        pairs = struct.pack("<QI", 12, 0x7109871A) + bytes(8)
        size = struct.pack("<Q", len(pairs) + 24)
        signing_block = size + pairs + size + b"APK Sig Block 42"

        def stub_by_zip_tool(folder):
            plain = fx.zip_tool(folder, {"a.txt": text, "b.txt": text[::-1]}, "-9")
            path = write(os.path.join(folder, "sfx.zip"),
                         b"#!/bin/sh\necho self-extracting\nexit 0\n" + read(plain))
            subprocess.run(["zip", "-qA", path], check=True, stdout=subprocess.DEVNULL)
            return path

        def by_hand(after=(b"", b""), descriptors=(None, None), **layout):
            return fx.build([Member("a.txt", text, after=after[0], descriptor=descriptors[0]),
                             Member("b.txt", text[::-1], after=after[1],
                                    descriptor=descriptors[1])], **layout)

        cases = [  # (where the bytes are, archive or its maker, options)
            ("a stub made self-extracting by zip -A", stub_by_zip_tool, ()),
            ("between members", by_hand(after=(bytes(7), b"")), ()),
            ("behind a data descriptor",
             by_hand(after=(b"gap", b""), descriptors=("signed", "bare")), ()),
            ("an Android signing block before the central directory",
             by_hand(after=(b"", signing_block)), ("-a",)),
            ("before the end record", by_hand(before_end=b"junk"), ()),
            ("behind the digital signature", by_hand(signature=b"sig", before_end=b"x"), ("-k",)),
            ("before the first member, offsets counted from the file's start",
             by_hand(start=b"MZ" + bytes(100)), ()),
        ] + [("%d bytes after the end record" % n, by_hand(comment=b"note") + bytes(n), ())
             for n in [1, 65532, 65533, 200000]]  # either side of the end-record search's chunks
        for where, make, options in cases:
            with self.subTest(where=where):
                folder = os.path.join(self.folder, where)
                path = make(folder) if callable(make) else write(
                    os.path.join(folder, "app.apk" if "-a" in options else "test.zip"), make)
                plain = write(os.path.join(folder, "plain.zip"), fx.build([Member("c.txt", text)]))
                before = read(path)
                out = self.trimbit("-f", *options, path, plain)
                self.assertIn('"\nArchive holds data outside its members; left unchanged.\n', out)
                self.assertEqual(read(path), before)
                self.assertEqual(out.count("File rewritten."), 1)  # the plain one

    def test_nothing_to_save_leaves_the_archive_alone(self):
        before = fx.build([Member("a", os.urandom(300), method=0)])
        path = self.write("test.zip", before)
        out = self.trimbit(path)
        self.assertNotIn("File rewritten.", out)
        forced = self.trimbit("-f", path)
        self.assertIn("Number of bytes saved: 0 (", forced)
        self.assertIn("File rewritten.", forced)
        self.assertEqual(read(path), before)

    def test_encrypted_members_are_copied_byte_for_byte(self):
        # The local header with its flags and extra fields, the data and the
        # descriptor stay; the central entry changes only its offset. The
        # other members are optimised.
        fx.zip_tool(self.folder, {"plain.txt": fx.sample_text(30000, 1)}, "-9")
        fx.zip_tool(self.folder, {"locked.txt": fx.sample_text(20000, 2), "locked-empty.txt": b""},
                    "-9", "-P", "secret")
        path = fx.zip_tool(self.folder, {"plain2.txt": fx.sample_text(9000, 3)}, "-1")

        def spans():
            """{name: (bytes from its local header to the next member, central entry
            without its offset)}, and the names of the encrypted members."""
            raw = read(path)
            entries = sorted(zip_entries(raw), key=lambda e: e.offset)
            ends = [e.offset for e in entries[1:]] + [zip_end_record(raw)[1][6]]
            return {e.name: (raw[e.offset:end], e.central[:42] + e.central[46:])
                    for e, end in zip(entries, ends)}, {e.name for e in entries if e.flags & 1}

        expected, (before, sealed) = fx.content(path, b"secret"), spans()
        # zip writes descriptors for them; the empty one holds its 12-byte
        # encryption header.
        with zipfile.ZipFile(path) as z:
            self.assertEqual({i.filename for i in z.infolist() if i.flag_bits & 9 == 9},
                             {"locked.txt", "locked-empty.txt"})
            self.assertEqual(z.getinfo("locked-empty.txt").compress_size, 12)
        out = self.trimbit("-v", path)
        self.assertEqual(out.count("Encrypted member; copied unchanged."), len(sealed))
        after = spans()[0]
        for name in before:
            if name in sealed:
                self.assertEqual(after[name], before[name], name)
            else:
                self.assertLess(len(after[name][0]), len(before[name][0]), name)
                entry = next(e for e in zip_entries(read(path)) if e.name == name)
                self.assertEqual((entry.local_flags & 0x09, entry.local_extra), (0, b""), name)
        fx.assert_same_content(self, path, expected, b"secret")


if __name__ == "__main__":
    unittest.main()
