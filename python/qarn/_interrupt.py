"""Ending a command's wait early, for Ctrl-C or for an exception raised in Python code that the
library called during the wait.

The wait runs inside the library, where Python's own signal handlers cannot run: the
interpreter's C-level handler only notes the signal and writes its number to the wakeup
descriptor. While a command runs on the main thread, that descriptor is a pipe read by a
helper thread, which asks the library to end the wait (PostQuitToOwner); the Python-level
handler, which runs later between bytecodes, only records the interrupt, so that the line
drops the command before KeyboardInterrupt is raised."""

from __future__ import annotations

import contextlib
import os
import signal
import threading
from typing import Iterator, Optional


class Stop:
    """One command's request to end early: the first cause, and whether the quit went out. No
    quit is posted once the command is over (finish())."""

    def __init__(self, library: object, device: int) -> None:
        self._library = library
        self._device = device
        # Reentrant: the signal handler may run on the thread that is inside stop() already.
        self._lock = threading.RLock()
        self.cause: Optional[BaseException] = None
        self.posted = False

    def stop(self, cause: Optional[BaseException]) -> None:
        """Records the first cause and ends the owner thread's wait by the quit message; None
        ends the wait and records nothing."""
        with self._lock:
            if self.cause is None:
                self.cause = cause
            if self._device and not self.posted:
                self.posted = True
                self._library.PostQuitToOwner(self._device)

    def finish(self) -> None:
        """The command is over: no quit is posted from now on."""
        with self._lock:
            self._device = 0


# Written by unwatch(): no signal has the number 0.
_FLUSH = 0


class _SignalWatch:
    """The helper thread that reads the wakeup descriptor; bytes of other signals go on to the
    descriptor that was set before, if any."""

    def __init__(self) -> None:
        self._read, self.write = os.pipe()
        os.set_blocking(self.write, False)
        self._lock = threading.Lock()
        self._stop: Optional[Stop] = None
        self._forward = -1
        self._flushed = threading.Event()
        threading.Thread(target=self._run, name="qarn-interrupts", daemon=True).start()

    def watch(self, stop: Optional[Stop], forward: int = -1) -> None:
        with self._lock:
            self._stop, self._forward = stop, forward

    def unwatch(self) -> None:
        """Ends the watch once every byte written so far has been read for it, so that a signal
        of this command is never taken for the next one's."""
        read = threading.Event()
        with self._lock:
            self._flushed = read
        os.write(self.write, bytes([_FLUSH]))
        read.wait(1.0)
        self.watch(None)

    def _run(self) -> None:
        while True:
            signals = os.read(self._read, 256)
            with self._lock:
                stop, forward = self._stop, self._forward
            if stop is not None and signal.SIGINT in signals:
                stop.stop(KeyboardInterrupt())
            others = bytes(number for number in signals if number != _FLUSH)
            if forward >= 0 and others:
                with contextlib.suppress(OSError):
                    os.write(forward, others)
            if _FLUSH in signals:
                with self._lock:
                    self._flushed.set()


_watch: Optional[_SignalWatch] = None


def _forget_watch() -> None:
    global _watch
    _watch = None  # its thread did not survive the fork


os.register_at_fork(after_in_child=_forget_watch)


@contextlib.contextmanager
def ctrl_c_ends(stop: Stop) -> Iterator[None]:
    """Within the block, Ctrl-C ends the library's wait and is recorded in stop instead of being
    raised. Only on the main thread, and only while Ctrl-C has Python's usual handler: another
    handler is the application's own and stays as it is."""
    if (threading.current_thread() is not threading.main_thread()
            or signal.getsignal(signal.SIGINT) is not signal.default_int_handler):
        yield
        return
    global _watch
    if _watch is None:
        _watch = _SignalWatch()
    # The handler is ours for longer than the descriptor, so that a signal at either edge is
    # recorded rather than raised in the middle of setting up or dropping the command.
    signal.signal(signal.SIGINT, lambda _signal, _frame: stop.stop(KeyboardInterrupt()))
    previous = signal.set_wakeup_fd(_watch.write, warn_on_full_buffer=False)
    _watch.watch(stop, previous)
    try:
        yield
    finally:
        signal.set_wakeup_fd(previous)
        _watch.unwatch()
        signal.signal(signal.SIGINT, signal.default_int_handler)
