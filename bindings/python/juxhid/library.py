"""The thirteen functions of the library, with Python names, bytes for
reports, Python callables for callbacks and JuxhidError for failed statuses."""

import contextlib
import ctypes
import sys
import threading
import traceback
from typing import NamedTuple

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


def _keep(thunk):
    with _THUNKS_LOCK:
        _THUNKS.append(thunk)
    return thunk


class Device(NamedTuple):
    index: int
    product_id: int
    usage_page: int
    usage: int
    read_length: int   # input report length, report-ID byte counted; 0: none
    write_length: int  # output report length, counted the same way; 0: none


def _check(function, status):
    if status != StatusCode.OK:
        raise JuxhidError(function, status)


def _payload_length(read_length):
    """Bytes the data callback receives: the report without its first byte."""
    return max(0, read_length - 1)


class Library:
    """One loaded library. Its state is the process's: loading the same file
    twice gives the same devices and interfaces."""

    def __init__(self, path=None, *, sim=False):
        """Loads `path`, else $JUXHID_LIBRARY, else the library this package
        was built beside (the simulated-bus build when `sim` is true)."""
        self.path = _native.find_library(path, sim)
        self._dll = _native.load(self.path)
        self.sim = SimulatedBus(self._dll) if _native.has_simulated_bus(self._dll) else None

    # ---- Listing ----------------------------------------------------------

    def list_devices(self, vendor_id):
        """The vendor's attached devices in index order; [] when none is."""
        summaries = (_native.DeviceSummary * _native.MAX_DEVICES)()
        count = ctypes.c_int32(0)
        status = self._dll.EnumerateJUX(vendor_id, summaries, ctypes.byref(count))
        if status == StatusCode.LIST_NO_DEVICE:
            return []
        _check("EnumerateJUX", status)
        return [Device(s.Index, s.ProductID, s.UsagePage, s.Usage, self.read_length(s.Index),
                       self.write_length(s.Index)) for s in summaries[:count.value]]

    def read_length(self, index):
        """Bytes of one input report of a listed device (0: it has none)."""
        return self._length(self._dll.GetReadLength, index)

    def write_length(self, index):
        """Bytes of one output report of a listed device (0: it has none)."""
        return self._length(self._dll.GetWriteLength, index)

    @staticmethod
    def _length(query, index):
        length = query(index)
        if length < 0:
            raise IndexError("no listed device has index %r" % (index,))
        return length

    # ---- Opening and closing ------------------------------------------------

    def setup_interface(self, index):
        """Opens a listed device. After a failure other than a bad index, what
        the opening created stays until close_interface."""
        _check("SetupInterface", self._dll.SetupInterface(index))

    def close_interface(self, index):
        self._dll.CloseInterface(index)

    def cleanup_interface(self, index):
        """Releases an interface whose device is gone."""
        self._dll.CleanupInterface(index)

    @contextlib.contextmanager
    def opened(self, index):
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

    def _read_buffer(self, index):
        length = self._dll.GetReadLength(index)
        return ctypes.create_string_buffer(max(length, 1)), max(length, 0)

    def read_data(self, index):
        """The oldest unread input report, or None when there is none."""
        buffer, length = self._read_buffer(index)
        status = self._dll.ReadData(index, buffer)
        if status == StatusCode.READ_EMPTY:
            return None
        _check("ReadData", status)
        return buffer.raw[:length]

    def read_last(self, index):
        """The newest input report, waiting about half a second for a first
        one; None when none arrived."""
        buffer, length = self._read_buffer(index)
        status = self._dll.ReadLast(index, buffer)
        if status == StatusCode.LAST_NO_REPORT:
            return None
        _check("ReadLast", status)
        return buffer.raw[:length]

    def clear_buffer(self, index):
        """Forgets every stored input report."""
        _check("ClearBuffer", self._dll.ClearBuffer(index))

    # ---- Callbacks ------------------------------------------------------------

    def set_data_callback(self, index, callback, *, changed_only=False):
        """Calls callback(bytes) on the library's callback thread with each
        newest input report, without its report-ID byte (only changed ones
        when `changed_only`). A result of False or 0 ends delivery for this
        opening; None goes on. callback None stops delivery."""
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
            return 1 if result is None or result else 0

        thunk = _keep(_native.DataCallback(trampoline))
        _check("SetDataCallback", self._dll.SetDataCallback(index, 2 if changed_only else 1, thunk))

    def set_error_callback(self, index, callback):
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

    def _write_buffer(self, index, report):
        data = bytes(report)
        length = self._dll.GetWriteLength(index)
        if length > 0 and len(data) > length:
            raise ValueError("a report of %d bytes; index %d takes %d" % (len(data), index, length))
        # The library reads exactly the device's length: pad a shorter report.
        return ctypes.create_string_buffer(data, max(length, len(data), 1))

    def write_data(self, index, report):
        """Sends one output report, at once or through the paced queue (one
        report per device every 50 ms). A queued write reports the failure
        of earlier background writes, if any."""
        _check("WriteData", self._dll.WriteData(index, self._write_buffer(index, report)))

    def fast_write(self, index, report):
        """As write_data, paced every 5 ms."""
        _check("FastWrite", self._dll.FastWrite(index, self._write_buffer(index, report)))
