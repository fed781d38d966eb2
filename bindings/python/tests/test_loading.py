"""How the package finds, loads and describes the library: the order of the
places it looks, the calling convention it picks, and what it says when the
library or its generated tables are not what it needs."""

import importlib.util
import os
import subprocess
import sys
import unittest
from pathlib import Path
from unittest import mock

import juxhid
from juxhid import _native


class CallingConvention(unittest.TestCase):
    def test_only_a_32_bit_windows_process_calls_stdcall(self):
        self.assertEqual(_native.calling_convention("win32", 4), "stdcall")
        self.assertEqual(_native.calling_convention("win32", 8), "cdecl")
        self.assertEqual(_native.calling_convention("linux", 4), "cdecl")
        self.assertEqual(_native.calling_convention("linux", 8), "cdecl")

    def test_this_process_loads_with_the_convention_of_its_own_width(self):
        expected = _native.calling_convention(sys.platform, 8 if sys.maxsize > 2 ** 32 else 4)
        self.assertEqual(_native.CONVENTION, expected)
        self.assertIs(_native._LOADER, _native.ctypes.CDLL if expected == "cdecl" else _native.ctypes.WinDLL)


class FindingTheLibrary(unittest.TestCase):
    def find(self, path=None, sim=False, built=None, **environment):
        with mock.patch.dict(os.environ, environment, clear=False), \
                mock.patch.object(_native, "_built_library", return_value=built):
            for name in ("JUXHID_LIBRARY", "JUXHID_SIM_LIBRARY"):
                if name not in environment:
                    os.environ.pop(name, None)
            return _native.find_library(path, sim)[0]

    def test_a_path_then_the_variable_of_its_kind_then_the_build_then_the_loader(self):
        self.assertEqual(self.find("/a.so", built="/b.so", JUXHID_LIBRARY="/e.so"), "/a.so")
        self.assertEqual(self.find(built="/b.so", JUXHID_LIBRARY="/e.so"), "/e.so")
        self.assertEqual(self.find(built="/b.so"), "/b.so")
        self.assertEqual(self.find(sim=True, built="/s.so", JUXHID_SIM_LIBRARY="/es.so"), "/es.so")
        if sys.platform.startswith("linux"):
            self.assertEqual(self.find(), "libjuxhid.so.0")
            self.assertEqual(self.find(sim=True), "libjuxhid_sim.so.0")
        self.assertEqual(_native.system_name(False, "win32"), "juxhid.dll")
        self.assertEqual(_native.system_name(True, "win32"), "juxhid_sim.dll")

    def test_the_real_device_variable_never_chooses_the_simulated_bus(self):
        self.assertEqual(self.find(sim=True, built="/s.so", JUXHID_LIBRARY="/real.so"), "/s.so")
        self.assertEqual(self.find(built="/r.so", JUXHID_SIM_LIBRARY="/es.so"), "/r.so")

    @unittest.skipUnless(os.environ.get("JUXHID_TEST_REAL_LIBRARY"), "no real-device library built")
    def test_asking_for_the_simulated_bus_refuses_a_library_without_it(self):
        real = os.environ["JUXHID_TEST_REAL_LIBRARY"]
        with self.assertRaisesRegex(OSError, "has no simulated bus"):
            juxhid.Library(real, sim=True)
        with mock.patch.dict(os.environ, {"JUXHID_SIM_LIBRARY": real}):
            with self.assertRaisesRegex(OSError, r"chosen by \$JUXHID_SIM_LIBRARY"):
                juxhid.Library(sim=True)
        real_library = juxhid.Library(real)
        self.assertFalse(real_library.has_sim)
        with self.assertRaisesRegex(AttributeError, "real-device library, which has no simulated bus"):
            real_library.sim

    def test_a_library_that_cannot_be_loaded_is_named_with_what_chose_it(self):
        with self.assertRaisesRegex(OSError, r"cannot load /nowhere/libjuxhid\.so \(chosen by the path passed\)"):
            juxhid.Library("/nowhere/libjuxhid.so")


class Package(unittest.TestCase):
    @unittest.skipUnless(os.environ.get("JUXHID_PROJECT_VERSION"), "the build states no version")
    def test_the_version_is_the_projects(self):
        self.assertEqual(juxhid.__version__, os.environ["JUXHID_PROJECT_VERSION"])

    @unittest.skipUnless(os.environ.get("JUXHID_PACKAGE_SOURCE"), "the source folder is not named")
    def test_importing_the_source_folder_says_how_to_get_the_generated_tables(self):
        env = dict(os.environ, PYTHONPATH=os.environ["JUXHID_PACKAGE_SOURCE"])
        result = subprocess.run([sys.executable, "-c", "import juxhid"], env=env, capture_output=True,
                                text=True, timeout=60)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("juxhid/_tables.py is missing", result.stderr)
        self.assertIn("pip install bindings/python", result.stderr)
        self.assertNotIn("circular import", result.stderr)

    def test_every_public_function_says_what_it_does(self):
        undocumented = []
        for owner in (juxhid.Library, juxhid.SimulatedBus, juxhid, juxhid.JuxhidError):
            for name in dir(owner):
                member = getattr(owner, name)
                if name.startswith("_") and name != "__init__" or not callable(member):
                    continue
                if getattr(member, "__module__", "").startswith("juxhid") and not member.__doc__:
                    undocumented.append("%s.%s" % (getattr(owner, "__name__", owner), name))
        self.assertEqual(undocumented, [])



def _load_site_dir():
    path = Path(__file__).resolve().parents[1] / "site_dir.py"
    spec = importlib.util.spec_from_file_location("site_dir", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


class InstallFolder(unittest.TestCase):
    """Where `cmake --install` puts the package: a folder the interpreter
    searches for the prefix, when it has one."""

    def test_the_searched_folder_under_the_prefix_wins(self):
        choose = _load_site_dir().choose
        debian = ["/usr/local/lib/python3.11/dist-packages", "/usr/lib/python3/dist-packages",
                  "/usr/lib/python3.11/dist-packages"]
        debian_path = ["/usr/lib/python3.11", "/usr/local/lib/python3.11/dist-packages", "/usr/lib/python3/dist-packages"]
        cases = [
            ("/usr/local", ["/usr/local/local/lib/python3.11/dist-packages", "/usr/local/lib/python3/dist-packages",
                            "/usr/local/lib/python3.11/dist-packages"], debian_path,
             ("searched", "lib/python3.11/dist-packages")),
            ("/usr", debian, debian_path, ("searched", "lib/python3/dist-packages")),
            ("/opt/x", ["/opt/x/lib/python3.11/site-packages"], ["/usr/lib/python3.11"],
             ("unsearched", "lib/python3.11/site-packages")),
        ]
        for prefix, candidates, searched, expected in cases:
            with self.subTest(prefix=prefix):
                self.assertEqual(choose(prefix, candidates, searched), expected)


if __name__ == "__main__":
    unittest.main()
