"""The manifest check on made-up manifests: each fault that would cost a Windows version is named."""
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import check_manifest  # noqa: E402

TEMPLATE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "shared", "res",
                        "program.manifest.in")


def manifest(level="asInvoker"):
    with open(TEMPLATE, "rb") as f:
        text = f.read()
    return text.replace(b"@TOVRA_EXECUTION_LEVEL@", level.encode()).replace(b"@TOVRA_RC_INTERNAL@", b"x")


class ManifestCheckTest(unittest.TestCase):
    def problems(self, text, level="asInvoker"):
        return check_manifest.check_text("x.exe", text, level)

    def test_the_programs_template_passes_for_each_level(self):
        for level in ("asInvoker", "requireAdministrator"):
            with self.subTest(level=level):
                self.assertEqual(self.problems(manifest(level), level), [])

    def test_each_fault_is_named(self):
        good = manifest()
        cases = [
            ("wrong level", good, "requireAdministrator", "execution level"),
            ("trustInfo without its namespace (XP refuses the program)",
             good.replace(b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v2">', b"<trustInfo>"),
             "asInvoker", "namespace"),
            ("a namespace declared twice on one tag (XP SP2 restarts)",
             good.replace(b'<trustInfo xmlns="urn:schemas-microsoft-com:asm.v2">',
                          b'<ms:trustInfo xmlns:ms="urn:schemas-microsoft-com:asm.v2" '
                          b'xmlns="urn:schemas-microsoft-com:asm.v2">').replace(b"</trustInfo>", b"</ms:trustInfo>"),
             "asInvoker", "twice"),
            ("no trustInfo", good.split(b"<trustInfo")[0] + good.split(b"</trustInfo>")[1], "asInvoker", "trustInfo"),
            ("Windows 8.1 missing", good.replace(b"{1f676c76-80e1-4239-95bb-83d0f6d0da78}", b"{0}"), "asInvoker",
             "8.1"),
            ("no common controls 6", good.replace(b"6.0.0.0", b"5.8.0.0"), "asInvoker", "common controls"),
            ("not XML", good[:-20], "asInvoker", "well-formed"),
        ]
        for name, text, level, word in cases:
            with self.subTest(name):
                found = self.problems(text, level)
                self.assertTrue(any(word in p for p in found), found)

    def test_a_file_without_a_manifest_is_refused(self):
        here = os.path.abspath(__file__)
        self.assertTrue(check_manifest.check_program(here, "asInvoker"))


if __name__ == "__main__":
    unittest.main()
