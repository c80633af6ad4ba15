"""The import check on made-up executables: what XP lacks is refused, what it has passes."""
import os
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import check_imports  # noqa: E402

SECTION_RVA = 0x1000
SECTION_RAW = 0x400
IMAGE_BASE = 0x400000


def make_pe(machine, imports=(), delay=(), os_version=(5, 1), subsystem_version=(5, 1), old_delay=False,
            delay_directory=True):
    """A minimal PE image: one section holding the import and delay-load tables.

    imports and delay are lists of (dll, [function name or ordinal number, ...]).
    """
    pe32plus = machine == check_imports.MACHINE_AMD64
    width = 8 if pe32plus else 4
    by_ordinal = 1 << (width * 8 - 1)
    sec = bytearray()

    def place(blob, align=2):
        while len(sec) % align:
            sec.append(0)
        rva = SECTION_RVA + len(sec)
        sec.extend(blob)
        return rva

    def thunk_table(functions):
        entries = []
        for f in functions:
            if isinstance(f, int):
                entries.append(by_ordinal | f)
            else:
                entries.append(place(struct.pack("<H", 0) + f.encode() + b"\0"))
        table = b"".join(struct.pack("<Q" if pe32plus else "<I", e) for e in entries + [0])
        return place(table, 8)

    descriptors = []
    for dll, functions in imports:
        descriptors.append((place(dll.encode() + b"\0"), thunk_table(functions)))
    delay_descriptors = []
    for dll, functions in delay:
        handle = place(b"\0" * 8, 8)
        delay_descriptors.append((place(dll.encode() + b"\0"), thunk_table(functions), handle, thunk_table(functions)))

    import_rva = place(b"".join(struct.pack("<IIIII", lookup, 0, 0, name, lookup) for name, lookup in descriptors)
                       + b"\0" * 20, 4) if descriptors else 0
    base = IMAGE_BASE if old_delay else 0
    delay_rva = place(b"".join(struct.pack("<8I", 0 if old_delay else 1, name + base, handle + base, iat + base,
                                           lookup + base, 0, 0, 0)
                               for name, lookup, handle, iat in delay_descriptors) + b"\0" * 32, 4) if delay_descriptors else 0
    if not delay_directory:
        delay_rva = 0
    while len(sec) % 0x200:
        sec.append(0)

    opt_size = 240 if pe32plus else 224
    opt = bytearray(opt_size)
    struct.pack_into("<H", opt, 0, 0x20B if pe32plus else 0x10B)
    if pe32plus:
        struct.pack_into("<Q", opt, 24, IMAGE_BASE)
    else:
        struct.pack_into("<I", opt, 28, IMAGE_BASE)
    struct.pack_into("<HH", opt, 40, *os_version)
    struct.pack_into("<HH", opt, 48, *subsystem_version)
    dirs = 112 if pe32plus else 96
    struct.pack_into("<I", opt, dirs - 4, 16)
    struct.pack_into("<II", opt, dirs + 8 * 1, import_rva, 20 * (len(descriptors) + 1) if import_rva else 0)
    struct.pack_into("<II", opt, dirs + 8 * 13, delay_rva, 32 * (len(delay_descriptors) + 1) if delay_rva else 0)

    header = bytearray(SECTION_RAW)
    header[0:2] = b"MZ"
    struct.pack_into("<I", header, 0x3C, 0x80)
    header[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<HHIIIHH", header, 0x84, machine, 1, 0, 0, 0, opt_size, 0x22)
    header[0x98:0x98 + opt_size] = opt
    section = 0x98 + opt_size
    header[section:section + 8] = b".idata\0\0"
    struct.pack_into("<IIII", header, section + 8, len(sec), SECTION_RVA, len(sec), SECTION_RAW)
    return bytes(header) + bytes(sec)


EXPORTS = {
    "kernel32.dll": {"GetTickCount": set(), "FlsAlloc": {"nt52"}, "RtlVirtualUnwind": {"x64"},
                     "InterlockedIncrement": {"i386"}},
    "comctl32.dll": {"InitCommonControlsEx": set(), "#17": set()},
}
I386 = check_imports.MACHINE_I386
AMD64 = check_imports.MACHINE_AMD64


def problems(data):
    return check_imports.check_image("probe.exe", check_imports.PeImage(data), EXPORTS)


class ImportCheckTest(unittest.TestCase):
    def test_reads_names_ordinals_and_delay_loads_of_both_formats(self):
        for machine in (I386, AMD64):
            for old_delay in (False, True):
                with self.subTest(machine=hex(machine), old_delay=old_delay):
                    image = check_imports.PeImage(make_pe(
                        machine, imports=[("KERNEL32.dll", ["GetTickCount", "GetTickCount64"]), ("comctl32.dll", [17])],
                        delay=[("ws2_32.dll", ["InetNtopW", 12])], old_delay=old_delay))
                    self.assertEqual(image.imports(), [
                        ("import", "KERNEL32.dll", "GetTickCount"), ("import", "KERNEL32.dll", "GetTickCount64"),
                        ("import", "comctl32.dll", "#17"),
                        ("delay-load", "ws2_32.dll", "InetNtopW"), ("delay-load", "ws2_32.dll", "#12")])

    def test_each_import_is_judged_for_its_system(self):
        cases = [
            # machine, dll, function, passes
            (I386, "KERNEL32.dll", "GetTickCount", True),
            (AMD64, "KERNEL32.dll", "GetTickCount", True),
            (I386, "KERNEL32.dll", "GetTickCount64", False),     # Vista
            (AMD64, "KERNEL32.dll", "GetTickCount64", False),
            (I386, "KERNEL32.dll", "FlsAlloc", False),           # Server 2003 / XP x64 only
            (AMD64, "KERNEL32.dll", "FlsAlloc", True),
            (I386, "KERNEL32.dll", "RtlVirtualUnwind", False),   # 64-bit only
            (AMD64, "KERNEL32.dll", "RtlVirtualUnwind", True),
            (I386, "kernel32.dll", "InterlockedIncrement", True),  # DLL names in any case
            (AMD64, "KERNEL32.DLL", "InterlockedIncrement", False),
            (I386, "comctl32.dll", 17, True),                    # listed ordinal
            (I386, "comctl32.dll", 345, False),                  # unlisted ordinal
            (I386, "ws2_32.dll", "socket", False),               # DLL without a list
        ]
        for machine, dll, function, passes in cases:
            with self.subTest(machine=hex(machine), dll=dll, function=function):
                found = problems(make_pe(machine, imports=[(dll, [function])],
                                         os_version=(5, 1), subsystem_version=(5, 1)))
                self.assertEqual(found == [], passes, found)
                if not passes:
                    name = function if isinstance(function, str) else "#%d" % function
                    self.assertIn("probe.exe", found[0])
                    self.assertIn("%s!%s" % (dll, name), found[0])

    def test_delay_loaded_imports_count_too(self):
        # Also when the linker left the descriptor out of the data directory, as GNU ld does.
        for machine in (I386, AMD64):
            for in_directory in (True, False):
                with self.subTest(machine=hex(machine), in_directory=in_directory):
                    found = problems(make_pe(machine, delay=[("ws2_32.dll", ["InetNtopW"])],
                                             os_version=(5, 1), subsystem_version=(5, 1),
                                             delay_directory=in_directory))
                    self.assertEqual(len(found), 1, found)
                    self.assertIn("delay-load ws2_32.dll!InetNtopW", found[0])

    def test_version_fields_above_the_target_fail(self):
        cases = [
            (I386, (5, 1), (5, 1), 0), (I386, (4, 0), (5, 0), 0), (I386, (5, 2), (5, 1), 1),
            (I386, (6, 0), (6, 0), 2), (AMD64, (5, 2), (5, 2), 0), (AMD64, (6, 0), (5, 2), 1),
            (AMD64, (5, 2), (6, 1), 1),
        ]
        for machine, os_version, subsystem, count in cases:
            with self.subTest(machine=hex(machine), os=os_version, subsystem=subsystem):
                found = problems(make_pe(machine, os_version=os_version, subsystem_version=subsystem))
                self.assertEqual(len(found), count, found)

    def test_the_command_fails_naming_program_dll_and_function(self):
        with tempfile.TemporaryDirectory() as scratch:
            lists = os.path.join(scratch, "lists")
            os.mkdir(lists)
            with open(os.path.join(lists, "kernel32.dll.txt"), "w") as f:
                f.write("# comment line\nGetTickCount FlsAlloc:nt52\n")
            good = os.path.join(scratch, "good.exe")
            bad = os.path.join(scratch, "bad.exe")
            with open(good, "wb") as f:
                f.write(make_pe(I386, imports=[("KERNEL32.dll", ["GetTickCount"])]))
            with open(bad, "wb") as f:
                f.write(make_pe(I386, imports=[("KERNEL32.dll", ["GetTickCount", "GetTickCount64"])]))
            self.assertEqual(check_imports.main(["--exports", lists, good]), 0)
            self.assertEqual(check_imports.main(["--exports", lists, good, bad]), 1)
            not_pe = os.path.join(scratch, "text.exe")
            with open(not_pe, "wb") as f:
                f.write(b"hello")
            self.assertEqual(check_imports.main(["--exports", lists, not_pe]), 1)

    def test_the_kept_lists_refuse_the_newer_calls_the_suite_avoids(self):
        lists = check_imports.load_exports(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "xp_exports"))
        for machine in (I386, AMD64):
            for dll, function in [("kernel32.dll", "GetTickCount64"), ("kernel32.dll", "CompareStringOrdinal"),
                                  ("kernel32.dll", "InitializeSRWLock"), ("kernel32.dll", "InitializeConditionVariable"),
                                  ("ws2_32.dll", "InetNtopW"), ("ws2_32.dll", "inet_pton"),
                                  ("comctl32.dll", "TaskDialog")]:
                with self.subTest(machine=hex(machine), function=function):
                    self.assertFalse(check_imports.exported(lists[dll].get(function), machine))
            for dll, function in [("kernel32.dll", "GetTickCount"), ("kernel32.dll", "FindFirstFileExW"),
                                  ("ws2_32.dll", "WSAAsyncSelect"), ("user32.dll", "SetWindowPos"),
                                  ("msvcrt.dll", "malloc")]:
                with self.subTest(machine=hex(machine), function=function):
                    self.assertTrue(check_imports.exported(lists[dll].get(function), machine))
        self.assertFalse(check_imports.exported(lists["kernel32.dll"].get("FlsAlloc"), I386))
        self.assertTrue(check_imports.exported(lists["kernel32.dll"].get("FlsAlloc"), AMD64))


if __name__ == "__main__":
    unittest.main()
