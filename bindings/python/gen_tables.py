"""Generates juxhid/_tables.py from the library's public headers.

The status table (the JUXHID_STATUS_TABLE X-macro of juxhid_status.h) and the
simulated bus's enumerations (juxhid_sim.h) have one source, the headers; the
package reads the module this script writes from them at build time.

    python3 gen_tables.py INCLUDE_DIR OUTPUT
"""

import re
import sys
from pathlib import Path

_STATUS_ENTRY = re.compile(r'X\(\s*(\w+)\s*,\s*(-?\d+)\s*,\s*"((?:[^"\\]|\\.)*)"\s*\)')


def _strip_comments(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def parse_status_table(header_text):
    """[(code, name, meaning)] in the table's order, from the X-macro's body."""
    match = re.search(r"#define\s+JUXHID_STATUS_TABLE\(X\)((?:[^\n]*\\\n)*[^\n]*)", header_text)
    if not match:
        raise ValueError("no JUXHID_STATUS_TABLE macro in the status header")
    entries = [(int(code), name, re.sub(r"\\(.)", r"\1", meaning))
               for name, code, meaning in _STATUS_ENTRY.findall(match.group(1))]
    if not entries:
        raise ValueError("the JUXHID_STATUS_TABLE macro holds no entries")
    return entries


def parse_enum(header_text, enum_name):
    """[(name, value)] of `typedef enum NAME {...}`, implicit values counted on."""
    match = re.search(r"typedef\s+enum\s+%s\s*\{(.*?)\}" % re.escape(enum_name),
                      _strip_comments(header_text), flags=re.S)
    if not match:
        raise ValueError("no enum %s in the header" % enum_name)
    members, value = [], -1
    for item in filter(None, (part.strip() for part in match.group(1).split(","))):
        name, _, explicit = (piece.strip() for piece in item.partition("="))
        value = int(explicit, 0) if explicit else value + 1
        members.append((name, value))
    return members


def _enum_class(name, doc, members):
    """A static IntEnum, so that type checkers and editors know every member."""
    lines = ["", "", "class %s(enum.IntEnum):" % name, '    """%s"""' % doc, ""]
    lines += ["    %s = %d" % member for member in members]
    return lines


def render(status, sim_calls, sim_threads):
    lines = ["# Generated from include/juxhid_status.h and include/juxhid_sim.h",
             "# by bindings/python/gen_tables.py at build time. Do not edit.", "",
             "import enum",
             "from typing import Tuple", "",
             "STATUS: Tuple[Tuple[int, str, str], ...] = ("]
    lines += ["    (%d, %r, %r)," % entry for entry in status]
    lines += [")"]
    lines += _enum_class("StatusCode", "Every status code of the library, named as in juxhid_status.h "
                         "without JUXHID_.", [(name[len("JUXHID_"):], code) for code, name, _ in status])
    lines += _enum_class("SimCall", "The platform calls a fault can make fail (juxhid_sim.h's JuxsimCall).",
                         [(name[len("JUXSIM_CALL_"):], value) for name, value in sim_calls
                          if not name.endswith("_END_")])
    lines += _enum_class("SimThread", "The threads a fault can be limited to (juxhid_sim.h's JuxsimThread).",
                         [(name[len("JUXSIM_THREAD_"):], value) for name, value in sim_threads])
    lines += [""]
    return "\n".join(lines)


def main(include_dir, output):
    include = Path(include_dir)
    status_text = (include / "juxhid_status.h").read_text()
    sim_text = (include / "juxhid_sim.h").read_text()
    module = render(parse_status_table(status_text), parse_enum(sim_text, "JuxsimCall"),
                    parse_enum(sim_text, "JuxsimThread"))
    Path(output).write_text(module)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
