"""qarn: the driver library for IC-card terminals on an RS-485 line, from Python.

    import qarn
    with qarn.Line("/dev/ttyUSB0", baud=9600, parity="E") as line:
        for terminal in line.search_online():
            print(terminal, line.status(terminal).time)

Line has a method per command; each returns the values as dataclasses (Status, Record,
Card1, ...) and raises the Error of its result when the command does not succeed. Its line
monitor sends raw frames and reports the frames and bytes of the line (send_frame, stream,
last_frame, on_frame, ...). qarn.aio.Line is the same line for asyncio. Simulator runs
simulated terminals on a pty, for trying all this without hardware.

The library (libqarn.so) is found through QARN_LIBRARY, beside this package, or by the
system's loader, when the first Line is made."""

from ._library import library, library_path
from .errors import (Error, LinkError, PortError, Refused, TerminalError, TimeOut, WrongReply,
                     WrongThread, result_name)
from .monitor import Event, Notification
from .line import LIST_BLACK_CAPACITY, LIST_WHITE_CAPACITY, Line, edition, write_list_file
from .simulator import Simulator
from .values import (Card1, Card2, Card3, Card254, CardId, ListCounts, LongRecord, Money,
                     Property, Record, RecordRange, Status, SystemProperty)

__all__ = [
    "Card1", "Card2", "Card3", "Card254", "CardId", "Error", "Event", "LIST_BLACK_CAPACITY",
    "LIST_WHITE_CAPACITY", "Line", "LinkError", "ListCounts", "LongRecord", "Money", "Notification",
    "PortError",
    "Property", "Record", "RecordRange", "Refused",
    "Simulator", "Status", "SystemProperty", "TerminalError", "TimeOut", "WrongReply",
    "WrongThread", "edition", "library", "library_path", "result_name", "write_list_file",
]
