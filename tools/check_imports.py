#!/usr/bin/env python3
"""Fails the build when a program would not load on Windows XP.

Usage: check_imports.py [--exports DIR] PROGRAM.exe...

For every program it reads the PE optional header and the import tables (the ordinary one and the
delay-load one, names and ordinals alike) and checks them against the export lists in DIR (one
file per DLL, tools/xp_exports/<dll>.txt). A 32-bit program must load on Windows XP SP3, a 64-bit
one on Windows XP x64 / Server 2003 SP2 (NT 5.2): an import that the list does not hold for that
system, a DLL without a list, or OS and subsystem versions above 5.1 (32-bit) or 5.2 (64-bit) is
reported with program, DLL and function, and the exit status is 1.

List format: whitespace-separated names; "#N" for an export by ordinal N; a name may carry tags
after colons: ":i386" (32-bit only), ":x64" (64-bit only), ":nt52" (NT 5.2, not in 32-bit XP).
Lines starting with "#" followed by a blank are comments.
"""
import argparse
import os
import struct
import sys

MACHINE_I386 = 0x14C
MACHINE_AMD64 = 0x8664

# (system name, highest OS and subsystem version) by machine.
TARGETS = {
    MACHINE_I386: ("Windows XP SP3", (5, 1)),
    MACHINE_AMD64: ("Windows XP x64 / Server 2003 SP2", (5, 2)),
}


class PeError(Exception):
    pass


class PeImage:
    """The parts of a PE file the check needs: machine, versions and imports."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ" or len(data) < 0x40:
            raise PeError("not an MZ executable")
        pe = self._u32(0x3C)
        if data[pe:pe + 4] != b"PE\0\0":
            raise PeError("no PE signature")
        self.machine, nsections = struct.unpack_from("<HH", data, pe + 4)
        opt_size = struct.unpack_from("<H", data, pe + 20)[0]
        opt = pe + 24
        magic = struct.unpack_from("<H", data, opt)[0]
        if magic not in (0x10B, 0x20B):
            raise PeError("unknown optional header magic %#x" % magic)
        self.pe32plus = magic == 0x20B
        self.image_base = (struct.unpack_from("<Q", data, opt + 24)[0] if self.pe32plus
                           else struct.unpack_from("<I", data, opt + 28)[0])
        self.os_version = struct.unpack_from("<HH", data, opt + 40)
        self.subsystem_version = struct.unpack_from("<HH", data, opt + 48)
        ndirs_at, dirs_at = (opt + 108, opt + 112) if self.pe32plus else (opt + 92, opt + 96)
        ndirs = struct.unpack_from("<I", data, ndirs_at)[0]
        self.directories = [struct.unpack_from("<II", data, dirs_at + 8 * i) for i in range(min(ndirs, 16))]
        self.sections = []
        for i in range(nsections):
            vsize, va, rsize, raw = struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8)
            self.sections.append((va, max(vsize, rsize), raw, rsize))

    def _u32(self, off):
        return struct.unpack_from("<I", self.data, off)[0]

    def offset(self, rva):
        for va, size, raw, rsize in self.sections:
            if va <= rva < va + size and rva - va < rsize:
                return raw + rva - va
        raise PeError("address %#x is in no section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        end = self.data.index(b"\0", start)
        return self.data[start:end].decode("latin-1")

    def _thunks(self, rva):
        width, fmt = (8, "<Q") if self.pe32plus else (4, "<I")
        by_ordinal = 1 << (width * 8 - 1)
        off = self.offset(rva)
        while True:
            value = struct.unpack_from(fmt, self.data, off)[0]
            if value == 0:
                return
            if value & by_ordinal:
                yield "#%d" % (value & 0xFFFF)
            else:
                yield self.cstring((value & 0x7FFFFFFF) + 2)  # past the hint
            off += width

    def imports(self):
        """(kind, dll, function) for every import; function is "#N" for an ordinal."""
        result = []
        if len(self.directories) > 1 and self.directories[1][0]:
            off = self.offset(self.directories[1][0])
            while True:
                lookup, _, _, name, iat = struct.unpack_from("<IIIII", self.data, off)
                if name == 0:
                    break
                dll = self.cstring(name)
                result += [("import", dll, fn) for fn in self._thunks(lookup or iat)]
                off += 20
        seen = set()
        if len(self.directories) > 13 and self.directories[13][0]:
            off = self.offset(self.directories[13][0])
            while True:
                attrs, name, _, _, lookup, _, _, _ = struct.unpack_from("<8I", self.data, off)
                if name == 0:
                    break
                base = 0 if attrs & 1 else self.image_base  # old-style descriptors hold addresses
                dll = self.cstring(name - base)
                result += [("delay-load", dll, fn) for fn in self._thunks(lookup - base)]
                seen.add(off)
                off += 32
        # GNU ld links dlltool's delay-load descriptors without entering them in the data
        # directory: find them by their shape, so such imports are checked as well.
        for off in self._delay_descriptors():
            if off in seen:
                continue
            _, name, _, _, lookup, _, _, _ = struct.unpack_from("<8I", self.data, off)
            dll = self.cstring(name)
            result += [("delay-load", dll, fn) for fn in self._thunks(lookup)]
        return result

    def _maps(self, rva):
        try:
            self.offset(rva)
            return True
        except PeError:
            return False

    def _delay_descriptors(self):
        """File offsets of RVA-style delay-load descriptors found anywhere in the sections."""
        found = []
        for va, size, raw, rsize in self.sections:
            for off in range(raw, raw + rsize - 31, 4):
                attrs, name, handle, iat, lookup, bound, unload, stamp = struct.unpack_from("<8I", self.data, off)
                if attrs != 1 or not name or not handle or not iat or not lookup:
                    continue
                if not all(self._maps(r) for r in (name, handle, iat, lookup)):
                    continue
                try:
                    dll = self.cstring(name)
                except (PeError, ValueError):
                    continue
                if not (4 < len(dll) < 64 and dll.isprintable() and dll.lower().endswith((".dll", ".ocx", ".drv"))):
                    continue
                found.append(off)
        return found


def load_exports(directory):
    """{dll (lower case): {name: set of tags}}"""
    exports = {}
    for entry in sorted(os.listdir(directory)):
        if not entry.endswith(".txt"):
            continue
        names = {}
        with open(os.path.join(directory, entry), encoding="ascii") as f:
            for line in f:
                if line.startswith("# ") or line.strip() == "#":
                    continue
                for token in line.split():
                    name, *tags = token.split(":")
                    names[name] = set(tags)
        exports[entry[:-4].lower()] = names
    return exports


def exported(tags, machine):
    if tags is None:
        return False
    if "i386" in tags and machine != MACHINE_I386:
        return False
    if "x64" in tags and machine != MACHINE_AMD64:
        return False
    if "nt52" in tags and machine == MACHINE_I386:
        return False
    return True


def check_image(label, image, exports):
    """The problems of one program, each as one line of text."""
    if image.machine not in TARGETS:
        return ["%s: unknown machine %#x" % (label, image.machine)]
    system, limit = TARGETS[image.machine]
    problems = []
    for field, version in (("OS version", image.os_version), ("subsystem version", image.subsystem_version)):
        if tuple(version) > limit:
            problems.append("%s: %s %d.%d is above %d.%d, so %s refuses the program"
                            % (label, field, version[0], version[1], limit[0], limit[1], system))
    for kind, dll, function in image.imports():
        names = exports.get(dll.lower())
        if names is None:
            problems.append("%s: %s %s!%s: no export list for %s (add tools/xp_exports/%s.txt)"
                            % (label, kind, dll, function, dll, dll.lower()))
        elif not exported(names.get(function), image.machine):
            problems.append("%s: %s %s!%s is not exported by %s" % (label, kind, dll, function, system))
    return problems


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--exports", default=os.path.join(os.path.dirname(os.path.abspath(__file__)), "xp_exports"))
    parser.add_argument("programs", nargs="+")
    args = parser.parse_args(argv)
    exports = load_exports(args.exports)
    problems = []
    count = 0
    for path in args.programs:
        label = os.path.basename(path)
        try:
            with open(path, "rb") as f:
                image = PeImage(f.read())
        except (OSError, PeError, ValueError, struct.error) as e:
            problems.append("%s: cannot be read: %s" % (label, e))
            continue
        count += len(image.imports())
        problems += check_image(label, image, exports)
    for line in problems:
        print("import check: " + line, file=sys.stderr)
    if problems:
        print("import check: FAILED, %d problem(s)" % len(problems), file=sys.stderr)
        return 1
    print("import check: %d program(s), %d import(s), all exported by Windows XP" % (len(args.programs), count))
    return 0


if __name__ == "__main__":
    sys.exit(main())
