#!/usr/bin/env python3
"""The report's own arithmetic and naming: the figure sheet it writes for
platform "sim" must carry each figure beside the right floor, under the
name every platform's pass uses, so that two sheets compare figure by
figure. Python's standard library only."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written beside the sources
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import report  # noqa: E402


def cost(cpu, asked=1000, achieved=1000, p50=0, p99=0, wakeups=3):
    return {"cpu_us_per_report": cpu, "asked_rate": asked, "achieved_rate": achieved, "p50_us": p50,
            "p99_us": p99, "wakeups_per_report": wakeups}


def idle(percent, wakeups):
    return {"percent_of_core": percent, "wakeups_per_s": wakeups, "window_s": 5.0}


class SheetFigures(unittest.TestCase):
    def figures(self, paths):
        return {(f["section"], f["name"]): f for f in report.sheet_figures(paths)}

    def test_each_figure_sits_beside_its_own_floor(self):
        paths = {
            "cost/floor/at_1000": cost(20, p50=10, p99=40),
            "cost/callback/at_1000": cost(50, p50=30, p99=90),
            "cost/ReadData/at_1000": cost(30),
            "scaling/floor/at_25000": cost(15, asked=25000, achieved=25000, p50=12, p99=60),
            "scaling/callback/25_interfaces": cost(45, asked=25000, achieved=25000, p50=70, p99=400),
            "idle/nothing_open": idle(0.001, 0.2),
            "idle/25_interfaces_open_with_callbacks": idle(1.0, 500),
        }
        got = self.figures(paths)
        cases = [
            ("CPU per report", "CPU per report, callback, 1,000/s", 50, 20),
            ("CPU per report", "CPU per report, ReadData, 1,000/s", 30, 20),
            ("Scaling (1,000/s per interface)", "1 interface, callback p99", 90, 40),
            ("Scaling (1,000/s per interface)", "25 interfaces, callback p50", 70, 12),
            ("Scaling (1,000/s per interface)", "25 interfaces, CPU per report", 45, 15),
            ("Idle cost", "idle, 25 interfaces open, data callbacks set: CPU", 1.0, 0.001),
            ("Idle cost", "idle, 25 interfaces open, data callbacks set: wake-ups", 500, 0.2),
        ]
        for section, name, value, floor in cases:
            with self.subTest(name=name):
                figure = got[(section, name)]
                self.assertEqual((figure["value"], figure["floor"]), (value, floor))
        self.assertNotIn(("Scaling (1,000/s per interface)", "5 interfaces, callback p50"), got,
                         "no figure without its measurement")

    def test_the_fifty_millisecond_look_is_named_only_where_its_wakeups_were_counted(self):
        floor = idle(0.001, 0.2)
        for wakeups, interfaces, named in ((500.2, 25, True), (20.2, 1, True), (0.2, 25, False), (60.2, 1, False)):
            with self.subTest(wakeups=wakeups, interfaces=interfaces):
                why = report.idle_why(idle(0.5, wakeups), floor, interfaces)
                self.assertEqual("every 50 ms" in why, named)

    def test_a_rate_not_reached_is_said_in_the_note(self):
        paths = {"cost/floor/at_24000": cost(20, asked=24000, achieved=24000),
                 "cost/callback/at_24000": cost(40, asked=24000, achieved=15000),
                 "cost/ReadData/at_24000": cost(30, asked=24000, achieved=23000)}
        got = self.figures(paths)
        self.assertIn("reached 15,000/s of 24,000/s asked",
                      got[("CPU per report", "CPU per report, callback, 24,000/s")]["note"])
        self.assertNotIn("reached", got[("CPU per report", "CPU per report, ReadData, 24,000/s")]["note"])

    def test_delivery_counts_arrived_lost_and_in_order(self):
        paths = {"pipeline/1_interface/at_24000": {"received": 990, "lost": 10, "out_of_order": 3,
                                                   "delivered": 1000, "achieved_per_interface": 24000}}
        got = self.figures(paths)
        values = [got[("Delivery", "1 interface at 24,000/s, " + what)]["value"]
                  for what in ("arrived", "lost", "in order")]
        self.assertEqual(values, [990, 10, 987])


if __name__ == "__main__":
    unittest.main()
