"""The simulated HID bus, present when the loaded library is the simulated-bus
build: attach devices, deliver their input reports, take what the library
wrote to them, unplug them, replay recorded devices, and make platform calls
fail on purpose."""

import ctypes
import errno
import os
from typing import Any, Callable, List, NamedTuple, Optional, Tuple, Union

from . import _native
from ._generated import SimCall, SimThread
from ._values import Buffer, buffer, int32, uint32

__all__ = ["Output", "Replay", "ReplayError", "SimCall", "SimCounts", "SimThread", "SimulatedBus"]


class Output(NamedTuple):
    """One output report as it reached a simulated device, and when."""

    data: bytes
    timestamp_ns: int  # on the clock of SimulatedBus.now_ns()


class SimCounts(NamedTuple):
    """What the library holds of the platform, by kind."""

    device_lists: int
    handles: int
    preparsed: int
    locks: int
    signals: int
    threads: int
    timers: int
    allocations: int
    message_boxes: int

    def held(self) -> Tuple[int, ...]:
        """The platform objects alone, without the message-box tally."""
        return self[:-1]


_OUTPUT_CAPACITY = 65536  # any 16-bit report length


class ReplayError(ValueError):
    """A recording the bus refused; `line` is the line at fault (0: the file
    as a whole, or the speed)."""

    def __init__(self, message: str, line: int) -> None:
        super().__init__(message)
        self.line = line


class Replay:
    """A recording being played back on the bus (SimulatedBus.replay).

    Its device is attached from the start; its reports flow once the library
    has opened the device. Close it (or use it in a `with` block) before the
    library goes; closing stops it and leaves the device attached."""

    def __init__(self, dll: ctypes.CDLL, handle: int, on_close: Callable[["Replay"], None]) -> None:
        """Wraps a started replay; SimulatedBus.replay makes this."""
        self._dll = dll
        self._handle: Optional[int] = handle
        self._on_close = on_close
        self.device: int = dll.juxsim_replay_device(handle)

    def _live(self) -> int:
        if self._handle is None:
            raise ValueError("the replay was closed")
        return self._handle

    def delivered(self) -> int:
        """How many of the recording's reports were delivered so far."""
        return int(self._dll.juxsim_replay_delivered(self._live()))

    def wait(self, timeout: float) -> bool:
        """Waits up to `timeout` seconds for the end; True once it has ended."""
        ms = max(0, min(int(timeout * 1000), 0xFFFFFFFF))
        return bool(self._dll.juxsim_replay_wait(self._live(), ms) == 1)

    def stop(self) -> None:
        """Ends the replay early; returns once its thread has ended."""
        self._dll.juxsim_replay_stop(self._live())

    def close(self) -> None:
        """Stops the replay if need be and frees it; harmless twice."""
        if self._handle is not None:
            self._dll.juxsim_replay_free(self._handle)
            self._handle = None
            self._on_close(self)

    def __enter__(self) -> "Replay":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()


class SimulatedBus:
    """The bus of a loaded simulated-bus library (Library(sim=True).sim)."""

    def __init__(self, dll: ctypes.CDLL, on_replay: Callable[[], None] = lambda: None) -> None:
        """Wraps the loaded library; Library makes this, not the caller.
        `on_replay` hears of each replay started, which close_replays ends."""
        self._dll = dll
        self._on_replay = on_replay
        self._replays: List[Replay] = []

    def close_replays(self) -> None:
        """Ends and frees every replay started here and not closed yet."""
        for replay in list(self._replays):
            replay.close()

    @staticmethod
    def _known(result: int, device: int) -> int:
        if result < 0:
            raise ValueError("no simulated device %r" % (device,))
        return result

    def attach(self, vendor_id: int, product_id: int, *, usage_page: int = 0xFF00, usage: int = 1,
               input_length: int = 0, output_length: int = 0, path: Optional[str] = None) -> int:
        """Puts a device at the end of the bus's list; returns its id."""
        numbers = [uint32(name, value) for name, value in (
            ("vendor_id", vendor_id), ("product_id", product_id), ("usage_page", usage_page), ("usage", usage),
            ("input_length", input_length), ("output_length", output_length))]
        info = _native.JuxsimDeviceInfo(*numbers, path.encode() if path else None)
        return int(self._dll.juxsim_attach(ctypes.byref(info)))

    def detach(self, device: int) -> None:
        """Unplugs the device: its pending and later transfers fail."""
        self._known(self._dll.juxsim_detach(int32("device", device)), device)

    def deliver(self, device: int, report: Buffer) -> int:
        """Sends one input report; returns how many read handles it reached."""
        data = buffer("report", report)
        return self._known(self._dll.juxsim_deliver(int32("device", device), data, len(data)), device)

    def take_output(self, device: int) -> Optional[Output]:
        """The oldest output report written to the device and not taken yet, or None."""
        space = ctypes.create_string_buffer(_OUTPUT_CAPACITY)
        length, stamp = _native.c_uint32(), _native.c_uint64()
        taken = self._known(self._dll.juxsim_take_output(
            int32("device", device), space, _OUTPUT_CAPACITY, ctypes.byref(length), ctypes.byref(stamp)), device)
        return Output(space.raw[:length.value], stamp.value) if taken else None

    def outputs(self, device: int) -> List[Output]:
        """Takes every output report the device holds, oldest first."""
        taken = []
        while (output := self.take_output(device)) is not None:
            taken.append(output)
        return taken

    def output_count(self, device: int) -> int:
        """How many output reports the device holds, not taken yet."""
        return self._known(self._dll.juxsim_output_count(int32("device", device)), device)

    def set_write_delay(self, device: int, ms: int) -> None:
        """Makes each later write to the device take `ms` milliseconds."""
        self._known(self._dll.juxsim_set_write_delay(int32("device", device), uint32("ms", ms)), device)

    def now_ns(self) -> int:
        """The bus's clock, in nanoseconds, that output timestamps use."""
        return int(self._dll.juxsim_now_ns())

    def arm_fault(self, call: int, *, error: int = 0, thread: int = SimThread.ANY, device: int = 0,
                  skip: int = 0, count: int = 1, short_count: int = 0) -> int:
        """Makes matching platform calls fail; returns the fault's id."""
        fault = _native.JuxsimFault(int32("call", int(call)), int32("thread", int(thread)), int32("device", device),
                                    int32("skip", skip), int32("count", count), uint32("error", error),
                                    uint32("short_count", short_count))
        fault_id = self._dll.juxsim_fault_arm(ctypes.byref(fault))
        if fault_id < 0:
            raise ValueError("the simulated bus refused the fault %r" % (fault,))
        return int(fault_id)

    def fault_fired(self, fault_id: int) -> int:
        """How often the fault has made a call fail so far."""
        return self._known(self._dll.juxsim_fault_fired(fault_id), fault_id)

    def clear_faults(self) -> None:
        """Disarms every fault."""
        self._dll.juxsim_fault_clear()

    def counts(self) -> SimCounts:
        """What the library holds of the platform right now."""
        counts = _native.JuxsimCounts()
        self._dll.juxsim_counts(ctypes.byref(counts))
        return SimCounts(*(getattr(counts, name) for name, _ in _native.JuxsimCounts._fields_))

    def last_message_box(self) -> Tuple[str, str]:
        """(text, caption) of the last message box the library showed."""
        text, caption = ctypes.create_string_buffer(512), ctypes.create_string_buffer(512)
        self._dll.juxsim_last_message_box(text, 512, caption, 512)
        return text.value.decode(errors="replace"), caption.value.decode(errors="replace")

    def replay(self, path: "Union[str, os.PathLike[str]]", speed: float = 1.0) -> Replay:
        """Attaches the device a recording (`juxhid monitor --record`) describes
        and plays its reports back: at the recorded times divided by `speed`,
        or with `speed` 0 each as soon as the device's read handles have room.
        Raises FileNotFoundError for a file that is not there and ReplayError
        (with the line at fault) for one the bus refuses; then nothing was
        attached."""
        if not os.path.exists(path):
            raise FileNotFoundError(errno.ENOENT, os.strerror(errno.ENOENT), os.fspath(path))
        handle = self._dll.juxsim_replay_start(os.fsencode(path), float(speed))
        if not handle:
            why = ctypes.create_string_buffer(256)
            line = self._dll.juxsim_replay_error(why, 256)
            raise ReplayError("%s: %s" % (os.fspath(path), why.value.decode(errors="replace")), line)
        replay = Replay(self._dll, handle, self._replays.remove)
        self._replays.append(replay)
        self._on_replay()
        return replay

    def reset(self) -> None:
        """Detaches every device, disarms every fault, forgets outputs."""
        self._dll.juxsim_reset()
