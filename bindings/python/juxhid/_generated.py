"""The tables generated from the library's public headers when the package is
built (status codes and their static enumeration, the simulated bus's call
and thread names), or, when they are missing, an error that says how to get
them."""

try:
    from ._tables import STATUS, SimCall, SimThread, StatusCode
except ImportError:
    raise ImportError(
        "juxhid: the generated module juxhid/_tables.py is missing, so this is the package's "
        "source folder (bindings/python), which is not importable as it stands. Use one of:\n"
        "  pip install bindings/python        (generates the tables from include/ as it installs)\n"
        "  PYTHONPATH=<build>/bindings/python  (the copy a CMake build assembles)\n"
        "  python3 bindings/python/gen_tables.py include bindings/python/juxhid/_tables.py"
    ) from None

__all__ = ["STATUS", "SimCall", "SimThread", "StatusCode"]
