"""Device watches through the binding, on the simulated bus."""

import gc
import threading
import time
import unittest
import weakref

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

    def test_bad_arguments_are_refused_before_a_watch_starts(self):
        cases = [
            ({"vendor_id": 2 ** 32 + VENDOR}, ValueError),
            ({"vendor_id": -1}, ValueError),
            ({"vendor_id": "0x1A2B"}, TypeError),
            ({"vendor_id": True}, TypeError),
            ({"vendor_id": VENDOR, "on_arrived": 5}, TypeError),
            ({"vendor_id": VENDOR, "on_removed": "print"}, TypeError),
        ]
        for arguments, error in cases:
            with self.subTest(arguments=arguments):
                with self.assertRaises(error):
                    self.lib.watch(**arguments)
        # No watch thread was left behind by any of them.
        self.assertTrue(eventually(self.nothing_beyond_baseline), self.sim.counts())

    def test_close_and_the_with_block_stop_the_watches_their_library_started(self):
        seen = []
        kept = self.lib.watch(VENDOR, on_arrived=seen.append)
        mine_stopped_early = self.lib.watch(VENDOR, on_arrived=seen.append)
        mine_stopped_early.stop()
        with juxhid.Library(sim=True) as other:
            in_block = other.watch(VENDOR, on_arrived=seen.append)
            self.assertTrue(in_block.running)
        self.assertFalse(in_block.running)
        self.assertTrue(kept.running, "closing another Library stopped this one's watch")
        self.lib.close()
        self.assertFalse(kept.running)
        self.lib.close()  # harmless twice
        self.sim.detach(self.attach(path="/sim/after-close"))
        time.sleep(0.1)
        self.assertEqual(seen, [])

    def test_a_stopped_watch_lets_go_of_the_callables_also_when_one_stops_its_own_watch(self):
        class Recorder:
            def __init__(self):
                self.watch = None
                self.called = threading.Event()

            def __call__(self, event):
                if self.watch is not None:
                    self.watch.stop()  # from inside its own callback: its last
                self.called.set()

        for stop_inside in (False, True):
            with self.subTest(stop_inside=stop_inside):
                recorder = Recorder()
                gone = weakref.ref(recorder)
                watch = self.lib.watch(VENDOR, on_arrived=recorder, present=True)
                if stop_inside:
                    recorder.watch = watch
                self.attach(path="/sim/%s" % stop_inside)
                self.assertTrue(recorder.called.wait(3))
                self.assertTrue(eventually(lambda: not watch.running) if stop_inside else True)
                watch.stop()
                recorder = None
                self.assertTrue(eventually(lambda: gc.collect() >= 0 and gone() is None),
                                "the stopped watch still holds its callable")

if __name__ == "__main__":
    unittest.main()
