"""What the commands return and take: dataclasses with the field names of the layouts, and
their dates and times also as datetime values."""

from __future__ import annotations

import ctypes
import datetime as dt
from dataclasses import InitVar, dataclass, field, fields
from typing import Callable, Optional, TypeVar, Union

from . import layouts


Moment = TypeVar("Moment", bound=dt.date)


def _valid(kind: Callable[..., Moment], *parts: int) -> Optional[Moment]:
    # Terminals report what they hold, unchecked: month 15 is possible and makes no date.
    try:
        return kind(*parts)
    except ValueError:
        return None


class _Timed:
    """Base of the dataclasses with a time stamp in year to second fields: sets their time
    field to its datetime, None where the fields make none."""

    def __post_init__(self) -> None:
        self.time = _valid(dt.datetime, self.year, self.month, self.day, self.hour, self.minute,
                           self.second)


@dataclass
class Stamped(_Timed):
    year: int = 0
    month: int = 0
    day: int = 0
    hour: int = 0
    minute: int = 0
    second: int = 0
    flag_a: int = 0
    flag_b: int = 0
    terminal: int = 0
    time: Optional[dt.datetime] = field(default=None, init=False)
    #: The record's number on its terminal, as records() and backup_records() asked for it;
    #: None for realtime(), whose records come without one.
    number: Optional[int] = None


@dataclass
class Record(Stamped):
    """A record of a terminal that keeps short records."""
    identifier: int = 0


@dataclass
class LongRecord(Stamped):
    """A record of a terminal that keeps long records; code is right-aligned."""
    code: str = ""
    value24: int = 0
    value32: int = 0
    value16: int = 0
    value8: int = 0


@dataclass
class RecordRange:
    first: int = 0
    count: int = 0


@dataclass
class ListCounts:
    white: int = 0
    black: int = 0


@dataclass
class Property:
    bytes0_1: int = 0
    bytes2_3: int = 0
    bytes4_5: int = 0
    byte6: int = 0
    byte7: int = 0
    byte8: int = 0
    byte9: int = 0
    byte10: int = 0
    byte11: int = 0
    byte12: int = 0
    byte13: int = 0
    byte14: int = 0
    switch15: int = 0
    switch16: int = 0
    switch17: int = 0
    byte18: int = 0
    byte19: int = 0


@dataclass
class SystemProperty:
    version: str = ""
    value: int = 0
    line_speed: int = 0
    switch9: int = 0
    switch10: int = 0
    text1: str = ""
    text2: str = ""


@dataclass
class Status(_Timed):
    year: int = 0
    month: int = 0
    day: int = 0
    weekday: int = 0
    hour: int = 0
    minute: int = 0
    second: int = 0
    value: int = 0
    time: Optional[dt.datetime] = field(default=None, init=False)


@dataclass
class Dated:
    """A date held once, in its year, month and day fields: date reads them (None where they
    make no date) and writes them, also as Dated(date=...) and dataclasses.replace(x, date=...)."""
    year: int = 2000
    month: int = 1
    day: int = 1
    date: InitVar[Optional[dt.date]] = None

    def __post_init__(self, date: Optional[dt.date]) -> None:
        # dataclasses.replace hands back the date read from the fields: the fields decide then.
        if isinstance(date, dt.date) and not isinstance(date, _FieldsDate):
            self.year, self.month, self.day = date.year, date.month, date.day


class _FieldsDate(dt.date):
    """The date that a Dated's fields make, as its date property gives it."""

    def __repr__(self) -> str:
        return dt.date.__repr__(dt.date(self.year, self.month, self.day))


def _date_of(self: Dated) -> Optional[dt.date]:
    """The date of the year, month and day fields; None where they make no date."""
    return _valid(_FieldsDate, self.year, self.month, self.day)


def _set_date(self: Dated, date: dt.date) -> None:
    self.year, self.month, self.day = date.year, date.month, date.day


# Set after the dataclass is made, so that the field's default stays None, not the property.
Dated.date = property(_date_of, _set_date)  # type: ignore[assignment]


@dataclass
class Card1(Dated):
    """Card layout 1; write_card sets sub_code. Texts: record_code 7 characters (spaces in it
    are dropped on the card and the rest closed up to the left), password 4 digits, name the
    holder's name as text, 8 bytes at most in the line's code (GB2312, or Big5 with
    set_big5_terminals): 4 Chinese characters. Its spaces travel as 0x00 bytes. A name given as
    bytes is written as it is; name_bytes holds the 8 bytes of a card read."""
    sub_code: int = 1
    number: int = 0
    record_code: str = "       "
    attribute1: int = 0
    attribute2: int = 0
    password: str = "0000"
    name: str = ""
    name_bytes: bytes = field(default=b"", init=False, repr=False, compare=False)


@dataclass
class Card2(Card1):
    sub_code: int = 2
    value16: int = 0


@dataclass
class Card3(Dated):
    sub_code: int = 3
    number: int = 0
    record_code: str = "       "
    password: str = "0000"
    name: str = ""
    attribute3: int = 0
    attribute4: int = 0
    name_bytes: bytes = field(default=b"", init=False, repr=False, compare=False)


@dataclass
class Card254:
    sub_code: int = 254
    number: int = 0
    password: str = "0000"


@dataclass
class Money(Dated):
    """The card's money in hundredths, with the date of its last transaction."""
    sub_code: int = 2
    amount: int = 0
    attribute: int = 0
    value16: int = 0


@dataclass
class CardId:
    kind: int = 0
    id: int = 0


LAYOUT_OF = {
    Record: layouts.QarnRecord,
    LongRecord: layouts.QarnLongRecord,
    RecordRange: layouts.QarnRecordRange,
    ListCounts: layouts.QarnListCounts,
    Property: layouts.QarnProperty,
    SystemProperty: layouts.QarnSystemProperty,
    Status: layouts.QarnStatus,
    Card1: layouts.QarnCardLayout1,
    Card2: layouts.QarnCardLayout2,
    Card3: layouts.QarnCardLayout3,
    Card254: layouts.QarnCardLayout254,
    Money: layouts.QarnMoney,
    CardId: layouts.QarnCardId,
}

Value = TypeVar("Value")


def _is_text(layout: type, name: str) -> bool:
    kind = dict(layout._fields_)[name]
    return isinstance(kind, type) and issubclass(kind, ctypes.Array) and kind._type_ is ctypes.c_char


def from_layout(kind: type[Value], entry: layouts.Layout, codec: str = "gb2312") -> Value:
    """The dataclass of a decoded entry. Texts keep every byte; a name is decoded with the codec
    (the 0x00 bytes the card keeps for spaces read as spaces, trailing spaces dropped, what does
    not decode as U+FFFD), its raw bytes in name_bytes."""
    values = {}
    held = dict(type(entry)._fields_)
    for f in fields(kind):  # type: ignore[arg-type]
        # What the entry does not hold (a record's number) keeps its default.
        if not f.init or f.name not in held:
            continue
        if _is_text(type(entry), f.name):
            raw = entry.raw(f.name)
            if f.name == "name":
                values[f.name] = raw.replace(b"\0", b" ").rstrip(b" ").decode(codec, "replace")
            else:
                values[f.name] = raw.decode("latin-1")
        else:
            values[f.name] = getattr(entry, f.name)
    value = kind(**values)
    if hasattr(value, "name_bytes"):
        value.name_bytes = entry.raw("name")  # type: ignore[attr-defined]
    return value


def encode_text(what: str, text: Union[str, bytes], size: int, codec: str) -> bytes:
    """A name or title as the line's code, padded with spaces to its field's size; ValueError
    when the text has no form in the code or does not fit."""
    if isinstance(text, (bytes, bytearray)):
        data = bytes(text)
    else:
        try:
            data = str(text).encode(codec)
        except UnicodeEncodeError:
            raise ValueError(f"{what} {text!r} has a character with no form in {codec}") from None
    if len(data) > size:
        raise ValueError(f"{what} {text!r} takes {len(data)} bytes in {codec}; "
                         f"its field holds {size}")
    return data.ljust(size, b" ")


def to_layout(value: object, codec: str = "gb2312") -> layouts.Layout:
    """The layout structure of a dataclass, for a parameter block. Texts must fit; a name is
    encoded with the codec."""
    layout = LAYOUT_OF[type(value)]
    entry = layout()
    for f in fields(value):  # type: ignore[arg-type]
        if not f.init:
            continue
        item = getattr(value, f.name)
        if _is_text(layout, f.name):
            size = getattr(layout, f.name).size
            if f.name == "name":
                data = encode_text("card name", item, size, codec)
            else:
                data = item if isinstance(item, bytes) else str(item).encode("latin-1")
                if len(data) > size:
                    raise ValueError(f"{f.name} {item!r} is longer than its {size} bytes")
            ctypes.memmove(ctypes.addressof(entry) + getattr(layout, f.name).offset,
                           data.ljust(size, b" "), size)
        else:
            setattr(entry, f.name, int(item))
    return entry
