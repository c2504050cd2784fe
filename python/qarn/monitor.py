"""The line monitor's pieces: the notifications as events, and frame bodies and dumps as
bytes."""

from __future__ import annotations

import enum
from dataclasses import dataclass

# The size of a RecvStream dump of the most bytes the store keeps (65536), and of a RecvHDLC
# dump of the longest frame data (65535): three characters a byte and the NUL.
STREAM_DUMP_LENGTH = 3 * 65536 + 1
FRAME_DUMP_LENGTH = 3 * 65535 + 1
MOST_BODY_BYTES = 4 + 65535


class Event(enum.Enum):
    """What a notification tells: SENT, a frame has left the port; BYTES, bytes arrived on the
    line (Line.stream() returns them); FRAME, a frame for this host arrived and was decoded
    (Line.last_frame() returns its data). The values are the library's message numbers."""

    BYTES = 0x0D63
    FRAME = 0x0D64
    SENT = 0x0D65


@dataclass(frozen=True)
class Notification:
    """One notification of a line, as qarn.aio.Line.notifications() yields it: for FRAME the
    frame's data (reply code and payload), for BYTES the bytes that arrived, for SENT nothing."""

    event: Event
    data: bytes = b""


def hex_text(body: bytes) -> bytes:
    """Bytes as the hexadecimal text SendFrame reads."""
    return bytes(body).hex().encode()


def from_dump(text: bytes) -> bytes:
    """The bytes of a RecvStream or RecvHDLC dump ("%02x " a byte, then a NUL)."""
    return bytes.fromhex(text.split(b"\0", 1)[0].decode("ascii"))
