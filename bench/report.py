#!/usr/bin/env python3
"""Turns the benchmarks' JSON into the performance table, one merged JSON
file of raw results, and an SVG histogram of callback latency.

    report.py --ring R.json --calls C.json --paths P.json --histograms H.json
              --out DIR [--svg FILE] [--markdown FILE] [--figures FILE] [--check]

The table goes to standard output (and to --markdown); --figures also
writes its figures as a sheet for platform "sim" (each figure with its
section, unit, floor and note), in the shape every platform's measuring
pass writes, so two revisions or two platforms compare figure by figure. --check makes the
run fail when a benchmark is missing or reported an error, or when a result
that does not depend on timing is wrong: allocations on a path, reports out
of order, refused writes. Timing results are never checked here; they are
measured, shown against their targets, and left to the reader.
Python's standard library only.
"""

import argparse
import json
import math
import os
import platform
import re
import sys
import time

# ---- Reading Google Benchmark output -------------------------------------------


# Segments Google Benchmark appends to a name for the way it was run.
RUN_SEGMENT = re.compile(r"^(iterations:\d+|repeats:\d+|min_time:[^/]*|manual_time|real_time|process_time)$")


def plain_name(name):
    return "/".join(part for part in name.split("/") if not RUN_SEGMENT.match(part))


def load_runs(path):
    """Benchmark name -> its entry; the median when repetitions were run."""
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    runs = {}
    for entry in document.get("benchmarks", []):
        name = plain_name(entry.get("run_name", entry["name"]))
        if entry.get("run_type") == "aggregate":
            if entry.get("aggregate_name") == "median":
                runs[name] = entry
        elif name not in runs or runs[name].get("run_type") != "aggregate":
            runs[name] = entry
    return document, runs


def ns_per_call(entry):
    """Time of one operation in ns, whatever unit and batch the entry used."""
    scale = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[entry.get("time_unit", "ns")]
    return entry["real_time"] * scale / entry.get("calls_per_iteration", 1.0)


# ---- The table -------------------------------------------------------------------


class Table:
    def __init__(self):
        self.rows = []
        self.verdicts = []

    def section(self, title):
        self.rows.append(("**" + title + "**", "", "", ""))

    def row(self, what, result, target="", met=None):
        verdict = "" if met is None else ("met" if met else "MISSED")
        if met is not None:
            self.verdicts.append({"what": what, "result": result, "target": target, "met": met})
        self.rows.append((what, result, target, verdict))

    def markdown(self):
        lines = ["| Measurement | Result | Target | |", "|---|---|---|---|"]
        lines += ["| " + " | ".join(r) + " |" for r in self.rows]
        return "\n".join(lines) + "\n"


def fmt_ns(ns):
    if ns < 1e3:
        return "%.1f ns" % ns
    if ns < 1e6:
        return "%.1f us" % (ns / 1e3)
    return "%.2f ms" % (ns / 1e6)


def fmt_rate(rate):
    return "{:,.0f}/s".format(rate)


def ring_rows(table, ring):
    table.section("Ring operations (ns per operation; memcpy of the same report beside them)")
    for size in (8, 64, 1024):
        base = ring.get("ring/memcpy/%d" % size)
        if base is None:
            continue
        copy = ns_per_call(base)
        cells = []
        for op in ("push", "pop", "peek"):
            entry = ring.get("ring/%s/%d" % (op, size))
            if entry is None:
                continue
            cost = ns_per_call(entry)
            cells.append("%s %.1f (%.1fx)" % (op, cost, cost / copy if copy else float("inf")))
        worst = max((ns_per_call(ring["ring/%s/%d" % (op, size)]) / copy
                     for op in ("push", "pop", "peek") if "ring/%s/%d" % (op, size) in ring), default=0)
        what = "%d-byte reports: memcpy %.1f" % (size, copy)
        if size == 64:
            table.row(what, ", ".join(cells), "each within 2x of memcpy", worst <= 2.0)
        else:
            table.row(what, ", ".join(cells))


def pipeline_rows(table, paths):
    table.section("Input pipeline (reader, ring and a ReadData drain; 64-byte reports)")
    for name, label, rate in (("pipeline/1_interface/at_24000", "1 interface at 24,000/s", 24000),
                              ("pipeline/25_interfaces/at_1000_each", "25 interfaces at 1,000/s each", 1000)):
        entry = paths.get(name)
        if entry is None:
            continue
        lost = entry["lost"] + entry["out_of_order"] + entry["unreached"]
        result = "%d lost of %d (bus side reached %s per interface)" % (
            lost, entry["delivered"], fmt_rate(entry["achieved_per_interface"]))
        met = lost == 0 and entry["read_errors"] == 0 and entry["achieved_per_interface"] >= 0.9 * rate
        table.row(label, result, "no report lost", met)
    for name, label in (("pipeline/1_interface/climb", "1 interface, highest rate without a loss"),
                        ("pipeline/25_interfaces/climb", "25 interfaces, highest rate each without a loss")):
        entry = paths.get(name)
        if entry is None:
            continue
        result = fmt_rate(entry["highest_clean_per_interface"])
        if entry["first_lossy_asked"]:
            lost, in_ring = entry["lost_in_last_run"], entry["lost_ring_full_in_last_run"]
            result += "; at %s asked, %d lost (%d where the ring was full, %d never stored)" % (
                fmt_rate(entry["first_lossy_asked"]), lost, in_ring, lost - in_ring)
        elif entry["bus_fell_short"]:
            result += ("; asked %s, the bus side reached only %s with no loss: the machine's cores were "
                       "saturated first" % (fmt_rate(entry["last_asked_per_interface"]),
                                            fmt_rate(entry["last_achieved_per_interface"])))
        else:
            result += " (the highest rate tried)"
        table.row(label, result)


def latency_rows(table, paths):
    table.section("Callback latency, bus delivery to callback entry (floor: two condition-variable wake-ups)")
    for rate in (1000, 24000):
        callback = paths.get("latency/callback/at_%d" % rate)
        floor = paths.get("latency/floor/at_%d" % rate)
        if callback is None or floor is None:
            continue
        floor_text = "p50 %.1f, p99 %.1f, max %.1f us" % (floor["p50_us"], floor["p99_us"], floor["max_us"])
        table.row("floor at %s" % fmt_rate(rate), floor_text)
        p50x = callback["p50_us"] / floor["p50_us"] if floor["p50_us"] else float("inf")
        p99x = callback["p99_us"] / floor["p99_us"] if floor["p99_us"] else float("inf")
        text = "p50 %.1f us (%.1fx), p99 %.1f us (%.1fx), max %.1f us; %d calls for %d reports" % (
            callback["p50_us"], p50x, callback["p99_us"], p99x, callback["max_us"],
            callback["calls"], callback["delivered"])
        table.row("callback at %s" % fmt_rate(rate), text, "p50 within 3x, p99 within 5x of floor",
                  p50x <= 3.0 and p99x <= 5.0)


def call_rows(table, calls):
    table.section("Polled calls (ns per call; alone, and while the reader stores 24,000 reports/s)")
    for label, idle, busy in (
            ("ReadData taking a report", "calls/ReadData/taken/idle", None),
            ("ReadData, nothing unread / taking what came", "calls/ReadData/empty/idle",
             "calls/ReadData/reader_at_24000"),
            ("ReadLast", "calls/ReadLast/idle", "calls/ReadLast/reader_at_24000"),
            ("ClearBuffer", "calls/ClearBuffer/idle", "calls/ClearBuffer/reader_at_24000")):
        cells = []
        if idle in calls:
            cells.append("alone " + fmt_ns(ns_per_call(calls[idle])))
        if busy and busy in calls:
            cells.append("under load " + fmt_ns(ns_per_call(calls[busy])))
        if cells:
            table.row(label, ", ".join(cells))


def pacing_rows(table, paths):
    table.section("Output pacing (lateness: interval between an interface's reports minus the nominal one)")
    for interval in ("50ms", "5ms"):
        for count in ("1_interface", "25_interfaces"):
            entry = paths.get("pacing/%s/%s" % (interval, count))
            if entry is None:
                continue
            text = "p50 %.0f us, p99 %.0f us, max %.0f us over %d intervals" % (
                entry["lateness_p50_us"], entry["lateness_p99_us"], entry["lateness_max_us"],
                entry["intervals"])
            intact = entry["received"] == entry["written"] and entry["refused"] == 0 and not entry["timed_out"]
            table.row("%s chain, %s" % (interval.replace("ms", " ms"), count.replace("_", " ")), text,
                      "p99 under 1 ms", intact and entry["lateness_p99_us"] < 1000)
    queued = paths.get("pacing/5ms/25_interfaces") or paths.get("pacing/50ms/25_interfaces")
    if queued is not None:
        table.row("queued write (call)", "p50 %.1f us, p99 %.1f us" % (
            queued["queued_call_p50_us"], queued["queued_call_p99_us"]))
    direct = paths.get("pacing/direct_write")
    if direct is not None:
        table.row("direct write (FastWrite from idle)", "call p50 %.1f us, p99 %.1f us; on the bus after p50 %.1f us" % (
            direct["call_p50_us"], direct["call_p99_us"], direct["to_bus_p50_us"]))


def fmt_count(n):
    return "{:,.0f}".format(n)


def ratio(value, floor):
    return value / floor if floor else float("inf")


def short_of(entry):
    """A note when the run did not reach the rate asked of it."""
    asked, achieved = entry.get("asked_rate", 0), entry.get("achieved_rate", 0)
    if asked and achieved < 0.9 * asked:
        return "; reached %s of %s asked" % (fmt_rate(achieved), fmt_rate(asked))
    return ""


def cost_rows(table, paths):
    table.section("CPU per report (whole process, us per report delivered; floor: the two-wake-up relay, "
                  "same rate; both include the thread that hands reports over)")
    for rate in (1000, 24000):
        floor = paths.get("cost/floor/at_%d" % rate)
        feeder = paths.get("cost/feeder_alone/at_%d" % rate)
        if floor is None:
            continue
        table.row("floor at %s" % fmt_rate(rate), "%.2f us, %.2f wake-ups per report" % (
            floor["cpu_us_per_report"], floor["wakeups_per_report"]))
        for path in ("callback", "ReadData"):
            entry = paths.get("cost/%s/at_%d" % (path, rate))
            if entry is None:
                continue
            table.row("%s at %s" % (path, fmt_rate(rate)), "%.2f us (%.1fx), %.2f wake-ups per report%s" % (
                entry["cpu_us_per_report"], ratio(entry["cpu_us_per_report"], floor["cpu_us_per_report"]),
                entry["wakeups_per_report"], short_of(entry)))
        if feeder is not None:
            table.row("of which the bus feeder alone, %s" % fmt_rate(rate), "%.2f us per report" %
                      feeder["cpu_us_per_report"])


IDLE_CASES = (
    ("idle/25_interfaces_open", "idle, 25 interfaces open", 25),
    ("idle/25_interfaces_open_with_callbacks", "idle, 25 interfaces open, data callbacks set", 25),
    ("idle/unhandled_unplug", "idle, 1 interface after an unhandled unplug", 1),
    ("idle/unhandled_unplug_with_callback", "idle, 1 interface after an unhandled unplug, data callback set", 1),
    ("idle/pacing_drained", "idle, pacing chain drained", 1),
)


def idle_why(entry, floor, interfaces):
    """Where the design wakes when nothing happens: a callback thread that
    looks for a stop every 50 ms adds 20 wake-ups/s per interface."""
    extra = (entry["wakeups_per_s"] - floor["wakeups_per_s"]) / interfaces
    if 15 <= extra <= 25:
        return "%.1f wake-ups/s per interface: each callback thread looks for a stop every 50 ms" % extra
    return ""


def idle_rows(table, paths):
    floor = paths.get("idle/nothing_open")
    if floor is None:
        return
    table.section("Idle cost (whole process over %.1f s; floor: the library loaded, nothing open)" %
                  floor["window_s"])
    table.row("floor", "%.4f%% of a core, %.1f wake-ups/s" % (floor["percent_of_core"], floor["wakeups_per_s"]))
    for name, label, interfaces in IDLE_CASES:
        entry = paths.get(name)
        if entry is None:
            continue
        why = idle_why(entry, floor, interfaces)
        extra = entry["wakeups_per_s"] - floor["wakeups_per_s"]
        table.row(label[len("idle, "):], "%.4f%% of a core, %.1f wake-ups/s (%+.1f over the floor)%s" % (
            entry["percent_of_core"], entry["wakeups_per_s"], extra, "; " + why if why else ""),
            "at most 0.1% of a core, no wake-ups",
            entry["percent_of_core"] <= 0.1 and extra <= 0.5)


def interfaces_text(count):
    return "%d interface%s" % (count, "" if count == 1 else "s")


def scaling_entries(paths, interfaces):
    if interfaces == 1:
        return paths.get("cost/callback/at_1000"), paths.get("cost/floor/at_1000")
    return (paths.get("scaling/callback/%d_interfaces" % interfaces),
            paths.get("scaling/floor/at_%d" % (1000 * interfaces)))


def scaling_rows(table, paths):
    table.section("Scaling at 1,000/s per interface (callback latency and CPU per report; "
                  "floor: the relay at the same total rate)")
    for interfaces in (1, 5, 10, 25):
        entry, floor = scaling_entries(paths, interfaces)
        if entry is None or floor is None:
            continue
        table.row(interfaces_text(interfaces),
                  "p50 %.1f us (%.1fx), p99 %.1f us (%.1fx), CPU %.2f us per report (%.1fx)%s" % (
                      entry["p50_us"], ratio(entry["p50_us"], floor["p50_us"]),
                      entry["p99_us"], ratio(entry["p99_us"], floor["p99_us"]),
                      entry["cpu_us_per_report"], ratio(entry["cpu_us_per_report"], floor["cpu_us_per_report"]),
                      short_of(entry)))


# ---- The figure sheet ----------------------------------------------------------------------


def sheet_figures(paths):
    """The native table's figures, named as every platform's pass names them."""
    figures = []

    def add(section, name, value, unit, floor=None, note=""):
        figures.append({"section": section, "name": name, "value": value, "unit": unit, "floor": floor,
                        "note": note})

    for rate in (1000, 24000):
        at = "{:,}/s".format(rate)
        callback, floor = paths.get("latency/callback/at_%d" % rate), paths.get("latency/floor/at_%d" % rate)
        if callback and floor:
            for p in ("p50", "p99"):
                add("Callback latency", "callback at %s, %s" % (at, p), callback[p + "_us"], "us",
                    floor[p + "_us"], "floor: two condition-variable wake-ups")
    for rate in (1000, 24000):
        at = "{:,}/s".format(rate)
        floor = paths.get("cost/floor/at_%d" % rate)
        for path in ("callback", "ReadData"):
            entry = paths.get("cost/%s/at_%d" % (path, rate))
            if entry and floor:
                add("CPU per report", "CPU per report, %s, %s" % (path, at), entry["cpu_us_per_report"],
                    "us CPU/report", floor["cpu_us_per_report"],
                    "whole process with the bus feeder; %.2f wake-ups/report%s" % (
                        entry["wakeups_per_report"], short_of(entry)))
        feeder = paths.get("cost/feeder_alone/at_%d" % rate)
        if feeder:
            add("CPU per report", "CPU per report, bus feeder alone, %s" % at, feeder["cpu_us_per_report"],
                "us CPU/report", note="included in the figures above")
    idle_floor = paths.get("idle/nothing_open")
    for name, label, interfaces in IDLE_CASES:
        entry = paths.get(name)
        if entry and idle_floor:
            why = idle_why(entry, idle_floor, interfaces)
            window = ("over %.1f s; the measuring thread's own wake-up and the counters' reading "
                      "leave about 2 wake-ups of doubt" % entry["window_s"])
            add("Idle cost", label + ": CPU", entry["percent_of_core"], "% of a core",
                idle_floor["percent_of_core"], window)
            add("Idle cost", label + ": wake-ups", entry["wakeups_per_s"], "wake-ups/s",
                idle_floor["wakeups_per_s"], "; ".join(filter(None, (window, why))))
    for interfaces in (1, 5, 10, 25):
        entry, floor = scaling_entries(paths, interfaces)
        if entry and floor:
            section = "Scaling (1,000/s per interface)"
            note = "floor: the relay at %s" % fmt_rate(1000 * interfaces)
            for p in ("p50", "p99"):
                add(section, "%s, callback %s" % (interfaces_text(interfaces), p), entry[p + "_us"], "us",
                    floor[p + "_us"], note + short_of(entry))
            add(section, "%s, CPU per report" % interfaces_text(interfaces), entry["cpu_us_per_report"],
                "us CPU/report", floor["cpu_us_per_report"], note)
    for interval in ("50ms", "5ms"):
        for count in ("1_interface", "25_interfaces"):
            entry = paths.get("pacing/%s/%s" % (interval, count))
            if entry:
                label = "%s chain, %s" % (interval.replace("ms", " ms"), count.replace("_", " "))
                for p in ("p50", "p99"):
                    add("Pacing", "%s, lateness %s" % (label, p), entry["lateness_%s_us" % p], "us",
                        note="over %d intervals" % entry["intervals"])
    for name, label in (("pipeline/1_interface/at_24000", "1 interface at 24,000/s"),
                        ("pipeline/25_interfaces/at_1000_each", "25 interfaces at 1,000/s each")):
        entry = paths.get(name)
        if entry:
            note = "of %d delivered; bus side reached %s per interface" % (
                entry["delivered"], fmt_rate(entry["achieved_per_interface"]))
            add("Delivery", label + ", arrived", entry["received"], "reports", note=note)
            add("Delivery", label + ", lost", entry["lost"], "reports", note=note)
            add("Delivery", label + ", in order", entry["received"] - entry["out_of_order"], "reports", note=note)
    return figures


def write_sheet(path, paths, context):
    load = machine()["load_average"]
    sheet = {"platform": "sim", "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
             "load": " ".join("%.2f" % v for v in load) if load else "unknown",
             "context": context, "figures": sheet_figures(paths)}
    with open(path, "w", encoding="utf-8") as f:
        json.dump(sheet, f, indent=1)


ALLOCATION_PATHS = (
    ("reader, ring and ReadData", ("allocations/reader_and_ReadData/1_interface_at_24000",
                                   "allocations/reader_and_ReadData/25_interfaces_at_1000")),
    ("reader and data callback", ("allocations/reader_and_callback/at_24000",)),
    ("paced writes and ticks", ("allocations/paced_writes/5ms_25_interfaces",
                                "allocations/paced_writes/50ms_1_interface")),
    ("direct writes", ("allocations/direct_writes",)),
)


def allocation_rows(table, paths, calls):
    table.section("Allocations (requests to the platform while the path runs, counted in runs of their own)")
    for label, names in ALLOCATION_PATHS:
        entries = [paths[n] for n in names if n in paths]
        if not entries:
            continue
        requests = sum(e["allocation_requests"] for e in entries)
        reports = sum(e["reports"] for e in entries)
        held = sum(abs(e["blocks_held_change"]) for e in entries)
        table.row(label, "%d for %d reports; blocks held unchanged" % (requests, reports) if not held else
                  "%d for %d reports; blocks held changed by %d" % (requests, reports, held),
                  "zero per report", requests == 0 and held == 0)
    polled = [e for e in calls.values() if "allocations_per_call" in e]
    if polled:
        worst = max(e["allocations_per_call"] for e in polled)
        table.row("polled calls", "%.3g per call" % worst, "zero per call", worst == 0)
    timed = [e for e in list(paths.values()) + list(calls.values()) if "blocks_held_change" in e]
    if timed:
        changed = sum(1 for e in timed if e["blocks_held_change"])
        table.row("blocks held after each timed run", "unchanged in %d of %d runs" % (len(timed) - changed, len(timed)))


# ---- Checks that do not depend on timing ---------------------------------------------

EXPECTED = {
    "ring": ["ring/%s/%d" % (op, size) for op in ("push", "pop", "peek", "memcpy") for size in (8, 64, 1024)],
    "calls": ["calls/ReadData/taken/idle", "calls/ReadData/empty/idle", "calls/ReadData/reader_at_24000",
              "calls/ReadLast/idle", "calls/ReadLast/reader_at_24000",
              "calls/ClearBuffer/idle", "calls/ClearBuffer/reader_at_24000"],
    "paths": ["pipeline/1_interface/at_24000", "pipeline/25_interfaces/at_1000_each",
              "pipeline/1_interface/climb", "pipeline/25_interfaces/climb"]
    + ["latency/%s/at_%d" % (path, rate) for path in ("floor", "callback") for rate in (1000, 24000)]
    + ["pacing/%s/%s" % (i, n) for i in ("50ms", "5ms") for n in ("1_interface", "25_interfaces")]
    + ["pacing/direct_write"]
    + [n for _, names in ALLOCATION_PATHS for n in names]
    + ["cost/%s/at_%d" % (path, rate) for path in ("floor", "callback", "ReadData", "feeder_alone")
       for rate in (1000, 24000)]
    + ["scaling/callback/%d_interfaces" % n for n in (5, 10, 25)]
    + ["scaling/floor/at_%d" % (1000 * n) for n in (5, 10, 25)]
    + ["idle/nothing_open"] + [name for name, _, _ in IDLE_CASES],
}


def problems(documents, histograms):
    found = []
    for kind, names in EXPECTED.items():
        runs = documents[kind][1]
        found += ["%s: missing" % n for n in names if n not in runs]
        for name, entry in runs.items():
            if entry.get("error_occurred"):
                found.append("%s: %s" % (name, entry.get("error_message", "error")))
            if entry.get("allocation_requests", 0) or entry.get("allocations_per_call", 0):
                found.append("%s: allocates" % name)
            for key in ("blocks_held_change", "blocks_held_change_counted"):
                if entry.get(key, 0):
                    found.append("%s: blocks held changed by %d" % (name, entry[key]))
            for key in ("out_of_order", "read_errors", "unreached", "misordered", "refused", "timed_out"):
                if entry.get(key, 0):
                    found.append("%s: %s = %d" % (name, key, entry[key]))
            if "written" in entry and entry["received"] != entry["written"]:
                found.append("%s: %d written, %d received" % (name, entry["written"], entry["received"]))
            if name.startswith("latency/") and not entry.get("samples"):
                found.append("%s: no samples" % name)
            if name.startswith(("cost/", "scaling/")) and not entry.get("window_reports"):
                found.append("%s: nothing delivered in the window" % name)
    names = {h["name"] for h in histograms.get("histograms", [])}
    found += ["histogram of %s: missing" % n for n in EXPECTED["paths"] if n.startswith("latency/") and n not in names]
    return found


# ---- The latency histogram as SVG ---------------------------------------------------


def nice_step(least):
    """The smallest of 1, 2, 2.5 or 5 times a power of ten that is >= least."""
    power = 10 ** math.floor(math.log10(least)) if least > 0 else 0.01
    return next(m * power for m in (1, 2, 2.5, 5, 10) if m * power >= least)


def svg_histograms(histograms, paths):
    """Two panels, one per rate; the callback path filled, the floor outlined."""
    by_name = {h["name"]: h for h in histograms.get("histograms", [])}
    rates = sorted({int(h["rate"]) for h in by_name.values()})
    panel_w, panel_h, left, top, bottom, gap = 430, 260, 60, 50, 50, 80
    width = left + len(rates) * (panel_w + gap)
    height = top + panel_h + bottom + 30
    all_bins = [b for h in by_name.values() for b in h["bins"]]
    if not all_bins:
        return None
    lo_us = 10 ** math.floor(math.log10(max(min(b[0] for b in all_bins) / 1e3, 0.1)))
    hi_us = 10 ** math.ceil(math.log10(max(b[1] for b in all_bins) / 1e3))
    out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" '
           'font-size="12">' % (width, height),
           '<rect width="100%" height="100%" fill="white"/>',
           '<text x="%d" y="20" font-size="15">Callback latency: bus delivery to data callback, '
           'beside two condition-variable wake-ups</text>' % left]
    for i, rate in enumerate(rates):
        x0 = left + i * (panel_w + gap)
        out += svg_panel(by_name, paths, rate, x0, top, panel_w, panel_h, lo_us, hi_us)
    out.append("</svg>")
    return "\n".join(out) + "\n"


def svg_panel(by_name, paths, rate, x0, y0, w, h, lo_us, hi_us):
    span = math.log10(hi_us) - math.log10(lo_us)

    def x_of(ns):
        us = max(ns / 1e3, lo_us)
        return x0 + w * (math.log10(us) - math.log10(lo_us)) / span

    series = [("latency/callback/at_%d" % rate, "#3b6fb6", "library: reader and callback thread"),
              ("latency/floor/at_%d" % rate, "#d9822b", "floor: two wake-ups")]
    peak = max((b[2] / max(1, sum(c[2] for c in by_name[n]["bins"])) for n, _, _ in series if n in by_name
                for b in by_name[n]["bins"]), default=1.0)
    peak = 4 * nice_step(peak / 4)

    def y_of(share):
        return y0 + h - h * share / peak

    out = ['<text x="%d" y="%d" font-size="13">%s reports/s</text>' % (x0, y0 - 8, "{:,}".format(rate)),
           '<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#888"/>' % (x0, y0, w, h)]
    decade = lo_us
    while decade <= hi_us * 1.0001:
        x = x_of(decade * 1e3)
        out.append('<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (x, y0, x, y0 + h))
        label = ("%g us" % decade) if decade < 1000 else ("%g ms" % (decade / 1000))
        out.append('<text x="%.1f" y="%d" text-anchor="middle">%s</text>' % (x, y0 + h + 16, label))
        decade *= 10
    for step in range(0, 5):
        share = peak * step / 4
        out.append('<text x="%d" y="%.1f" text-anchor="end">%g%%</text>' % (x0 - 4, y_of(share) + 4,
                                                                          round(share * 100, 1)))
    out.append('<rect x="%d" y="%d" width="300" height="36" fill="white" fill-opacity="0.85"/>' % (x0 + 4, y0 + 4))
    for n, (name, colour, label) in enumerate(series):
        record = by_name.get(name)
        if record is None:
            continue
        total = max(1, sum(b[2] for b in record["bins"]))
        points = []
        for low, high, count in record["bins"]:
            y = y_of(count / total)
            points += ["%.1f,%.1f" % (x_of(low), y0 + h), "%.1f,%.1f" % (x_of(low), y),
                       "%.1f,%.1f" % (x_of(high), y), "%.1f,%.1f" % (x_of(high), y0 + h)]
        fill = colour if n == 0 else "none"
        opacity = "0.55" if n == 0 else "1"
        out.append('<polyline points="%s" fill="%s" fill-opacity="%s" stroke="%s" stroke-width="1.5"/>' % (
            " ".join(points), fill, opacity, colour))
        entry = paths.get(name, {})
        legend = "%s: p50 %.1f us, p99 %.1f us" % (label, entry.get("p50_us", 0), entry.get("p99_us", 0))
        out.append('<rect x="%d" y="%d" width="10" height="10" fill="%s"/>' % (x0 + 8, y0 + 8 + 16 * n, colour))
        out.append('<text x="%d" y="%d">%s</text>' % (x0 + 22, y0 + 17 + 16 * n, legend))
    out.append('<text x="%d" y="%d" text-anchor="middle" fill="#555">latency (log scale); height: share of '
               'callbacks per bin</text>' % (x0 + w / 2, y0 + h + 34))
    return out


# ---- Main ----------------------------------------------------------------------------------


def machine():
    try:
        load = os.getloadavg()
    except OSError:
        load = None
    return {"when": time.strftime("%Y-%m-%d %H:%M:%S %z"), "host": platform.node(),
            "cpus": os.cpu_count(), "load_average": load, "python": platform.python_version()}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in ("ring", "calls", "paths", "histograms", "out"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--svg")
    parser.add_argument("--markdown")
    parser.add_argument("--figures")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()

    documents = {kind: load_runs(getattr(args, kind)) for kind in ("ring", "calls", "paths")}
    with open(args.histograms, encoding="utf-8") as f:
        histograms = json.load(f)
    ring, calls, paths = (documents[k][1] for k in ("ring", "calls", "paths"))

    table = Table()
    ring_rows(table, ring)
    pipeline_rows(table, paths)
    latency_rows(table, paths)
    pacing_rows(table, paths)
    cost_rows(table, paths)
    idle_rows(table, paths)
    scaling_rows(table, paths)
    call_rows(table, calls)
    allocation_rows(table, paths, calls)
    text = table.markdown()
    sys.stdout.write(text)

    os.makedirs(args.out, exist_ok=True)
    merged = {"machine": machine(), "verdicts": table.verdicts, "histograms": histograms}
    merged.update({kind: documents[kind][0] for kind in documents})
    with open(os.path.join(args.out, "results.json"), "w", encoding="utf-8") as f:
        json.dump(merged, f, indent=1)
    if args.figures:
        write_sheet(args.figures, paths, {"benchmarks run": documents["paths"][0].get("context", {}).get("date", "")})
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(text)
    svg = svg_histograms(histograms, paths)
    for target in filter(None, (os.path.join(args.out, "latency.svg"), args.svg)):
        if svg is not None:
            with open(target, "w", encoding="utf-8") as f:
                f.write(svg)

    missed = [v["what"] for v in table.verdicts if not v["met"]]
    print("\ntargets met: %d of %d%s" % (len(table.verdicts) - len(missed), len(table.verdicts),
                                         "; missed: " + "; ".join(missed) if missed else ""))
    if args.check:
        found = problems(documents, histograms)
        if svg is None:
            found.append("no histogram to draw")
        for problem in found:
            print("problem: " + problem, file=sys.stderr)
        return 1 if found else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
