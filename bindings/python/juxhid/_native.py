"""Finding and loading the library, and the C shapes that cross its boundary."""

import ctypes
import os
import sys

# On 32-bit Windows the library's functions and callbacks are __stdcall.
STDCALL = sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4
FUNCTYPE = ctypes.WINFUNCTYPE if STDCALL else ctypes.CFUNCTYPE
_LOADER = ctypes.WinDLL if STDCALL else ctypes.CDLL

MAX_DEVICES = 25

c_int32, c_uint32, c_uint64 = ctypes.c_int32, ctypes.c_uint32, ctypes.c_uint64
c_void_p, c_char_p = ctypes.c_void_p, ctypes.c_char_p

# int32_t f(uint8_t *report) and int32_t f(intptr_t status).
DataCallback = FUNCTYPE(c_int32, c_void_p)
ErrorCallback = FUNCTYPE(c_int32, ctypes.c_ssize_t)


class DeviceSummary(ctypes.Structure):
    _fields_ = [("ProductID", c_uint32), ("Usage", c_uint32), ("UsagePage", c_uint32),
                ("Index", c_int32)]


class JuxsimDeviceInfo(ctypes.Structure):
    _fields_ = [("vendorId", c_uint32), ("productId", c_uint32), ("usagePage", c_uint32),
                ("usage", c_uint32), ("inputReportLength", c_uint32),
                ("outputReportLength", c_uint32), ("path", c_char_p)]


class JuxsimFault(ctypes.Structure):
    _fields_ = [("call", c_int32), ("thread", c_int32), ("device", c_int32), ("skip", c_int32),
                ("count", c_int32), ("error", c_uint32), ("shortCount", c_uint32)]


class JuxsimCounts(ctypes.Structure):
    _fields_ = [(name, c_int32) for name in (
        "deviceLists", "handles", "preparsed", "locks", "signals", "threads", "timers",
        "allocations", "messageBoxes")]


_P = ctypes.POINTER
_FUNCTIONS = {
    "EnumerateJUX": (c_int32, [c_uint32, _P(DeviceSummary), _P(c_int32)]),
    "GetReadLength": (c_int32, [c_int32]),
    "GetWriteLength": (c_int32, [c_int32]),
    "SetupInterface": (c_int32, [c_int32]),
    "CloseInterface": (None, [c_int32]),
    "CleanupInterface": (None, [c_int32]),
    "ReadData": (c_int32, [c_int32, c_void_p]),
    "ReadLast": (c_int32, [c_int32, c_void_p]),
    "ClearBuffer": (c_int32, [c_int32]),
    "SetDataCallback": (c_int32, [c_int32, c_uint32, DataCallback]),
    "SetErrorCallback": (c_int32, [c_int32, ErrorCallback]),
    "WriteData": (c_int32, [c_int32, c_void_p]),
    "FastWrite": (c_int32, [c_int32, c_void_p]),
}

_SIM_FUNCTIONS = {
    "juxsim_attach": (c_int32, [_P(JuxsimDeviceInfo)]),
    "juxsim_detach": (c_int32, [c_int32]),
    "juxsim_deliver": (c_int32, [c_int32, c_void_p, c_uint32]),
    "juxsim_take_output": (c_int32, [c_int32, c_void_p, c_uint32, _P(c_uint32), _P(c_uint64)]),
    "juxsim_output_count": (c_int32, [c_int32]),
    "juxsim_set_write_delay": (c_int32, [c_int32, c_uint32]),
    "juxsim_now_ns": (c_uint64, []),
    "juxsim_fault_arm": (c_int32, [_P(JuxsimFault)]),
    "juxsim_fault_fired": (c_int32, [c_int32]),
    "juxsim_fault_clear": (None, []),
    "juxsim_counts": (None, [_P(JuxsimCounts)]),
    "juxsim_last_message_box": (None, [c_char_p, c_uint32, c_char_p, c_uint32]),
    "juxsim_reset": (None, []),
}


def _built_library(sim):
    """The library that this package was built or installed beside, if any."""
    try:
        from . import _site
    except ImportError:
        return None
    path = _site.SIM_LIBRARY if sim else _site.LIBRARY
    if path and not os.path.isabs(path):
        path = os.path.normpath(os.path.join(os.path.dirname(_site.__file__), path))
    return path or None


def find_library(path=None, sim=False):
    """The path to load: the argument, else $JUXHID_LIBRARY, else the build's own."""
    chosen = path or os.environ.get("JUXHID_LIBRARY") or _built_library(sim)
    if not chosen:
        kind = "simulated-bus" if sim else "real-device"
        raise OSError("no %s library known: pass its path or set JUXHID_LIBRARY" % kind)
    return os.fspath(chosen)


def _bind(dll, table):
    for name, (restype, argtypes) in table.items():
        function = getattr(dll, name)
        function.restype = restype
        function.argtypes = argtypes


def load(path):
    """Loads the library and declares every exported function's signature."""
    dll = _LOADER(path)
    _bind(dll, _FUNCTIONS)
    if has_simulated_bus(dll):
        _bind(dll, _SIM_FUNCTIONS)
    return dll


def has_simulated_bus(dll):
    return hasattr(dll, "juxsim_attach")
