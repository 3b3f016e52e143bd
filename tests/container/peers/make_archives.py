#!/usr/bin/env python3
"""Writes the zip archives of the package tests into a folder, one <kind>.zip per kind, and prints
"ok". Well-formed ones come from Python's zipfile where it can write them; the others are written
record by record with struct, each with one fault.

Usage: make_archives.py <folder>
"""
import io
import os
import struct
import sys
import zipfile
import zlib

LOCAL, CENTRAL, END = 0x04034B50, 0x02014B50, 0x06054B50
ZIP64_END, ZIP64_LOCATOR, DESCRIPTOR = 0x06064B50, 0x07064B50, 0x08074B50
STORED, DEFLATED = 0, 8
UTF8_FLAG, DESCRIPTOR_FLAG = 0x800, 0x8
DATE = (2026, 1, 1, 0, 0, 0)


class Entry:
    """One entry; `local` overrides fields of its local header only (name, method, csize, crc)."""

    def __init__(self, name, data=b"", method=DEFLATED, flags=0, descriptor=False, local=None, descriptor_crc=None,
                 extra=b""):
        self.name = name if isinstance(name, bytes) else name.encode("utf-8")
        self.data = data if isinstance(data, bytes) else data.encode("utf-8")
        self.method, self.flags, self.descriptor = method, flags, descriptor
        self.local = local or {}
        self.descriptor_crc = descriptor_crc
        self.extra = extra  # extra fields of both headers
        if self.local.get("payload") is not None:
            self.payload = self.local["payload"]
        elif method == DEFLATED:
            packer = zlib.compressobj(9, zlib.DEFLATED, -15)
            self.payload = packer.compress(self.data) + packer.flush()
        else:
            self.payload = self.data
        self.crc = zlib.crc32(self.data)


def write(entries, start=0, comment=b"", count=None, directory_size_delta=0, skip_central=0, zip64=False,
          comment_length=None, gap=b""):
    """The archive's bytes; offsets count from `start` (bytes the caller puts before it); `gap`
    stands after each entry."""
    out, central = bytearray(), bytearray()
    for e in entries:
        e.offset = start + len(out)
        flags = e.flags | (DESCRIPTOR_FLAG if e.descriptor else 0)
        name = e.local.get("name", e.name)
        crc, csize, usize = e.local.get("crc", e.crc), e.local.get("csize", len(e.payload)), len(e.data)
        extra = e.extra
        if zip64:
            extra += struct.pack("<HHQQ", 1, 16, usize, csize)
            csize = usize = 0xFFFFFFFF
        if e.descriptor:
            crc, csize, usize = e.local.get("crc", 0), e.local.get("csize", 0), e.local.get("usize", 0)
        out += struct.pack("<IHHHHHIIIHH", LOCAL, 45 if zip64 else 20, flags, e.local.get("method", e.method),
                           0, 0x5C21, crc, csize, usize, len(name), len(extra)) + name + extra + e.payload
        if e.descriptor:
            out += struct.pack("<IIII", DESCRIPTOR, e.descriptor_crc if e.descriptor_crc is not None else e.crc,
                               len(e.payload), len(e.data))
        out += gap
    for e in entries:
        flags = e.flags | (DESCRIPTOR_FLAG if e.descriptor else 0)
        csize, usize, offset, extra = len(e.payload), len(e.data), e.offset, e.extra
        if zip64:
            extra += struct.pack("<HHQQQ", 1, 24, usize, csize, offset)
            csize = usize = offset = 0xFFFFFFFF
        central += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, (3 << 8) | 45, 45 if zip64 else 20, flags, e.method,
                               0, 0x5C21, e.crc, csize, usize, len(e.name), len(extra), 0, 0, 0,
                               0o100644 << 16, offset) + e.name + extra
    directory_offset = start + len(out)
    for e in entries[:skip_central]:  # records left out of the directory the end record names
        directory_offset += 46 + len(e.name) + (28 if zip64 else 0)
    out += central
    n = len(entries) - skip_central if count is None else count
    size = len(central) - (directory_offset - start - (len(out) - len(central))) + directory_size_delta
    if zip64:
        zip64_at = start + len(out)
        out += struct.pack("<IQHHIIQQQQ", ZIP64_END, 44, 45, 45, 0, 0, n, n, size, directory_offset)
        out += struct.pack("<IIQI", ZIP64_LOCATOR, 0, zip64_at, 1)
        n, size, directory_offset = 0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF
    length = len(comment) if comment_length is None else comment_length
    out += struct.pack("<IHHHHIIH", END, 0, 0, n, n, size, directory_offset, length) + comment
    return bytes(out)


def with_zipfile(files, comment=b"", stream=None, force_zip64=False, folders=()):
    out = stream or io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
        for folder in folders:
            zf.writestr(folder, "")  # deflated, as zipfile writes a folder named by text
        for name, text in files:
            info = zipfile.ZipInfo(name, DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            with zf.open(info, "w", force_zip64=force_zip64) as entry:
                entry.write(text.encode("utf-8"))
        zf.comment = comment
    return out


class Unseekable(io.RawIOBase):
    """A stream zipfile cannot seek back in: it writes data descriptors."""

    def __init__(self):
        self.data = bytearray()

    def writable(self):
        return True

    def write(self, b):
        self.data += b
        return len(b)


def python_bytes(*args, **kwargs):
    return with_zipfile(*args, **kwargs).getvalue()


def descriptor_archive():
    stream = Unseekable()
    with_zipfile([("index.html", "streamed index"), ("js/app.js", "streamed app")], stream=stream)
    return bytes(stream.data)


def nested_overlap():
    # The first entry's stored data holds the whole second entry, whose local header the
    # directory names as well.
    inner = Entry("b.html", "inner", STORED)
    inner_bytes = write([inner], start=30 + len("a.html"))
    inner_local = inner_bytes[:30 + len("b.html") + len(inner.payload)]
    outer = Entry("a.html", inner_local, STORED)
    body = write([outer])
    local_end = 30 + len("a.html") + len(outer.payload)
    inner.offset = 30 + len("a.html")
    central = bytearray()
    for e in (outer, inner):
        central += struct.pack("<IHHHHHHIIIHHHHHII", CENTRAL, 20, 20, 0, e.method, 0, 0x5C21, e.crc,
                               len(e.payload), len(e.data), len(e.name), 0, 0, 0, 0, 0, e.offset) + e.name
    return (body[:local_end] + bytes(central) +
            struct.pack("<IHHHHIIH", END, 0, 0, 2, 2, len(central), local_end, 0))


def unicode_path(text, raw, version=1, crc=None):
    """A Unicode path extra field (0x7075) giving `text` for the raw name bytes `raw`."""
    data = struct.pack("<BI", version, zlib.crc32(raw) if crc is None else crc) + text.encode("utf-8")
    return struct.pack("<HH", 0x7075, len(data)) + data


def legacy(text, unicode_text=None, **field):
    """An entry named in GBK without the UTF-8 flag, carrying its UTF-8 spelling in the Unicode
    path field (or `unicode_text` instead)."""
    raw = text.encode("gbk")
    spelled = text if unicode_text is None else unicode_text
    return lambda data: Entry(raw, data, extra=unicode_path(spelled, raw, **field))


def deep(levels, leaf="x.html", folder="a"):
    return "/".join([folder] * levels + [leaf])


def cases():
    three = lambda: [Entry("index.html", "index"), Entry("a.html", "a"), Entry("b.html", "b")]
    yield "undercount", write(three(), count=2)
    yield "overcount", write(three(), count=4)
    yield "zip64-undercount", write(three(), zip64=True, count=2)
    yield "directory-size", write(three(), directory_size_delta=-1)
    yield "hidden-first-entry", write(three(), skip_central=1)
    many = [Entry("m/%d" % i, b"", STORED) for i in range(10001)]
    yield "many-undercounted", write(many, count=1)
    yield "empty", write([])
    yield "folders-only", python_bytes([], folders=("a/", "a/b/"))
    yield "flagged-not-utf8", write([Entry(b"\xff\xfe.html", "x", flags=UTF8_FLAG)])
    yield "flagged-overlong", write([Entry("index.html", "i"), Entry(b"\xc0\xae\xc0\xae/x.html", "x", flags=UTF8_FLAG)])
    yield "case-duplicate", python_bytes([("index.html", "lower"), ("INDEX.html", "upper")])
    yield "case-folder", python_bytes([("Css/a.css", "a"), ("css/b.css", "b")])
    yield "drive", python_bytes([("C:/index.html", "drive")])
    yield "colon", python_bytes([("index.html", "i"), ("c:x.html", "drive relative")])
    yield "overlap", nested_overlap()
    yield "folder-data", write([Entry("index.html", "i"), Entry("d/", "hidden", STORED)])
    yield "comment-past-end", write(three(), comment=b"short", comment_length=100)
    plain = python_bytes([("index.html", "prefixed")])
    yield "prefix", b"J" * 100 + plain
    yield "prefix-shifted", b"J" * 100 + write([Entry("index.html", "prefixed")], start=100)
    yield "local-name", write([Entry("a.html", "a", local={"name": b"b.html"})])
    yield "local-method", write([Entry("a.html", "a", STORED, local={"method": DEFLATED})])
    yield "local-size", write([Entry("a.html", "abc", STORED, local={"csize": 2})])
    yield "descriptor-crc", write([Entry("a.html", "abc", descriptor=True, descriptor_crc=1)])
    # Well-formed, each once refused.
    yield "zip64", write([Entry("index.html", "sixty-four"), Entry("js/app.js", "x" * 1000, STORED)], zip64=True)
    yield "max-comment", python_bytes([("index.html", "commented")], comment=b"c" * 65535)
    yield "legacy-names", write([Entry(b"caf\x82.html", "cp437"), Entry("中文.html", "plain utf-8"),
                                 Entry("页/新.html", "flagged", flags=UTF8_FLAG)])
    yield "descriptors", descriptor_archive()
    yield "python-zip64", python_bytes([("index.html", "forced"), ("img/a.txt", "b" * 300)], force_zip64=True)
    yield "folders", python_bytes([("d/x.html", "in d")], folders=("d/", "e/"))
    # Names and folders against the limits: 64 components install, 65 do not; the folders names
    # imply count with the entries.
    yield "deep-64", python_bytes([(deep(63), "deep")])
    yield "deep-65", python_bytes([("index.html", "i"), (deep(64), "too deep")])
    yield "folder-flood", write([Entry("/".join("f%d_%d" % (i, j) for j in range(60)) + "/x", b"", STORED)
                                 for i in range(170)])
    # 200 names of 2,047 components (4,095 bytes) each, and 200 names as long in one component.
    yield "deep-names", write([Entry("%03d/" % i + deep(2045, "a"), b"", STORED) for i in range(200)])
    yield "flat-names", write([Entry("%03d" % i + "a" * 4092, b"", STORED) for i in range(200)])
    # Files taking turns between two folders 63 levels deep.
    yield "alternating", write([Entry(deep(62, "f%d.html" % i, "ab"[i % 2]), "file %d" % i, STORED)
                                for i in range(200)])
    # The Unicode path field: GBK names with their UTF-8 spelling; a field written for other
    # bytes, or of another version, is not taken; the spelling it gives meets every name rule.
    yield "unicode-path", write([legacy("页面/首页.html")("unicode"), legacy("旧.html", "新.html", crc=1)("stale"),
                                 legacy("v2.html", "version.html", version=2)("version 2")])
    yield "unicode-path-traversal", write([Entry("index.html", "i"), legacy("a.html", "../evil.html")("evil")])
    yield "unicode-path-case", write([Entry("index.html", "i"), legacy("b.html", "INDEX.html")("shadow")])
    yield "unicode-path-not-utf8", write([Entry("index.html", "i"),
                                          Entry("a.html", "x", extra=struct.pack("<HHBI", 0x7075, 7, 1,
                                                                                 zlib.crc32(b"a.html")) + b"\xff\xfe")])
    # A deflated file without any data bytes; one folder spelled in NFC and in NFD.
    yield "empty-deflated", write([Entry("index.html", "i"), Entry("empty.txt", b"", local={"payload": b""})])
    yield "normalization-duplicate", write([Entry("caf\u00e9.html", "composed"),
                                            Entry("cafe\u0301.html", "decomposed")])
    yield "normalization-folder", write([Entry("caf\u00e9/a.html", "a"), Entry("cafe\u0301/b.html", "b")])
    # Bytes between entries, and a descriptor entry whose local header holds other CRC and sizes.
    yield "gaps", write([Entry("index.html", "gapped"), Entry("js/app.js", "gapped app")], gap=b"\0" * 7)
    yield "descriptor-local-other", write([Entry("index.html", "described", descriptor=True,
                                                 local={"crc": 0x1234, "csize": 5, "usize": 9})])


def main():
    folder = sys.argv[1]
    for kind, data in cases():
        with open(os.path.join(folder, kind + ".zip"), "wb") as f:
            f.write(data)
    print("ok", flush=True)


if __name__ == "__main__":
    main()
