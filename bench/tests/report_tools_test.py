"""The report's tools: what bench/compare.py calls a change between two
revisions and what it reads out of a round's files, and the table
bench/sheet_table.py makes of a measuring pass's sheet."""

import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import compare  # noqa: E402
import sheet_table  # noqa: E402


class Verdicts(unittest.TestCase):
    CASES = [
        # key, this rounds, other rounds, verdict
        ("latency/callback/at_1000: p50_us", [20, 21, 19], [10, 10, 10], "worse"),
        ("latency/callback/at_1000: p50_us", [5, 5, 5], [10, 11, 9], "better"),
        # One round against the others: noise, not a change.
        ("latency/callback/at_1000: p50_us", [20, 9, 21], [10, 10, 10], ""),
        # Within the threshold in one round.
        ("latency/callback/at_1000: p50_us", [10.5, 20, 20], [10, 10, 10], ""),
        # More is better for rates reached and reports received...
        ("pipeline/1_interface/climb: highest_clean_per_interface", [50, 50, 50], [100, 100, 100], "worse"),
        ("kernel: Delivery / arrived at 1,000/s (reports)", [850, 850, 850], [1000, 1000, 1000], "worse"),
        # ... but not for a figure whose benchmark's name merely contains the word.
        ("calls/ReadData/taken/idle: ns per call", [200, 200, 200], [100, 100, 100], "worse"),
        # A loss where there was none.
        ("pipeline/1_interface/at_24000: lost", [3, 1, 2], [0, 0, 0], "worse"),
    ]

    def test_cases(self):
        for key, mine, theirs, expected in self.CASES:
            with self.subTest(key=key, mine=mine, theirs=theirs):
                rows, only, zero = compare.compare([{key: v} for v in mine], [{key: v} for v in theirs])
                self.assertEqual(len(rows), 1)
                self.assertEqual(rows[0][5], expected)

    def test_figures_of_one_side_and_zeros_are_set_apart(self):
        rows, only, zero = compare.compare([{"a: x": 1, "z: n": 0}], [{"b: y": 2, "z: n": 0}])
        self.assertEqual(rows, [])
        self.assertEqual(sorted(only), [("a: x", "this"), ("b: y", "other")])
        self.assertEqual(zero, 1)


class RoundFiles(unittest.TestCase):
    def write(self, directory, name, document):
        with open(os.path.join(directory, name), "w", encoding="utf-8") as f:
            json.dump(document, f)

    def test_benchmarks_sheets_and_floor_relative_figures(self):
        with tempfile.TemporaryDirectory() as directory:
            self.write(directory, "ring.json", {"benchmarks": [
                {"name": "ring/memcpy/64", "run_type": "iteration", "real_time": 4.0, "time_unit": "ns"},
                {"name": "ring/pop/64", "run_type": "iteration", "real_time": 6.0, "time_unit": "ns"}]})
            self.write(directory, "paths.json", {"benchmarks": [
                {"name": "latency/floor/at_1000/manual_time", "run_type": "iteration", "real_time": 2.0,
                 "p50_us": 40.0, "rate": 1000, "iterations": 1},
                {"name": "latency/callback/at_1000/manual_time", "run_type": "iteration", "real_time": 2.0,
                 "p50_us": 50.0, "rate": 1000, "iterations": 1},
                {"name": "cost/floor/at_1000/iterations:1", "run_type": "iteration", "cpu_us_per_report": 40.0},
                {"name": "cost/callback/at_1000/iterations:1", "run_type": "iteration", "cpu_us_per_report": 60.0},
                {"name": "cost/feeder_alone/at_1000/iterations:1", "run_type": "iteration",
                 "cpu_us_per_report": 20.0},
                {"name": "scaling/floor/at_25000/iterations:1", "run_type": "iteration", "p50_us": 50.0},
                {"name": "scaling/callback/25_interfaces/iterations:1", "run_type": "iteration", "p50_us": 100.0},
                {"name": "allocations/direct_writes", "run_type": "iteration", "allocation_requests": 0}]})
            self.write(directory, "kernel.sheet.json", {"platform": "kernel", "figures": [
                {"section": "Idle cost", "name": "idle, 25 interfaces open: CPU", "value": 0.2,
                 "unit": "% of a core", "floor": 0.01}]})
            figures = compare.round_figures(directory)
        self.assertAlmostEqual(figures["ring/pop/64: ns per call over its floor"], 1.5)
        self.assertAlmostEqual(figures["latency/callback/at_1000: p50_us over its floor"], 1.25)
        self.assertAlmostEqual(figures["cost/callback/at_1000: cpu_us_per_report over its floor"], 1.5)
        self.assertAlmostEqual(figures["scaling/callback/25_interfaces: p50_us over its floor"], 2.0)
        # The bus's own feeder is a share of the figures, not a path beside the floor.
        self.assertNotIn("cost/feeder_alone/at_1000: cpu_us_per_report over its floor", figures)
        self.assertEqual(figures["kernel: Idle cost / idle, 25 interfaces open: CPU (% of a core)"], 0.2)
        # Settings and the benchmark's own bookkeeping are not figures.
        self.assertNotIn("latency/callback/at_1000: rate", figures)
        self.assertNotIn("latency/callback/at_1000: real_time", figures)
        self.assertFalse(any(key.startswith("allocations/") for key in figures))


class SheetTable(unittest.TestCase):
    def test_each_figure_beside_its_floor_under_its_section(self):
        text = sheet_table.table({"platform": "kernel", "date": "d", "load": "1.00 1.00 1.00", "figures": [
            {"section": "Callback latency", "name": "callback at 1,000/s, p50", "value": 150.0, "unit": "us",
             "floor": 100.0, "note": "floor: a bare read()"},
            {"section": "Callback latency", "name": "callback at 1,000/s, p99", "value": 450.0, "unit": "us",
             "floor": 300.0, "note": ""},
            {"section": "Idle cost", "name": "idle, 25 interfaces open: wake-ups", "value": 0.0,
             "unit": "wake-ups/s", "floor": None, "note": "a | b"},
            {"section": "Delivery", "name": "callback at 1,000/s: arrived", "value": 990, "unit": "reports",
             "floor": None, "note": "of 1000 sent"},
            {"section": "Delivery", "name": "callback at 1,000/s: lost", "value": 10, "unit": "reports",
             "floor": None, "note": ""},
            {"section": "Delivery", "name": "callback at 1,000/s: in order", "value": 990, "unit": "reports",
             "floor": None, "note": ""}]})
        lines = text.splitlines()
        self.assertEqual(sum(1 for line in lines if line.startswith("| **")), 3)
        self.assertIn("| callback at 1,000/s, p50 | 150 us | 100 | 1.50x | floor: a bare read() |", lines)
        self.assertIn("| callback at 1,000/s, p99 | 450 us | 300 | 1.50x |  |", lines)
        # No floor, no ratio; a note cannot break the table's columns.
        self.assertIn("| idle, 25 interfaces open: wake-ups | 0 wake-ups/s |  |  | a / b |", lines)
        # A run's delivery counts make one row.
        self.assertIn("| callback at 1,000/s | arrived 990, lost 10, in order 990 |  |  | of 1000 sent |", lines)


if __name__ == "__main__":
    unittest.main()
