#!/usr/bin/env python3
"""Fails the build when a program's embedded manifest would not serve Windows XP to 11.

Usage: check_manifest.py PROGRAM.exe=LEVEL...

For every program it reads the manifest resource (RT_MANIFEST, id 1) from the PE file and checks:
- the execution level that User Account Control gives the program (asInvoker or
  requireAdministrator), asked for in a trustInfo element whose namespace (asm.v2 or asm.v3) is
  declared on the element itself: Windows XP's loader refuses a trustInfo that sits in the
  assembly's own asm.v1 namespace;
- no element declares the same namespace twice (Windows XP SP2 without KB921337 restarts when it
  meets one);
- the supportedOS ids of Vista, 7, 8, 8.1 and 10/11, so that later Windows versions report their
  own version and do not treat the program as one written before Vista;
- the dependency on version 6 of the common controls.
Problems are printed with the program's name, and the exit status is 1.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_imports import PeError, PeImage  # noqa: E402

RT_MANIFEST = 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST_NAMESPACES = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
COMPATIBILITY = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}
LEVELS = ("asInvoker", "requireAdministrator", "highestAvailable")


def manifest_of(image):
    """The bytes of resource RT_MANIFEST #1 (any language), or None."""
    if len(image.directories) <= 2 or not image.directories[2][0]:
        return None
    root_rva = image.directories[2][0]
    data = image.data

    def entries(rva):
        off = image.offset(rva)
        named, ids = struct.unpack_from("<HH", data, off + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, off + 16 + 8 * i)
            yield name, target

    def find(rva, wanted):
        for name, target in entries(rva):
            if not name & 0x80000000 and (wanted is None or name == wanted):
                return target
        return None

    level = find(root_rva, RT_MANIFEST)
    if level is None or not level & 0x80000000:
        return None
    level = find(root_rva + (level & 0x7FFFFFFF), 1)
    if level is None or not level & 0x80000000:
        return None
    leaf = find(root_rva + (level & 0x7FFFFFFF), None)
    if leaf is None or leaf & 0x80000000:
        return None
    data_rva, size = struct.unpack_from("<II", data, image.offset(root_rva + leaf))
    start = image.offset(data_rva)
    return data[start:start + size]


def check_text(label, text, level):
    """The problems of one manifest, each as one line of text."""
    problems = []
    # ElementTree folds the declarations away: look at the start tags themselves for doubles.
    for tag in re.findall(rb"<[A-Za-z][^>]*>", text):
        uris = re.findall(rb"xmlns(?::[\w.-]+)?\s*=\s*[\"']([^\"']*)[\"']", tag)
        if len(uris) != len(set(uris)):
            problems.append("%s: a start tag declares one namespace twice (Windows XP SP2 restarts): %s"
                            % (label, tag.decode("utf-8", "replace")))
    try:
        root = ET.fromstring(text)
    except ET.ParseError as e:
        return problems + ["%s: the manifest is not well-formed XML: %s" % (label, e)]
    if root.tag != "{%s}assembly" % ASM_V1:
        problems.append("%s: the root element is %s, not the asm.v1 assembly" % (label, root.tag))

    trust = [e for e in root if e.tag.endswith("}trustInfo") or e.tag == "trustInfo"]
    if len(trust) != 1:
        problems.append("%s: %d trustInfo elements, not one" % (label, len(trust)))
    else:
        ns = trust[0].tag[1:].split("}")[0] if trust[0].tag.startswith("{") else ""
        if ns not in TRUST_NAMESPACES:
            problems.append("%s: trustInfo is in namespace %r; Windows XP refuses it outside asm.v2/asm.v3"
                            % (label, ns or ASM_V1))
        levels = [e.get("level") for e in trust[0].iter() if e.tag.endswith("requestedExecutionLevel")]
        if levels != [level]:
            problems.append("%s: execution level %s, expected %s" % (label, levels or "none", level))
        ui = [e.get("uiAccess") for e in trust[0].iter() if e.tag.endswith("requestedExecutionLevel")]
        if ui and ui[0] not in ("false", None):
            problems.append("%s: uiAccess is %s; the suite asks for no UI access" % (label, ui[0]))

    ids = [e.get("Id", "").lower() for e in root.iter("{%s}supportedOS" % COMPATIBILITY)]
    missing = [name for gid, name in SUPPORTED_OS.items() if gid not in ids]
    if missing:
        problems.append("%s: no supportedOS id for Windows %s" % (label, ", ".join(missing)))
    unknown = [gid for gid in ids if gid not in SUPPORTED_OS]
    if unknown:
        problems.append("%s: unknown supportedOS ids %s" % (label, ", ".join(unknown)))

    controls = [e for e in root.iter("{%s}assemblyIdentity" % ASM_V1)
                if e.get("name") == "Microsoft.Windows.Common-Controls" and e.get("version") == "6.0.0.0"]
    if not controls:
        problems.append("%s: no dependency on the common controls version 6" % label)
    return problems


def check_program(path, level):
    label = os.path.basename(path)
    try:
        with open(path, "rb") as f:
            image = PeImage(f.read())
        text = manifest_of(image)
    except (OSError, PeError, ValueError, struct.error) as e:
        return ["%s: cannot be read: %s" % (label, e)]
    if text is None:
        return ["%s: no embedded manifest (RT_MANIFEST #1)" % label]
    return check_text(label, text, level)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    problems = []
    for arg in argv:
        path, _, level = arg.rpartition("=")
        if not path or level not in LEVELS:
            print("check_manifest: expected PROGRAM=LEVEL, got %r" % arg, file=sys.stderr)
            return 2
        problems += check_program(path, level)
    for line in problems:
        print("manifest check: " + line, file=sys.stderr)
    if problems:
        print("manifest check: FAILED, %d problem(s)" % len(problems), file=sys.stderr)
        return 1
    print("manifest check: %d program(s), each with its level and the supportedOS ids" % len(argv))
    return 0


if __name__ == "__main__":
    sys.exit(main())
