"""Polled reads through the binding: reports as bytes, None for nothing yet,
and the device-gone codes raised."""

import unittest

from juxhid import JuxhidError, StatusCode
from support import SimTestCase, eventually


def report(n, length=9):
    return bytes([0, n] + [0xA0 + n] * (length - 2))


class PolledReads(SimTestCase):
    def test_reports_come_out_oldest_first_then_none(self):
        device = self.open_device()
        self.deliver_until_readable(device, report(1))
        for n in (2, 3):
            self.sim.deliver(device, report(n))
        self.assertTrue(eventually(lambda: self.lib.read_last(0) == report(3)))
        self.assertEqual([self.lib.read_data(0) for _ in range(3)], [report(1), report(2), report(3)])
        self.assertIsNone(self.lib.read_data(0))

    def test_read_last_gives_the_newest_again_and_clear_buffer_forgets_it(self):
        device = self.open_device()
        self.deliver_until_readable(device, report(1))
        self.sim.deliver(device, report(2))
        self.assertTrue(eventually(lambda: self.lib.read_last(0) == report(2)))
        self.assertEqual(self.lib.read_last(0), report(2))
        self.lib.clear_buffer(0)
        self.assertIsNone(self.lib.read_data(0))
        self.assertIsNone(self.lib.read_last(0), "no report arrived after the clear")

    def test_an_unplugged_device_raises_its_gone_codes(self):
        device = self.open_device()
        self.sim.detach(device)
        self.assertTrue(eventually(lambda: self._read_status() == StatusCode.READ_DEVICE_GONE))
        with self.assertRaises(JuxhidError) as caught:
            self.lib.read_last(0)
        self.assertEqual(caught.exception.code, StatusCode.LAST_DEVICE_GONE)
        self.lib.cleanup_interface(0)

    def test_reads_of_a_device_without_input_raise_302_and_502(self):
        self.open_device(input_length=0)
        for read, code in ((self.lib.read_data, 302), (self.lib.read_last, 502)):
            with self.assertRaises(JuxhidError) as caught:
                read(0)
            self.assertEqual(caught.exception.code, code)

    def _read_status(self):
        try:
            self.lib.read_data(0)
            return StatusCode.OK
        except JuxhidError as error:
            return error.code


if __name__ == "__main__":
    unittest.main()
