#!/usr/bin/env python3
"""Polls every terminal of two lines at once from one asyncio loop and prints each change of
a terminal's status value, and when a terminal stops or starts answering.

    watch_status.py PORT PORT [--baud 9600] [--parity E] [--interval 1.0] [--rounds N]
"""

import argparse
import asyncio
import contextlib
import sys
from typing import Optional

import qarn
import qarn.aio


async def watch(line: qarn.aio.Line, interval: float, rounds: Optional[int]) -> None:
    """Finds the line's terminals, then polls them one after the other, round after round."""
    terminals = await line.search_online()
    print(f"{line.path}: terminals {', '.join(map(str, terminals)) or 'none'}", flush=True)
    last: dict[int, Optional[int]] = {}
    done = 0
    while rounds is None or done < rounds:
        for terminal in terminals:
            try:
                value: Optional[int] = (await line.status(terminal)).value
            except (qarn.TimeOut, qarn.LinkError):
                value = None
            if terminal in last and value == last[terminal]:
                continue
            state = "not answering" if value is None else f"status 0x{value:08X}"
            print(f"{line.path}: terminal {terminal}: {state}", flush=True)
            last[terminal] = value
        done += 1
        await asyncio.sleep(interval)


async def main(options: argparse.Namespace) -> None:
    async with contextlib.AsyncExitStack() as stack:
        lines = [await stack.enter_async_context(
                     qarn.aio.Line(port, baud=options.baud, parity=options.parity,
                                   wait_time=300))
                 for port in options.ports]
        await asyncio.gather(*(watch(line, options.interval, options.rounds)
                               for line in lines))


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("ports", nargs=2, metavar="PORT")
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--parity", default="E")
    parser.add_argument("--interval", type=float, default=1.0)
    parser.add_argument("--rounds", type=int, help="stop after so many rounds")
    options = parser.parse_args()
    try:
        asyncio.run(main(options))
    except qarn.Error as error:
        sys.exit(f"watch_status: {error}")
    except KeyboardInterrupt:
        pass
