"""Listing devices and the length queries through the binding."""

import unittest

from juxhid import JuxhidError, SimCall, StatusCode
from support import VENDOR, SimTestCase


class Listing(SimTestCase):
    def test_lists_the_vendors_devices_in_order_with_their_lengths(self):
        self.attach(product=0x10, input_length=9, output_length=0, usage_page=0x0001, usage=6)
        self.attach(product=0x20, vendor=0x9999)
        self.attach(product=0x30, input_length=65, output_length=33)
        devices = self.lib.list_devices(VENDOR)
        self.assertEqual([(d.index, d.product_id, d.read_length, d.write_length) for d in devices],
                         [(0, 0x10, 9, 0), (1, 0x30, 65, 33)])
        self.assertEqual((devices[0].usage_page, devices[0].usage), (0x0001, 6))

    def test_no_device_of_the_vendor_is_an_empty_list(self):
        self.attach(vendor=0x9999)
        self.assertEqual(self.lib.list_devices(VENDOR), [])

    def test_a_failed_listing_raises_with_its_status(self):
        self.attach()
        fault = self.sim.arm_fault(SimCall.LIST_OPEN)
        with self.assertRaises(JuxhidError) as caught:
            self.lib.list_devices(VENDOR)
        self.assertEqual(self.sim.fault_fired(fault), 1)
        self.assertEqual(caught.exception.code, StatusCode.LIST_NO_DEVICE_LIST)
        self.assertEqual(caught.exception.function, "EnumerateJUX")

    def test_lengths_of_an_unlisted_index_raise_index_error(self):
        self.attach()
        self.lib.list_devices(VENDOR)
        self.assertEqual(self.lib.read_length(0), 9)
        for index in (-1, 1, 25):
            with self.assertRaises(IndexError):
                self.lib.read_length(index)
            with self.assertRaises(IndexError):
                self.lib.write_length(index)


class Opening(SimTestCase):
    def test_a_refused_read_open_raises_206_and_opened_gives_everything_back(self):
        device = self.attach()
        self.lib.list_devices(VENDOR)
        fault = self.sim.arm_fault(SimCall.OPEN_READ, error=5, device=device)
        with self.assertRaises(JuxhidError) as caught:
            with self.lib.opened(0):
                self.fail("the block runs only after a successful opening")
        self.assertEqual(caught.exception.code, StatusCode.OPEN_READ_DENIED)
        self.assertEqual(self.sim.fault_fired(fault), 1)
        self.assertTrue(self.nothing_beyond_baseline(), self.sim.counts())

    def test_opened_closes_the_interface_when_the_block_ends(self):
        self.attach()
        self.lib.list_devices(VENDOR)
        with self.lib.opened(0) as index:
            self.assertGreater(self.sim.counts().handles, 0)
            self.assertEqual(index, 0)
        self.assertTrue(self.nothing_beyond_baseline(), self.sim.counts())

    def test_an_unlisted_index_raises_201(self):
        self.assertEqual(self.lib.list_devices(VENDOR), [])
        with self.assertRaises(JuxhidError) as caught:
            self.lib.setup_interface(0)
        self.assertEqual(caught.exception.code, StatusCode.OPEN_BAD_INDEX)

    def test_the_fault_kinds_match_the_simulated_bus(self):
        # The enumeration comes from the header; the bus refuses a kind
        # outside it, so an off-by-one in either shows here.
        self.assertGreater(self.sim.arm_fault(max(SimCall), skip=1_000_000), 0)
        with self.assertRaises(ValueError):
            self.sim.arm_fault(max(SimCall) + 1)



class Arguments(SimTestCase):
    """ctypes would cut an int to 32 bits and raise its own error for a str:
    the package refuses both first, as Python does."""

    def test_integers_beyond_32_bits_raise_value_error_and_other_types_type_error(self):
        self.attach()
        self.assertEqual(len(self.lib.list_devices(VENDOR)), 1)
        self.lib.setup_interface(0)
        calls = {
            "list_devices": lambda value: self.lib.list_devices(value),
            "read_data": lambda value: self.lib.read_data(value),
            "read_length": lambda value: self.lib.read_length(value),
            "set_data_callback": lambda value: self.lib.set_data_callback(value, print),
            "write_data": lambda value: self.lib.write_data(value, b"\x00"),
            "close_interface": lambda value: self.lib.close_interface(value),
            "sim.deliver": lambda value: self.sim.deliver(value, bytes(9)),
        }
        cases = [(2 ** 32, ValueError), (-(2 ** 31) - 1, ValueError), (VENDOR + 2 ** 32, ValueError),
                 ("0", TypeError), (0.0, TypeError), (None, TypeError), (True, TypeError)]
        for name, call in calls.items():
            for value, error in cases:
                with self.subTest(call=name, value=value), self.assertRaises(error):
                    call(value)
        with self.assertRaises(ValueError):
            self.sim.attach(VENDOR, 2 ** 32)
        with self.assertRaises(TypeError):
            self.lib.write_data(0, "01")
        with self.assertRaises(TypeError):
            self.lib.set_data_callback(0, "not callable")
        self.assertIsNone(self.lib.read_data(0), "index 0 still answers: no report")


if __name__ == "__main__":
    unittest.main()
