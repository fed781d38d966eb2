"""The status table the package reads, and the errors that carry its codes."""

import importlib.util
import os
import re
import subprocess
import unittest
from pathlib import Path

import juxhid
from juxhid import StatusCode


def _load_generator():
    # By path, so that the source tree's package never shadows the built one.
    path = Path(__file__).resolve().parents[1] / "gen_tables.py"
    spec = importlib.util.spec_from_file_location("gen_tables", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


gen_tables = _load_generator()


class StatusTable(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("JUXHID_TOOL"), "JUXHID_TOOL names no tool to compare with")
    def test_table_agrees_with_the_one_the_c_compiler_expands(self):
        # The tool expands the header's X-macro with the preprocessor; the
        # package parsed it with a regular expression. They must agree.
        listing = subprocess.run([os.environ["JUXHID_TOOL"], "codes"], capture_output=True,
                                 text=True, check=True).stdout
        from_tool = [(int(code), name, meaning) for code, name, meaning in
                     re.findall(r"^ *(-?\d+)  (\w+) +(.*)$", listing, flags=re.M)]
        self.assertEqual([tuple(s) for s in juxhid.STATUS_TABLE], from_tool)

    def test_codes_are_unique_and_named_once(self):
        codes = [s.code for s in juxhid.STATUS_TABLE]
        names = [s.name for s in juxhid.STATUS_TABLE]
        self.assertEqual(len(codes), len(set(codes)))
        self.assertEqual(len(names), len(set(names)))
        self.assertEqual(len(StatusCode), len(codes))
        self.assertEqual(StatusCode.READ_LOCK_TIMEOUT, 3258)

    def test_error_carries_code_name_and_meaning(self):
        error = juxhid.JuxhidError("SetupInterface", 206)
        self.assertEqual(error.code, 206)
        self.assertEqual(error.function, "SetupInterface")
        self.assertEqual(error.name, "JUXHID_OPEN_READ_DENIED")
        self.assertEqual(str(error), "SetupInterface failed with 206 JUXHID_OPEN_READ_DENIED: "
                                     "opening the device for reading was denied")
        unknown = juxhid.JuxhidError("ReadData", 303303)
        self.assertIsNone(unknown.name)
        self.assertIn("not a status the library returns", str(unknown))


class HeaderParsing(unittest.TestCase):
    def test_status_entries_come_only_from_the_table_macro(self):
        header = '''
            /* X(NOT_AN_ENTRY, 9, "a comment") */
            #define JUXHID_STATUS_TABLE(X) \\
                X(A_OK, 0, "fine") \\
                X(A_QUOTED, 12, "says \\"no\\"")
            #define OTHER(X) X(B_LATER, 13, "outside the table")
        '''
        self.assertEqual(gen_tables.parse_status_table(header),
                         [(0, "A_OK", "fine"), (12, "A_QUOTED", 'says "no"')])

    def test_a_header_without_the_table_fails_loudly(self):
        with self.assertRaises(ValueError):
            gen_tables.parse_status_table("#define JUXHID_STATUS_TABLE(X)\n")
        with self.assertRaises(ValueError):
            gen_tables.parse_status_table("enum { A = 1 };")

    def test_enum_values_count_on_from_the_last_explicit_one(self):
        header = "typedef enum E { A = 3, /* x = 9, */ B, C = 0x10, // D = 1,\n D } E;"
        self.assertEqual(gen_tables.parse_enum(header, "E"), [("A", 3), ("B", 4), ("C", 16), ("D", 17)])


if __name__ == "__main__":
    unittest.main()
