"""Device watches through the binding, on the simulated bus."""

import threading
import time
import unittest

import juxhid
from juxhid.watch import WatchEvent
from support import VENDOR, SimTestCase, eventually


class WatchTest(SimTestCase):
    def test_arrivals_and_removals_reach_their_callables_in_order(self):
        seen = []
        lock = threading.Lock()

        def record(event):
            with lock:
                seen.append(event)

        before = self.attach(product=1, path="/sim/before")
        with self.lib.watch(VENDOR, on_arrived=record, on_removed=record, present=True) as watch:
            self.assertTrue(watch.running)
            later = self.attach(product=2, input_length=65, output_length=0, path="/sim/later")
            self.sim.detach(before)
            self.sim.detach(later)
            self.assertTrue(eventually(lambda: len(seen) >= 4))
        self.assertFalse(watch.running)
        self.assertEqual([(e.kind, e.path) for e in seen],
                         [("arrived", "/sim/before"), ("arrived", "/sim/later"),
                          ("removed", "/sim/before"), ("removed", "/sim/later")])
        self.assertEqual(seen[3], WatchEvent("removed", VENDOR, 2, 0xFF00, 1, 65, 0, "/sim/later"))

    def test_only_the_asked_for_kind_is_called_and_a_raising_callable_does_not_stop_the_watch(self):
        arrived = []

        def explode(event):
            arrived.append(event.path)
            raise RuntimeError("the host's own fault")

        watch = self.lib.watch(VENDOR, on_arrived=explode)
        try:
            for n in range(2):
                self.sim.detach(self.attach(product=n, path="/sim/%d" % n))
            self.assertTrue(eventually(lambda: len(arrived) >= 2))
            time.sleep(0.1)
            self.assertEqual(arrived, ["/sim/0", "/sim/1"])
        finally:
            watch.stop()
        watch.stop()  # harmless when stopped

    def test_a_failed_start_raises_with_the_status(self):
        self.sim.arm_fault(juxhid.SimCall.THREAD_START)
        with self.assertRaises(juxhid.JuxhidError) as raised:
            self.lib.watch(VENDOR, on_arrived=print)
        self.assertEqual(raised.exception.code, juxhid.StatusCode.WATCH_NO_THREAD)


if __name__ == "__main__":
    unittest.main()
