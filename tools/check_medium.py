#!/usr/bin/env python3
"""Checks a distribution medium without running it (the 32-bit one cannot run under this Wine).

Usage: check_medium.py DIST BIN NAMES --machine i386|x64

DIST must hold exactly what the installer copies: the four programs (byte for byte those in BIN,
all built for the given machine), file.dat (the list in NAMES, one name a line, written as one
double-quoted name a line with CR LF), readme.htm and the two shortcuts, which must be shell links
to the installed program and readme, with the installed folder as working directory.
"""
import argparse
import os
import struct
import sys

PROGRAMS = ["setup.exe", "tovra.exe", "tovraa.exe", "utovraa.exe"]
SHORTCUTS = {
    "Tovra Internet Security.lnk": "C:\\Program Files\\tovra\\tovra.exe",
    "About Tovra IS.lnk": "C:\\Program Files\\tovra\\readme.htm",
}
WORKDIR = "C:\\Program Files\\tovra"
MEDIUM = sorted(PROGRAMS + ["file.dat", "readme.htm"] + list(SHORTCUTS))
MACHINES = {"i386": 0x14C, "x64": 0x8664}

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")
MY_COMPUTER = bytes.fromhex("e04fd020ea3a6910a2d808002b30309d")
HAS_ID_LIST, HAS_LINK_INFO, HAS_NAME, HAS_RELATIVE_PATH, HAS_WORKING_DIR = 0x01, 0x02, 0x04, 0x08, 0x10
HAS_ARGUMENTS, HAS_ICON_LOCATION, IS_UNICODE = 0x20, 0x40, 0x80


class LinkError(Exception):
    pass


def file_dat_image(names_text):
    """The bytes the list writer writes for the list: each name in double quotes, CR LF after it."""
    names = names_text.split("\n")
    if names and names[-1] == "":
        names.pop()
    return b"".join(b'"' + n.encode("cp1252") + b'"\r\n' for n in names)


def id_list_path(data):
    """The file-system path that a My Computer / drive / file-entry ID list names."""
    items = []
    pos = 0
    while True:
        if pos + 2 > len(data):
            raise LinkError("ID list runs past its end")
        size = struct.unpack_from("<H", data, pos)[0]
        if size == 0:
            break
        if size < 3 or pos + size > len(data):
            raise LinkError("bad ID list item size %d" % size)
        items.append(data[pos + 2:pos + size])
        pos += size
    if not items or items[0][:2] != b"\x1f\x50" or items[0][2:18] != MY_COMPUTER:
        raise LinkError("ID list does not start at My Computer")
    if len(items) < 2 or items[1][0] & 0x70 != 0x20:
        raise LinkError("ID list names no drive")
    parts = [items[1][1:].split(b"\0")[0].decode("cp1252").rstrip("\\")]
    for item in items[2:]:
        if item[0] & 0x70 != 0x30:
            raise LinkError("ID list item of type %#x is not a file-system entry" % item[0])
        parts.append(item[12:].split(b"\0")[0].decode("cp1252"))  # name after type, size, date, attributes
    return "\\".join(parts)


def parse_link(data):
    """{'id_list': path, 'base_path': path, 'workdir': text, ...} of a shell link file."""
    if len(data) < 0x4C or struct.unpack_from("<I", data, 0)[0] != 0x4C or data[4:20] != LINK_CLSID:
        raise LinkError("no shell link header")
    flags = struct.unpack_from("<I", data, 20)[0]
    pos = 0x4C
    result = {}
    if flags & HAS_ID_LIST:
        size = struct.unpack_from("<H", data, pos)[0]
        result["id_list"] = id_list_path(data[pos + 2:pos + 2 + size])
        pos += 2 + size
    if flags & HAS_LINK_INFO:
        size, header, info_flags, _, base_offset = struct.unpack_from("<IIIII", data, pos)
        if size < header or pos + size > len(data):
            raise LinkError("link info runs past the file")
        if info_flags & 1:
            start = pos + base_offset
            result["base_path"] = data[start:data.index(b"\0", start)].decode("cp1252")
        pos += size
    for flag, key in ((HAS_NAME, "name"), (HAS_RELATIVE_PATH, "relative"), (HAS_WORKING_DIR, "workdir"),
                      (HAS_ARGUMENTS, "arguments"), (HAS_ICON_LOCATION, "icon")):
        if flags & flag:
            count = struct.unpack_from("<H", data, pos)[0]
            width = 2 if flags & IS_UNICODE else 1
            raw = data[pos + 2:pos + 2 + count * width]
            if len(raw) != count * width:
                raise LinkError("string data runs past the file")
            result[key] = raw.decode("utf-16-le" if width == 2 else "cp1252")
            pos += 2 + count * width
    # Extra data blocks may follow, each led by its size; a size below 4 ends the list.
    while True:
        if pos + 4 > len(data):
            raise LinkError("no terminal block")
        size = struct.unpack_from("<I", data, pos)[0]
        if size < 4:
            break
        pos += size
    return result


def pe_machine(data):
    if data[:2] != b"MZ":
        return None
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    return struct.unpack_from("<H", data, pe + 4)[0]


def read(path):
    with open(path, "rb") as f:
        return f.read()


def check(dist, bin_dir, names_path, machine):
    problems = []
    present = sorted(os.listdir(dist)) if os.path.isdir(dist) else []
    if present != MEDIUM:
        problems.append("%s holds %s, expected %s" % (dist, present, MEDIUM))
    dat = os.path.join(dist, "file.dat")
    with open(names_path, encoding="cp1252", newline="") as f:
        expected = file_dat_image(f.read())
    if not os.path.isfile(dat) or read(dat) != expected:
        problems.append("file.dat is not the list of %s byte for byte" % names_path)
    for exe in PROGRAMS:
        path = os.path.join(dist, exe)
        if not os.path.isfile(path):
            continue
        data = read(path)
        if pe_machine(data) != MACHINES[machine]:
            problems.append("%s is not a %s program" % (exe, machine))
        built = os.path.join(bin_dir, exe)
        if not os.path.isfile(built) or read(built) != data:
            problems.append("%s differs from %s" % (exe, built))
    readme = os.path.join(dist, "readme.htm")
    if os.path.isfile(readme) and not read(readme).startswith(b"<html>"):
        problems.append("readme.htm is not an HTML page")
    for name, target in SHORTCUTS.items():
        path = os.path.join(dist, name)
        if not os.path.isfile(path):
            continue
        try:
            link = parse_link(read(path))
        except (LinkError, struct.error, ValueError, UnicodeDecodeError) as e:
            problems.append("%s is not a valid shell link: %s" % (name, e))
            continue
        for key in ("id_list", "base_path"):
            if link.get(key, "").lower() != target.lower():
                problems.append("%s: %s is %r, expected %r" % (name, key, link.get(key), target))
        if link.get("workdir", "").lower() != WORKDIR.lower():
            problems.append("%s: working directory is %r, expected %r" % (name, link.get("workdir"), WORKDIR))
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("dist")
    parser.add_argument("bin")
    parser.add_argument("names")
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    args = parser.parse_args(argv)
    problems = check(args.dist, args.bin, args.names, args.machine)
    for line in problems:
        print("medium check: " + line, file=sys.stderr)
    if problems:
        print("medium check: FAILED, %d problem(s)" % len(problems), file=sys.stderr)
        return 1
    print("medium check: %s holds the %s medium (%d files)" % (args.dist, args.machine, len(MEDIUM)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
