"""A simulated line for the package's scenarios: the build's dmsim and libqarn.so, found through
QARN_DMSIM and QARN_LIBRARY (CTest sets both)."""

import os
from pathlib import Path
from typing import Iterator

import pytest

import qarn

TERMINAL, LONG_TERMINAL = 2, 3


@pytest.fixture
def simulator() -> Iterator[qarn.Simulator]:
    with qarn.Simulator([TERMINAL, LONG_TERMINAL]) as line:
        yield line


@pytest.fixture
def line(simulator: qarn.Simulator) -> Iterator[qarn.Line]:
    with qarn.Line(simulator.port, baud=115200, wait_time=300) as opened:
        yield opened


def open_descriptors(path: str) -> int:
    """How many of this process's descriptors are open on the path."""
    count = 0
    for entry in Path("/proc/self/fd").iterdir():
        try:
            count += os.readlink(entry) == path
        except OSError:
            pass
    return count
