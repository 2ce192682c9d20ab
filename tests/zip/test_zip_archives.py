"""Archives made by the zip tool, by Python's zipfile and by hand are
optimised, and afterwards pass `unzip -t` and read back with zipfile with the
same members, contents, CRCs and folders, keeping what each option keeps: -c
the comments, -k the extra fields, member comments and the digital signature;
names byte for byte, and the Unicode Path field always."""

import os
import struct
import subprocess
import unittest
import zipfile
import zlib

import zip_fixtures as fx
from zip_fixtures import Member

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
        return fx.write_file(os.path.join(folder, "built.zip"), fx.build([
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
    "example": lambda folder: fx.write_file(os.path.join(folder, "licenses.zip"), fx.read(EXAMPLE)),
}
OPTION_SETS = [(), ("-c",), ("-k",), ("-c", "-k")]


def layout(path):
    """(archive comment, {name: (member comment, central extra, local extra)})
    of the members that are not directories."""
    with zipfile.ZipFile(path) as z:
        comment, infos = z.comment, [i for i in z.infolist() if not i.is_dir()]
    local = {name: extra for name, _flags, extra, _at, _size in fx.local_headers(path)}
    return comment, {i.filename: (i.comment, i.extra, local[i.filename]) for i in infos}


def kept(layout_before, options):
    """What the table of kept structures leaves of layout_before: -c keeps
    comments, -k extra fields and member comments. Without -k only the
    Unicode Path subfields stay, and the Unicode Comment ones with -c."""
    comments, extras = "-c" in options, "-k" in options
    tags = {0x7075, 0x6375} if comments else {0x7075}

    def field(extra):
        return extra if extras else b"".join(
            fx.extra_field(tag, payload) for tag, payload in fx.subfields(extra) if tag in tags)
    comment, entries = layout_before
    return comment if comments else b"", {
        name: (member_comment if comments or extras else b"", field(central), field(local))
        for name, (member_comment, central, local) in entries.items()}


class ArchivesReadBack(fx.ArchiveTest):
    def test_every_member_reads_back_with_every_option_set(self):
        for maker, make in MAKERS.items():
            for n, options in enumerate(OPTION_SETS):
                with self.subTest(archive=maker, options=options):
                    path = make(os.path.join(self.folder, maker + str(n)))
                    before, structures, size = fx.content(path), layout(path), len(fx.read(path))
                    names = fx.raw_names(path)
                    result = self.trimbit("-f", *options, path)
                    self.assertEqual(result.code, 0, result.stdout)
                    self.assertIn("File rewritten.", result.stdout)
                    self.assertLessEqual(os.path.getsize(path), size)
                    fx.assert_same_content(self, path, before)
                    self.assertEqual(layout(path), kept(structures, options))
                    # Every name stays byte for byte; only folders that another
                    # member's name makes anyway may go.
                    self.assertTrue(set(fx.raw_names(path)) <= set(names))
                    for gone, _local in set(names) - set(fx.raw_names(path)):
                        self.assertTrue(gone.endswith(b"/"), gone)
                        self.assertTrue(any(n.startswith(gone) and n != gone for n, _ in names))
                    with zipfile.ZipFile(path) as z:
                        infos = z.infolist()
                    # Descriptors go; empty members become stored without data.
                    self.assertEqual([i.filename for i in infos if i.flag_bits & 0x08], [])
                    for i in infos:
                        if i.file_size == 0:
                            self.assertEqual((i.compress_type, i.compress_size), (0, 0))
                    # Central entries follow the local headers, with no gap between members.
                    at = 0
                    for name, _flags, extra, data_at, size in fx.local_headers(path):
                        self.assertEqual(at + 30 + len(name.encode("cp437")) + len(extra),
                                         data_at)
                        at = data_at + size

    def test_archive_without_members_becomes_a_bare_end_record(self):
        comment, signature = b"c" * 65535, b"not really a signature"
        for options in OPTION_SETS:
            with self.subTest(options=options):
                path = self.write(fx.build([], comment=comment, signature=signature))
                result = self.trimbit("-f", *options, path)
                self.assertEqual(result.code, 0, result.stdout)
                kept_comment = comment if "-c" in options else b""
                expected = (struct.pack("<IH", fx.SIGNATURE, len(signature)) + signature
                            if "-k" in options else b"")
                expected += struct.pack("<IHHHHIIH", fx.END, 0, 0, 0, 0, 0, 0, len(kept_comment))
                self.assertEqual(fx.read(path), expected + kept_comment)

    def test_folder_entries_go_only_when_a_member_below_makes_them(self):
        text = fx.sample_text(2000)
        for names, left_out in [  # (entries, in file order; those left out)
                (["a/", "a/b/", "a/b/c"], ["a/", "a/b/"]),
                (["only/", "only/deeper/"], ["only/"]),
                (["empty/", "other/"], []),
                (["d/", "d/x", "d/"], ["d/", "d/"]),
                (["a/", "ab/c", "b/a/x"], []),
                (["a/", "a\\b"], []),
                (["a/", "a//", "a/./", "a/.."], []),
                (["a/", "a/./b"], ["a/"]),
        ]:
            with self.subTest(names=names):
                path = self.write(fx.build([
                    Member(n, b"", method=0) if n.endswith("/") else Member(n, text)
                    for n in names]))
                before = fx.content(path)
                result = self.trimbit("-f", path)
                self.assertEqual(result.code, 0, result.stdout)
                fx.assert_same_content(self, path, before)
                kept_names = list(names)
                for name in left_out:
                    kept_names.remove(name)
                self.assertEqual(fx.raw_names(path),
                                 [(n.encode(), n.encode()) for n in kept_names])

    def test_empty_folders_of_the_zip_tool_are_kept(self):
        path = fx.zip_tool(self.folder, {"top/": b"", "top/empty/": b"", "top/full/": b"",
                                         "top/full/f.txt": fx.sample_text(3000),
                                         "alone/": b""}, "-9")
        before = fx.content(path)
        result = self.trimbit(path)
        self.assertEqual(result.code, 0, result.stdout)
        fx.assert_same_content(self, path, before)
        names = subprocess.run(["unzip", "-Z1", path], stdout=subprocess.PIPE, check=True).stdout
        self.assertEqual(names.split(), [b"top/empty/", b"top/full/f.txt", b"alone/"])

    def test_names_kept_byte_for_byte(self):
        text = fx.sample_text(5000, 3)
        fx.zip_tool(self.folder, {"report\\2024.txt": text, "..\\..\\x": text[::-1],
                                  "ends\\": b""}, "-9")
        path = fx.zip_tool(self.folder, {"locked\\file.txt": text[:3000]}, "-P", "secret")
        before, names = fx.content(path, b"secret"), fx.raw_names(path)
        self.assertIn((b"..\\..\\x", b"..\\..\\x"), names)
        result = self.trimbit("-f", path)
        self.assertEqual(result.code, 0, result.stdout)
        fx.assert_same_content(self, path, before, b"secret")
        self.assertEqual(fx.raw_names(path), names)

        # Some tools write backslashes in the local header only: zipfile
        # refuses such a pair, unzip warns and goes by the central name.
        raw = fx.build([Member("dir/name", text)])
        mixed = self.write(raw.replace(b"dir/name", b"dir\\name", 1), "mixed.zip")

        def unzip(*options):
            return subprocess.run(["unzip", *options, mixed], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL, check=False).stdout
        listed, data, names = unzip("-Z1"), unzip("-p"), fx.raw_names(mixed)
        self.assertEqual((listed, data), (b"dir/name\n", text))
        result = self.trimbit("-f", mixed)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertEqual((unzip("-Z1"), unzip("-p"), fx.raw_names(mixed)), (listed, data, names))

    def test_unicode_path_field_kept_and_malformed_extra_fields_dropped(self):
        # A subfield whose length runs past the field; a subfield header cut short.
        field = unicode_path(b"broken.txt", "bröken.txt")
        broken = Member("broken.txt", fx.sample_text(3000, 4),
                        local_extra=field + b"\x99\x99\xff\xff", central_extra=field + b"up\x01")
        path = self.write(fx.build([UNICODE_NAMED, broken]))

        def listing():
            return subprocess.run(["unzip", "-Z1", path], stdout=subprocess.PIPE, check=True,
                                  env=dict(os.environ, LC_ALL="C.UTF-8")).stdout
        before, listed = fx.content(path), listing()
        self.assertEqual(listed.split(), ["über.txt".encode(), "bröken.txt".encode()])
        result = self.trimbit(path)
        self.assertEqual(result.code, 0, result.stdout)
        fx.assert_same_content(self, path, before)
        self.assertEqual(listing(), listed)
        headers = {name: extra for name, _f, extra, _a, _s in fx.local_headers(path)}
        with zipfile.ZipFile(path) as z:
            central = {i.filename: i.extra for i in z.infolist()}
        self.assertEqual(headers[NATIVE.decode("cp437")], unicode_path(NATIVE, "über.txt"))
        self.assertEqual(central[NATIVE.decode("cp437")], unicode_path(NATIVE, "über.txt"))
        self.assertEqual((headers["broken.txt"], central["broken.txt"]), (field, field))

    def test_other_methods_copied_and_named_descriptors_and_directories_dropped(self):
        data = os.urandom(200)
        raw = fx.build([Member("d/", b"", method=0),
                        Member("d/s", data, method=0, descriptor="bare"),
                        Member("k", data, method=1, descriptor="signed"),
                        Member("i", data, method=6, flags=6), Member("x", data, method=9),
                        Member("u", data, method=12)])
        path = self.write(raw)
        result = self.trimbit("-v", path)
        self.assertEqual(result.code, 0, result.stdout)
        for name in ["Stored", "Shrink", "Implode 8k3", "Deflate64", "Unknown"]:
            self.assertIn('\n  Compression method is "%s"; no deflated data to optimise.\n' % name,
                          result.stdout)
        self.assertIn('[ZIPPED]: "d/"\n\n  Stored directory name; skipping.\n', result.stdout)
        saved = (30 + 46 + 2 * len("d/")) + 12 + 16  # the directory entry and the descriptors
        self.assertIn("Number of bytes saved for this zip: {:,} ({:,} --> {:,})".format(
            saved, len(raw), len(raw) - saved), result.stdout)
        self.assertEqual(os.path.getsize(path), len(raw) - saved)
        headers = fx.local_headers(path)
        self.assertEqual([fx.read(path)[at:at + size] for _n, _f, _e, at, size in headers],
                         [data] * 5)
        self.assertEqual([flags & 0x08 for _n, flags, _e, _a, _s in headers], [0] * 5)

    def test_archives_with_data_outside_their_members_are_left_unchanged(self):
        text = fx.sample_text(6000, 5)
        pairs = struct.pack("<QI", 12, 0x7109871A) + bytes(8)
        size = struct.pack("<Q", len(pairs) + 24)
        signing_block = size + pairs + size + b"APK Sig Block 42"

        def stub_by_zip_tool(folder):
            plain = fx.zip_tool(folder, {"a.txt": text, "b.txt": text[::-1]}, "-9")
            path = fx.write_file(os.path.join(folder, "sfx.zip"),
                                 b"#!/bin/sh\necho self-extracting\nexit 0\n" + fx.read(plain))
            subprocess.run(["zip", "-qA", path], check=True, stdout=subprocess.DEVNULL)
            return path

        def by_hand(after=b"", **layout):
            return lambda folder: fx.write_file(os.path.join(folder, "test.zip"), fx.build(
                [Member("a.txt", text, after=after), Member("b.txt", text[::-1])], **layout))

        def with_trailing(count):
            return lambda folder: fx.write_file(os.path.join(folder, "t.zip"), fx.read(
                by_hand(comment=b"note")(folder)) + bytes(count))

        cases = [  # (where the bytes are, maker, options)
            ("a stub made self-extracting by zip -A", stub_by_zip_tool, ()),
            ("between members", by_hand(after=bytes(7)), ()),
            ("behind a data descriptor", lambda folder: fx.write_file(
                os.path.join(folder, "d.zip"), fx.build([
                    Member("a.txt", text, descriptor="signed", after=b"gap"),
                    Member("b.txt", text[::-1], descriptor="bare")])), ()),
            ("an Android signing block before the central directory",
             lambda folder: fx.write_file(os.path.join(folder, "app.apk"), fx.build(
                 [Member("a.txt", text), Member("b.txt", text[::-1], after=signing_block)])),
             ("-a",)),
            ("before the end record", by_hand(before_end=b"junk"), ()),
            ("behind the digital signature", by_hand(signature=b"sig", before_end=b"x"), ("-k",)),
            ("before the first member, offsets counted from the file's start",
             by_hand(start=b"MZ" + bytes(100)), ()),
        ] + [("%d bytes after the end record" % n, with_trailing(n), ())
             for n in [1, 65532, 65533, 200000]]  # either side of the end-record search's chunks
        for where, make, options in cases:
            with self.subTest(where=where):
                folder = os.path.join(self.folder, where)
                path = make(folder)
                plain = fx.write_file(os.path.join(folder, "plain.zip"),
                                      fx.build([Member("c.txt", text)]))
                before = fx.read(path)
                result = self.trimbit("-f", *options, path, plain)
                self.assertEqual(result.code, 0, result.stdout)
                self.assertIn('"\nArchive holds data outside its members; left unchanged.\n',
                              result.stdout)
                self.assertEqual(fx.read(path), before)
                self.assertEqual(result.stdout.count("File rewritten."), 1)  # the plain one

    def test_nothing_to_save_leaves_the_archive_alone(self):
        before = fx.build([Member("a", os.urandom(300), method=0)])
        path = self.write(before)
        result = self.trimbit(path)
        self.assertEqual(result.code, 0, result.stdout)
        self.assertNotIn("File rewritten.", result.stdout)
        forced = self.trimbit("-f", path)
        self.assertIn("Number of bytes saved: 0 (", forced.stdout)
        self.assertIn("File rewritten.", forced.stdout)
        self.assertEqual(fx.read(path), before)


if __name__ == "__main__":
    unittest.main()
