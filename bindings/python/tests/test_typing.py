"""The package under `mypy --strict`: its own code, and a user's code that
relies on what it declares (the simulated bus of Library(sim=True), the
status codes as static members)."""

import os
import shutil
import subprocess
import tempfile
import unittest

import juxhid

_USER_CODE = """
import juxhid


def arrived(event: juxhid.WatchEvent) -> None:
    path: str = event.path


with juxhid.Library(sim=True) as lib:
    device: int = lib.sim.attach(0x1A2B, 1, input_length=9, output_length=9)
    devices = lib.list_devices(0x1A2B)
    first: int = devices[0].read_length
    gone: int = juxhid.StatusCode.READ_DEVICE_GONE
    call: juxhid.SimCall = juxhid.SimCall.WRITE
    report = lib.read_data(0)
    if report is not None:
        length: int = len(report)
    with lib.watch(0x1A2B, on_arrived=arrived, present=True) as watch:
        running: bool = watch.running
"""


@unittest.skipUnless(shutil.which("mypy"), "mypy is not installed")
class StrictTyping(unittest.TestCase):
    def mypy(self, *targets):
        package_root = os.path.dirname(os.path.dirname(juxhid.__file__))
        env = dict(os.environ, MYPYPATH=package_root)
        with tempfile.TemporaryDirectory() as cache:
            return subprocess.run(["mypy", "--strict", "--no-error-summary", "--cache-dir", cache, *targets],
                                  cwd=package_root, env=env, capture_output=True, text=True, timeout=300)

    def test_the_package_and_code_using_it_are_clean_under_strict(self):
        with tempfile.TemporaryDirectory() as folder:
            user = os.path.join(folder, "user_code.py")
            with open(user, "w") as file:
                file.write(_USER_CODE)
            result = self.mypy(os.path.dirname(juxhid.__file__), user)
        self.assertEqual((result.returncode, result.stdout), (0, ""), result.stderr)

    def test_a_type_error_in_user_code_is_found(self):
        # The check above proves something only if mypy sees the package's
        # types: a misuse of them must be reported.
        with tempfile.TemporaryDirectory() as folder:
            user = os.path.join(folder, "misuse.py")
            with open(user, "w") as file:
                file.write("import juxhid\nname: str = juxhid.StatusCode.READ_DEVICE_GONE\n")
            result = self.mypy(user)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("misuse.py:2: error", result.stdout)


if __name__ == "__main__":
    unittest.main()
