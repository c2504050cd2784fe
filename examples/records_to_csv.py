#!/usr/bin/env python3
"""Every record of every terminal on a line into one CSV file.

    records_to_csv.py PORT OUT.csv [--baud 9600] [--parity E] [--host 1]
"""

import argparse
import csv
import sys

import qarn

# The columns of qarnctl's records --csv.
COLUMNS = ["terminal", "number", "form", "identifier", "code", "time", "value24", "value32",
           "value16", "value8", "flag_a", "flag_b"]


def row(record: "qarn.Record | qarn.LongRecord") -> dict:
    # Terminals report their stamps unchecked, so the time is written from its fields.
    time = "%04d-%02d-%02dT%02d:%02d:%02d" % (record.year, record.month, record.day,
                                              record.hour, record.minute, record.second)
    values = {"terminal": record.terminal, "number": record.number, "time": time,
              "flag_a": record.flag_a, "flag_b": record.flag_b}
    if isinstance(record, qarn.LongRecord):
        values.update(form="long", code=record.code, value24=record.value24,
                      value32=record.value32, value16=record.value16, value8=record.value8)
    else:
        values.update(form="short", identifier=record.identifier)
    return values


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("port")
    parser.add_argument("out")
    parser.add_argument("--baud", type=int, default=9600)
    parser.add_argument("--parity", default="E")
    parser.add_argument("--host", type=lambda text: int(text, 0), default=1)
    options = parser.parse_args()
    try:
        with qarn.Line(options.port, baud=options.baud, parity=options.parity,
                       host=options.host) as line, \
                open(options.out, "w", newline="") as file:
            writer = csv.DictWriter(file, COLUMNS)
            writer.writeheader()
            for terminal in line.search_online():
                records = line.records(terminal)
                writer.writerows(row(record) for record in records)
                print(f"terminal 0x{terminal:04X}: {len(records)} records", file=sys.stderr)
    except (qarn.Error, OSError, ValueError) as error:
        print(f"records_to_csv: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
