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
import traceback
from typing import Any, Callable, NamedTuple, Optional

from . import _native
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
            return _native._LOADER(candidate)
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


class Watch:
    """A running watch; stop() or leaving the `with` block ends it."""

    def __init__(self, dll: ctypes.CDLL, library_path: str, vendor_id: int, on_arrived: Optional[EventCallback],
                 on_removed: Optional[EventCallback], present: bool) -> None:
        self._dll = _bound(dll, library_path)
        self._id: Optional[int] = None

        def trampoline(event_pointer, _context):
            event = event_pointer.contents
            arrived = event.Kind == ARRIVED
            callback = on_arrived if arrived else on_removed
            if callback is None:
                return
            try:
                callback(WatchEvent("arrived" if arrived else "removed", event.VendorID, event.ProductID,
                                    event.UsagePage, event.Usage, event.InputReportByteLength,
                                    event.OutputReportByteLength, event.Path.decode("utf-8", "replace")))
            except BaseException:  # noqa: B036 - nothing may unwind into the library
                traceback.print_exc(file=sys.stderr)

        # Kept for the process's life: a callback still running when stop()
        # gave up waiting (806) must find its thunk.
        from .library import _keep
        self._thunk = _keep(_Callback(trampoline))
        watch_id = ctypes.c_int32(0)
        status = self._dll.StartDeviceWatch(vendor_id, PRESENT if present else 0, self._thunk, None,
                                            ctypes.byref(watch_id))
        if status != StatusCode.OK:
            raise JuxhidError("StartDeviceWatch", status)
        self._id = watch_id.value

    @property
    def running(self) -> bool:
        return self._id is not None

    def stop(self) -> None:
        """Stops the watch: no callback starts after this returns. Harmless
        when stopped. JuxhidError(806) when a callback still ran after about
        500 ms; it is then the watch's last."""
        if self._id is None:
            return
        watch_id, self._id = self._id, None
        status = self._dll.StopDeviceWatch(watch_id)
        if status != StatusCode.OK:
            raise JuxhidError("StopDeviceWatch", status)

    def __enter__(self) -> "Watch":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        self.stop()
