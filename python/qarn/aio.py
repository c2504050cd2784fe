"""qarn.aio: lines for asyncio.

    import asyncio, qarn.aio

    async def main():
        async with qarn.aio.Line("/dev/ttyUSB0") as a, qarn.aio.Line("/dev/ttyUSB1") as b:
            print(await asyncio.gather(a.status(2), b.status(2)))

qarn.aio.Line has an async method for every method of qarn.Line, with the same arguments,
results, exceptions and dataclasses; the properties connected, rts_control and codec are
async methods here too. Each line has a thread of its own that opens the device and runs its
commands one at a time, in the order they were awaited, so several lines work at the same
time in one event loop and a slow terminal holds up only its own line.

Cancelling the task that awaits a command ends the command within milliseconds, as Ctrl-C
does on qarn.Line: no retransmission, the line free for the next. Between commands the thread
waits for the line's events; notifications() delivers them. A download's progress function
runs on the line's thread: to reach the loop from there, use loop.call_soon_threadsafe."""

from __future__ import annotations

import asyncio
import collections
import contextlib
import functools
import inspect
import threading
import warnings
from typing import Any, Callable, Deque, Optional, TypeVar

from . import line as _line
from ._interrupt import Stop
from .errors import Error
from .monitor import Event, Notification

__all__ = ["Line", "Notifications", "Event", "Notification"]

T = TypeVar("T")

# How long the idle thread waits at most before it looks at its queue again; a new command
# wakes it at once.
_IDLE_SECONDS = 1.0
# The qarn.Line methods that are not the async line's: lifetime and context management.
_OWN = {"close"}


class _Job:
    """One call for the line's thread, and where its outcome goes: (True, value) or (False,
    exception)."""

    def __init__(self, call: Callable[[], Any], loop: Optional[asyncio.AbstractEventLoop]
                 ) -> None:
        self.call = call
        self.loop = loop
        self.future: Optional[asyncio.Future] = loop.create_future() if loop else None
        self.cancelled = False

    def settle(self, outcome: tuple[bool, Any]) -> None:
        if self.loop is None:
            return
        with contextlib.suppress(RuntimeError):  # the loop has been closed
            self.loop.call_soon_threadsafe(_settle, self.future, outcome)


def _settle(future: asyncio.Future, outcome: tuple[bool, Any]) -> None:
    if not future.done():
        future.set_result(outcome)


class _Worker(threading.Thread):
    """The thread that owns one qarn.Line: it runs the jobs in order and, between them, pumps
    the line's events, until the job that closes the line."""

    def __init__(self, name: str) -> None:
        super().__init__(name=f"qarn {name}", daemon=True)
        self.line: Optional[_line.Line] = None
        self._lock = threading.Lock()
        self._jobs: Deque[_Job] = collections.deque()
        self._running: Optional[_Job] = None
        self._idle: Optional[Stop] = None
        self._ended = False
        self._listeners: list[tuple[asyncio.AbstractEventLoop, asyncio.Queue]] = []

    def submit(self, job: _Job) -> None:
        with self._lock:
            if self._ended:
                raise Error("the line is closed")
            self._jobs.append(job)
            if self.ident is None:
                self.start()
            if self._idle is not None:
                self._idle.stop(None)  # ends the idle wait, raising nothing

    def cancel(self, job: _Job) -> None:
        """Ends the job: before it starts, it does not run; running, its command ends where it
        stands and the job raises asyncio.CancelledError."""
        with self._lock:
            job.cancelled = True
            if self._running is job and self.line is not None:
                self.line._interrupt(asyncio.CancelledError())

    def listen(self, loop: asyncio.AbstractEventLoop, queue: asyncio.Queue) -> None:
        with self._lock:
            if self._ended:
                loop.call_soon(queue.put_nowait, None)
            else:
                self._listeners.append((loop, queue))

    def unlisten(self, queue: asyncio.Queue) -> None:
        with self._lock:
            self._listeners = [entry for entry in self._listeners if entry[1] is not queue]

    def run(self) -> None:
        while not self._ended:
            with self._lock:
                job = self._jobs.popleft() if self._jobs else None
                self._running = job
                idle = None
                if job is None and self.line is not None:
                    idle = self._idle = self.line._begin()
            if job is not None:
                self._run(job)
            elif idle is not None:
                with contextlib.suppress(BaseException):  # no callback of ours raises
                    self.line._pump(_IDLE_SECONDS, idle)
                with self._lock:
                    self._idle = None

    def _run(self, job: _Job) -> None:
        if job.cancelled:
            outcome: tuple[bool, Any] = (False, asyncio.CancelledError())
        else:
            try:
                outcome = (True, job.call())
            except BaseException as error:
                outcome = (False, error)
        with self._lock:
            self._running = None
            if self.line is not None:
                self.line._resume()
            if self.line is None or self.line.closed:
                self._end()
        job.settle(outcome)

    def _end(self) -> None:
        """The line is closed or was never opened: every job left fails, listeners end."""
        self._ended = True
        for job in self._jobs:
            job.settle((False, Error("the line is closed")))
        self._jobs.clear()
        for loop, queue in self._listeners:
            with contextlib.suppress(RuntimeError):
                loop.call_soon_threadsafe(queue.put_nowait, None)
        self._listeners.clear()

    def notified(self, event: Event) -> None:
        """A callback of the line: the event, with what it tells of, to every listener."""
        with self._lock:
            listeners = list(self._listeners)
        if not listeners or self.line is None:
            return
        data = b""
        if event == Event.FRAME:
            data = self.line.last_frame()
        elif event == Event.BYTES:
            data = self.line.stream()
            self.line.clear_stream()
        notification = Notification(event, data)
        for loop, queue in listeners:
            with contextlib.suppress(RuntimeError):
                loop.call_soon_threadsafe(queue.put_nowait, notification)


class Notifications:
    """The notifications of one line from the moment notifications() made this on, as an async
    iterator of qarn.Notification; it ends when the line closes, or at close(). While one is
    open, the line's thread takes each frame and the received bytes for it: last_frame() and
    stream() then return nothing for them."""

    def __init__(self, worker: _Worker) -> None:
        self._worker = worker
        self._queue: asyncio.Queue = asyncio.Queue()
        self._done = False
        worker.listen(asyncio.get_running_loop(), self._queue)

    def __aiter__(self) -> Notifications:
        return self

    async def __anext__(self) -> Notification:
        if self._done:
            raise StopAsyncIteration
        item = await self._queue.get()
        if item is None:
            self.close()
            raise StopAsyncIteration
        return item

    def close(self) -> None:
        """Stops receiving; the iteration ends."""
        self._done = True
        self._worker.unlisten(self._queue)

    async def __aenter__(self) -> Notifications:
        return self

    async def __aexit__(self, *exception: object) -> None:
        self.close()


class Line:
    """A serial line and its device object for asyncio, as an async context manager:

        async with qarn.aio.Line("/dev/ttyUSB0", baud=9600, parity="E") as line:
            print(await line.status(2))

    The arguments are those of qarn.Line. open() (or entering the context) starts the line's
    thread and opens the line there; close() (or leaving it) closes it and ends the thread.
    The line may be used from any task of any loop, and several tasks may await it at once:
    their commands run one after the other."""

    def __init__(self, path: str, baud: int = 9600, parity: str = "E", data_bits: int = 8,
                 stop_bits: float = 1, host: int = 1, wait_time: int = 500,
                 comm_key: Optional[str] = None) -> None:
        self.path = path
        self._arguments = dict(path=path, baud=baud, parity=parity, data_bits=data_bits,
                               stop_bits=stop_bits, host=host, wait_time=wait_time,
                               comm_key=comm_key)
        self._worker: Optional[_Worker] = None

    async def open(self) -> Line:
        """Opens the line on a thread of its own; the exceptions of qarn.Line's constructor."""
        if self._worker is not None:
            raise Error("the line is open already")
        worker = self._worker = _Worker(self.path)

        def opened() -> None:
            line = _line.Line(**self._arguments)
            line.on_sent = functools.partial(worker.notified, Event.SENT)
            line.on_bytes = functools.partial(worker.notified, Event.BYTES)
            line.on_frame = functools.partial(worker.notified, Event.FRAME)
            worker.line = line

        try:
            await self._call(opened)
        except BaseException:
            self._worker = None  # its thread has ended; open() may be tried again
            raise
        return self

    async def close(self) -> None:
        """Closes the port and the device object and ends the line's thread. Closing a closed
        line does nothing."""
        worker = self._worker
        if worker is None or worker.ident is None or not worker.is_alive():
            return
        with contextlib.suppress(Error):
            await self._call(lambda: worker.line.close() if worker.line else None)
        worker.join()  # the thread ends as the close settles

    @property
    def closed(self) -> bool:
        """True before open() and after close()."""
        worker = self._worker
        return worker is None or worker.line is None or worker.line.closed

    def notifications(self) -> Notifications:
        """The line's notifications from now on, as an async iterator:

            async with line.notifications() as events:
                async for event in events:
                    print(event.event.name, event.data.hex())"""
        if self._worker is None:
            raise Error("the line is not open")
        return Notifications(self._worker)

    async def __aenter__(self) -> Line:
        return await self.open()

    async def __aexit__(self, *exception: object) -> None:
        await self.close()

    def __del__(self) -> None:
        worker = getattr(self, "_worker", None)
        if worker is not None and worker.line is not None and not worker.line.closed:
            warnings.warn(f"qarn.aio.Line {self.path!r} was not closed: closed as it is "
                          "collected", ResourceWarning, source=self)
            with contextlib.suppress(Error):
                worker.submit(_Job(worker.line.close, None))

    async def _call(self, call: Callable[[], T]) -> T:
        """Runs call on the line's thread; cancelled, the command in progress ends first."""
        if self._worker is None:
            raise Error("the line is not open")
        job = _Job(call, asyncio.get_running_loop())
        assert job.future is not None
        self._worker.submit(job)
        try:
            ok, value = await asyncio.shield(job.future)
        except asyncio.CancelledError:
            self._worker.cancel(job)
            await asyncio.wait([job.future])
            raise
        if not ok:
            raise value
        return value


def _async_method(name: str, sync: Any) -> Callable[..., Any]:
    """The async method of the qarn.Line method or property of that name, with its signature
    and documentation."""
    function = sync.fget if isinstance(sync, property) else sync

    async def method(self: Line, *args: Any, **kwargs: Any) -> Any:
        worker = self._worker
        if worker is None:
            raise Error("the line is not open")

        def call() -> Any:
            if worker.line is None:
                raise Error("the line is not open")
            found = getattr(worker.line, name)
            return found(*args, **kwargs) if callable(found) else found

        return await self._call(call)

    method.__name__ = name
    method.__qualname__ = f"Line.{name}"
    method.__doc__ = function.__doc__
    method.__signature__ = inspect.signature(function)  # type: ignore[attr-defined]
    method.__annotations__ = dict(function.__annotations__)
    return method


def _public_methods() -> dict[str, Any]:
    """qarn.Line's public methods and properties that run on the line's thread, by name."""
    found = {}
    for name, member in vars(_line.Line).items():
        if name.startswith("_") or name in _OWN or name in vars(Line):
            continue
        if inspect.isfunction(member) or isinstance(member, property):
            found[name] = member
    return found


for _name, _member in _public_methods().items():
    setattr(Line, _name, _async_method(_name, _member))
