"""Prints where an install under PREFIX puts a pure-Python package so that
this interpreter imports it, relative to PREFIX:

    searched lib/python3.11/dist-packages     this interpreter looks there
    unsearched lib/python3.11/site-packages   the usual place; it does not

    python3 site_dir.py PREFIX
"""

import os
import site
import sys
import sysconfig


def choose(prefix, candidates, searched):
    """The first candidate under `prefix` that the interpreter searches (one
    outside prefix/local first: Debian offers /usr/local's folder for /usr
    too), else the last candidate under `prefix` (the version-specific one)."""
    prefix = os.path.normpath(prefix)
    inside = [os.path.normpath(c) for c in candidates
              if os.path.normpath(c).startswith(prefix + os.sep)]
    searched = {os.path.normpath(p) for p in searched}
    hits = [os.path.relpath(c, prefix) for c in inside if c in searched]
    hits.sort(key=lambda folder: folder.startswith("local" + os.sep))
    if hits:
        return "searched", hits[0]
    if inside:
        return "unsearched", os.path.relpath(inside[-1], prefix)
    fallback = sysconfig.get_path("purelib", "posix_prefix", vars={"base": prefix, "platbase": prefix})
    return "unsearched", os.path.relpath(fallback, prefix)


def main(prefix):
    kind, folder = choose(prefix, site.getsitepackages([prefix]), sys.path)
    print(kind, folder.replace(os.sep, "/"))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
