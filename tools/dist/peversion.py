#!/usr/bin/env python3
"""Prints the version resource of a Windows executable or DLL, one field a line:

    FileVersion (fixed): 1.0.0.0
    ProductVersion (fixed): 1.0.0.0
    CompanyName: Vantor Technology
    ...

Reads the file's own resource section (RT_VERSION), so that it shows what
Windows' file properties would. Exit 1 when the file has no version resource,
2 when it is not a PE image.
"""
import struct
import sys

RT_VERSION = 16


class NotPE(Exception):
    pass


def sections(data):
    if data[:2] != b"MZ":
        raise NotPE("no MZ header")
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise NotPE("no PE signature")
    count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    table = optional + optional_size
    result = []
    for i in range(count):
        _, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
        result.append((rva, max(vsize, rawsize), rawptr))
    return resource_rva, result


def offset_of(rva, secs):
    for start, size, raw in secs:
        if start <= rva < start + size:
            return raw + rva - start
    raise NotPE("RVA 0x%x outside every section" % rva)


def version_resource(data):
    resource_rva, secs = sections(data)
    if not resource_rva:
        return None
    base = offset_of(resource_rva, secs)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, at + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, at + 16 + 8 * i)
            yield name, target

    for name, target in entries(base):
        if name != RT_VERSION or not target & 0x80000000:
            continue
        level = base + (target & 0x7FFFFFFF)
        # Name, then language: the first of each.
        for _ in range(2):
            _, target = next(entries(level))
            level = base + (target & 0x7FFFFFFF)
        rva, size = struct.unpack_from("<II", data, level)
        start = offset_of(rva, secs)
        return data[start:start + size]
    return None


def read_block(blob, at):
    """One VS_VERSIONINFO-style node: (length, value length, type, key, value start)."""
    length, value_length, kind = struct.unpack_from("<HHH", blob, at)
    key_end = at + 6
    while blob[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = blob[at + 6:key_end].decode("utf-16-le")
    value = (key_end + 2 + 3) & ~3
    return length, value_length, kind, key, value


def fields(blob):
    length, value_length, _, key, value = read_block(blob, 0)
    if key != "VS_VERSION_INFO":
        raise NotPE("resource is not VS_VERSION_INFO")
    out = []
    if value_length >= 52:
        ms, ls, pms, pls = struct.unpack_from("<IIII", blob, value + 8)
        out.append(("FileVersion (fixed)", "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)))
        out.append(("ProductVersion (fixed)",
                    "%d.%d.%d.%d" % (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)))
    child = (value + value_length + 3) & ~3
    while child < length:
        clength, _, _, ckey, cvalue = read_block(blob, child)
        if ckey == "StringFileInfo":
            table = cvalue
            while table < child + clength:
                tlength, _, _, _, tvalue = read_block(blob, table)
                entry = tvalue
                while entry < table + tlength:
                    elength, evalue_length, _, ekey, evalue = read_block(blob, entry)
                    text = blob[evalue:evalue + 2 * evalue_length].decode("utf-16-le").rstrip("\0")
                    out.append((ekey, text))
                    entry = (entry + elength + 3) & ~3
                table = (table + tlength + 3) & ~3
        child = (child + clength + 3) & ~3
    return out


def main(argv):
    if len(argv) != 2:
        print("usage: peversion.py FILE", file=sys.stderr)
        return 2
    try:
        with open(argv[1], "rb") as f:
            data = f.read()
        blob = version_resource(data)
        if blob is None:
            print("%s: no version resource" % argv[1], file=sys.stderr)
            return 1
        for key, value in fields(blob):
            print("%s: %s" % (key, value))
    except (NotPE, struct.error, OSError, StopIteration) as e:
        print("%s: %s" % (argv[1], e), file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
