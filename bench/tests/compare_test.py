"""What bench/compare.py calls a change between two revisions, and what it
reads out of a round's files."""

import json
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import compare  # noqa: E402


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
                {"name": "allocations/direct_writes", "run_type": "iteration", "allocation_requests": 0}]})
            self.write(directory, "kernel.sheet.json", {"platform": "kernel", "figures": [
                {"section": "Idle cost", "name": "idle, 25 interfaces open: CPU", "value": 0.2,
                 "unit": "% of a core", "floor": 0.01}]})
            figures = compare.round_figures(directory)
        self.assertAlmostEqual(figures["ring/pop/64: ns per call over its floor"], 1.5)
        self.assertAlmostEqual(figures["latency/callback/at_1000: p50_us over its floor"], 1.25)
        self.assertEqual(figures["kernel: Idle cost / idle, 25 interfaces open: CPU (% of a core)"], 0.2)
        # Settings and the benchmark's own bookkeeping are not figures.
        self.assertNotIn("latency/callback/at_1000: rate", figures)
        self.assertNotIn("latency/callback/at_1000: real_time", figures)
        self.assertFalse(any(key.startswith("allocations/") for key in figures))


if __name__ == "__main__":
    unittest.main()
