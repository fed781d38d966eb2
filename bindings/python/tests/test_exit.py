"""The interpreter's exit with interfaces and replays left open: the package
closes them before Python stops the threads that could call into it, so a
script that simply ends exits at once."""

import os
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest

from support import VENDOR

# A device that sends a report every millisecond for a minute.
_STREAM = "".join("%d 00%04x%s\n" % (n * 1000, n, "a5" * 6) for n in range(60_000))
_RECORDING = ("juxhid-recording 1\nvendor 0x%04X\nproduct 0x0001\nusage-page 0xFF00\nusage 0x0001\n"
              "input-length 9\noutput-length 9\n" % VENDOR) + _STREAM

_SCRIPT = textwrap.dedent("""
    import sys, threading
    import juxhid

    lib = juxhid.Library(sim=True)
    lib.sim.replay(sys.argv[1])
    lib.list_devices(%d)
    lib.setup_interface(0)
    called = threading.Event()
    lib.set_data_callback(0, lambda payload: called.set())
    if not called.wait(10):
        sys.exit("no report reached the callback")
    print("streaming")
    # ... and the script ends without closing anything.
""" % VENDOR)

# A watch left running: atexit runs its hooks last registered first, so the
# script's own hook, registered before the package's, sees what the package's
# did.
_WATCH_SCRIPT = textwrap.dedent("""
    import atexit

    def report():
        print("running" if watch.running else "stopped")

    atexit.register(report)
    import juxhid

    lib = juxhid.Library(sim=True)
    watch = lib.watch(%d, on_arrived=print, on_removed=print)
    # ... and the script ends without stopping it.
""" % VENDOR)

# The script exits in well under a second once closed; the bound allows for a
# busy machine. Without the exit hook it never ended.
EXIT_LIMIT = 10.0


class InterpreterExit(unittest.TestCase):
    def test_a_script_ending_with_a_callback_on_a_streaming_device_exits_at_once(self):
        with tempfile.TemporaryDirectory() as folder:
            recording = os.path.join(folder, "stream.txt")
            with open(recording, "w") as file:
                file.write(_RECORDING)
            script = os.path.join(folder, "forgets_to_close.py")
            with open(script, "w") as file:
                file.write(_SCRIPT)
            started = time.monotonic()
            try:
                result = subprocess.run([sys.executable, script, recording], capture_output=True, text=True,
                                        timeout=EXIT_LIMIT + 10)
            except subprocess.TimeoutExpired:
                self.fail("the script did not exit within %.0f s" % (EXIT_LIMIT + 10))
            took = time.monotonic() - started
        self.assertEqual((result.returncode, result.stdout), (0, "streaming\n"), result.stderr)
        self.assertLess(took, EXIT_LIMIT, result.stderr)

    def test_a_watch_left_running_is_stopped_at_exit(self):
        with tempfile.TemporaryDirectory() as folder:
            script = os.path.join(folder, "forgets_to_stop.py")
            with open(script, "w") as file:
                file.write(_WATCH_SCRIPT)
            result = subprocess.run([sys.executable, script], capture_output=True, text=True,
                                    timeout=EXIT_LIMIT + 10)
        self.assertEqual((result.returncode, result.stdout), (0, "stopped\n"), result.stderr)


if __name__ == "__main__":
    unittest.main()
