#!/usr/bin/env python3
"""Writes a Windows shortcut (.lnk, Shell Link binary format) to a local file path.

Usage: make_shortcut.py OUTPUT TARGET [--workdir DIR] [--description TEXT]

TARGET is an absolute path on a local drive, e.g. "C:\\Program Files\\tovra\\tovra.exe".
The shortcut carries both a target ID list (My Computer, the drive, one simple item per path
element) and a link-info block with the local base path, so the shell resolves it whether it
prefers the one or the other. The target need not exist where the file is made.
"""
import argparse
import os
import struct
import sys

LINK_CLSID = bytes.fromhex("0114020000000000c000000000000046")  # {00021401-0000-0000-C000-000000000046}
MY_COMPUTER = bytes.fromhex("e04fd020ea3a6910a2d808002b30309d")  # {20D04FE0-3AEA-1069-A2D8-08002B30309D}

HAS_ID_LIST = 0x01
HAS_LINK_INFO = 0x02
HAS_NAME = 0x04
HAS_WORKING_DIR = 0x10
IS_UNICODE = 0x80

FILE_ATTRIBUTE_DIRECTORY = 0x10
FILE_ATTRIBUTE_ARCHIVE = 0x20
SW_SHOWNORMAL = 1
DRIVE_FIXED = 3


def item(data):
    return struct.pack("<H", len(data) + 2) + data


def ansi(text):
    return text.encode("cp1252")


def id_list(target):
    drive, _, rest = target.partition("\\")
    if len(drive) != 2 or drive[1] != ":":
        raise ValueError("target must be an absolute path on a drive: " + target)
    parts = [p for p in rest.split("\\") if p]
    items = [item(b"\x1f\x50" + MY_COMPUTER)]
    # Drive item: type 0x2F, "C:\" in a 20-byte field, two spare bytes.
    items.append(item(b"\x2f" + ansi(drive + "\\").ljust(20, b"\0") + b"\0\0"))
    for i, name in enumerate(parts):
        is_file = i == len(parts) - 1
        kind = 0x32 if is_file else 0x31
        attrs = FILE_ATTRIBUTE_ARCHIVE if is_file else FILE_ATTRIBUTE_DIRECTORY
        # type, unused byte, size, DOS date, DOS time, attributes, name (NUL-ended, padded to even)
        body = struct.pack("<BBIHHH", kind, 0, 0, 0, 0, attrs) + ansi(name) + b"\0"
        if len(body) % 2:
            body += b"\0"
        items.append(item(body))
    data = b"".join(items) + b"\0\0"
    return struct.pack("<H", len(data)) + data


def link_info(target):
    volume_label = b"\0"
    volume_id = struct.pack("<IIII", 16 + len(volume_label), DRIVE_FIXED, 0, 16) + volume_label
    header_size = 0x1C
    base_path = ansi(target) + b"\0"
    suffix = b"\0"
    volume_offset = header_size
    base_offset = volume_offset + len(volume_id)
    suffix_offset = base_offset + len(base_path)
    total = suffix_offset + len(suffix)
    header = struct.pack("<IIIIIII", total, header_size, 1, volume_offset, base_offset, 0, suffix_offset)
    return header + volume_id + base_path + suffix


def string_data(text):
    return struct.pack("<H", len(text)) + text.encode("utf-16-le")


def shortcut(target, workdir, description):
    flags = HAS_ID_LIST | HAS_LINK_INFO | IS_UNICODE
    if description:
        flags |= HAS_NAME
    if workdir:
        flags |= HAS_WORKING_DIR
    header = struct.pack(
        "<I16sII8s8s8sIiIHHII",
        0x4C, LINK_CLSID, flags, FILE_ATTRIBUTE_ARCHIVE,
        b"\0" * 8, b"\0" * 8, b"\0" * 8,
        0, 0, SW_SHOWNORMAL, 0, 0, 0, 0)
    assert len(header) == 0x4C
    body = header + id_list(target) + link_info(target)
    if description:
        body += string_data(description)
    if workdir:
        body += string_data(workdir)
    return body + b"\0\0\0\0"  # terminal extra-data block


def main(argv):
    parser = argparse.ArgumentParser(description="Write a Windows shortcut file.")
    parser.add_argument("output")
    parser.add_argument("target")
    parser.add_argument("--workdir", default="")
    parser.add_argument("--description", default="")
    args = parser.parse_args(argv)
    data = shortcut(args.target, args.workdir, args.description)
    os.makedirs(os.path.dirname(os.path.abspath(args.output)), exist_ok=True)
    with open(args.output, "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
