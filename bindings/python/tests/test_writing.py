"""Writes through the binding: reports padded to the device's length, the
paced queue's timing, and its refusals raised."""

import unittest

from juxhid import JuxhidError, StatusCode
from support import SimTestCase, eventually


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


if __name__ == "__main__":
    unittest.main()
