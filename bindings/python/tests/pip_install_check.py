"""pip-installs the package from its source folder into a fresh virtual
environment, offline, and uses the installed copy against the simulated bus:
once with the library named by $JUXHID_SIM_LIBRARY, once found by the
dynamic loader under its installed name.

    python3 pip_install_check.py SOURCE WORK SIM_LIBRARY PROJECT_VERSION
"""

import os
import shutil
import subprocess
import sys
import venv
from pathlib import Path

USE = r'''
import sys, time
import juxhid
assert juxhid.__version__ == sys.argv[1], (juxhid.__version__, sys.argv[1])
assert "site-packages" in juxhid.__file__, juxhid.__file__
lib = juxhid.Library(sim=True)
device = lib.sim.attach(0x1A2B, 5, input_length=9, output_length=9)
assert [d.product_id for d in lib.list_devices(0x1A2B)] == [5]
seen = []
with lib.opened(0):
    lib.set_data_callback(0, seen.append)   # list.append returns None: delivery goes on
    deadline = time.monotonic() + 5
    while len(seen) < 2 and time.monotonic() < deadline:
        lib.sim.deliver(device, bytes([0, len(seen) + 1]) + bytes(7))
        time.sleep(0.02)
    lib.write_data(0, b"\x00\x42")
    assert lib.sim.take_output(device).data == b"\x00\x42" + bytes(7)
assert len(seen) >= 2, seen
print("ok", lib.path)
'''


def fail(what, result=None):
    details = "" if result is None else "\n--- stdout ---\n%s--- stderr ---\n%s" % (result.stdout, result.stderr)
    sys.exit("pip install check: %s%s" % (what, details))


def run(command, env, cwd):
    return subprocess.run(command, env=env, cwd=cwd, capture_output=True, text=True, timeout=240)


def clean_environment(**extra):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("JUXHID_", "PYTHON", "VIRTUAL_ENV")) and k != "LD_LIBRARY_PATH"}
    env.update(extra)
    return env


def main(source, work, sim_library, version):
    work = Path(work).resolve()
    source, sim_library = os.path.abspath(source), os.path.abspath(sim_library)
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    try:
        venv.EnvBuilder(with_pip=True, clear=True).create(work / "env")
    except Exception as error:  # noqa: BLE001 - any failure here has the same cure
        fail("creating a virtual environment with pip failed (%s); on Debian install python3-venv" % error)
    python = str(work / "env" / ("Scripts" if os.name == "nt" else "bin") / "python")

    installed = run([python, "-m", "pip", "install", "--no-index", "--no-cache-dir", source],
                    clean_environment(PIP_DISABLE_PIP_VERSION_CHECK="1"), work)
    if installed.returncode != 0:
        fail("pip install %s failed" % source, installed)

    named = run([python, "-c", USE, version], clean_environment(JUXHID_SIM_LIBRARY=sim_library), work)
    if named.returncode != 0 or "ok " + sim_library not in named.stdout:
        fail("the installed package failed with $JUXHID_SIM_LIBRARY", named)
    if sys.platform.startswith("linux"):
        found = run([python, "-c", USE, version],
                    clean_environment(LD_LIBRARY_PATH=os.path.dirname(sim_library)), work)
        if found.returncode != 0 or "ok libjuxhid_sim.so.0" not in found.stdout:
            fail("the installed package did not load libjuxhid_sim.so.0 from the loader's path", found)
    print("pip install check: ok")


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
