"""The static medium check on scratch media: a sound medium passes, each kind of damage fails."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import check_medium  # noqa: E402

MAKE_SHORTCUT = os.path.join(ROOT, "setup", "dist", "make_shortcut.py")
NAMES = "Trojan.Slog\nW32@mm[1].exe\n"


def fake_program(machine):
    data = bytearray(0x200)
    data[0:2] = b"MZ"
    struct.pack_into("<I", data, 0x3C, 0x80)
    data[0x80:0x84] = b"PE\0\0"
    struct.pack_into("<H", data, 0x84, machine)
    return bytes(data)


class MediumCheckTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp()
        self.dist = os.path.join(self.scratch, "dist")
        self.bin = os.path.join(self.scratch, "bin")
        os.mkdir(self.dist)
        os.mkdir(self.bin)
        self.names = os.path.join(self.scratch, "names.txt")
        with open(self.names, "w", newline="") as f:
            f.write(NAMES)
        for exe in check_medium.PROGRAMS:
            for folder in (self.dist, self.bin):
                self.write(os.path.join(folder, exe), fake_program(0x14C))
        self.write(os.path.join(self.dist, "file.dat"), b'"Trojan.Slog"\r\n"W32@mm[1].exe"\r\n')
        self.write(os.path.join(self.dist, "readme.htm"), b"<html><body>Tovra Internet Security 1.0</body></html>")
        for name, target in check_medium.SHORTCUTS.items():
            subprocess.run([sys.executable, MAKE_SHORTCUT, os.path.join(self.dist, name), target,
                            "--workdir", check_medium.WORKDIR, "--description", "Tovra"], check=True)

    def tearDown(self):
        shutil.rmtree(self.scratch)

    def write(self, path, data):
        with open(path, "wb") as f:
            f.write(data)

    def problems(self, machine="i386"):
        return check_medium.check(self.dist, self.bin, self.names, machine)

    def test_a_sound_medium_passes(self):
        self.assertEqual(self.problems(), [])
        link = check_medium.parse_link(open(os.path.join(self.dist, "About Tovra IS.lnk"), "rb").read())
        self.assertEqual(link["id_list"], "C:\\Program Files\\tovra\\readme.htm")
        self.assertEqual(link["base_path"], "C:\\Program Files\\tovra\\readme.htm")
        self.assertEqual(link["workdir"], "C:\\Program Files\\tovra")

    def test_each_damage_is_reported(self):
        def lnk():
            return os.path.join(self.dist, "Tovra Internet Security.lnk")

        cases = [
            ("programs of the other machine", lambda: None, "x64", "not a x64 program"),
            ("file.dat in LF lines", lambda: self.write(os.path.join(self.dist, "file.dat"),
                                                       b'"Trojan.Slog"\n"W32@mm[1].exe"\n'), "i386", "file.dat"),
            ("file.dat missing a name", lambda: self.write(os.path.join(self.dist, "file.dat"),
                                                          b'"Trojan.Slog"\r\n'), "i386", "file.dat"),
            ("a stale program", lambda: self.write(os.path.join(self.dist, "tovra.exe"),
                                                  fake_program(0x14C) + b"old"), "i386", "differs"),
            ("a missing shortcut", lambda: os.remove(lnk()), "i386", "holds"),
            ("an extra file", lambda: self.write(os.path.join(self.dist, "notes.txt"), b"x"), "i386", "holds"),
            ("a shortcut that is text", lambda: self.write(lnk(), b"C:\\Program Files\\tovra\\tovra.exe"), "i386",
             "not a valid shell link"),
            ("a truncated shortcut", lambda: self.write(lnk(), open(lnk(), "rb").read()[:0x60]), "i386",
             "not a valid shell link"),
            ("a shortcut to elsewhere", lambda: subprocess.run(
                [sys.executable, MAKE_SHORTCUT, lnk(), "C:\\Program Files\\other\\tovra.exe",
                 "--workdir", check_medium.WORKDIR], check=True), "i386", "expected"),
            ("a readme that is not HTML", lambda: self.write(os.path.join(self.dist, "readme.htm"), b"plain"),
             "i386", "readme"),
        ]
        for label, damage, machine, words in cases:
            with self.subTest(label):
                self.tearDown()
                self.setUp()
                damage()
                found = self.problems(machine)
                self.assertTrue(found, "passed despite " + label)
                self.assertTrue(any(words in p for p in found), found)

    def test_the_command_exit_status(self):
        self.assertEqual(check_medium.main([self.dist, self.bin, self.names, "--machine", "i386"]), 0)
        self.assertEqual(check_medium.main([self.dist, self.bin, self.names, "--machine", "x64"]), 1)


if __name__ == "__main__":
    unittest.main()
