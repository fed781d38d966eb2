"""Python access to the JUXHID library through ctypes.

    import juxhid
    lib = juxhid.Library()              # $JUXHID_LIBRARY, else the build's own,
                                        # else the installed libjuxhid.so.0
    for device in lib.list_devices(0x1A2B):
        print(device)

Library(sim=True) loads the simulated-bus build, whose lib.sim attaches
devices without hardware. Failed calls raise JuxhidError, which carries the
status code and its meaning from the library's status table.
"""

__version__ = "0.1.0"

from .library import DeferredWriteWarning, Device, Library
from .sim import Output, Replay, ReplayError, SimCall, SimCounts, SimThread, SimulatedBus
from .status import TABLE as STATUS_TABLE
from .status import JuxhidError, Status, StatusCode, describe
from .watch import Watch, WatchEvent

__all__ = ["__version__", "DeferredWriteWarning", "Device", "JuxhidError", "Library", "Output", "Replay", "ReplayError", "STATUS_TABLE",
           "SimCall", "SimCounts", "SimThread", "SimulatedBus", "Status", "StatusCode", "Watch", "WatchEvent",
           "describe"]
