"""qarn.aio against simulated lines: lines in parallel in one loop, cancelling a command, the
notifications, and the generated methods as pydoc and type checkers see them."""

import asyncio
import contextlib
import inspect
import pydoc
import time
from pathlib import Path

import pytest

import qarn
import qarn.aio
from aio_stub import stub
from conftest import TERMINAL

COMMANDS = 50


async def poll(line, address, value):
    """COMMANDS property reads, each checked against the value this line's terminal holds."""
    for _ in range(COMMANDS):
        assert (await line.property(address)).byte6 == value


def test_four_lines_run_in_parallel_in_one_loop():
    addresses = [2, 3, 4, 5]
    with contextlib.ExitStack() as stack:
        simulators = [stack.enter_context(qarn.Simulator([a])) for a in addresses]

        async def main():
            lines = [qarn.aio.Line(s.port, baud=115200, wait_time=300) for s in simulators]
            async with contextlib.AsyncExitStack() as opened:
                for line in lines:
                    await opened.enter_async_context(line)
                for line, address in zip(lines, addresses):
                    await line.set_property(address, 3, 0x40 + address)
                started = time.monotonic()
                await poll(lines[0], 2, 0x42)
                alone = time.monotonic() - started
                started = time.monotonic()
                await asyncio.gather(*(poll(line, a, 0x40 + a)
                                       for line, a in zip(lines, addresses)))
                together = time.monotonic() - started
            assert all(line.closed for line in lines)
            return alone, together

        alone, together = asyncio.run(main())
        assert together < 1.5 * alone, (alone, together)


def test_a_cancelled_command_ends_at_once_and_the_line_goes_on(simulator):
    async def main():
        async with qarn.aio.Line(simulator.port, baud=115200, wait_time=5000) as line:
            waiting = asyncio.create_task(line.status(9))  # no such terminal: a 5 s wait
            queued = asyncio.create_task(line.beep(TERMINAL, 7))
            await asyncio.sleep(0.3)
            started = time.monotonic()
            waiting.cancel()
            queued.cancel()
            for task in (waiting, queued):
                with pytest.raises(asyncio.CancelledError):
                    await task
            assert time.monotonic() - started < 0.1
            assert (await line.status(TERMINAL)).time.year >= 2000
            assert simulator.state(TERMINAL)["last_beep"] != 7  # cancelled before it ran
            await line.set_wait_time(100)
            with pytest.raises(qarn.TimeOut):
                await line.run(9, 0x16)  # the same exceptions
        with pytest.raises(qarn.Error):
            await line.status(TERMINAL)
        missing = qarn.aio.Line("/dev/null/none")
        with pytest.raises(qarn.PortError):
            await missing.open()
        assert missing.closed
    asyncio.run(main())


def test_notifications_follow_a_command_in_order(simulator):
    async def main():
        async with qarn.aio.Line(simulator.port, baud=115200, wait_time=300) as line:
            async with line.notifications() as events:
                await line.status(TERMINAL)
                seen = []
                async for event in events:
                    seen.append(event)
                    if event.event == qarn.Event.FRAME:
                        break
            assert seen[0] == qarn.Notification(qarn.Event.SENT)
            assert {n.event for n in seen[1:-1]} == {qarn.Event.BYTES}
            assert seen[-1].data[0] == 0x16
            assert seen[-1].data in b"".join(n.data for n in seen[1:-1])
            # Outside a command the thread waits for the line's events.
            await line.send_frame(bytes.fromhex("0002 0001 6F04A4D0841436B9 1B 05"))
            async with line.notifications() as events:
                async for event in events:
                    if event.event == qarn.Event.FRAME:
                        assert event.data[0] == 0x1B
                        break
            assert simulator.state(TERMINAL)["last_beep"] == 5
    asyncio.run(asyncio.wait_for(main(), 10))


def test_every_line_method_is_an_async_method_with_its_signature_and_doc():
    for name, member in vars(qarn.Line).items():
        if name.startswith("_") or not (inspect.isfunction(member) or
                                        isinstance(member, property)):
            continue
        if name in ("closed", "close"):  # the async line's own
            continue
        mine = getattr(qarn.aio.Line, name)
        assert inspect.iscoroutinefunction(mine), name
        function = member.fget if isinstance(member, property) else member
        assert inspect.signature(mine) == inspect.signature(function), name
        assert mine.__doc__ == function.__doc__, name
    page = pydoc.render_doc(qarn.aio.Line, renderer=pydoc.plaintext)
    assert "async status(self, terminal: 'int') -> 'Status'" in page
    stub_path = Path(qarn.aio.__file__).with_suffix(".pyi")
    assert stub_path.read_text() == stub(), "run tests/python/aio_stub.py to remake aio.pyi"
