"""qarn.Line against simulated terminals: values against the terminals' state, exceptions by
result, the thread rule, closing and the layouts against the C header."""

import ctypes
import dataclasses
import datetime as dt
import errno
import gc
import os
import signal
import socket
import subprocess
import threading
import time

import pytest

import qarn
from qarn import layouts
from conftest import LONG_TERMINAL, TERMINAL, open_descriptors


def same_records(got, state):
    assert len(got) == len(state["records"])
    for number, (record, expected) in enumerate(zip(got, state["records"])):
        assert record.number == number
        assert isinstance(record, qarn.LongRecord if state["long_records"] else qarn.Record)
        if state["long_records"]:
            for name in ("code", "value24", "value32", "value16", "value8"):
                assert getattr(record, name) == expected[name], name
        else:
            assert record.identifier == expected["identifier"]
        for name in ("year", "month", "day", "hour", "minute", "second", "flag_a", "flag_b"):
            assert getattr(record, name) == expected[name], name
        assert record.time == dt.datetime(expected["year"], expected["month"], expected["day"],
                                          expected["hour"], expected["minute"],
                                          expected["second"])
        assert record.terminal == state["address"]


def test_typed_values_match_the_terminals(simulator, line, tmp_path):
    assert line.search_online() == [TERMINAL, LONG_TERMINAL]

    line.set_time(dt.datetime(2024, 2, 29, 23, 58, 7))
    status = line.status(LONG_TERMINAL)
    clock = simulator.state(LONG_TERMINAL)["clock"]
    assert status.time == dt.datetime(2024, 2, 29, 23, 58, 7)
    assert (status.weekday, clock["weekday"]) == (5, 5)  # a Thursday

    line.set_property(TERMINAL, 3, 0x5A)
    stored = bytes.fromhex(simulator.state(TERMINAL)["property"])
    prop = line.property(TERMINAL)
    assert prop.byte6 == stored[6] == 0x5A
    assert prop.bytes2_3 == stored[2] << 8 | stored[3]
    system = line.system_property(TERMINAL)
    assert (system.version, system.line_speed, system.text1) == ("01.02.0304", 9600,
                                                                  "DM-SIM    ")

    # 70 records take three requests, 41 long ones two: 32, then 9 whose 171 bytes 19 short
    # records would make as well.
    simulator.seed_records(TERMINAL, 70)
    simulator.seed_records(LONG_TERMINAL, 41, long=True)
    assert line.record_range(TERMINAL) == qarn.RecordRange(0, 70)
    same_records(line.records(TERMINAL), simulator.state(TERMINAL))
    same_records(line.records(LONG_TERMINAL), simulator.state(LONG_TERMINAL))
    same_records(line.records(TERMINAL, batch=25), simulator.state(TERMINAL))
    assert [r.number for r in line.records(LONG_TERMINAL, qarn.RecordRange(39, 10), 1)] == [39, 40]

    numbers = [4000000000 - 7 * i for i in range(1500)]
    qarn.write_list_file(tmp_path / "white.lst", "white", numbers)
    steps = []
    line.download_list(TERMINAL, "white", tmp_path / "white.lst",
                       lambda done, total: steps.append((done, total)))
    assert simulator.state(TERMINAL)["white_list"] == sorted(numbers)  # sorted across frames
    assert steps[-1] == (4, 4) and len(steps) >= 4
    assert line.list_counts(TERMINAL) == qarn.ListCounts(1500, 0)

    card = qarn.Card1(number=0x01020304, record_code="AB12345", attribute1=7, password="4321",
                      name="王小明", year=2026, month=12, day=9)
    for name, why in (("王小明王小", "takes 10 bytes in gb2312"), ("Zoë", "no form in gb2312")):
        with pytest.raises(ValueError, match=why):
            line.write_card(TERMINAL, dataclasses.replace(card, name=name))
    line.write_card(TERMINAL, card)
    stored_card = simulator.state(TERMINAL)["card"]
    assert stored_card["name"] == "cdf5d0a1c3f70000"  # GB2312, spaces as 0x00
    assert (stored_card["number"], stored_card["password"]) == (0x01020304, 4321)
    read = line.read_card1(TERMINAL)
    assert (read.record_code, read.password, read.date) == ("AB12345", "4321",
                                                            dt.date(2026, 12, 9))
    assert (read.name, read.name_bytes) == ("王小明", bytes.fromhex(stored_card["name"]))
    # The date is one field with year, month and day: set either way, it is what is written.
    line.write_card(TERMINAL, dataclasses.replace(read, date=dt.date(2031, 2, 3)))
    assert line.read_card1(TERMINAL).date == dt.date(2031, 2, 3)
    read.date = dt.date(2032, 4, 5)
    line.write_card(TERMINAL, dataclasses.replace(read, attribute2=9))
    again = line.read_card1(TERMINAL)
    assert (again.year, again.month, again.day, again.attribute2) == (2032, 4, 5, 9)
    assert line.add_money(TERMINAL, 1250).amount == 1250
    assert line.dec_money(TERMINAL, 250).amount == 1000
    assert simulator.state(TERMINAL)["card"]["balance"] == line.read_money(TERMINAL).amount

    line.set_title(TERMINAL, ["line 0", "line 1", "line 2"])
    assert bytes.fromhex(simulator.state(TERMINAL)["lcd_title"]) == b"".join(
        f"line {i}".ljust(16).encode() for i in range(3))
    line.beep(TERMINAL, 3)
    line.open_lock(TERMINAL)
    state = simulator.state(TERMINAL)
    assert (state["last_beep"], state["lock_openings"]) == (3, 1)


def test_exceptions_by_result(simulator, line, tmp_path):
    with pytest.raises(qarn.TimeOut) as missing:
        line.status(9)
    assert (missing.value.result, missing.value.name) == (5, "time-out")
    assert "0x0009" in str(missing.value)

    with pytest.raises(qarn.Refused):
        line.set_serial_number(TERMINAL, 5)
    line.set_internal_commands(True)
    line.set_serial_number(TERMINAL, 77)
    assert simulator.state(TERMINAL)["serial_number"] == 77

    qarn.write_list_file(tmp_path / "black.lst", "black", [1, 2, 3])
    (tmp_path / "33-bits.lst").write_bytes(b"\xaa" + bytes.fromhex("6200000001"))
    os.mkfifo(tmp_path / "fifo.lst")
    for bad in (lambda: line.download_list(TERMINAL, "white", tmp_path / "black.lst"),
                lambda: line.download_list(TERMINAL, "black", tmp_path / "33-bits.lst"),
                lambda: line.download_list(TERMINAL, "white", tmp_path / "fifo.lst"),
                lambda: qarn.write_list_file(tmp_path / "white.lst", "white",
                                             [1] * (qarn.LIST_WHITE_CAPACITY + 1)),
                lambda: line.download_pages(TERMINAL, tmp_path / "none"),
                lambda: line.set_comm_key("short"),
                lambda: line.realtime(TERMINAL, 256),
                lambda: line.records(TERMINAL, qarn.RecordRange(0, 5), batch=0),
                lambda: line.write_card(TERMINAL, qarn.Card1(password="12345"))):
        with pytest.raises(ValueError):
            bad()
    with pytest.raises(qarn.PortError) as missing_port:
        qarn.Line("/dev/null/none")
    assert missing_port.value.errno == errno.ENOTDIR
    with pytest.raises(qarn.PortError) as taken:
        qarn.Line(simulator.port)
    assert taken.value.errno == errno.EBUSY
    assert str(taken.value).endswith(": the port is in use by another program")
    with pytest.raises(ValueError):
        qarn.Line(simulator.port, parity="X")
    # A serial device server's port is taken and connected to; nothing listens on this one.
    with socket.socket() as unused:
        unused.bind(("127.0.0.1", 0))
        nobody = unused.getsockname()[1]
    with pytest.raises(qarn.PortError) as refused:
        qarn.Line(f"rfc2217://127.0.0.1:{nobody}")
    assert refused.value.errno == errno.ECONNREFUSED

    caught = []
    worker = threading.Thread(target=lambda: caught.append(_error_of(lambda: line.beep(2))))
    worker.start()
    worker.join()
    assert isinstance(caught[0], qarn.WrongThread)
    assert "thread that made it" in str(caught[0]) and "thread that made it" in qarn.Line.__doc__

    line.close()
    with qarn.Simulator([TERMINAL], options=["--ack-status", "33"]) as odd, \
            qarn.Line(odd.port, wait_time=300) as other:
        with pytest.raises(qarn.TerminalError) as rejected:
            other.beep(TERMINAL)
        assert (rejected.value.status, rejected.value.name) == (33, "terminal status")
    with qarn.Simulator([TERMINAL], options=["--wrong-destination"]) as astray, \
            qarn.Line(astray.port, wait_time=300) as other:
        with pytest.raises((qarn.LinkError, qarn.TimeOut)) as lost:
            other.property(TERMINAL)
        assert lost.value.result in (2, 5)


def _error_of(call):
    try:
        call()
    except qarn.Error as error:
        return error
    return None


def test_closing_frees_the_port_at_once(simulator):
    held = open_descriptors(simulator.port)
    with qarn.Line(simulator.port, wait_time=300) as line:
        assert line.connected and open_descriptors(simulator.port) == held + 1
        assert line.rts_control == 1
    assert line.closed and open_descriptors(simulator.port) == held
    with qarn.Line(simulator.port, wait_time=300) as again:
        assert again.search() in (TERMINAL, LONG_TERMINAL)
    with pytest.raises(qarn.Error):
        again.status(TERMINAL)


def test_a_line_dropped_unclosed_is_closed_or_kept_callable(simulator):
    held = open_descriptors(simulator.port)
    lib = qarn.library()
    line = qarn.Line(simulator.port, wait_time=300)
    line.search()
    window = line._window
    with pytest.warns(ResourceWarning, match="not closed: closed as it is collected"):
        del line
        gc.collect()
    assert open_descriptors(simulator.port) == held
    assert lib.DestroyNotifyWindow(window) == 0  # gone: its callback can be called no more
    with qarn.Line(simulator.port, wait_time=300) as again:
        assert again.search() in (TERMINAL, LONG_TERMINAL)

    # Made on a thread and dropped on another, a line cannot be closed; its thread still runs
    # the library, which calls the callback on every frame sent.
    made, dropped, calls = [], threading.Event(), []
    def owner():
        made.append(qarn.Line(simulator.port, wait_time=300))
        device, window = made[0]._device, made[0]._window
        dropped.wait()
        lib.SendFrame(device, b"0002 0001 0000000000000000 16")
        calls.append(sum(lib.PumpMessages(100) for _ in range(5)))
        calls.append(lib.CloseDevice(device) + lib.DestroyNotifyWindow(window))
    worker = threading.Thread(target=owner)
    worker.start()
    while not made:
        time.sleep(0.01)
    with pytest.warns(ResourceWarning, match="cannot be closed"):
        made.clear()
        gc.collect()
    dropped.set()
    worker.join()
    assert calls[0] > 0 and calls[1] == 2
    assert open_descriptors(simulator.port) == held


def test_ctrl_c_and_progress_exceptions_end_the_command_at_once(simulator, tmp_path):
    class Stop(Exception):
        pass

    with qarn.Line(simulator.port, baud=115200, wait_time=5000) as line:
        kill = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
        started = time.monotonic()
        kill.start()
        with pytest.raises(KeyboardInterrupt):
            line.status(9)  # no such terminal: a 5 s wait
        assert time.monotonic() - started < 1.0
        assert signal.getsignal(signal.SIGINT) is signal.default_int_handler
        assert line.status(TERMINAL).time.year >= 2000

        qarn.write_list_file(tmp_path / "white.lst", "white", range(1, 1501))
        steps = []
        def interrupt(done, total):
            steps.append(done)
            os.kill(os.getpid(), signal.SIGINT)
        def fail(done, total):
            steps.append(done)
            raise Stop(done)
        with pytest.raises(KeyboardInterrupt):
            line.download_list(TERMINAL, "white", tmp_path / "white.lst", interrupt)
        with pytest.raises(Stop):
            line.download_list(TERMINAL, "white", tmp_path / "white.lst", fail)
        assert steps == [1, 1]
        assert len(simulator.state(TERMINAL)["white_list"]) < 1500
        line.beep(TERMINAL, 2)
        assert simulator.state(TERMINAL)["last_beep"] == 2


def test_layouts_match_the_c_header():
    dump = subprocess.run([os.environ["QARN_LAYOUT_DUMP"]], capture_output=True, text=True,
                          check=True).stdout.split("\n")
    checked = 0
    for line in filter(None, dump):
        name, *numbers = line.split()
        layout, _, field = name.partition(".")
        structure = getattr(layouts, layout)
        if field:
            offset, size = map(int, numbers)
            assert (getattr(structure, field).offset, getattr(structure, field).size) == (
                offset, size), name
        else:
            assert ctypes.sizeof(structure) == int(numbers[0]), name
        checked += 1
    assert checked > 150
    # Every value dataclass carries its layout's fields, by name.
    from qarn.values import LAYOUT_OF
    from dataclasses import fields
    for value, layout in LAYOUT_OF.items():
        names = {f.name for f in fields(value)}
        assert {n for n, _ in layout._fields_ if not n.startswith("unused")} <= names, value
