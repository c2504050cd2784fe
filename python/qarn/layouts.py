"""The library's data and parameter layouts as ctypes structures, with the names and byte
offsets of qarn_layouts.h."""

from __future__ import annotations

import ctypes

i32 = ctypes.c_int32
u32 = ctypes.c_uint32


def text(size: int) -> type:
    """A text field of size bytes."""
    return ctypes.c_char * size


class Layout(ctypes.Structure):
    """A struct of qarn_layouts.h: the same fields, sizes and offsets."""

    def __init_subclass__(cls) -> None:
        super().__init_subclass__()
        if cls.__doc__ is None:
            cls.__doc__ = f"The struct {cls.__name__} of qarn_layouts.h, field for field."

    def raw(self, field: str) -> bytes:
        """Every byte of a field; ctypes would cut a text at its first NUL."""
        descriptor = getattr(type(self), field)
        return ctypes.string_at(ctypes.addressof(self) + descriptor.offset, descriptor.size)

    @classmethod
    def from_bytes(cls, data: bytes, at: int = 0) -> "Layout":
        """A copy of the layout's bytes in data from offset at on."""
        return cls.from_buffer_copy(data, at)


_STAMP = [("year", i32), ("month", i32), ("day", i32), ("hour", i32), ("minute", i32),
          ("second", i32), ("flag_a", i32), ("flag_b", i32), ("terminal", i32)]


class QarnRecord(Layout):
    _fields_ = [("identifier", i32)] + _STAMP


class QarnLongRecord(Layout):
    _fields_ = [("code", text(7)), ("unused7", ctypes.c_char), ("value24", i32),
                ("value32", i32), ("value16", i32), ("value8", i32)] + _STAMP


class QarnRecordRange(Layout):
    _fields_ = [("first", i32), ("count", i32)]


class QarnRecordIndex(Layout):
    _fields_ = [("index", i32)]


class QarnListCounts(Layout):
    _fields_ = [("white", i32), ("black", i32)]


class QarnSearchReply(Layout):
    _fields_ = [("address", i32)]


SEARCH_CAPACITY = 256


class QarnSearchList(Layout):
    _fields_ = [("count", i32), ("address", i32 * SEARCH_CAPACITY)]


class QarnProperty(Layout):
    _fields_ = [(name, i32) for name in (
        "bytes0_1", "bytes2_3", "bytes4_5", "byte6", "byte7", "byte8", "byte9", "byte10",
        "byte11", "byte12", "byte13", "byte14", "switch15", "switch16", "switch17", "byte18",
        "byte19")]


class QarnSystemProperty(Layout):
    _fields_ = [("version", text(10)), ("unused10", text(2)), ("value", i32),
                ("line_speed", i32), ("switch9", i32), ("switch10", i32), ("text1", text(10)),
                ("text2", text(15)), ("unused53", text(3))]


class QarnStatus(Layout):
    _fields_ = [(name, i32) for name in (
        "year", "month", "day", "weekday", "hour", "minute", "second", "value")]


_CARD_HEAD = [("sub_code", i32), ("number", i32), ("record_code", text(7))]
_CARD_DATE = [("year", i32), ("month", i32), ("day", i32)]


class QarnCardLayout1(Layout):
    _fields_ = _CARD_HEAD + [("unused15", ctypes.c_char), ("attribute1", i32),
                             ("attribute2", i32), ("password", text(4)), ("name", text(8))] \
        + _CARD_DATE


class QarnCardLayout2(Layout):
    _fields_ = QarnCardLayout1._fields_ + [("value16", i32)]


class QarnCardLayout3(Layout):
    _fields_ = _CARD_HEAD + [("password", text(4)), ("name", text(8)),
                             ("unused27", ctypes.c_char)] + _CARD_DATE \
        + [("attribute3", i32), ("attribute4", i32)]


class QarnCardLayout254(Layout):
    _fields_ = [("sub_code", i32), ("number", i32), ("password", text(4))]


class QarnMoney(Layout):
    _fields_ = [("sub_code", i32), ("amount", i32), ("attribute", i32)] + _CARD_DATE \
        + [("value16", i32)]


class QarnCardId(Layout):
    _fields_ = [("kind", i32), ("id", i32)]


class QarnClock(Layout):
    _fields_ = [(name, i32) for name in (
        "year", "month", "day", "hour", "minute", "second", "weekday")]


class QarnAddressChange(Layout):
    _fields_ = [("identity", u32), ("address", i32)]


class QarnRecordRequest(Layout):
    _fields_ = [("first", i32), ("count", i32)]


class QarnRecordRangeRequest(Layout):
    _fields_ = [(name, i32) for name in (
        "use_dates", "from_year", "from_month", "from_day", "to_year", "to_month", "to_day")]


class QarnSetting(Layout):
    _fields_ = [("item", i32), ("value", u32)]


class QarnValue(Layout):
    _fields_ = [("value", i32)]


TITLE_LINES = 3
TITLE_WIDTH = 16


class QarnTitle(Layout):
    _fields_ = [("line", text(TITLE_WIDTH) * TITLE_LINES)]


class _Slot(Layout):
    _fields_ = [("hour", i32), ("minute", i32), ("value", i32)]


class QarnTimeSlots(Layout):
    _fields_ = [("slot", _Slot * 20)]


class _Window(Layout):
    _fields_ = [("start_hour", i32), ("start_minute", i32), ("end_hour", i32),
                ("end_minute", i32)]


class QarnCardTimes(Layout):
    _fields_ = [("lead", i32), ("window", _Window * 8)]


ALL = [QarnRecord, QarnLongRecord, QarnRecordRange, QarnRecordIndex, QarnListCounts,
       QarnSearchReply, QarnSearchList, QarnProperty, QarnSystemProperty, QarnStatus,
       QarnCardLayout1, QarnCardLayout2, QarnCardLayout3, QarnCardLayout254, QarnMoney,
       QarnCardId, QarnClock, QarnAddressChange, QarnRecordRequest, QarnRecordRangeRequest,
       QarnSetting, QarnValue, QarnTitle, QarnTimeSlots, QarnCardTimes]
