"""The thirteen functions of the library, with Python names, bytes for
reports, Python callables for callbacks and JuxhidError for failed statuses."""

import contextlib
import ctypes
import sys
import threading
import traceback
from typing import Any, Callable, Iterator, List, NamedTuple, Optional, Union

Buffer = Union[bytes, bytearray, memoryview]
DataCallback = Callable[[bytes], Any]
ErrorCallback = Callable[[int], Any]

from . import _native
from .sim import SimulatedBus
from .status import JuxhidError, StatusCode

# A callback thunk must outlive every call the library may still make of it.
# A replaced or cleared callback can still be running on the library's
# callback thread after the setter returns, and an interface's callback
# thread is not joined by closing it; so every thunk ever installed stays
# here for the life of the process. Each is a few hundred bytes.
_THUNKS = []
_THUNKS_LOCK = threading.Lock()


def _keep(thunk: Any) -> Any:
    with _THUNKS_LOCK:
        _THUNKS.append(thunk)
    return thunk


class Device(NamedTuple):
    """One listed interface of the vendor, as list_devices() gives it."""

    index: int
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


def ends_delivery(result: Any) -> bool:
    """Whether a data callback's result ends delivery: only False or 0 said
    explicitly. None (a function without a return) and any other value,
    empty bytes or lists included, go on."""
    return isinstance(result, int) and result == 0


class Library:
    """One loaded library. Its state is the process's: loading the same file
    twice gives the same devices and interfaces."""

    path: str
    sim: Optional[SimulatedBus]

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
        self.sim = SimulatedBus(self._dll) if has_bus else None

    def watch(self, vendor_id: int, on_arrived=None, on_removed=None, *, present: bool = False):
        """Starts a device watch (see juxhid.watch): on_arrived(event) and
        on_removed(event) on the watch's thread; `present` first announces
        the interfaces already attached. A context manager; stop() ends it."""
        from .watch import Watch
        return Watch(self._dll, self.path, vendor_id, on_arrived, on_removed, present)

    # ---- Listing ----------------------------------------------------------

    def list_devices(self, vendor_id: int) -> List[Device]:
        """The vendor's attached devices in index order; [] when none is.
        Listing again closes every interface still open (its slot is reused)
        and numbers the devices anew: close every interface first."""
        summaries = (_native.DeviceSummary * _native.MAX_DEVICES)()
        count = ctypes.c_int32(0)
        status = self._dll.EnumerateJUX(vendor_id, summaries, ctypes.byref(count))
        if status == StatusCode.LIST_NO_DEVICE:
            return []
        _check("EnumerateJUX", status)
        return [Device(s.Index, s.ProductID, s.UsagePage, s.Usage, self.read_length(s.Index),
                       self.write_length(s.Index)) for s in summaries[:count.value]]

    def read_length(self, index: int) -> int:
        """Bytes of one input report of a listed device (0: it has none)."""
        return self._length(self._dll.GetReadLength, index)

    def write_length(self, index: int) -> int:
        """Bytes of one output report of a listed device (0: it has none)."""
        return self._length(self._dll.GetWriteLength, index)

    @staticmethod
    def _length(query: Callable[[int], int], index: int) -> int:
        length = query(index)
        if length < 0:
            raise IndexError("no listed device has index %r" % (index,))
        return length

    # ---- Opening and closing ------------------------------------------------

    def setup_interface(self, index: int) -> None:
        """Opens a listed device. After a failure other than a bad index, what
        the opening created stays until close_interface."""
        _check("SetupInterface", self._dll.SetupInterface(index))

    def close_interface(self, index: int) -> None:
        """Closes an interface. Input reports not yet read and output reports
        still queued for the pacing ticks are dropped."""
        self._dll.CloseInterface(index)

    def cleanup_interface(self, index: int) -> None:
        """Releases an interface whose device is gone. After an unplug,
        reports still stored can no longer be read."""
        self._dll.CleanupInterface(index)

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

    def _read_buffer(self, index: int) -> "tuple[ctypes.Array[ctypes.c_char], int]":
        length = self._dll.GetReadLength(index)
        return ctypes.create_string_buffer(max(length, 1)), max(length, 0)

    def read_data(self, index: int) -> Optional[bytes]:
        """The oldest unread input report, or None when there is none."""
        buffer, length = self._read_buffer(index)
        status = self._dll.ReadData(index, buffer)
        if status == StatusCode.READ_EMPTY:
            return None
        _check("ReadData", status)
        return buffer.raw[:length]

    def read_last(self, index: int) -> Optional[bytes]:
        """The newest input report, waiting about half a second for a first
        one; None when none arrived."""
        buffer, length = self._read_buffer(index)
        status = self._dll.ReadLast(index, buffer)
        if status == StatusCode.LAST_NO_REPORT:
            return None
        _check("ReadLast", status)
        return buffer.raw[:length]

    def clear_buffer(self, index: int) -> None:
        """Forgets every stored input report."""
        _check("ClearBuffer", self._dll.ClearBuffer(index))

    # ---- Callbacks ------------------------------------------------------------

    def set_data_callback(self, index: int, callback: Optional[DataCallback], *,
                          changed_only: bool = False) -> None:
        """Calls callback(bytes) on the library's callback thread with each
        newest input report, without its report-ID byte (only changed ones
        when `changed_only`). Returning False or 0 ends delivery for this
        opening, and the error callback with it; None (no return) and any
        other value go on. callback None stops delivery."""
        if callback is None:
            _check("SetDataCallback", self._dll.SetDataCallback(index, 0, _native.DataCallback()))
            return
        length = _payload_length(self._dll.GetReadLength(index))

        def trampoline(address):
            try:
                result = callback(ctypes.string_at(address, length) if length else b"")
            except BaseException:  # noqa: B036 - nothing may unwind into the library
                traceback.print_exc(file=sys.stderr)
                return 1
            return 0 if ends_delivery(result) else 1

        thunk = _keep(_native.DataCallback(trampoline))
        _check("SetDataCallback", self._dll.SetDataCallback(index, 2 if changed_only else 1, thunk))

    def set_error_callback(self, index: int, callback: Optional[ErrorCallback]) -> None:
        """Calls callback(status) once, with 307, when the device is gone;
        callback None clears it."""
        thunk = _native.ErrorCallback()  # the null function: no error callback
        if callback is not None:
            def trampoline(status):
                try:
                    callback(status)
                except BaseException:  # noqa: B036
                    traceback.print_exc(file=sys.stderr)
                return 0

            thunk = _keep(_native.ErrorCallback(trampoline))
        _check("SetErrorCallback", self._dll.SetErrorCallback(index, thunk))

    # ---- Writes -----------------------------------------------------------------

    def _write_buffer(self, index: int, report: Buffer) -> "ctypes.Array[ctypes.c_char]":
        data = bytes(report)
        length = self._dll.GetWriteLength(index)
        if length > 0 and len(data) > length:
            raise ValueError("a report of %d bytes; index %d takes %d" % (len(data), index, length))
        # The library reads exactly the device's length: pad a shorter report.
        return ctypes.create_string_buffer(data, max(length, len(data), 1))

    def write_data(self, index: int, report: Buffer) -> None:
        """Sends one output report, at once or through the paced queue (one
        report per device every 50 ms); a shorter report is padded with
        zeros. A queued write reports the failure of earlier background
        writes, if any. Closing the interface drops what is still queued."""
        _check("WriteData", self._dll.WriteData(index, self._write_buffer(index, report)))

    def fast_write(self, index: int, report: Buffer) -> None:
        """As write_data, paced every 5 ms."""
        _check("FastWrite", self._dll.FastWrite(index, self._write_buffer(index, report)))
