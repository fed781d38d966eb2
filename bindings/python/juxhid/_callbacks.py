"""The C functions the library calls back, and the Python callables behind them.

Each loaded library gets one data and one error thunk per interface index,
made the first time and kept for the life of the process: the library may
still call a replaced function from its callback thread after the setter
returned, so a thunk it was given must never be freed. The thunks are fixed
in number; what changes is the callable each one looks up when it is called.
Replacing or clearing a callback, or closing its interface, drops the
package's reference to the old callable at once, so a replaced callable (and
whatever it holds) lives on only while a call of it is still running.
"""

import ctypes
import sys
import threading
import traceback
from typing import Any, Callable, Dict, Optional, Tuple

from . import _native

DataCallback = Callable[[bytes], Any]
ErrorCallback = Callable[[int], Any]

# One key for every index outside the table: the library refuses those
# before it stores anything, so their thunk calls nothing.
_OUTSIDE = -1


def ends_delivery(result: Any) -> bool:
    """Whether a data callback's result ends delivery: only False or 0 said
    explicitly. None (a function without a return) and any other value,
    empty bytes or lists included, go on."""
    return isinstance(result, int) and result == 0


class CallbackTable:
    """The thunks of one loaded library and the callables they call."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._data: Dict[int, Tuple[DataCallback, int]] = {}
        self._errors: Dict[int, ErrorCallback] = {}
        self._data_thunks: Dict[int, Any] = {}
        self._error_thunks: Dict[int, Any] = {}

    @staticmethod
    def _key(index: int) -> int:
        return index if 0 <= index < _native.MAX_DEVICES else _OUTSIDE

    def data_thunk(self, index: int, callback: DataCallback, payload_length: int) -> Any:
        """The index's data thunk, now calling `callback` with reports of
        `payload_length` bytes."""
        key = self._key(index)
        with self._lock:
            if key != _OUTSIDE:
                self._data[key] = (callback, payload_length)
            if key not in self._data_thunks:
                self._data_thunks[key] = _native.DataCallback(self._data_trampoline(key))
            return self._data_thunks[key]

    def error_thunk(self, index: int, callback: ErrorCallback) -> Any:
        """The index's error thunk, now calling `callback`."""
        key = self._key(index)
        with self._lock:
            if key != _OUTSIDE:
                self._errors[key] = callback
            if key not in self._error_thunks:
                self._error_thunks[key] = _native.ErrorCallback(self._error_trampoline(key))
            return self._error_thunks[key]

    def forget_data(self, index: int) -> None:
        with self._lock:
            self._data.pop(index, None)

    def forget_error(self, index: int) -> None:
        with self._lock:
            self._errors.pop(index, None)

    def forget(self, index: int) -> None:
        """The interface was closed: nothing of it is called any more."""
        with self._lock:
            self._data.pop(index, None)
            self._errors.pop(index, None)

    def held(self) -> int:
        """How many callables the table still refers to."""
        with self._lock:
            return len(self._data) + len(self._errors)

    def _data_trampoline(self, key: int) -> Callable[[Optional[int]], int]:
        def trampoline(address: Optional[int]) -> int:
            entry = self._data.get(key)
            if entry is None or address is None:
                return 1
            callback, length = entry
            try:
                result = callback(ctypes.string_at(address, length) if length else b"")
            except BaseException:  # noqa: B036 - nothing may unwind into the library
                traceback.print_exc(file=sys.stderr)
                return 1
            return 0 if ends_delivery(result) else 1
        return trampoline

    def _error_trampoline(self, key: int) -> Callable[[int], int]:
        def trampoline(status: int) -> int:
            callback = self._errors.get(key)
            if callback is not None:
                try:
                    callback(status)
                except BaseException:  # noqa: B036
                    traceback.print_exc(file=sys.stderr)
            return 0
        return trampoline
