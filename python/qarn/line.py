"""qarn.Line: one serial line with its device object, a method per command."""

from __future__ import annotations

import ctypes
import math
import os
import stat
import struct
import threading
import time
import warnings
import weakref
from datetime import date, datetime
from typing import Callable, Iterable, Optional, Sequence, Union

from . import layouts
from ._interrupt import Stop, ctrl_c_ends
from ._library import NotifyProc, library
from .errors import Error, PortError, Refused, WrongReply, WrongThread, error_for, result_name
from .monitor import (FRAME_DUMP_LENGTH, MOST_BODY_BYTES, STREAM_DUMP_LENGTH, Event, from_dump,
                      hex_text)
from .values import (Card1, Card2, Card3, Card254, CardId, ListCounts, LongRecord, Money,
                     Property, Record, RecordRange, Status, SystemProperty, LAYOUT_OF,
                     encode_text, from_layout, to_layout)

TRANSMITTED, ACKNOWLEDGED, DATA_READY, NO_RECORDS, TIMEOUT = 0, 8, 13, 14, 5
WM_HDLC_SENT = 0x0D65
LIST_WHITE, LIST_BLACK = 0xBB, 0xAA
# The most numbers a list holds: white list blocks 0 to 195, black list blocks 196 to 65535.
LIST_WHITE_CAPACITY, LIST_BLACK_CAPACITY = 196 * 64, (65536 - 196) * 64
_MOST_FILE_BYTES = 1 + 5 * LIST_BLACK_CAPACITY  # no download file is longer than a full black list
RECORDS_PER_REQUEST = 32  # the records() batch by default
MOST_RECORDS_PER_REQUEST = 255  # a request counts its records in a byte
RECORDS_LONG = 2  # GetRecordForm

Progress = Callable[[int, int], None]
Callback = Callable[[], None]
Key = bytes  # 8 bytes
AnyRecord = Union[Record, LongRecord]
AnyCard = Union[Card1, Card2, Card3, Card254]

# The notification callbacks of lines collected where they could not be closed: the library
# may still call them, so they live as long as the process.
_KEPT_CALLBACKS: list = []


def write_list_file(path: Union[str, os.PathLike], kind: str, numbers: Iterable[int]) -> None:
    """Writes a card list file: kind "white" or "black", the numbers in ascending order, each as
    10 BCD digits. The download sorts only within each frame, so a file sorted as a whole is what
    lets every frame follow the one before. A number outside 0 to 4294967295, or more numbers than
    the kind's list holds, raises ValueError and nothing is written."""
    data = bytearray([_list_marker(kind)])
    for number in sorted(numbers):
        if not 0 <= number <= 0xFFFFFFFF:
            raise ValueError(f"card number {number} does not fit 32 bits")
        data += bytes.fromhex(f"{number:010d}")
    if len(data) - 1 > 5 * _list_capacity(kind):
        raise ValueError(f"a {kind} list holds at most {_list_capacity(kind)} numbers")
    with open(path, "wb") as file:
        file.write(data)


def _list_marker(kind: str) -> int:
    if kind not in ("white", "black"):
        raise ValueError(f"list kind {kind!r} is neither 'white' nor 'black'")
    return LIST_WHITE if kind == "white" else LIST_BLACK


def _list_capacity(kind: str) -> int:
    return LIST_WHITE_CAPACITY if _list_marker(kind) == LIST_WHITE else LIST_BLACK_CAPACITY


def _key_text(key: Key) -> bytes:
    if not isinstance(key, (bytes, bytearray)) or len(key) != 8:
        raise ValueError("a key is 8 bytes")
    return bytes(key).hex().upper().encode()


def _records(data: bytes, form: int) -> list[AnyRecord]:
    # The library's GetRecordForm tells the form: 3 short records or 2 long are both 120 bytes.
    layout, kind = ((layouts.QarnLongRecord, LongRecord) if form == RECORDS_LONG
                    else (layouts.QarnRecord, Record))
    size = ctypes.sizeof(layout)
    return [from_layout(kind, layout.from_bytes(data, at))
            for at in range(0, len(data) - size + 1, size)]


class Line:
    """A serial line and the device object on it, as a context manager:

        with qarn.Line("/dev/ttyUSB0", baud=9600, parity="E") as line:
            print(line.status(2))

    A Line belongs to the thread that made it: the library runs its notifications, timer and
    waits on that thread, so every method called from another thread raises qarn.WrongThread.
    Commands run one at a time; each method raises the qarn.Error of its result when the
    command does not succeed (qarn.TimeOut, qarn.LinkError, qarn.TerminalError, ...).

    Ctrl-C during a command on the main thread, or an exception raised by a progress function,
    ends the command where it stands and is raised from the method at once; the line stays
    usable. A Line collected without close() is closed then, with a ResourceWarning;
    collected on another thread it cannot be, and stays open.

    The line monitor: on_sent, on_bytes and on_frame are called, with no argument, when a
    frame has left the port, when bytes arrived on the line (stream() returns them) and when a
    frame for this host arrived (last_frame() returns its data); always on the line's thread,
    while it runs a command or pump(). An exception one of them raises ends the command or the
    pump and is raised from it. send_frame() sends a frame of one's own."""

    on_sent: Optional[Callback] = None
    """Called when a frame has left the port."""
    on_bytes: Optional[Callback] = None
    """Called when bytes arrived on the line."""
    on_frame: Optional[Callback] = None
    """Called when a frame for this host arrived and was decoded."""

    def __init__(self, path: str, baud: int = 9600, parity: str = "E", data_bits: int = 8,
                 stop_bits: float = 1, host: int = 1, wait_time: int = 500,
                 comm_key: Optional[str] = None) -> None:
        # A serial device server's port, "tcp://HOST:PORT" or "rfc2217://HOST:PORT", is checked
        # by the library as it connects.
        network = path.startswith(("tcp://", "rfc2217://")) and "\0" not in path
        if not (path.startswith("/") and ":" not in path and "\0" not in path) and not (
                len(path) == 4 and path.startswith("COM") and path[3] in "123456789") and not network:
            raise ValueError(f"port {path!r} is neither a device path, COM1 to COM9, "
                             "tcp://HOST:PORT nor rfc2217://HOST:PORT")
        if parity not in ("N", "E", "O", "M", "S"):
            raise ValueError("parity must be N, E, O, M or S")
        if baud <= 0 or data_bits not in (5, 6, 7, 8) or stop_bits not in (1, 1.5, 2):
            raise ValueError("baud must be above 0, data bits 5 to 8, stop bits 1, 1.5 or 2")
        if not 0 <= host <= 0xFFFF:
            raise ValueError(f"host address {host} is out of range")
        self.path = path
        self._codec = "gb2312"
        self._lib = library()
        self._owner = threading.get_ident()
        self._progress: Optional[Progress] = None
        self._sent = self._total = 0
        self._stop: Optional[Stop] = None
        self._stop_lock = threading.Lock()
        self._cancel: Optional[BaseException] = None
        # The callback holds the line weakly, so that an unclosed line is collected, and closed,
        # as soon as it is dropped.
        line = weakref.ref(self)

        def notified(message: int, _w: int, _device: int, _user: object) -> None:
            this = line()
            if this is not None:
                this._notified(message)

        self._proc = NotifyProc(notified)
        self._window = self._lib.CreateNotifyWindow(self._proc, None)
        self._device = self._lib.OpenDevice(host, self._window) if self._window else 0
        if not self._device:
            self._release()
            raise Error("the device object was not made")
        self._lib.SetWaitTime(self._device, wait_time)
        if comm_key is not None:
            self.set_comm_key(comm_key)
        stop = {1: "1", 1.5: "1.5", 2: "2"}[stop_bits]
        settings = f"{path}:baud={baud},parity={parity},data={data_bits},stop={stop}"
        if self._lib.ConnectPort(self._device, settings.encode()) != 1:
            reason = ctypes.get_errno()
            self._release()
            raise PortError(path, reason)

    def _abandon(self, handle: int) -> None:
        """Ends the command in progress where it stands and releases it."""
        self._lib.CancelQARNCommand(handle)

    # Lifetime.
    def close(self) -> None:
        """Closes the port and the device object; the line can be opened again at once.
        Closing a closed line does nothing."""
        if threading.get_ident() != self._owner:
            raise WrongThread("a qarn.Line belongs to the thread that made it; it cannot be "
                              "closed from another thread")
        self._release()

    def _release(self) -> None:
        if getattr(self, "_device", 0):
            self._lib.CloseDevice(self._device)
            self._device = 0
        if getattr(self, "_window", 0):
            if self._lib.DestroyNotifyWindow(self._window) != 1:
                _KEPT_CALLBACKS.append(self._proc)  # not this thread's: it may still be called
            self._window = 0

    def __del__(self) -> None:
        if not getattr(self, "_window", 0):
            return
        if threading.get_ident() == self._owner:
            warnings.warn(f"qarn.Line {self.path!r} was not closed: closed as it is collected",
                          ResourceWarning, source=self)
            self._release()
        else:
            _KEPT_CALLBACKS.append(self._proc)
            warnings.warn(f"qarn.Line {self.path!r} was not closed and is collected on another "
                          "thread than its own, where it cannot be closed: its port stays open",
                          ResourceWarning, source=self)

    def __enter__(self) -> Line:
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    @property
    def closed(self) -> bool:
        """True once the line is closed."""
        return not self._device

    def _check(self) -> None:
        if threading.get_ident() != self._owner:
            raise WrongThread("a qarn.Line belongs to the thread that made it; it was used "
                              "from another thread")
        if not self._device:
            raise Error("the line is closed")

    def _notified(self, message: int) -> None:
        callback = {Event.SENT.value: self.on_sent, Event.BYTES.value: self.on_bytes,
                    Event.FRAME.value: self.on_frame}.get(message)
        try:
            if message == WM_HDLC_SENT and self._progress and self._total > 0 and self._stop:
                # A retransmission counts too; the last step waits for the command's end.
                self._sent = min(self._sent + 1, self._total - 1)
                try:
                    self._progress(self._sent, self._total)
                except BaseException:
                    self._progress = None
                    raise
            if callback is not None:
                callback()
        except BaseException as error:  # raised by the command or pump once it has ended
            if self._stop is None:
                raise
            self._stop.stop(error)

    def _begin(self) -> Stop:
        """The Stop of a command or pump about to start; the cause of an _interrupt() that came
        first is raised instead."""
        with self._stop_lock:
            if self._cancel is not None:
                raise self._cancel
            stop = self._stop = Stop(self._lib, self._device)
            return stop

    def _end(self, stop: Stop) -> None:
        with self._stop_lock:
            stop.finish()
            self._stop = None

    def _interrupt(self, cause: Optional[BaseException]) -> None:
        """From any thread: ends the command or pump in progress, and every one that starts
        before _resume(), raising cause from it; None ends only the pump or command's wait."""
        with self._stop_lock:
            if cause is not None:
                self._cancel = cause
            if self._stop is not None:
                self._stop.stop(cause)

    def _resume(self) -> None:
        with self._stop_lock:
            self._cancel = None

    # Settings.
    def set_wait_time(self, milliseconds: int) -> None:
        """How long a frame waits to be sent, and then for its reply, in milliseconds;
        the constructor's wait_time at first. A command that runs out of time sends its frame
        again while it has transmissions left."""
        self._check()
        if milliseconds <= 0:
            raise ValueError("the wait time must be above 0")
        self._lib.SetWaitTime(self._device, milliseconds)

    def set_comm_key(self, key_text: str) -> None:
        """The communication key text the frames carry, exactly 8 characters."""
        self._check()
        if len(key_text) != 8 or "\0" in key_text:
            raise ValueError("the key text must be 8 characters")
        self._lib.SetCommKey(self._device, key_text.encode("latin-1"))

    def set_host_address(self, address: int) -> None:
        """This host's address on the line, 0 to 65535 (the constructor's host)."""
        self._check()
        if not 0 <= address <= 0xFFFF:
            raise ValueError(f"host address {address} is out of range")
        self._lib.SetMyAddress(self._device, address)

    def set_big5_terminals(self, on: bool) -> None:
        """Card names and titles in Big5 on this side, which the library converts to and from the
        terminals' GB2312; names and titles given as text are then encoded as Big5."""
        self._check()
        self._lib.SetInnerCode(self._device, int(on))
        self._codec = "big5" if on else "gb2312"

    @property
    def codec(self) -> str:
        """The code of card names and titles on this side: "gb2312", or "big5"."""
        return self._codec

    def set_internal_commands(self, on: bool) -> None:
        """Admits the program download, serial number and inner setting commands."""
        self._check()
        self._lib.SetInnerCmd(self._device, int(on))

    def set_logging(self, on: bool) -> None:
        """Turns the library's communication log (CommLog.log) on or off."""
        self._check()
        self._lib.SetAddLog(self._device, int(on))

    @property
    def connected(self) -> bool:
        """True while the port is open."""
        self._check()
        return self._lib.IsConnect(self._device) == 1

    @property
    def rts_control(self) -> int:
        """Who switches RTS around the frames: 1 the library, 2 the driver, 3 the serial device
        server of a tcp:// or rfc2217:// line; 0 without an open port."""
        self._check()
        return self._lib.GetRtsControl(self._device)

    # The line monitor.
    def send_frame(self, body: bytes) -> None:
        """Sends a raw frame: body is the destination and source address (2 bytes each), the
        key (8 bytes), the command code and the payload; the link layer adds the length, the
        check byte and the lead-in. It goes out as it is, outside any command (no time-out, no
        retransmission), once the line's thread pumps or runs a command: send none while a
        command runs. ValueError for fewer than 4 or more than 4 + 65535 bytes."""
        self._check()
        if not 4 <= len(body) <= MOST_BODY_BYTES:
            raise ValueError(f"a frame body of {len(body)} bytes: 4 to {MOST_BODY_BYTES} are sent")
        self._lib.SendFrame(self._device, hex_text(body))

    def send_command_frame(self, terminal: int, code: int, payload: bytes = b"") -> None:
        """Sends a command frame of one's own, built as a command builds it: the terminal's
        address, the line's host address and key bytes (set_host_address, set_comm_key), the
        code and the payload; otherwise as send_frame(). A code the line would not admit as a
        command (an internal one without set_internal_commands) sends nothing, and on_sent is
        not called. ValueError for an address, code or payload size out of range."""
        self._check()
        if not 0 <= terminal <= 0xFFFF:
            raise ValueError(f"terminal address {terminal} is out of range")
        if not 0 <= code <= 0xFF:
            raise ValueError(f"command code {code} is out of range")
        if len(payload) > MOST_BODY_BYTES - 13:  # the addresses, the key and the code first
            raise ValueError(f"a payload of {len(payload)} bytes: at most "
                             f"{MOST_BODY_BYTES - 13} are sent")
        self._lib.SendCommandFrame(self._device, terminal, code, hex_text(payload))

    def stream(self) -> bytes:
        """Every byte received on the line since clear_stream(), frames and noise alike (the
        last 65536 at most), when any arrived since the last call; b"" otherwise."""
        return self._dump(self._lib.RecvStream, STREAM_DUMP_LENGTH)

    def last_frame(self) -> bytes:
        """The data (reply code and payload) of the frame for this host that arrived since the
        last call; b"" when none did. A frame overtaken by a newer one before the call is
        lost."""
        return self._dump(self._lib.RecvHDLC, FRAME_DUMP_LENGTH)

    def clear_stream(self) -> None:
        """Empties the store of received bytes that stream() returns."""
        self._check()
        self._lib.ClearRecvStr(self._device)

    def _dump(self, call: Callable[[int, ctypes.Array], int], length: int) -> bytes:
        self._check()
        text = ctypes.create_string_buffer(length)
        return from_dump(text.raw) if call(self._device, text) == 1 else b""

    def pump(self, seconds: float) -> int:
        """Waits up to seconds for the line's events outside a command: frames sent with
        send_frame(), bytes and frames arriving, each reaching its callback. How many messages
        were dispatched. Ctrl-C on the main thread ends it at once."""
        self._check()
        if seconds < 0:
            raise ValueError("a pump lasts 0 seconds or more")
        return self._pump(seconds, self._begin())

    def _pump(self, seconds: float, stop: Stop) -> int:
        """pump() with the given Stop, which ends it from any thread; _end()s it."""
        deadline = time.monotonic() + seconds
        count, took_quit = 0, False
        with ctrl_c_ends(stop):
            try:
                while stop.cause is None:
                    left = deadline - time.monotonic()
                    dispatched = self._lib.PumpMessages(max(0, math.ceil(left * 1000)))
                    if dispatched < 0:
                        took_quit = True
                        break
                    count += dispatched
                    if left <= 0:
                        break
            finally:
                self._end(stop)
            if stop.posted and not took_quit:
                self._lib.PumpMessages(0)  # takes the quit
        if stop.cause is not None:
            raise stop.cause
        return count

    # Any command.
    def run(self, terminal: int, code: int, params: bytes = b"",
            successes: Sequence[int] = (ACKNOWLEDGED, DATA_READY, TRANSMITTED)) -> bytes:
        """Runs a command by its code with a raw parameter block; its data, or the Error of its
        result when the result is not one of the successes."""
        return self._run(terminal, code, params, successes)[1]

    def _run(self, terminal: int, code: int, params: bytes,
             successes: Sequence[int]) -> tuple[int, bytes, int]:
        self._check()
        if not 0 <= terminal <= 0xFFFF:
            raise ValueError(f"terminal address {terminal} is out of range")
        block = ctypes.create_string_buffer(bytes(params), max(len(params), 1))
        what = f"command 0x{code:02X} to terminal 0x{terminal:04X}"
        stop = self._begin()
        result, size, data, form = 0, 0, ctypes.create_string_buffer(1), 0
        handle, released = 0, True
        with ctrl_c_ends(stop):
            try:
                handle = self._lib.StartQARNCommand(self._device, terminal, code,
                                                    block if params else None, 0)
                released = not handle
                if handle and stop.cause is None:
                    result = self._lib.GetCmdResult(handle)
                    size = self._lib.GetSizeOfData(handle)
                    data = ctypes.create_string_buffer(max(size, 1))
                    if self._lib.GetData(handle, data, size) != 1:
                        size = 0
                    form = self._lib.GetRecordForm(handle)
                    released = self._lib.EndQARNCommand(handle) == 0
            finally:
                self._end(stop)
            # A wait ended by a quit message leaves the command running; it is dropped here.
            if not released:
                self._abandon(handle)
            if stop.posted:
                self._lib.PumpMessages(0)  # takes the quit if no wait did
        if stop.cause is not None:
            raise stop.cause
        if not handle:
            raise Refused(f"{what} was refused: not admitted, another command is open, or "
                          "its frame cannot be built")
        if result not in successes:
            raise error_for(result, f"{what}: {result_name(result)} (result {result})")
        return result, data.raw[:size], form

    def _ack(self, terminal: int, code: int, params: bytes = b"") -> None:
        self._run(terminal, code, params, (ACKNOWLEDGED,))

    def _sent_only(self, terminal: int, code: int, params: bytes = b"") -> None:
        self._run(terminal, code, params, (TRANSMITTED,))

    def _data(self, terminal: int, code: int, params: bytes, layout: type) -> layouts.Layout:
        data = self._run(terminal, code, params, (DATA_READY,))[1]
        if len(data) != ctypes.sizeof(layout):
            raise WrongReply(f"{len(data)} bytes of data are not a {layout.__name__}")
        return layout.from_bytes(data)

    # Clocks and addresses: broadcasts, which no terminal answers.
    def adjust_time(self) -> None:
        """Sets every terminal's clock to the host's."""
        self._sent_only(0, 0x01)

    def set_time(self, when: datetime) -> None:
        """Sets every terminal's clock to the given time."""
        weekday = when.isoweekday() % 7 + 1  # 1 Sunday to 7 Saturday
        clock = layouts.QarnClock(when.year, when.month, when.day, when.hour, when.minute,
                                  when.second, weekday)
        self._sent_only(0, 0x0A, bytes(clock))

    def set_address(self, identity: int, address: int) -> None:
        """The terminal whose identity this is takes the new address."""
        if not 0 <= address <= 0xFFFF:
            raise ValueError(f"address {address} is out of range")
        self._ack(0, 0x02, bytes(layouts.QarnAddressChange(identity, address)))

    def search(self) -> int:
        """The address of the one terminal that answers."""
        return self._data(0, 0x03, b"", layouts.QarnSearchReply).address

    def search_online(self) -> list[int]:
        """The address of every terminal that answers within the wait time, in order."""
        data = self._run(0, 0x04, b"", (DATA_READY, TIMEOUT))[1]
        found = layouts.QarnSearchList.from_bytes(data)
        return list(found.address[:max(0, min(found.count, layouts.SEARCH_CAPACITY))])

    def realtime(self, terminal: int, count: int = 0) -> list[AnyRecord]:
        """The terminal's real-time records: count of them (1 to 255), or 0 for all it holds;
        they carry no record number."""
        if not 0 <= count <= 255:
            raise ValueError("the record count must be 0 to 255")
        return self._records(terminal, 0x06, bytes(layouts.QarnValue(count)))

    def _records(self, terminal: int, code: int, params: bytes) -> list[AnyRecord]:
        _, data, form = self._run(terminal, code, params, (DATA_READY, NO_RECORDS))
        return _records(data, form)

    def records(self, terminal: int, range: Optional[RecordRange] = None,
                batch: int = RECORDS_PER_REQUEST) -> list[AnyRecord]:
        """Every record of the range (all records, by record_range(), without one), each with
        its number, asked for batch (1 to 255) at a time until the range ends or the terminal
        has no more."""
        return self._collect(terminal, 0x10, range or self.record_range(terminal), batch)

    def backup_records(self, terminal: int, range: RecordRange,
                       batch: int = RECORDS_PER_REQUEST) -> list[AnyRecord]:
        """The backup records of the range, as records() collects them."""
        return self._collect(terminal, 0x36, range, batch)

    def _collect(self, terminal: int, code: int, range: RecordRange,
                 batch: int) -> list[AnyRecord]:
        if range.first < 0 or range.count < 0 or range.first > 0xFFFF:
            raise ValueError(f"record range {range} is out of range")
        if not 1 <= batch <= MOST_RECORDS_PER_REQUEST:
            raise ValueError(f"the record batch must be 1 to {MOST_RECORDS_PER_REQUEST}")
        found: list[AnyRecord] = []
        first, left = range.first, range.count
        while left > 0 and first <= 0xFFFF:
            request = layouts.QarnRecordRequest(first, min(left, batch))
            chunk = self._records(terminal, code, bytes(request))
            if not chunk:
                break
            # A reply holds the records asked for from its first number on, in order.
            for number, record in enumerate(chunk, first):
                record.number = number
            found += chunk
            first += len(chunk)
            left -= len(chunk)
        return found

    def record_range(self, terminal: int,
                     dates: Optional[tuple[date, date]] = None) -> RecordRange:
        """Where the records begin and how many there are: all, or those between two dates."""
        request = layouts.QarnRecordRangeRequest()
        if dates:
            start, end = dates
            request = layouts.QarnRecordRangeRequest(1, start.year, start.month, start.day,
                                                     end.year, end.month, end.day)
        return from_layout(RecordRange, self._data(terminal, 0x11, bytes(request),
                                                   layouts.QarnRecordRange))

    def current_index(self, terminal: int) -> int:
        """The terminal's current record index."""
        return self._data(terminal, 0x1E, b"", layouts.QarnRecordIndex).index

    def set_write_pointer(self, terminal: int, value: int) -> None:
        """Moves the terminal's record write pointer (the low byte of value is sent)."""
        self._ack(terminal, 0x1A, bytes(layouts.QarnValue(value)))

    def take_records(self, terminal: int, count: int) -> None:
        """Marks the oldest records as taken; confirm_taken() erases them."""
        self._ack(terminal, 0x1C, bytes(layouts.QarnValue(count)))

    def confirm_taken(self, terminal: int) -> None:
        """Erases the records take_records() marked; the terminal sends no reply."""
        self._sent_only(terminal, 0x1D)

    def init_pointer(self, terminal: int) -> None:
        """Resets the terminal's record pointers."""
        self._ack(terminal, 0x84)

    # Properties and status.
    def property(self, terminal: int) -> Property:
        """The terminal's property block."""
        return from_layout(Property, self._data(terminal, 0x13, b"", layouts.QarnProperty))

    def set_property(self, terminal: int, item: int, value: int) -> None:
        """Sets one item of the terminal's property block."""
        self._ack(terminal, 0x12, bytes(layouts.QarnSetting(item, value)))

    def system_property(self, terminal: int) -> SystemProperty:
        """The terminal's system property: version, line speed and texts."""
        return from_layout(SystemProperty,
                           self._data(terminal, 0x15, b"", layouts.QarnSystemProperty))

    def set_system_property(self, terminal: int, item: int, value: int) -> None:
        """Sets one item of the terminal's system property."""
        self._ack(terminal, 0x14, bytes(layouts.QarnSetting(item, value)))

    def status(self, terminal: int) -> Status:
        """The terminal's clock and status value."""
        return from_layout(Status, self._data(terminal, 0x16, b"", layouts.QarnStatus))

    def list_counts(self, terminal: int) -> ListCounts:
        """How many card numbers the terminal's white and black lists hold."""
        return from_layout(ListCounts, self._data(terminal, 0x17, b"", layouts.QarnListCounts))

    def set_time_slots(self, terminal: int, slots: Sequence[tuple[int, int, int]]) -> None:
        """Up to 20 time slots of (hour, minute, value)."""
        if len(slots) > 20:
            raise ValueError("at most 20 time slots")
        block = layouts.QarnTimeSlots()
        for i, (hour, minute, value) in enumerate(slots):
            block.slot[i].hour, block.slot[i].minute, block.slot[i].value = hour, minute, value
        self._ack(terminal, 0x18, bytes(block))

    def set_card_times(self, terminal: int, lead: int,
                       windows: Sequence[tuple[int, int, int, int]]) -> None:
        """Up to 8 windows of (start hour, start minute, end hour, end minute)."""
        if len(windows) > 8:
            raise ValueError("at most 8 card time windows")
        block = layouts.QarnCardTimes(lead)
        for i, window in enumerate(windows):
            w = block.window[i]
            w.start_hour, w.start_minute, w.end_hour, w.end_minute = window
        self._ack(terminal, 0x19, bytes(block))

    def set_title(self, terminal: int, lines: Sequence[Union[str, bytes]]) -> None:
        """Three lines for the terminal's display, each up to 16 bytes in the line's code (8
        Chinese characters); a line given as bytes is sent as it is."""
        if len(lines) != layouts.TITLE_LINES:
            raise ValueError("a title has three lines")
        data = b"".join(encode_text("title line", line, layouts.TITLE_WIDTH, self._codec)
                        for line in lines)
        self._ack(terminal, 0x86, data)

    def init_property(self, terminal: int) -> None:
        """Returns the terminal's property block to its defaults."""
        self._ack(terminal, 0x83)

    def init_terminal(self, terminal: int) -> None:
        """Returns the whole terminal to its defaults."""
        self._ack(terminal, 0x85)

    # Signals and the lock.
    def beep(self, terminal: int, value: int = 1) -> None:
        """Makes the terminal beep; value selects the signal."""
        self._ack(terminal, 0x1B, bytes(layouts.QarnValue(value)))

    def open_lock(self, terminal: int, value: int = 1) -> None:
        """Opens the lock the terminal drives; value selects how."""
        self._ack(terminal, 0xA4, bytes(layouts.QarnValue(value)))

    def test(self, terminal: int, count: int) -> None:
        """The test frame: count bytes 0, 1, 2, ..."""
        if not 0 <= count <= 4000:
            raise ValueError("the test byte count must be 0 to 4000")
        self._ack(terminal, 0x80, bytes(layouts.QarnValue(count)))

    # The card in the terminal's reader.
    def read_card1(self, terminal: int) -> Card1:
        """The card in the terminal's reader, in layout 1."""
        return self._read_card(terminal, Card1, 1)

    def read_card2(self, terminal: int) -> Card2:
        """The card in the terminal's reader, in layout 2."""
        return self._read_card(terminal, Card2, 2)

    def read_card3(self, terminal: int) -> Card3:
        """The card in the terminal's reader, in layout 3."""
        return self._read_card(terminal, Card3, 3)

    def read_card254(self, terminal: int) -> Card254:
        """The card in the terminal's reader, in layout 254."""
        return self._read_card(terminal, Card254, 254)

    def _read_card(self, terminal: int, kind: type, sub_code: int) -> AnyCard:
        entry = self._data(terminal, 0x60, bytes(layouts.QarnValue(sub_code)), LAYOUT_OF[kind])
        return from_layout(kind, entry, self._codec)

    def write_card(self, terminal: int, card: AnyCard) -> None:
        """Writes the card in its layout; the sub-code comes from the layout."""
        self._ack(terminal, 0x61, bytes(to_layout(self._with_sub_code(card), self._codec)))

    def update_card(self, terminal: int, card: Card1) -> None:
        """Updates the card in the reader from a Card1; the sub-code comes from the layout."""
        if type(card) is not Card1:
            raise TypeError("update_card takes a Card1")
        self._ack(terminal, 0x66, bytes(to_layout(self._with_sub_code(card), self._codec)))

    @staticmethod
    def _with_sub_code(card: AnyCard) -> AnyCard:
        codes = {Card1: 1, Card2: 2, Card3: 3, Card254: 254}
        if type(card) not in codes:
            raise TypeError("a card is a Card1, Card2, Card3 or Card254")
        card.sub_code = codes[type(card)]
        return card

    def read_card_id(self, terminal: int) -> CardId:
        """The identity of the card in the terminal's reader."""
        return from_layout(CardId, self._data(terminal, 0x64, b"", layouts.QarnCardId))

    # Money, in hundredths; each returns the card's money afterwards.
    def add_money(self, terminal: int, amount: int, attribute: int = 0) -> Money:
        """Adds amount (hundredths) to the card's money; the card's money afterwards."""
        return self._money(terminal, 0x62, amount, attribute)

    def dec_money(self, terminal: int, amount: int, attribute: int = 0) -> Money:
        """Takes amount (hundredths) from the card's money; the card's money afterwards."""
        return self._money(terminal, 0x63, amount, attribute)

    def read_money(self, terminal: int) -> Money:
        """The money on the card in the terminal's reader."""
        return from_layout(Money, self._data(terminal, 0x67, bytes(layouts.QarnValue(2)),
                                             layouts.QarnMoney))

    def _money(self, terminal: int, code: int, amount: int, attribute: int) -> Money:
        if not -0x7FFFFFFF <= amount <= 0x7FFFFFFF:
            raise ValueError(f"amount {amount} does not fit 32 bits")
        block = layouts.QarnMoney(2, amount, attribute)
        return from_layout(Money, self._data(terminal, code, bytes(block), layouts.QarnMoney))

    # Keys, each 8 bytes.
    def init_card_key(self, terminal: int, lead: int, first: Key, second: Key) -> None:
        """Sets the card key: a lead value and two keys."""
        self._ack(terminal, 0x65,
                  struct.pack("=i16s16s", lead, _key_text(first), _key_text(second)))

    def download_system_key(self, terminal: int, lead: int, keys: Sequence[Key],
                            trailing: int) -> None:
        """Sends the four system keys, between a lead and a trailing value."""
        self._ack(terminal, 0xA0, self._four_keys(lead, keys, trailing))

    def update_card_key(self, terminal: int, lead: int, keys: Sequence[Key],
                        trailing: int) -> None:
        """Replaces the card keys: four keys, between a lead and a trailing value."""
        self._ack(terminal, 0x68, self._four_keys(lead, keys, trailing))

    @staticmethod
    def _four_keys(lead: int, keys: Sequence[Key], trailing: int) -> bytes:
        if len(keys) != 4:
            raise ValueError("four keys are needed")
        return struct.pack("=i64si", lead, b"".join(_key_text(k) for k in keys), trailing)

    def download_user_key(self, terminal: int, lead: int, first: Key, second: Key) -> None:
        """Sends the two user keys, after a lead value."""
        _key_text(first)  # checks the length
        _key_text(second)
        self._ack(terminal, 0xA1, struct.pack("=i8s8s", lead, bytes(first), bytes(second)))

    def write_system_card(self, terminal: int, keys: Sequence[Key], middle: int,
                          more: Sequence[Key]) -> None:
        """Four keys, a middle value and two more keys."""
        if len(keys) != 4 or len(more) != 2:
            raise ValueError("four keys and two more keys are needed")
        self._ack(terminal, 0xC8, struct.pack(
            "=64si32s", b"".join(_key_text(k) for k in keys), middle,
            b"".join(_key_text(k) for k in more)))

    def load_system_key(self, terminal: int, lead: int, key: Key) -> None:
        """Loads one system key, after a lead value."""
        self._ack(terminal, 0xC9, struct.pack("=i16s", lead, _key_text(key)))

    def init_keys(self, terminal: int) -> None:
        """Returns the terminal's keys to their defaults."""
        self._ack(terminal, 0xCA)

    # Card lists.
    def reset_white_list(self, terminal: int) -> None:
        """Empties the terminal's white list."""
        self._ack(terminal, 0x81, bytes(layouts.QarnValue(0)))

    def reset_black_list(self, terminal: int) -> None:
        """Empties the terminal's black list."""
        self._ack(terminal, 0x82, bytes(layouts.QarnValue(0)))

    def add_black_card(self, terminal: int, number: int) -> None:
        """Adds one card number to the terminal's black list."""
        self._ack(terminal, 0xA3, struct.pack("=I", number))

    def download_list(self, terminal: int, kind: str, path: Union[str, os.PathLike],
                      progress: Optional[Progress] = None) -> None:
        """A list file (write_list_file) of the kind given, "white" or "black"; the file's
        kind, size and numbers are checked before anything is sent (ValueError). progress(done,
        total) counts frames."""
        data = self._read(path)
        if not data or (len(data) - 1) % 5:
            raise ValueError(f"{path}: not a list file: its size is not a marker and 5 "
                             "bytes a number")
        if data[0] != _list_marker(kind):
            raise ValueError(f"{path}: not a {kind} list file")
        numbers = (len(data) - 1) // 5
        if numbers > _list_capacity(kind):
            raise ValueError(f"{path}: a {kind} list holds at most {_list_capacity(kind)} numbers")
        for index, first in enumerate(data[1::5]):
            if first < 0x42:  # below 4200000000: fits
                continue
            value = 0
            for byte in data[1 + 5 * index:6 + 5 * index]:
                value = value * 100 + (byte >> 4) * 10 + (byte & 0x0F)
            if value > 0xFFFFFFFF:
                raise ValueError(f"{path}: card number {value} does not fit 32 bits")
        frames = (1 if numbers <= 640 else 1 + (numbers - 640 + 703) // 704) + 1
        self._download(terminal, 0xA2, path, frames, progress)

    def set_grades(self, terminal: int, flag: bool, items: Sequence[int]) -> None:
        """Sets the grade table: the flag, then one value per item (at most 4000)."""
        if len(items) > 4000:
            raise ValueError("at most 4000 grades")
        self._ack(terminal, 0xA5, struct.pack(f"=ii{len(items)}i", int(flag), len(items),
                                                *items))

    # File downloads. The program download is an internal command (set_internal_commands).
    def download_program(self, terminal: int, path: Union[str, os.PathLike],
                         progress: Optional[Progress] = None) -> None:
        """Downloads a program file to the terminal (an internal command: see
        set_internal_commands); progress(done, total) counts frames."""
        data = self._read(path)
        sizes = [3 + int(data[i + 1:i + 3] or b"0", 16) for i, c in enumerate(data) if c == 0x3A]
        if not sizes:
            raise ValueError(f"{path}: not a program file: it holds no record")
        left, at, frames = len(sizes) - 1, 0, 3  # two lead-in frames and the closing frame
        while left > 0:
            most, taken, output = left // 2 + 1, 0, 0
            while left > 0 and taken < most and output <= 2000:
                output, at, taken, left = output + sizes[at], at + 1, taken + 1, left - 1
            frames += 1
        self._download(terminal, 0xC0, path, frames, progress)

    def download_pages(self, terminal: int, path: Union[str, os.PathLike],
                       progress: Optional[Progress] = None) -> None:
        """Downloads a page file to the terminal's memory; progress(done, total) counts
        frames."""
        size = len(self._read(path))
        pages = (size + 255) // 256
        self._download(terminal, 0xC5, path, (pages + 7) // 8 + 1 if size else 0, progress)

    @staticmethod
    def _read(path: Union[str, os.PathLike]) -> bytes:
        """A download file: a regular file, no longer than a full black list file."""
        try:
            status = os.stat(path)
            if not stat.S_ISREG(status.st_mode):
                raise ValueError(f"{path}: not a regular file")
            if status.st_size > _MOST_FILE_BYTES:
                raise ValueError(f"{path}: too long for a download")
            with open(path, "rb") as file:
                return file.read(_MOST_FILE_BYTES + 1)
        except OSError as error:
            raise ValueError(f"{path}: cannot be read: {error.strerror}") from error

    def _download(self, terminal: int, code: int, path: Union[str, os.PathLike], frames: int,
                  progress: Optional[Progress]) -> None:
        name = os.fsencode(path)
        if b"\0" in name:
            raise ValueError("a path cannot hold a NUL character")
        self._progress, self._sent, self._total = progress, 0, frames
        try:
            self._ack(terminal, code, name + b"\0")
        finally:
            self._progress = None
        if progress:
            progress(frames, frames)

    # Internal commands (set_internal_commands).
    def set_serial_number(self, terminal: int, serial: int) -> None:
        """Sets the terminal's serial number (an internal command)."""
        self._ack(terminal, 0xC7, struct.pack("=I", serial))

    def set_inner_setting(self, terminal: int, value: int, text: bytes) -> None:
        """Sets the inner setting: a value and a text of up to 10 bytes (an internal
        command)."""
        if len(text) > 10:
            raise ValueError("at most 10 bytes")
        self._ack(terminal, 0xCD, struct.pack("=i10s", value, text))


def edition() -> str:
    """The library's edition text."""
    text = ctypes.create_string_buffer(8)
    library().RecvEdition(text)
    return text.raw[:7].decode("latin-1")
