"""The line monitor of qarn.Line: the callbacks around a command, the bytes and frames it
returns, and a raw frame answered outside any command."""

import pytest

from conftest import TERMINAL

# A beep to terminal 2 from host 1 with the key bytes of the default key text.
BEEP = bytes.fromhex("0002 0001 6F04A4D0841436B9 1B 03")


def test_callbacks_and_monitor_follow_a_command_and_a_raw_frame(simulator, line):
    events = []
    line.on_sent = lambda: events.append("sent")
    line.on_bytes = lambda: events.append("bytes")
    line.on_frame = lambda: events.append(("frame", line.last_frame()))
    assert line.stream() == b"" and line.last_frame() == b""

    line.status(TERMINAL)
    assert events[0] == "sent" and set(events[1:-1]) == {"bytes"}
    kind, frame = events[-1]
    assert kind == "frame" and frame[0] == 0x16
    assert frame in line.stream()
    assert line.stream() == b"" and line.last_frame() == b""  # nothing new

    line.clear_stream()
    events.clear()
    line.send_frame(BEEP)
    assert line.pump(0.5) > 0
    assert events[0] == "sent" and events[-1][0] == "frame" and events[-1][1][0] == 0x1B
    assert simulator.state(TERMINAL)["last_beep"] == 3
    stream = line.stream()
    assert events[-1][1] in stream and frame not in stream  # cleared before

    class Enough(Exception):
        pass

    def enough():
        raise Enough()
    line.on_frame = enough
    line.send_command_frame(TERMINAL, 0x1B, b"\x08")  # with the line's key, as BEEP
    with pytest.raises(Enough):
        line.pump(2)
    assert simulator.state(TERMINAL)["last_beep"] == 8
    line.on_frame = None
    line.beep(TERMINAL, 4)  # usable after it
    for bad in (lambda: line.send_frame(b"\x00\x02\x00"), lambda: line.send_frame(bytes(65540)),
                lambda: line.send_command_frame(TERMINAL, 0x100),
                lambda: line.send_command_frame(TERMINAL, 0x1B, bytes(65527))):
        with pytest.raises(ValueError):
            bad()
