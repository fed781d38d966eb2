#!/usr/bin/env python3
"""Compares two revisions figure by figure from runs that alternated them.

    compare.py --this DIR [DIR ...] --other DIR [DIR ...] [--label REV] [--markdown FILE]

Each DIR is one round's output of one revision: the benchmarks' Google
Benchmark JSON (ring.json, calls.json, paths.json) and any figure sheets
(*.sheet.json). Round i of one revision ran next to round i of the other, so
the machine's mood is shared by the pair: besides the ratio of the medians,
every pair's own ratio is shown, and a figure is called changed only when
every pair moved the same way by more than the threshold. One quiet round
cannot make a regression, and one noisy round cannot hide one.
Python's standard library only.
"""

import argparse
import glob
import json
import os
import statistics
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from report import load_runs, ns_per_call  # noqa: E402

# Counters that describe how a run was set up, not what it found.
SETTINGS = {"rate", "asked_per_interface", "last_asked_per_interface", "runs", "interfaces", "reports",
            "written", "intervals", "samples", "delivered"}
# Figures where more is better; everything else (times, CPU, losses) is better lower.
HIGHER_IS_BETTER = ("highest_clean", "achieved", "received", "calls", "arrived", "reached", "in order")
THRESHOLD = 0.10


def benchmark_figures(directory):
    figures = {}
    for kind in ("ring", "calls"):
        path = os.path.join(directory, kind + ".json")
        if os.path.exists(path):
            for name, entry in load_runs(path)[1].items():
                if not entry.get("error_occurred"):
                    figures[name + ": ns per call"] = ns_per_call(entry)
    path = os.path.join(directory, "paths.json")
    if os.path.exists(path):
        for name, entry in load_runs(path)[1].items():
            if entry.get("error_occurred") or name.startswith("allocations/"):
                continue
            for key, value in entry.get("counters", entry).items():
                if key in SETTINGS or not isinstance(value, (int, float)) or isinstance(value, bool):
                    continue
                if key in ("real_time", "cpu_time", "iterations", "repetitions", "repetition_index",
                           "threads", "family_index", "per_family_instance_index"):
                    continue
                figures["%s: %s" % (name, key)] = float(value)
    return figures


def sheet_figures(directory):
    figures = {}
    for path in sorted(glob.glob(os.path.join(directory, "*.sheet.json"))):
        with open(path, encoding="utf-8") as f:
            sheet = json.load(f)
        for figure in sheet.get("figures", []):
            if isinstance(figure.get("value"), (int, float)):
                key = "%s: %s / %s (%s)" % (sheet.get("platform", "?"), figure.get("section", ""),
                                             figure.get("name", ""), figure.get("unit", ""))
                figures[key] = float(figure["value"])
    return figures


def floor_relative(figures):
    """Each figure measured beside a floor in the same run, divided by it: a
    machine that is slower for both revisions' rounds alike moves the figure
    and its floor together, so these ratios are what the noise fools least."""
    derived = {}
    for key, value in figures.items():
        name, _, measure = key.partition(": ")
        parts = name.split("/")
        floor_key = None
        if parts[0] == "ring" and parts[1] != "memcpy":
            floor_key = "ring/memcpy/%s: %s" % (parts[2], measure)
        elif parts[0] in ("latency", "cost") and parts[1] not in ("floor", "feeder_alone"):
            floor_key = "%s/floor/%s: %s" % (parts[0], "/".join(parts[2:]), measure)
        elif parts[0] == "scaling" and parts[1] == "callback" and parts[2].endswith("_interfaces"):
            floor_key = "scaling/floor/at_%s000: %s" % (parts[2].split("_")[0], measure)
        if floor_key and figures.get(floor_key):
            derived["%s: %s over its floor" % (name, measure)] = value / figures[floor_key]
    return derived


def round_figures(directory):
    figures = benchmark_figures(directory)
    figures.update(sheet_figures(directory))
    figures.update(floor_relative(figures))
    return figures


def higher_is_better(key):
    measure = key.rsplit(": ", 1)[-1]  # not the benchmark's name: "calls/ReadData" is a time
    return any(word in measure for word in HIGHER_IS_BETTER)


def ratio(a, b):
    if b == 0:
        return 1.0 if a == 0 else float("inf")
    return a / b


def verdict(key, pair_ratios):
    """'better', 'worse' or '' (no change the noise could not explain)."""
    if not pair_ratios:
        return ""
    up = all(r > 1 + THRESHOLD for r in pair_ratios)
    down = all(r < 1 - THRESHOLD for r in pair_ratios)
    if not (up or down):
        return ""
    return "better" if up == higher_is_better(key) else "worse"


def compare(this_rounds, other_rounds):
    """Rows of (figure, this median, other median, ratio, pair ratios, verdict),
    the figures only one side has, and how many were zero everywhere."""
    keys = set().union(*this_rounds, *other_rounds)
    rows, only, zero = [], [], 0
    for key in sorted(keys):
        mine = [r[key] for r in this_rounds if key in r]
        theirs = [r[key] for r in other_rounds if key in r]
        if not mine or not theirs:
            only.append((key, "this" if mine else "other"))
            continue
        if not any(mine) and not any(theirs):
            zero += 1
            continue
        pairs = [ratio(a[key], b[key]) for a, b in zip(this_rounds, other_rounds) if key in a and key in b]
        this_median, other_median = statistics.median(mine), statistics.median(theirs)
        rows.append((key, this_median, other_median, ratio(this_median, other_median), pairs, verdict(key, pairs)))
    return rows, only, zero


def fmt(value):
    if value == float("inf"):
        return "inf"
    return "%.4g" % value


def markdown(rows, only, zero, label, rounds):
    lines = ["Each figure's median over %d alternated rounds; this / %s, and each round's own ratio." % (rounds, label),
             "A figure is marked only when every round moved it the same way by more than %d %%." % (THRESHOLD * 100),
             "", "| Figure | this | %s | ratio | per round | |" % label, "|---|---|---|---|---|---|"]
    for key, mine, theirs, r, pairs, mark in rows:
        lines.append("| %s | %s | %s | %s | %s | %s |" % (key, fmt(mine), fmt(theirs), fmt(r),
                                                          " ".join(fmt(p) for p in pairs), mark))
    lines += ["", "Where nothing changed, noise alone marks a figure only if %d coin tosses all fall alike: "
              "at most one chance in %d." % (rounds, 2 ** (rounds - 1))]
    worse = [row[0] for row in rows if row[5] == "worse"]
    better = [row[0] for row in rows if row[5] == "better"]
    lines += ["", "%d figures compared (%d zero in every round, not shown): %d worse, %d better in every round." % (
        len(rows) + zero, zero, len(worse), len(better))]
    lines += ["worse: " + key for key in worse]
    lines += ["only in %s: %s" % (side if side == "this" else label, key) for key, side in only]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--this", nargs="+", required=True)
    parser.add_argument("--other", nargs="+", required=True)
    parser.add_argument("--label", default="other")
    parser.add_argument("--markdown")
    args = parser.parse_args()
    if len(args.this) != len(args.other):
        parser.error("both revisions need the same number of rounds")
    this_rounds = [round_figures(d) for d in args.this]
    other_rounds = [round_figures(d) for d in args.other]
    rows, only, zero = compare(this_rounds, other_rounds)
    text = markdown(rows, only, zero, args.label, len(this_rounds))
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(text)
    return 0 if rows else 1


if __name__ == "__main__":
    sys.exit(main())
