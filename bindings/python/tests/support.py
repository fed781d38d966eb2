"""Shared ground for the binding's tests: the simulated-bus library, an empty
bus for every test, and a check at the end that nothing was left open."""

import time
import unittest

import juxhid

VENDOR = 0x1A2B
_LIBRARY = None


def library():
    global _LIBRARY
    if _LIBRARY is None:
        _LIBRARY = juxhid.Library(sim=True)
    return _LIBRARY


def eventually(condition, limit=3.0):
    """Polls `condition` until it is true or `limit` seconds pass."""
    deadline = time.monotonic() + limit
    while not condition():
        if time.monotonic() > deadline:
            return False
        time.sleep(0.005)
    return True


class SimTestCase(unittest.TestCase):
    def setUp(self):
        self.lib = library()
        self.sim = self.lib.sim
        self.assertIsNotNone(self.sim, "%s has no simulated bus" % self.lib.path)
        self.sim.reset()
        # What the loaded library holds for good (its write lock), so that
        # each test proves it left nothing beyond it.
        self.baseline = self.sim.counts().held()

    def tearDown(self):
        self.sim.clear_faults()
        for index in range(25):
            self.lib.close_interface(index)
        self.assertTrue(eventually(self.nothing_beyond_baseline),
                        "left open: %s, before the test: %s" % (self.sim.counts(), self.baseline))
        self.sim.reset()

    def nothing_beyond_baseline(self):
        return self.sim.counts().held() == self.baseline

    def attach(self, product=1, input_length=9, output_length=9, vendor=VENDOR, **info):
        return self.sim.attach(vendor, product, input_length=input_length,
                               output_length=output_length, **info)

    def open_device(self, input_length=9, output_length=9):
        """Attaches one device, lists it and opens index 0; returns its id."""
        device = self.attach(input_length=input_length, output_length=output_length)
        self.assertEqual(len(self.lib.list_devices(VENDOR)), 1)
        self.lib.setup_interface(0)
        return device

    def deliver_until_readable(self, device, report):
        """Delivers once the reader holds a read handle, and waits until the
        report is stored."""
        self.assertTrue(eventually(lambda: self.sim.deliver(device, report) > 0))
