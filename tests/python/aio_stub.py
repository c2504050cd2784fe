"""The type stub of qarn.aio, whose async methods are made from qarn.Line's at import: run
`PYTHONPATH=python python3 tests/python/aio_stub.py > python/qarn/aio.pyi` after changing
either module. test_aio checks that the stub is current."""

import inspect

from qarn import aio

HEADER = '''"""Type stub of qarn.aio, made by tests/python/aio_stub.py."""

import os
from datetime import date, datetime
from typing import Optional, Sequence, Union

from .line import AnyCard, AnyRecord, Callback, Key, Progress
from .monitor import Event as Event, Notification as Notification
from .values import (Card1, Card2, Card3, Card254, CardId, ListCounts, Money, Property,
                     RecordRange, Status, SystemProperty)
'''


def signature(function) -> str:
    found = inspect.signature(function)
    texts, starred = [], False
    for parameter in found.parameters.values():
        text = parameter.name
        if parameter.kind == parameter.VAR_POSITIONAL:
            text, starred = "*" + text, True
        elif parameter.kind == parameter.VAR_KEYWORD:
            text = "**" + text
        elif parameter.kind == parameter.KEYWORD_ONLY and not starred:
            texts.append("*")
            starred = True
        if parameter.annotation is not parameter.empty:
            text += f": {parameter.annotation}"
        if parameter.default is not parameter.empty:
            text += f" = {parameter.default!r}"
        texts.append(text)
    result = found.return_annotation
    return f"({', '.join(texts)})" + ("" if result is found.empty else f" -> {result}")


def members(cls, special: tuple[str, ...], attributes: tuple[str, ...] = ()) -> list[str]:
    lines = [f"class {cls.__name__}:"] + [f"    {attribute}" for attribute in attributes]
    for name, member in vars(cls).items():
        if name.startswith("_") and name not in special:
            continue
        if isinstance(member, property):
            lines += ["    @property", f"    def {name}{signature(member.fget)}: ..."]
        elif inspect.isfunction(member):
            kind = "async def" if inspect.iscoroutinefunction(member) else "def"
            lines.append(f"    {kind} {name}{signature(member)}: ...")
    return lines


def stub() -> str:
    lines = [HEADER]
    lines += members(aio.Notifications, ("__aiter__", "__anext__", "__aenter__", "__aexit__"))
    lines += ["", *members(aio.Line, ("__init__", "__aenter__", "__aexit__"), ("path: str",)), ""]
    return "\n".join(lines)


if __name__ == "__main__":
    print(stub(), end="")
