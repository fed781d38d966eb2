"""Finding and loading the library, and the C shapes that cross its boundary."""

import ctypes
import importlib
import os
import sys
from typing import Any, Dict, List, Optional, Tuple, Union

Path = Union[str, "os.PathLike[str]"]


def calling_convention(platform: str, pointer_size: int) -> str:
    """'stdcall' or 'cdecl': how the library built for `platform` calls.

    The 32-bit Windows DLL declares every function and callback __stdcall;
    the 64-bit DLL and every other build use the platform's one convention.
    The choice follows the Python process's own pointer size, since a process
    can load only a library built for its own width."""
    return "stdcall" if platform == "win32" and pointer_size == 4 else "cdecl"


CONVENTION = calling_convention(sys.platform, ctypes.sizeof(ctypes.c_void_p))
STDCALL = CONVENTION == "stdcall"
# ctypes offers WinDLL and WINFUNCTYPE only on Windows.
FUNCTYPE = ctypes.WINFUNCTYPE if STDCALL else ctypes.CFUNCTYPE  # type: ignore[attr-defined]
_LOADER = ctypes.WinDLL if STDCALL else ctypes.CDLL  # type: ignore[attr-defined]

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
_Table = Dict[str, Tuple[Any, List[Any]]]
_FUNCTIONS: _Table = {
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

_SIM_FUNCTIONS: _Table = {
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
    "juxsim_replay_start": (c_void_p, [c_char_p, ctypes.c_double]),
    "juxsim_replay_error": (c_int32, [c_char_p, c_uint32]),
    "juxsim_replay_device": (c_int32, [c_void_p]),
    "juxsim_replay_delivered": (c_int32, [c_void_p]),
    "juxsim_replay_wait": (c_int32, [c_void_p, c_uint32]),
    "juxsim_replay_stop": (None, [c_void_p]),
    "juxsim_replay_free": (None, [c_void_p]),
}


# What the dynamic loader is asked for when nothing names a file: the name a
# shared library is installed under (its SONAME on Linux).
SYSTEM_NAMES = {
    ("win32", False): "juxhid.dll",
    ("win32", True): "juxhid_sim.dll",
    ("darwin", False): "libjuxhid.0.dylib",
    ("darwin", True): "libjuxhid_sim.0.dylib",
}


def system_name(sim: bool, platform: str = sys.platform) -> str:
    """The library's name for the platform's dynamic loader to search for."""
    return SYSTEM_NAMES.get((platform, sim), "libjuxhid_sim.so.0" if sim else "libjuxhid.so.0")


def _built_library(sim: bool) -> Optional[str]:
    """The library that this package was built or installed beside, if any."""
    try:  # written by the CMake build and install only
        _site = importlib.import_module(__name__.rpartition(".")[0] + "._site")
    except ImportError:
        return None
    path: str = _site.SIM_LIBRARY if sim else _site.LIBRARY
    if path and not os.path.isabs(path):
        path = os.path.normpath(os.path.join(os.path.dirname(str(_site.__file__)), path))
    return path or None


def environment_variable(sim: bool) -> str:
    """The variable that names the library to load: one per kind, so that a
    real-device library named for Library() never stands in for the
    simulated bus."""
    return "JUXHID_SIM_LIBRARY" if sim else "JUXHID_LIBRARY"


def find_library(path: Optional[Path] = None, sim: bool = False) -> Tuple[str, str]:
    """(what to load, where that choice came from): the argument, else the
    environment variable of its kind, else the library the package was built
    or installed beside, else the installed name for the dynamic loader."""
    if path:
        return os.fspath(path), "the path passed"
    variable = environment_variable(sim)
    if os.environ.get(variable):
        return os.environ[variable], "$" + variable
    built = _built_library(sim)
    if built:
        return built, "the library this package was built or installed beside"
    return system_name(sim), "the dynamic loader's search path"


def _bind(dll: ctypes.CDLL, table: _Table) -> None:
    for name, (restype, argtypes) in table.items():
        function = getattr(dll, name)
        function.restype = restype
        function.argtypes = argtypes


def load(path: str) -> ctypes.CDLL:
    """Loads the library and declares every exported function's signature."""
    dll: ctypes.CDLL = _LOADER(path)
    _bind(dll, _FUNCTIONS)
    if has_simulated_bus(dll):
        _bind(dll, _SIM_FUNCTIONS)
    return dll


def has_simulated_bus(dll: ctypes.CDLL) -> bool:
    """Whether the loaded library is the simulated-bus build."""
    return hasattr(dll, "juxsim_attach")

