"""Whose failure a write's status is.

A write that finds the library's pacing chain running queues its report and
answers the status that failed background work left behind: the failure of
an earlier report, perhaps on another interface. The C status does not say
which path a write took, so the package keeps a lower bound of how long the
chain runs, from the writes it made: a chain runs at least one tick after
the last report it was given can have been sent, and ticks come no faster
than PACE_FLOOR of their interval. A write made before that bound was
queued for certain, and a background-failure status it answers belongs to
an earlier write.
"""

import threading
import time
from typing import Dict

from ._generated import StatusCode

SLOW_INTERVAL, FAST_INTERVAL = 0.050, 0.005
# The 50 ms tick's timer may run up to its 10 ms resolution early.
PACE_FLOOR = 0.8

# Statuses a tick leaves for the next queued write to answer.
BACKGROUND_FAILURES = frozenset({
    StatusCode.WRITE_LOCK_TIMEOUT, StatusCode.WRITE_DEVICE_GONE, StatusCode.WRITE_FAILED,
    StatusCode.WRITE_SHORT, StatusCode.WRITE_SCHEDULE_FAILED, StatusCode.WRITE_TICK_RELEASE_FAILED})
# A direct write whose device write failed still started a chain.
DIRECT_FAILURES = frozenset({StatusCode.WRITE_DEVICE_GONE, StatusCode.WRITE_FAILED, StatusCode.WRITE_SHORT})
# A writer's own lock wait takes 250 ms; a 405 answered well before that came
# from a tick.
OWN_LOCK_WAIT = 0.2


class ChainModel:
    """The binding's view of one loaded library's pacing chain."""

    def __init__(self) -> None:
        self.lock = threading.Lock()  # held across each write, so the view sees them in order
        self._sent_no_earlier: Dict[int, float] = {}
        self._running_until = 0.0

    def running(self, now: float) -> bool:
        """Whether a chain certainly runs at `now`."""
        return now < self._running_until

    def inherited(self, status: int, queued: bool, seconds: float) -> bool:
        """Whether `status`, answered by a write that took `seconds`, is an
        earlier write's background failure rather than this call's own."""
        if status == StatusCode.WRITE_TICK_RELEASE_FAILED:
            return True  # only a tick fails this way
        if status == StatusCode.WRITE_LOCK_TIMEOUT:
            return seconds < OWN_LOCK_WAIT
        return queued and status in BACKGROUND_FAILURES

    def accepted(self, index: int, fast: bool, queued: bool, now: float) -> None:
        """Notes a report handed to the library by a call that began at `now`
        (a lower bound of every time that follows from it): written at once,
        or queued behind the ones this interface already waits to send."""
        tick = (FAST_INTERVAL if fast else SLOW_INTERVAL) * PACE_FLOOR
        if queued:
            sent = max(now, self._sent_no_earlier.get(index, now) + tick)
        else:
            self._sent_no_earlier.clear()
            sent = now
        self._sent_no_earlier[index] = sent
        self._running_until = max(self._running_until, sent + tick)

    def forget(self) -> None:
        """After a write that started no chain (411 on the direct path)."""
        self._sent_no_earlier.clear()
        self._running_until = 0.0

    @staticmethod
    def clock() -> float:
        return time.monotonic()
