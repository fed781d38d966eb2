#!/usr/bin/env python3
"""Prints a measuring pass's figure sheet as the Markdown table of its
platform, each figure beside its floor and the ratio between them.

    sheet_table.py SHEET.json [SHEET.json ...] [--markdown FILE]

A sheet is what a measuring pass writes (bench/support/figures.h): the
platform, the date, the load average and every figure with its section,
unit, floor (or null) and note.
Python's standard library only.
"""

import argparse
import json
import sys


def number(value):
    if value is None:
        return ""
    if abs(value) >= 100 or value == int(value):
        return "{:,.0f}".format(value)
    return "%.3g" % value


DELIVERY_COUNTS = ("arrived", "lost", "in order")


def folded(figures):
    """The figures with each run's delivery counts ("RUN: arrived", "RUN: lost",
    "RUN: in order") folded into one row, which a table of dozens of runs needs."""
    rows, runs = [], {}
    for figure in figures:
        run, _, count = figure.get("name", "").rpartition(": ")
        if figure.get("section") == "Delivery" and count in DELIVERY_COUNTS:
            if run not in runs:
                runs[run] = {"section": "Delivery", "name": run, "value": None, "unit": "", "floor": None,
                             "note": "", "counts": {}}
                rows.append(runs[run])
            runs[run]["counts"][count] = figure.get("value")
            if count == "arrived" and figure.get("note"):
                runs[run]["note"] = figure["note"]
            continue
        rows.append(figure)
    return rows


def result(figure):
    if "counts" in figure:
        return ", ".join("%s %s" % (name, number(figure["counts"][name]))
                         for name in DELIVERY_COUNTS if name in figure["counts"])
    return "%s %s" % (number(figure.get("value")), figure.get("unit", ""))


def table(sheet):
    context = ", ".join("%s %s" % item for item in sheet.get("context", {}).items())
    lines = ["%s: %s, load average %s%s" % (sheet.get("platform", "?"), sheet.get("date", "?"),
                                             sheet.get("load", "?"), "; " + context if context else ""),
             "", "| Figure | Result | Floor | Ratio | |", "|---|---|---|---|---|"]
    section = None
    for figure in folded(sheet.get("figures", [])):
        if figure.get("section") != section:
            section = figure.get("section")
            lines.append("| **%s** | | | | |" % section)
        floor = figure.get("floor")
        value = figure.get("value")
        ratio = "%.2fx" % (value / floor) if floor and value is not None else ""
        lines.append("| %s | %s | %s | %s | %s |" % (
            figure.get("name", ""), result(figure), number(floor) if floor is not None else "", ratio,
            figure.get("note", "").replace("|", "/")))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("sheets", nargs="+")
    parser.add_argument("--markdown")
    args = parser.parse_args()
    parts = []
    for path in args.sheets:
        with open(path, encoding="utf-8") as f:
            parts.append(table(json.load(f)))
    text = "\n".join(parts)
    sys.stdout.write(text)
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8") as f:
            f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
