"""The simulated HID bus, present when the loaded library is the simulated-bus
build: attach devices, deliver their input reports, take what the library
wrote to them, unplug them, and make platform calls fail on purpose."""

import ctypes
import enum
from typing import NamedTuple

from . import _native, _tables

# SimCall.OPEN_READ, SimThread.READER, ... from the simulated bus's header.
SimCall = enum.IntEnum("SimCall", [(name[len("JUXSIM_CALL_"):], value)
                                   for name, value in _tables.SIM_CALLS
                                   if not name.endswith("_END_")])
SimThread = enum.IntEnum("SimThread", [(name[len("JUXSIM_THREAD_"):], value)
                                       for name, value in _tables.SIM_THREADS])


class Output(NamedTuple):
    data: bytes
    timestamp_ns: int  # on the clock of SimulatedBus.now_ns()


class SimCounts(NamedTuple):
    device_lists: int
    handles: int
    preparsed: int
    locks: int
    signals: int
    threads: int
    timers: int
    allocations: int
    message_boxes: int

    def held(self):
        """The platform objects alone, without the message-box tally."""
        return self[:-1]


_OUTPUT_CAPACITY = 65536  # any 16-bit report length


class SimulatedBus:
    def __init__(self, dll):
        self._dll = dll

    @staticmethod
    def _known(result, device):
        if result < 0:
            raise ValueError("no simulated device %r" % (device,))
        return result

    def attach(self, vendor_id, product_id, *, usage_page=0xFF00, usage=1, input_length=0,
               output_length=0, path=None):
        """Puts a device at the end of the bus's list; returns its id."""
        info = _native.JuxsimDeviceInfo(vendor_id, product_id, usage_page, usage, input_length,
                                        output_length, path.encode() if path else None)
        return self._dll.juxsim_attach(ctypes.byref(info))

    def detach(self, device):
        """Unplugs the device: its pending and later transfers fail."""
        self._known(self._dll.juxsim_detach(device), device)

    def deliver(self, device, report):
        """Sends one input report; returns how many read handles it reached."""
        data = bytes(report)
        return self._known(self._dll.juxsim_deliver(device, data, len(data)), device)

    def take_output(self, device):
        """The oldest output report written to the device and not taken yet, or None."""
        buffer = ctypes.create_string_buffer(_OUTPUT_CAPACITY)
        length, stamp = _native.c_uint32(), _native.c_uint64()
        taken = self._known(self._dll.juxsim_take_output(
            device, buffer, _OUTPUT_CAPACITY, ctypes.byref(length), ctypes.byref(stamp)), device)
        return Output(buffer.raw[:length.value], stamp.value) if taken else None

    def outputs(self, device):
        """Takes every output report the device holds, oldest first."""
        taken = []
        while (output := self.take_output(device)) is not None:
            taken.append(output)
        return taken

    def output_count(self, device):
        return self._known(self._dll.juxsim_output_count(device), device)

    def set_write_delay(self, device, ms):
        """Makes each later write to the device take `ms` milliseconds."""
        self._known(self._dll.juxsim_set_write_delay(device, ms), device)

    def now_ns(self):
        return self._dll.juxsim_now_ns()

    def arm_fault(self, call, *, error=0, thread=SimThread.ANY, device=0, skip=0, count=1,
                  short_count=0):
        """Makes matching platform calls fail; returns the fault's id."""
        fault = _native.JuxsimFault(int(call), int(thread), device, skip, count, error, short_count)
        fault_id = self._dll.juxsim_fault_arm(ctypes.byref(fault))
        if fault_id < 0:
            raise ValueError("the simulated bus refused the fault %r" % (fault,))
        return fault_id

    def fault_fired(self, fault_id):
        """How often the fault has made a call fail so far."""
        return self._known(self._dll.juxsim_fault_fired(fault_id), fault_id)

    def clear_faults(self):
        self._dll.juxsim_fault_clear()

    def counts(self):
        """What the library holds of the platform right now."""
        counts = _native.JuxsimCounts()
        self._dll.juxsim_counts(ctypes.byref(counts))
        return SimCounts(*(getattr(counts, name) for name, _ in _native.JuxsimCounts._fields_))

    def last_message_box(self):
        """(text, caption) of the last message box the library showed."""
        text, caption = ctypes.create_string_buffer(512), ctypes.create_string_buffer(512)
        self._dll.juxsim_last_message_box(text, 512, caption, 512)
        return text.value.decode(errors="replace"), caption.value.decode(errors="replace")

    def reset(self):
        """Detaches every device, disarms every fault, forgets outputs."""
        self._dll.juxsim_reset()
