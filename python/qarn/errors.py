"""The exceptions of the qarn package, one per kind of result."""

from __future__ import annotations

import errno as _errno
import os
from typing import Optional

RESULT_NAMES = {
    0: "transmitted",
    1: "line down",
    2: "unexpected reply",
    4: "bad check byte",
    5: "time-out",
    8: "acknowledged",
    9: "frame not built",
    10: "pending",
    12: "wrong reply",
    13: "data ready",
    14: "no records",
}


def result_name(result: int) -> str:
    """The name of a result code; "terminal status" for a terminal's own status byte."""
    return RESULT_NAMES.get(result, "terminal status")


class Error(Exception):
    """A command or call that failed. result is the command's result code, when it has one."""

    def __init__(self, message: str, result: Optional[int] = None) -> None:
        super().__init__(message)
        self.result = result

    @property
    def name(self) -> str:
        """The name of the result, or of the error's kind when it has no result."""
        return result_name(self.result) if self.result is not None else type(self).__name__


class TimeOut(Error):
    """No transmission or no reply within the wait time (result 5)."""


class LinkError(Error):
    """The line failed: port down (1), a frame for another host or an unexpected reply (2),
    a bad check byte (4)."""


class TerminalError(Error):
    """The terminal answered with a status byte other than success; status holds it."""

    def __init__(self, message: str, result: int) -> None:
        super().__init__(message, result)
        self.status = result


class WrongReply(Error):
    """The reply had a wrong length or content (12), or not the result the command needs."""


class Refused(Error):
    """The command was not started: not admitted, another command is open, or its frame could
    not be built (a download file that cannot be read)."""


class PortError(Error):
    """The serial line could not be opened. errno holds the reason the library gave (EBUSY: the
    port is in use by another program; 0 when it gave none), path the port."""

    def __init__(self, path: str, errno: int = 0) -> None:
        super().__init__(f"cannot open the port {path}: {port_failure(errno)}")
        self.path = path
        self.errno = errno


class WrongThread(Error):
    """A qarn.Line was used from a thread other than the one that made it."""


def port_failure(errno: int) -> str:
    """Why a port did not open, from the library's reason."""
    if errno == _errno.EBUSY:
        return "the port is in use by another program"
    if errno == _errno.ENOTTY:
        return "not a serial port"
    if errno == _errno.EINVAL:
        return "settings it cannot use"
    return os.strerror(errno) if errno else "not a usable serial port"


def error_for(result: int, message: str) -> Error:
    """The exception for a command that ended with this result."""
    if result == 5:
        return TimeOut(message, result)
    if result in (1, 2, 4):
        return LinkError(message, result)
    if result in RESULT_NAMES:
        return WrongReply(message, result)
    return TerminalError(message, result)
