"""Writes through the binding: reports padded to the device's length, the
paced queue's timing, its refusals raised, and a queued write's inherited
background failure told apart from the call's own."""

import unittest

from juxhid import DeferredWriteWarning, JuxhidError, SimCall, SimThread, StatusCode
from support import VENDOR, SimTestCase, eventually


class Writes(SimTestCase):
    def test_a_short_report_is_padded_to_the_output_length(self):
        device = self.open_device(output_length=9)
        self.lib.write_data(0, b"\x01\x02")
        self.assertTrue(eventually(lambda: self.sim.output_count(device) == 1))
        self.assertEqual(self.sim.take_output(device).data, b"\x01\x02" + bytes(7))

    def test_a_report_longer_than_the_output_length_is_refused_unsent(self):
        device = self.open_device(output_length=4)
        with self.assertRaises(ValueError):
            self.lib.write_data(0, bytes(5))
        self.assertEqual(self.sim.output_count(device), 0)

    def test_a_burst_goes_out_one_report_per_tick(self):
        device = self.open_device()
        for n in range(4):
            self.lib.write_data(0, bytes([0, n]))
        self.assertTrue(eventually(lambda: self.sim.output_count(device) == 4))
        outputs = self.sim.outputs(device)
        self.assertEqual([o.data[1] for o in outputs], [0, 1, 2, 3])
        gaps_ms = [(b.timestamp_ns - a.timestamp_ns) / 1e6 for a, b in zip(outputs, outputs[1:])]
        for gap in gaps_ms:  # about 50 ms; the bounds allow for a busy machine
            self.assertGreater(gap, 25, gaps_ms)
            self.assertLess(gap, 500, gaps_ms)

    def test_fast_write_during_a_slow_chain_raises_414(self):
        self.open_device()
        self.lib.write_data(0, bytes(9))
        with self.assertRaises(JuxhidError) as caught:
            self.lib.fast_write(0, bytes(9))
        self.assertEqual(caught.exception.code, StatusCode.WRITE_SLOW_CHAIN)
        self.assertEqual(caught.exception.function, "FastWrite")

    def test_a_device_without_output_raises_402(self):
        self.open_device(output_length=0)
        with self.assertRaises(JuxhidError) as caught:
            self.lib.write_data(0, b"\x00")
        self.assertEqual(caught.exception.code, StatusCode.WRITE_NO_OUTPUT)



class WhoseFailure(SimTestCase):
    """A tick's failed device write waits for the next queued write, on any
    interface; that write's own report is queued and must not raise."""

    def open_two(self):
        devices = [self.attach(product=1), self.attach(product=2)]
        self.assertEqual(len(self.lib.list_devices(VENDOR)), 2)
        for index in (0, 1):
            self.lib.setup_interface(index)
        return devices

    def idle_chain(self):
        self.assertTrue(eventually(lambda: self.sim.counts().timers == 0), "a pacing chain still runs")

    def test_a_queued_write_warns_of_an_earlier_writes_failure_and_keeps_its_own_report(self):
        first, second = self.open_two()
        self.idle_chain()
        # Ten queued reports keep the chain running for at least 400 ms
        # after the first tick, which fails.
        fault = self.sim.arm_fault(SimCall.WRITE, thread=SimThread.TIMER, error=31, count=1)
        for n in range(11):
            self.lib.write_data(0, bytes([0, n]))
        self.assertTrue(eventually(lambda: self.sim.fault_fired(fault) == 1))
        with self.assertWarns(DeferredWriteWarning) as caught:
            self.lib.write_data(1, b"\x00\x42")
        self.assertEqual((caught.warning.code, caught.warning.index), (StatusCode.WRITE_FAILED, 1))
        self.assertTrue(eventually(lambda: self.sim.output_count(second) == 1))
        self.assertEqual(self.sim.take_output(second).data[:2], b"\x00\x42")
        self.assertTrue(eventually(lambda: self.sim.output_count(first) == 10))

    def test_a_direct_write_raises_its_own_device_failure(self):
        self.open_device()
        self.idle_chain()
        for call, error, short, code in ((SimCall.WRITE, 31, 0, StatusCode.WRITE_FAILED),
                                         (SimCall.WRITE, 0, 3, StatusCode.WRITE_SHORT)):
            self.sim.arm_fault(call, error=error, short_count=short, count=1)
            with self.assertRaises(JuxhidError) as caught:
                self.lib.write_data(0, bytes(9))
            self.assertEqual(caught.exception.code, code)
            self.idle_chain()


if __name__ == "__main__":
    unittest.main()
