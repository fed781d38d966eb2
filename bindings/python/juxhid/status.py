"""The library's status codes, read from its one status table."""

from typing import Dict, NamedTuple, Optional

from ._generated import STATUS, StatusCode


class Status(NamedTuple):
    """One entry of the status table."""

    code: int
    name: str
    meaning: str


TABLE = tuple(Status(*entry) for entry in STATUS)
_BY_CODE: Dict[int, Status] = {status.code: status for status in TABLE}

__all__ = ["JuxhidError", "Status", "StatusCode", "TABLE", "describe", "lookup"]


def lookup(code: int) -> Optional[Status]:
    """The table's entry for `code`, or None for a code the library never returns."""
    return _BY_CODE.get(code)


def describe(code: int) -> str:
    """'206 JUXHID_OPEN_READ_DENIED: opening the device for reading was denied'."""
    status = lookup(code)
    if status is None:
        return "%d: not a status the library returns" % code
    return "%d %s: %s" % (status.code, status.name, status.meaning)


class JuxhidError(Exception):
    """A library function answered a status other than success."""

    function: str
    code: int
    name: Optional[str]
    meaning: str

    def __init__(self, function: str, code: int) -> None:
        """The failed call's name and the status it answered."""
        self.function = function
        self.code = code
        status = lookup(code)
        self.name = status.name if status else None
        self.meaning = status.meaning if status else "not a status the library returns"
        super().__init__("%s failed with %s" % (function, describe(code)))
