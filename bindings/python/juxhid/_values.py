"""Python values checked before they cross into C.

ctypes converts a Python int to a 32-bit argument by dropping the high bits,
so read_data(2**32) would read index 0. Every integer the package hands to
the library passes through here first: a value of another type raises
TypeError, one outside the argument's 32-bit range ValueError.
"""

from typing import Union

Buffer = Union[bytes, bytearray, memoryview]

INT32_MIN, INT32_MAX = -(2 ** 31), 2 ** 31 - 1
UINT32_MAX = 2 ** 32 - 1


def _integer(name: str, value: object) -> int:
    # bool is an int to Python, but True as an index is a slip, not a number.
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError("%s must be an int, not %s" % (name, type(value).__name__))
    return int(value)


def int32(name: str, value: object) -> int:
    """`value` as a signed 32-bit argument (an index, a count)."""
    number = _integer(name, value)
    if not INT32_MIN <= number <= INT32_MAX:
        raise ValueError("%s %d lies outside the 32-bit range %d..%d" % (name, number, INT32_MIN, INT32_MAX))
    return number


def uint32(name: str, value: object) -> int:
    """`value` as an unsigned 32-bit argument (a vendor id, a length)."""
    number = _integer(name, value)
    if not 0 <= number <= UINT32_MAX:
        raise ValueError("%s %d lies outside the unsigned 32-bit range 0..%d" % (name, number, UINT32_MAX))
    return number


def buffer(name: str, value: object) -> bytes:
    """A report given as bytes, bytearray or memoryview, copied."""
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError("%s must be bytes, bytearray or memoryview, not %s" % (name, type(value).__name__))
    return bytes(value)
