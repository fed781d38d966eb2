"""Device watches: Python callables told when an interface of the vendor
arrives or goes, without listing devices into the library's table.

    with lib.watch(0x1A2B, on_arrived=print, on_removed=print, present=True):
        ...   # the callables run on the watch's own thread

The simulated-bus library carries the watch itself; for real devices it
lives in the companion library libjuxhid_watch.so.0 (juxhid_watch.dll),
looked for in $JUXHID_WATCH_LIBRARY, beside the loaded library, then by name.
"""

import ctypes
import os
import sys
import threading
import traceback
from types import TracebackType
from typing import Any, Callable, List, NamedTuple, Optional, Type

from . import _native
from ._values import uint32
from .status import JuxhidError, StatusCode

PRESENT = 1
ARRIVED = 1
REMOVED = 2


class WatchEvent(NamedTuple):
    """One arrival or removal; a removal carries what its arrival carried."""

    kind: str          # "arrived" or "removed"
    vendor_id: int
    product_id: int
    usage_page: int
    usage: int
    read_length: int   # input report length, report-ID byte counted; 0: none
    write_length: int  # output report length, counted the same way; 0: none
    path: str          # the interface's identity while it stays plugged in


EventCallback = Callable[[WatchEvent], Any]


class _Event(ctypes.Structure):
    _fields_ = [("Kind", ctypes.c_int32), ("VendorID", ctypes.c_uint32), ("ProductID", ctypes.c_uint32),
                ("UsagePage", ctypes.c_uint32), ("Usage", ctypes.c_uint32),
                ("InputReportByteLength", ctypes.c_uint32), ("OutputReportByteLength", ctypes.c_uint32),
                ("Path", ctypes.c_char_p)]


_Callback = _native.FUNCTYPE(None, ctypes.POINTER(_Event), ctypes.c_void_p)

_COMPANION_NAMES = {"win32": "juxhid_watch.dll", "darwin": "libjuxhid_watch.0.dylib"}

# Thunks whose callback was still running when their stop returned: from
# inside a callback of the watch itself, or after stop gave up waiting
# (806). Nothing tells the package when the library's thread has left such
# a thunk, so it is kept for the process's life; the host's callables it
# called are released all the same, so what stays is the bare thunk.
_LINGERING: List[Any] = []
_LINGERING_LOCK = threading.Lock()


def _companion(library_path: str) -> ctypes.CDLL:
    name = _COMPANION_NAMES.get(sys.platform, "libjuxhid_watch.so.0")
    candidates = [os.environ.get("JUXHID_WATCH_LIBRARY", "")]
    if os.path.dirname(library_path):
        candidates.append(os.path.join(os.path.dirname(library_path), name))
    candidates.append(name)
    errors = []
    for candidate in candidates:
        if not candidate or (os.path.dirname(candidate) and not os.path.exists(candidate)):
            continue
        try:
            loaded: ctypes.CDLL = _native._LOADER(candidate)
            return loaded
        except OSError as error:
            errors.append("%s: %s" % (candidate, error))
    raise OSError("juxhid: no device-watch library (%s); set $JUXHID_WATCH_LIBRARY" % "; ".join(errors or [name]))


def _bound(dll: ctypes.CDLL, library_path: str) -> ctypes.CDLL:
    """The library that carries StartDeviceWatch, its two functions declared."""
    watch_dll = dll if hasattr(dll, "StartDeviceWatch") else _companion(library_path)
    watch_dll.StartDeviceWatch.restype = ctypes.c_int32
    watch_dll.StartDeviceWatch.argtypes = [ctypes.c_uint32, ctypes.c_uint32, _Callback, ctypes.c_void_p,
                                           ctypes.POINTER(ctypes.c_int32)]
    watch_dll.StopDeviceWatch.restype = ctypes.c_int32
    watch_dll.StopDeviceWatch.argtypes = [ctypes.c_int32]
    return watch_dll


def _callable(name: str, value: Optional[EventCallback]) -> Optional[EventCallback]:
    if value is not None and not callable(value):
        raise TypeError("%s must be callable or None, not %s" % (name, type(value).__name__))
    return value


def _event(event: _Event) -> WatchEvent:
    path = event.Path.decode("utf-8", "replace") if event.Path is not None else ""
    return WatchEvent("arrived" if event.Kind == ARRIVED else "removed", event.VendorID, event.ProductID,
                      event.UsagePage, event.Usage, event.InputReportByteLength, event.OutputReportByteLength,
                      path)


class Watch:
    """A running watch; stop() or leaving the `with` block ends it.

    The watch holds its thunk (the C function the library calls) and the
    host's callables until stop() returns; after that the library calls
    neither, and the watch lets go of both."""

    def __init__(self, dll: ctypes.CDLL, library_path: str, vendor_id: int,
                 on_arrived: Optional[EventCallback] = None, on_removed: Optional[EventCallback] = None,
                 present: bool = False, on_stopped: Optional[Callable[["Watch"], None]] = None) -> None:
        vendor = uint32("vendor_id", vendor_id)
        self._arrived = _callable("on_arrived", on_arrived)
        self._removed = _callable("on_removed", on_removed)
        self._dll = _bound(dll, library_path)
        self._on_stopped = on_stopped
        self._id: Optional[int] = None
        self._lock = threading.Lock()
        self._calling = 0                      # callbacks running now
        self._thunk: Any = _Callback(self._trampoline)
        watch_id = ctypes.c_int32(0)
        status = self._dll.StartDeviceWatch(vendor, PRESENT if present else 0, self._thunk, None,
                                            ctypes.byref(watch_id))
        if status != StatusCode.OK:
            self._release()
            raise JuxhidError("StartDeviceWatch", status)
        self._id = watch_id.value

    def _trampoline(self, event_pointer: "ctypes._Pointer[_Event]", _context: Optional[int]) -> None:
        with self._lock:
            self._calling += 1
            event = event_pointer.contents
            callback = self._arrived if event.Kind == ARRIVED else self._removed
        try:
            if callback is not None:
                callback(_event(event))
        except BaseException:  # noqa: B036 - nothing may unwind into the library
            traceback.print_exc(file=sys.stderr)
        finally:
            with self._lock:
                self._calling -= 1

    @property
    def running(self) -> bool:
        return self._id is not None

    def stop(self) -> None:
        """Stops the watch: no callback starts after this returns. Harmless
        when stopped. JuxhidError(806) when a callback still ran after about
        500 ms; it is then the watch's last."""
        with self._lock:
            if self._id is None:
                return
            watch_id, self._id = self._id, None
        status = self._dll.StopDeviceWatch(watch_id)
        self._release()
        if self._on_stopped is not None:
            self._on_stopped(self)
        if status != StatusCode.OK:
            raise JuxhidError("StopDeviceWatch", status)

    def _release(self) -> None:
        """Lets go of the callables and, unless a callback still runs in it,
        of the thunk."""
        with self._lock:
            self._arrived = self._removed = None
            thunk, self._thunk = self._thunk, None
            still_running = self._calling > 0
        if still_running and thunk is not None:
            with _LINGERING_LOCK:
                _LINGERING.append(thunk)

    def __enter__(self) -> "Watch":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.stop()
