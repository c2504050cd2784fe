"""qarn.Simulator: a line of simulated terminals (the dmsim program) for trying the package
without hardware."""

from __future__ import annotations

import json
import os
import shutil
import subprocess
from pathlib import Path
from typing import Any, Optional, Sequence

from ._library import candidates


def _find_program() -> str:
    if os.environ.get("QARN_DMSIM"):
        return os.environ["QARN_DMSIM"]
    found = shutil.which("dmsim")
    if found:
        return found
    for library in candidates():  # a build tree: build/libqarn.so beside build/tools/dmsim
        beside = Path(library).resolve().parent / "tools" / "dmsim"
        if beside.is_file():
            return str(beside)
    raise FileNotFoundError("dmsim not found: set QARN_DMSIM to its path or put it on PATH")


class Simulator:
    """Simulated terminals on a pty of their own, as a context manager:

        with qarn.Simulator([2, 3]) as line, qarn.Line(line.port) as host:
            print(host.search_online())

    state(address) reads a terminal's state as the simulator holds it; seed_records() and
    set_online() change it. The program is QARN_DMSIM, dmsim on PATH, or the build's."""

    def __init__(self, terminals: Sequence[int] = (2,), key_table: Optional[str] = None,
                 options: Sequence[str] = (), program: Optional[str] = None) -> None:
        if not terminals:
            raise ValueError("a simulated line needs at least one terminal")
        command = [program or _find_program(), "--terminals",
                   ",".join(str(t) for t in terminals), *options]
        key_table = key_table or os.environ.get("QARN_KEY_TABLE")
        if key_table:
            command += ["--key-table", key_table]
        self._process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                         stderr=subprocess.PIPE, text=True)
        first = self._process.stdout.readline() if self._process.stdout else ""
        if not first.startswith("port "):
            self.close()
            raise RuntimeError(f"dmsim did not start: {first.strip()}")
        self.port = first[5:].strip()

    def _ask(self, line: str) -> str:
        assert self._process.stdin and self._process.stdout
        self._process.stdin.write(line + "\n")
        self._process.stdin.flush()
        answer = self._process.stdout.readline().strip()
        if answer.startswith("error:") or not answer:
            raise ValueError(f"dmsim: {answer or 'no answer'} ({line})")
        return answer

    def state(self, address: int) -> dict[str, Any]:
        """The terminal's state: clock, property, records, lists, card, keys' uses, title..."""
        return json.loads(self._ask(f"show {address}"))

    def seed_records(self, address: int, count: int, long: bool = False) -> None:
        """Replaces the terminal's records with count generated ones, short or long."""
        self._ask(f"records {address} {count}{' long' if long else ''}")

    def set_online(self, address: int, online: bool) -> None:
        """Takes the terminal off the line (it answers nothing) or puts it back."""
        self._ask(f"online {address} {int(online)}")

    def close(self) -> None:
        """Ends the simulator and its pty; closing twice does nothing."""
        if self._process.poll() is None:
            if self._process.stdin:
                self._process.stdin.close()
            try:
                self._process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        for stream in (self._process.stdout, self._process.stderr):
            if stream:
                stream.close()

    def __enter__(self) -> "Simulator":
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()
