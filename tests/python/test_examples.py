"""The examples, C++ and Python, against simulated lines."""

import csv
import os
import subprocess
import sys
from pathlib import Path

import pytest

import qarn

from conftest import LONG_TERMINAL, TERMINAL

EXAMPLE = Path(__file__).resolve().parents[2] / "examples" / "records_to_csv.py"


@pytest.mark.parametrize("program", ["python", "c++"])
def test_every_record_of_every_terminal_reaches_the_csv(simulator, tmp_path, program):
    simulator.seed_records(TERMINAL, 40)
    simulator.seed_records(LONG_TERMINAL, 5, long=True)
    out = tmp_path / "records.csv"
    command = ([sys.executable, str(EXAMPLE)] if program == "python"
               else [os.environ["QARN_RECORDS_TO_CSV"]])
    subprocess.run(command + [simulator.port, str(out)], check=True,
                   timeout=60)
    with open(out, newline="") as file:
        rows = list(csv.DictReader(file))
    assert len(rows) == 45
    for address in (TERMINAL, LONG_TERMINAL):
        state = simulator.state(address)
        mine = [r for r in rows if int(r["terminal"]) == address]
        assert len(mine) == len(state["records"])
        for number, (row, expected) in enumerate(zip(mine, state["records"])):
            assert int(row["number"]) == number
            assert row["time"] == "%04d-%02d-%02dT%02d:%02d:%02d" % tuple(
                expected[k] for k in ("year", "month", "day", "hour", "minute", "second"))
            if state["long_records"]:
                assert (row["code"], int(row["value32"])) == (expected["code"],
                                                               expected["value32"])
            else:
                assert int(row["identifier"]) == expected["identifier"]


def test_the_asyncio_example_reports_changes_on_two_lines(simulator):
    example = EXAMPLE.parent / "watch_status.py"
    with qarn.Simulator([4]) as other:
        watcher = subprocess.Popen(
            [sys.executable, str(example), simulator.port, other.port, "--baud", "9600",
             "--interval", "0.1", "--rounds", "6"], stdout=subprocess.PIPE, text=True)
        first = [watcher.stdout.readline().strip() for _ in range(5)]
        other.set_online(4, False)
        rest, _ = watcher.communicate(timeout=60)
    assert watcher.returncode == 0
    assert f"{simulator.port}: terminals {TERMINAL}, {LONG_TERMINAL}" in first
    assert f"{other.port}: terminals 4" in first
    assert f"{simulator.port}: terminal {TERMINAL}: status 0x00000000" in first
    changes = rest.splitlines()
    assert changes == [f"{other.port}: terminal 4: not answering"]
