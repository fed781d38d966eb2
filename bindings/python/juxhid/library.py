"""The thirteen functions of the library, with Python names, bytes for
reports, Python callables for callbacks and JuxhidError for failed statuses."""

import atexit
import contextlib
import ctypes
import sys
import threading
import warnings
from types import TracebackType
from typing import Callable, Dict, Iterator, List, NamedTuple, Optional, Set, Tuple, Type

from . import _native
from ._callbacks import CallbackTable, DataCallback, ErrorCallback, ends_delivery
from ._pacing import DIRECT_FAILURES, ChainModel
from ._values import Buffer, buffer, int32, uint32
from .sim import SimulatedBus
from .status import JuxhidError, StatusCode, describe
from .watch import EventCallback, Watch

__all__ = ["DataCallback", "DeferredWriteWarning", "Device", "ErrorCallback", "Library", "ends_delivery"]


class _Loaded(NamedTuple):
    """What the package keeps per loaded library file, for the life of the
    process: the library's state is the process's, shared by every Library
    object that loaded the same file."""

    callbacks: CallbackTable
    chain: ChainModel


_LOADED: Dict[int, _Loaded] = {}
_LOADED_LOCK = threading.Lock()


def _loaded(dll: ctypes.CDLL) -> _Loaded:
    key = int(getattr(dll, "_handle"))
    with _LOADED_LOCK:
        if key not in _LOADED:
            _LOADED[key] = _Loaded(CallbackTable(), ChainModel())
        return _LOADED[key]


# Every Library that holds an open interface, a running replay or a watch, so that
# the interpreter's exit closes them before it stops the threads that could
# still call into Python (a callback thread parked for ever would hold up
# the library's unload at exit).
_HOLDING: "Set[Library]" = set()
_HOLDING_LOCK = threading.Lock()


def _close_everything() -> None:
    with _HOLDING_LOCK:
        holding = list(_HOLDING)
    for library in holding:
        try:
            library.close()
        except JuxhidError as error:  # one watch's stuck callback must not keep the rest open
            print("juxhid: at exit: %s" % error, file=sys.stderr)


atexit.register(_close_everything)


class DeferredWriteWarning(UserWarning):
    """A write queued its report, and answered the failure an earlier queued
    write met in the background (on this interface or another): the earlier
    report was lost, this one waits in the queue."""

    def __init__(self, function: str, index: int, code: int) -> None:
        self.function = function
        self.index = index
        self.code = code
        super().__init__("%s(%d) queued its report; an earlier queued write failed in the background: %s"
                         % (function, index, describe(code)))


class Device(NamedTuple):
    """One listed interface of the vendor, as list_devices() gives it."""

    # Shadows tuple.index(), which a Device has no use for: the name is the
    # library's own (DeviceSummary.Index).
    index: int  # type: ignore[assignment]
    product_id: int
    usage_page: int
    usage: int
    read_length: int   # input report length, report-ID byte counted; 0: none
    write_length: int  # output report length, counted the same way; 0: none


def _check(function: str, status: int) -> None:
    if status != StatusCode.OK:
        raise JuxhidError(function, status)


def _payload_length(read_length: int) -> int:
    """Bytes the data callback receives: the report without its first byte."""
    return max(0, read_length - 1)


class Library:
    """One loaded library. Its state is the process's: loading the same file
    twice gives the same devices and interfaces.

    Used in a `with` block (or through close()), it closes every interface it
    opened and ends every replay its bus started. Whatever is still open when
    the interpreter exits is closed then, so a script may end without closing.
    """

    path: str

    def __init__(self, path: Optional[_native.Path] = None, *, sim: bool = False) -> None:
        """Loads `path`; without one, $JUXHID_LIBRARY ($JUXHID_SIM_LIBRARY
        when `sim` is true); without that, the library this package was built
        or installed beside; without that, the installed library by name
        (libjuxhid.so.0, libjuxhid_sim.so.0, juxhid.dll) from the dynamic
        loader's search path. With `sim` the library must be the
        simulated-bus build, whatever chose it: OSError otherwise."""
        self.path, chosen_by = _native.find_library(path, sim)
        try:
            self._dll = _native.load(self.path)
        except OSError as error:
            raise OSError("juxhid: cannot load %s (chosen by %s): %s" % (self.path, chosen_by, error)) from error
        has_bus = _native.has_simulated_bus(self._dll)
        if sim and not has_bus:
            raise OSError("juxhid: %s (chosen by %s) has no simulated bus; Library(sim=True) needs the "
                          "simulated-bus library (libjuxhid_sim), e.g. through $%s"
                          % (self.path, chosen_by, _native.environment_variable(True)))
        self._bus = SimulatedBus(self._dll, on_replay=self._hold) if has_bus else None
        self._shared = _loaded(self._dll)
        self._opened: Set[int] = set()
        self._watches: Set[Watch] = set()
        self._opened_lock = threading.Lock()

    @property
    def has_sim(self) -> bool:
        """Whether this is the simulated-bus build, which has `sim`."""
        return self._bus is not None

    @property
    def sim(self) -> SimulatedBus:
        """The simulated bus (attach, deliver, replay, faults, ...); only the
        simulated-bus build has one: AttributeError otherwise."""
        if self._bus is None:
            raise AttributeError("juxhid: %s is the real-device library, which has no simulated bus; "
                                 "Library(sim=True) loads the simulated-bus build" % self.path)
        return self._bus

    # ---- Closing what this object opened ------------------------------------

    def _hold(self) -> None:
        with _HOLDING_LOCK:
            _HOLDING.add(self)

    def close(self) -> None:
        """Stops every watch this object started, closes every interface it
        opened and ends every replay its bus started (the replayed devices
        stay attached). Harmless twice; the object stays usable. A watch
        whose stop failed (806) is reported once the rest is closed."""
        with self._opened_lock:
            watches = list(self._watches)
        failed: Optional[JuxhidError] = None
        for watch in watches:
            try:
                watch.stop()
            except JuxhidError as error:
                failed = failed or error
        with self._opened_lock:
            opened, self._opened = sorted(self._opened), set()
        for index in opened:
            self.close_interface(index)
        if self._bus is not None:
            self._bus.close_replays()
        with _HOLDING_LOCK:
            _HOLDING.discard(self)
        if failed is not None:
            raise failed

    def __enter__(self) -> "Library":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], error: Optional[BaseException],
                 trace: Optional[TracebackType]) -> None:
        self.close()

    def watch(self, vendor_id: int, on_arrived: Optional[EventCallback] = None,
              on_removed: Optional[EventCallback] = None, *, present: bool = False) -> Watch:
        """Starts a device watch (see juxhid.watch): on_arrived(event) and
        on_removed(event) on the watch's thread; `present` first announces
        the interfaces already attached. A context manager; stop() ends it,
        and so does close() (a `with` block's end, the interpreter's exit)."""
        watch = Watch(self._dll, self.path, vendor_id, on_arrived, on_removed, present,
                      on_stopped=self._watch_stopped)
        with self._opened_lock:
            self._watches.add(watch)
        self._hold()
        return watch

    def _watch_stopped(self, watch: Watch) -> None:
        with self._opened_lock:
            self._watches.discard(watch)

    # ---- Listing ----------------------------------------------------------

    def list_devices(self, vendor_id: int) -> List[Device]:
        """The vendor's attached devices in index order; [] when none is.
        Listing again closes every interface still open (its slot is reused)
        and numbers the devices anew: close every interface first."""
        vendor = uint32("vendor_id", vendor_id)
        summaries = (_native.DeviceSummary * _native.MAX_DEVICES)()
        count = ctypes.c_int32(0)
        status = self._dll.EnumerateJUX(vendor, summaries, ctypes.byref(count))
        if status == StatusCode.LIST_NO_DEVICE:
            return []
        _check("EnumerateJUX", status)
        return [Device(s.Index, s.ProductID, s.UsagePage, s.Usage, self.read_length(s.Index),
                       self.write_length(s.Index)) for s in summaries[:count.value]]

    def read_length(self, index: int) -> int:
        """Bytes of one input report of a listed device (0: it has none)."""
        return self._length(self._dll.GetReadLength, int32("index", index))

    def write_length(self, index: int) -> int:
        """Bytes of one output report of a listed device (0: it has none)."""
        return self._length(self._dll.GetWriteLength, int32("index", index))

    @staticmethod
    def _length(query: Callable[[int], int], index: int) -> int:
        length = query(index)
        if length < 0:
            raise IndexError("no listed device has index %r" % (index,))
        return length

    # ---- Opening and closing ------------------------------------------------

    def setup_interface(self, index: int) -> None:
        """Opens a listed device. After a failure other than a bad index, what
        the opening created stays until close_interface (or close())."""
        index = int32("index", index)
        status = self._dll.SetupInterface(index)
        if status != StatusCode.OPEN_BAD_INDEX:
            with self._opened_lock:
                self._opened.add(index)
            self._hold()
        _check("SetupInterface", status)

    def close_interface(self, index: int) -> None:
        """Closes an interface. Input reports not yet read and output reports
        still queued for the pacing ticks are dropped."""
        index = int32("index", index)
        self._dll.CloseInterface(index)
        self._forget(index)

    def cleanup_interface(self, index: int) -> None:
        """Releases an interface whose device is gone. After an unplug,
        reports still stored can no longer be read."""
        index = int32("index", index)
        self._dll.CleanupInterface(index)
        self._forget(index)

    def _forget(self, index: int) -> None:
        with self._opened_lock:
            self._opened.discard(index)
        self._shared.callbacks.forget(index)

    @contextlib.contextmanager
    def opened(self, index: int) -> Iterator[int]:
        """setup_interface for a with-block, closed when the block ends, also
        when the opening itself failed part way."""
        try:
            self.setup_interface(index)
        except JuxhidError as error:
            if error.code != StatusCode.OPEN_BAD_INDEX:
                self.close_interface(index)
            raise
        try:
            yield index
        finally:
            self.close_interface(index)

    # ---- Polled reads -------------------------------------------------------

    def _read_buffer(self, index: int) -> "Tuple[ctypes.Array[ctypes.c_char], int]":
        length = self._dll.GetReadLength(index)
        return ctypes.create_string_buffer(max(length, 1)), max(length, 0)

    def read_data(self, index: int) -> Optional[bytes]:
        """The oldest unread input report, or None when there is none."""
        index = int32("index", index)
        report, length = self._read_buffer(index)
        status = self._dll.ReadData(index, report)
        if status == StatusCode.READ_EMPTY:
            return None
        _check("ReadData", status)
        return report.raw[:length]

    def read_last(self, index: int) -> Optional[bytes]:
        """The newest input report, waiting about half a second for a first
        one; None when none arrived."""
        index = int32("index", index)
        report, length = self._read_buffer(index)
        status = self._dll.ReadLast(index, report)
        if status == StatusCode.LAST_NO_REPORT:
            return None
        _check("ReadLast", status)
        return report.raw[:length]

    def clear_buffer(self, index: int) -> None:
        """Forgets every stored input report."""
        _check("ClearBuffer", self._dll.ClearBuffer(int32("index", index)))

    # ---- Callbacks ------------------------------------------------------------

    def set_data_callback(self, index: int, callback: Optional[DataCallback], *,
                          changed_only: bool = False) -> None:
        """Calls callback(bytes) on the library's callback thread with each
        newest input report, without its report-ID byte (only changed ones
        when `changed_only`). Returning False or 0 ends delivery for this
        opening, and the error callback with it; None (no return) and any
        other value go on. callback None stops delivery."""
        index = int32("index", index)
        table = self._shared.callbacks
        if callback is None:
            status = self._dll.SetDataCallback(index, 0, _native.DataCallback())
            if status == StatusCode.OK:
                table.forget_data(index)
            _check("SetDataCallback", status)
            return
        if not callable(callback):
            raise TypeError("callback must be callable or None, not %s" % type(callback).__name__)
        thunk = table.data_thunk(index, callback, _payload_length(self._dll.GetReadLength(index)))
        status = self._dll.SetDataCallback(index, 2 if changed_only else 1, thunk)
        if status != StatusCode.OK:
            table.forget_data(index)
        _check("SetDataCallback", status)

    def set_error_callback(self, index: int, callback: Optional[ErrorCallback]) -> None:
        """Calls callback(status) once, with 307, when the device is gone;
        callback None clears it."""
        index = int32("index", index)
        table = self._shared.callbacks
        if callback is None:
            status = self._dll.SetErrorCallback(index, _native.ErrorCallback())
            if status == StatusCode.OK:
                table.forget_error(index)
            _check("SetErrorCallback", status)
            return
        if not callable(callback):
            raise TypeError("callback must be callable or None, not %s" % type(callback).__name__)
        status = self._dll.SetErrorCallback(index, table.error_thunk(index, callback))
        if status != StatusCode.OK:
            table.forget_error(index)
        _check("SetErrorCallback", status)

    # ---- Writes -----------------------------------------------------------------

    def _write_buffer(self, index: int, report: Buffer) -> "ctypes.Array[ctypes.c_char]":
        data = buffer("report", report)
        length = self._dll.GetWriteLength(index)
        if length > 0 and len(data) > length:
            raise ValueError("a report of %d bytes; index %d takes %d" % (len(data), index, length))
        # The library reads exactly the device's length: pad a shorter report.
        return ctypes.create_string_buffer(data, max(length, len(data), 1))

    def _write(self, function: str, index: int, report: Buffer) -> None:
        index = int32("index", index)
        data = self._write_buffer(index, report)
        fast = function == "FastWrite"
        write = self._dll.FastWrite if fast else self._dll.WriteData
        chain = self._shared.chain
        with chain.lock:
            started = chain.clock()
            queued = chain.running(started)
            status = write(index, data)
            inherited = chain.inherited(status, queued, chain.clock() - started)
            if status == StatusCode.OK or inherited or status in DIRECT_FAILURES:
                # The call's start: whatever it scheduled came after it.
                chain.accepted(index, fast, queued or inherited, started)
            elif status == StatusCode.WRITE_SCHEDULE_FAILED:
                chain.forget()
        if inherited:
            warnings.warn(DeferredWriteWarning(function, index, status), stacklevel=3)
        elif status != StatusCode.OK:
            raise JuxhidError(function, status)

    def write_data(self, index: int, report: Buffer) -> None:
        """Sends one output report, at once or through the paced queue (one
        report per device every 50 ms); a shorter report is padded with
        zeros. Raises JuxhidError only for what this call did; a queued
        write that answers an earlier write's background failure warns with
        DeferredWriteWarning instead (its own report is queued). Closing the
        interface drops what is still queued."""
        self._write("WriteData", index, report)

    def fast_write(self, index: int, report: Buffer) -> None:
        """As write_data, paced every 5 ms."""
        self._write("FastWrite", index, report)

