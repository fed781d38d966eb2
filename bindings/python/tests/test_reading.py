"""Polled reads through the binding: reports as bytes, None for nothing yet,
and the device-gone codes raised."""

import os
import tempfile
import time
import unittest

import juxhid
from juxhid import JuxhidError, ReplayError, StatusCode
from support import VENDOR, SimTestCase, eventually


def read_status(lib):
    """ReadData's status for index 0, without the report."""
    try:
        lib.read_data(0)
        return StatusCode.OK
    except JuxhidError as error:
        return error.code


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
        self.assertTrue(eventually(lambda: read_status(self.lib) == StatusCode.READ_DEVICE_GONE))
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


RECORDING_HEADER = ("juxhid-recording 1\nvendor 0x%04X\nproduct 0x0001\nusage-page 0xFF00\nusage 0x0001\n"
                    "input-length 9\noutput-length 9\n" % VENDOR)


class ReplayedReads(SimTestCase):
    """A recorded device replayed on the bus, read as a host reads it."""

    def setUp(self):
        super().setUp()
        handle, self.path = tempfile.mkstemp(suffix=".txt")
        os.close(handle)
        self.replay = None

    def tearDown(self):
        if self.replay is not None:
            self.replay.close()
        os.remove(self.path)
        super().tearDown()

    def start(self, body, speed=1.0):
        with open(self.path, "w") as file:
            file.write(RECORDING_HEADER + body)
        self.replay = self.sim.replay(self.path, speed)
        self.assertEqual(len(self.lib.list_devices(VENDOR)), 1)
        self.lib.setup_interface(0)
        return self.replay

    def test_reports_arrive_in_order_at_their_gaps_then_the_unplug(self):
        replay = self.start("".join("%d %s\n" % (n * 40000, report(n).hex()) for n in range(4)) + "unplug 200000\n")
        opened = time.monotonic()
        arrived = []
        while len(arrived) < 4 and eventually(lambda: self._arrival(arrived), limit=2.0):
            pass
        self.assertEqual([data for data, _ in arrived], [report(n) for n in range(4)])
        # The replay keeps each report's time after the opening, not after the
        # one before, so each arrival is held to its own time: one late poll on
        # a loaded machine shortens the next gap however exactly the replay
        # kept its times. Early by at most 30 ms (the clock started in
        # setup_interface, a little before `opened`), late by at most a
        # second on a loaded machine.
        lateness = [at - opened - 0.04 * n for n, (_, at) in enumerate(arrived)]
        self.assertTrue(all(-0.03 < late < 1.0 for late in lateness), lateness)
        self.assertTrue(replay.wait(2.0))
        self.assertEqual(replay.delivered(), 4)
        self.assertTrue(eventually(lambda: read_status(self.lib) == StatusCode.READ_DEVICE_GONE))
        self.lib.cleanup_interface(0)

    def test_stop_ends_early_and_the_device_stays(self):
        replay = self.start("0 %s\n60000000 %s\n" % (report(1).hex(), report(2).hex()), speed=0.5)
        self.assertTrue(eventually(lambda: self.lib.read_data(0) == report(1)))
        self.assertFalse(replay.wait(0.05))
        replay.stop()
        self.assertTrue(replay.wait(0))
        self.assertEqual(replay.delivered(), 1)
        self.assertEqual(len(self.lib.list_devices(VENDOR)), 1)

    def test_a_bad_line_raises_with_its_number_and_attaches_nothing(self):
        with open(self.path, "w") as file:
            file.write(RECORDING_HEADER + "10 00\n")
        with self.assertRaises(ReplayError) as caught:
            self.sim.replay(self.path)
        self.assertEqual(caught.exception.line, 8)
        self.assertIn("line 8: the report has 1 bytes", str(caught.exception))
        with self.assertRaises(ReplayError) as caught:
            self.sim.replay(self.path, speed=-1)
        self.assertEqual(caught.exception.line, 0)
        with open(self.path, "w") as file:  # a device without input reports has nothing to play
            file.write(RECORDING_HEADER.replace("input-length 9", "input-length 0") + "unplug 10\n")
        with self.assertRaises(ReplayError) as caught:
            self.sim.replay(self.path)
        self.assertEqual(caught.exception.line, 6)
        self.assertEqual(self.lib.list_devices(VENDOR), [])

    def test_a_missing_file_raises_file_not_found_error(self):
        missing = self.path + ".gone"
        with self.assertRaises(FileNotFoundError) as caught:
            self.sim.replay(missing)
        self.assertEqual(caught.exception.filename, missing)
        self.assertEqual(self.lib.list_devices(VENDOR), [])

    def test_a_library_in_a_with_block_closes_its_interfaces_and_replays(self):
        with open(self.path, "w") as file:
            file.write(RECORDING_HEADER + "0 %s\n60000000 %s\n" % (report(1).hex(), report(2).hex()))
        with juxhid.Library(sim=True) as lib:
            replay = lib.sim.replay(self.path)
            self.assertEqual(len(lib.list_devices(VENDOR)), 1)
            lib.setup_interface(0)
            lib.set_data_callback(0, print)
            self.assertTrue(eventually(lambda: lib.read_data(0) == report(1)))
            self.assertGreater(self.sim.counts().threads, self.baseline[5])
        self.assertTrue(self.nothing_beyond_baseline(), self.sim.counts())
        with self.assertRaisesRegex(ValueError, "the replay was closed"):
            replay.delivered()
        self.assertEqual(read_status(self.lib), StatusCode.READ_NOT_OPEN)

    def _arrival(self, arrived):
        data = self.lib.read_data(0)
        if data is not None:
            arrived.append((data, time.monotonic()))
        return data is not None


if __name__ == "__main__":
    unittest.main()
