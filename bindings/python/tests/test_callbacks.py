"""Callbacks through the binding: Python callables on the library's thread,
kept alive by the package while installed."""

import contextlib
import gc
import io
import threading
import tracemalloc
import unittest
import weakref

from juxhid import StatusCode
from juxhid.library import ends_delivery
from support import SimTestCase, eventually


class Collector:
    def __init__(self, result=None):
        self.calls = []
        self.result = result
        self.lock = threading.Lock()

    def __call__(self, value):
        with self.lock:
            self.calls.append(value)
        return self.result

    def count(self):
        with self.lock:
            return len(self.calls)


class Callbacks(SimTestCase):
    def test_data_callback_receives_the_report_without_its_first_byte(self):
        device = self.open_device()
        seen = Collector()
        self.lib.set_data_callback(0, seen)
        self.deliver_until_readable(device, bytes(range(9)))
        self.assertTrue(eventually(lambda: seen.count() >= 1))
        self.assertEqual(seen.calls[0], bytes(range(1, 9)))

    def test_a_callable_dropped_by_the_caller_stays_alive_while_installed(self):
        device = self.open_device()
        seen = []
        self.lib.set_data_callback(0, lambda payload: seen.append(payload))
        gc.collect()
        self.deliver_until_readable(device, bytes(9))
        self.assertTrue(eventually(lambda: len(seen) >= 1))

    def test_a_replaced_callable_is_let_go_and_repeated_setting_does_not_grow(self):
        device = self.open_device()

        class Holder:  # a bound method of an object holding 10 kB
            def __init__(self):
                self.ballast = bytes(10_000)

            def on_report(self, payload):
                return None

        first = Holder()
        released = weakref.ref(first)
        self.lib.set_data_callback(0, first.on_report)
        del first
        self.lib.set_data_callback(0, Holder().on_report)
        gc.collect()
        self.assertIsNone(released(), "the replaced callable is still referenced")

        tracemalloc.start()
        try:
            before = tracemalloc.get_traced_memory()[0]
            for _ in range(20_000):
                self.lib.set_data_callback(0, Holder().on_report)
            gc.collect()
            grown = tracemalloc.get_traced_memory()[0] - before
        finally:
            tracemalloc.stop()
        # Keeping each would hold 200 MB; one holder and bookkeeping stay far below 1 MB.
        self.assertLess(grown, 1_000_000)
        seen = Collector()
        self.lib.set_data_callback(0, seen)
        self.deliver_until_readable(device, bytes(9))
        self.assertTrue(eventually(lambda: seen.count() >= 1), "the last callback set is the one called")

    def test_closing_lets_go_of_the_interfaces_callables(self):
        self.open_device()
        seen, gone = Collector(), Collector()
        data_ref, error_ref = weakref.ref(seen), weakref.ref(gone)
        self.lib.set_data_callback(0, seen)
        self.lib.set_error_callback(0, gone)
        del seen, gone
        self.lib.close_interface(0)
        gc.collect()
        self.assertEqual((data_ref(), error_ref()), (None, None))

    def test_changed_only_skips_reports_whose_payload_repeats(self):
        device = self.open_device()
        seen = Collector()
        self.lib.set_data_callback(0, seen, changed_only=True)
        self.deliver_until_readable(device, bytes([0, 1] + [0] * 7))
        self.assertTrue(eventually(lambda: seen.count() == 1))
        self.sim.deliver(device, bytes([9, 1] + [0] * 7))  # only the report-ID byte differs
        self.sim.deliver(device, bytes([0, 2] + [0] * 7))
        self.assertTrue(eventually(lambda: seen.count() == 2))
        self.assertEqual(seen.calls[1][0], 2)

    def test_returning_false_ends_delivery(self):
        device = self.open_device()
        seen = Collector(result=False)
        self.lib.set_data_callback(0, seen)
        self.deliver_until_readable(device, bytes(9))
        self.assertTrue(eventually(lambda: seen.count() == 1))
        for _ in range(3):
            self.sim.deliver(device, bytes([0, 7] + [0] * 7))
        self.assertFalse(eventually(lambda: seen.count() > 1, limit=0.3))

    def test_only_false_or_zero_said_explicitly_ends_delivery(self):
        for result in (False, 0):
            self.assertTrue(ends_delivery(result), repr(result))
        for result in (None, True, 1, -1, b"", [], "", 0.0, (), "0"):
            self.assertFalse(ends_delivery(result), repr(result))

    def test_an_empty_result_goes_on_and_keeps_the_error_callback(self):
        device = self.open_device()
        seen = Collector(result=b"")
        gone = Collector()
        self.lib.set_error_callback(0, gone)
        self.lib.set_data_callback(0, seen)
        self.deliver_until_readable(device, bytes(9))
        self.assertTrue(eventually(lambda: seen.count() >= 1))
        self.sim.deliver(device, bytes([0, 7] + [0] * 7))
        self.assertTrue(eventually(lambda: seen.count() >= 2))
        self.sim.detach(device)
        self.assertTrue(eventually(lambda: gone.count() == 1))
        self.lib.cleanup_interface(0)

    def test_an_exception_in_the_callback_is_printed_and_delivery_goes_on(self):
        device = self.open_device()
        calls = Collector()

        def failing(payload):
            calls(payload)
            raise RuntimeError("callback trouble")

        errors = io.StringIO()
        with contextlib.redirect_stderr(errors):
            self.lib.set_data_callback(0, failing)
            self.deliver_until_readable(device, bytes(9))
            self.assertTrue(eventually(lambda: calls.count() >= 1))
            self.sim.deliver(device, bytes([0, 5] + [0] * 7))
            self.assertTrue(eventually(lambda: calls.count() >= 2))
        self.assertIn("callback trouble", errors.getvalue())

    def test_error_callback_hears_307_once_when_unplugged(self):
        device = self.open_device()
        gone = Collector()
        self.lib.set_error_callback(0, gone)
        self.sim.detach(device)
        self.assertTrue(eventually(lambda: gone.count() == 1))
        self.assertEqual(gone.calls, [StatusCode.READ_DEVICE_GONE])
        self.lib.cleanup_interface(0)

    def test_setting_none_stops_data_delivery(self):
        device = self.open_device()
        seen = Collector()
        self.lib.set_data_callback(0, seen)
        self.deliver_until_readable(device, bytes(9))
        self.assertTrue(eventually(lambda: seen.count() >= 1))
        self.lib.set_data_callback(0, None)
        before = seen.count()
        self.sim.deliver(device, bytes([0, 3] + [0] * 7))
        self.assertFalse(eventually(lambda: seen.count() > before, limit=0.3))


if __name__ == "__main__":
    unittest.main()
