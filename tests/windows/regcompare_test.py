#!/usr/bin/env python3
"""Tests of regcompare.py: a comparer that passes everything would make every
Wine scenario pass, so each kind of difference must be caught."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import regcompare  # noqa: E402

KEY = r"HKEY_LOCAL_MACHINE\Enum\Root\*PNP0C05\0000"

EXPECTED4 = (
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n"
    "[%s]\r\n"
    '"Class"="System"\r\n'
    '"Driver"="System\\\\0007"\r\n'
    '"APMMenuSuspend"=hex:01\r\n'
    '"Flags"=dword:00000102\r\n'
    '"Path"=hex(2):43,3a,5c,00\r\n'
    '"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,\\\r\n'
    "  15,16,17\r\n\r\n" % KEY)

# What Wine's regedit writes for the same values: UTF-16, sorted, other case.
EXPORT5 = (
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[%s]\r\n"
    '"apmmenususpend"=hex:01\r\n'
    '"Class"="System"\r\n'
    '"Driver"="System\\\\0007"\r\n'
    '"Flags"=dword:00000102\r\n'
    '"Long"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\r\n'
    "  14,15,16,17\r\n"
    '"Path"=hex(2):43,00,3a,00,5c,00,00,00\r\n\r\n' % KEY.upper())


class RegCompareTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.pristine = self.write("pristine", b"WINE REGISTRY Version 2\n"
                                   b"[Software\\\\Wine] 1\n")

    def tearDown(self):
        self.dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def problems(self, expected, export):
        exp = regcompare.parse_reg(self.write("expected.reg",
                                              expected.encode("cp1252")))
        act = regcompare.parse_reg(self.write(
            "export.reg", b"\xff\xfe" + export.encode("utf-16-le")))
        return regcompare.compare(exp, regcompare.with_parents(act),
                                  regcompare.wine_keys(self.pristine))

    def test_the_same_values_in_either_format_match(self):
        self.assertEqual([], self.problems(EXPECTED4, EXPORT5))

    def test_differences_are_caught(self):
        cases = [
            ("changed byte", '"apmmenususpend"=hex:01', '"apmmenususpend"=hex:00'),
            ("longer data", '"apmmenususpend"=hex:01', '"apmmenususpend"=hex:01,00'),
            ("other type", '"Flags"=dword:00000102', '"Flags"=hex:02,01,00,00'),
            ("changed text", '"Class"="System"', '"Class"="system"'),
            ("missing value", '"Class"="System"\r\n', ""),
            ("extra value", '"Class"="System"', '"Class"="System"\r\n"DDC"="1"'),
            ("twin value", '"apmmenususpend"=hex:01',
             '"apmmenususpend"=hex:01\r\n"APMMenuSuspendX"=hex:01'),
            ("expand string", "5c,00,00,00", "5d,00,00,00"),
            ("continued hex line", "14,15,16,17", "14,15,16,18"),
        ]
        for what, old, new in cases:
            with self.subTest(what):
                export = EXPORT5.replace(old, new, 1)
                self.assertNotEqual(EXPORT5, export)
                self.assertNotEqual([], self.problems(EXPECTED4, export))

    def test_a_missing_key_is_caught(self):
        export = EXPORT5.replace("\\0000]", "\\0001]")
        self.assertIn("missing key [%s]" % KEY,
                      self.problems(EXPECTED4, export))

    def test_wine_may_end_a_string_with_a_zero(self):
        expected = EXPECTED4.replace('"Class"="System"',
                                     '"Class"=hex(1):53,79,73,74,65,6d')
        self.assertEqual([], self.problems(expected, EXPORT5))

    def test_keys_of_wine_may_hold_more_values(self):
        expected = ("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine]\r\n"
                    '"A"="1"\r\n\r\n')
        export = ("Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\Wine]\r\n"
                  '"A"="1"\r\n"Wine\'s own"="x"\r\n\r\n')
        self.assertEqual([], self.problems(expected, export))
        self.assertNotEqual([], self.problems(
            expected, export.replace('"A"="1"', '"A"="2"')))

    def test_plan_deletes_only_the_trees_wine_lacks(self):
        scenario = self.write("s.reg", (
            "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\New]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Wine\\New\\Deeper]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\Enum\\SCSI]\r\n\r\n").encode())
        out = os.path.join(self.dir.name, "clear.reg")
        regcompare.main(["regcompare", "plan", self.pristine, out, scenario])
        with open(out, newline="") as f:
            self.assertEqual(
                "REGEDIT4\r\n\r\n[-HKEY_LOCAL_MACHINE\\Enum]\r\n\r\n"
                "[-HKEY_LOCAL_MACHINE\\Software\\Wine\\New]\r\n\r\n", f.read())


if __name__ == "__main__":
    unittest.main()
