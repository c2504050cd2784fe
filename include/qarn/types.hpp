// The value types of the C++ interface: the layouts of qarn_layouts.h under short names, one
// record type for both record forms, and helpers for the fixed-width texts.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "qarn/result.hpp"
#include "qarn_layouts.h"

namespace qarn {

using Status = QarnStatus;
using Property = QarnProperty;
using SystemProperty = QarnSystemProperty;
using ListCounts = QarnListCounts;
using RecordRange = QarnRecordRange;
using Card1 = QarnCardLayout1;
using Card2 = QarnCardLayout2;
using Card3 = QarnCardLayout3;
using Card254 = QarnCardLayout254;
using Money = QarnMoney;
using CardId = QarnCardId;
using Clock = QarnClock;
using TimeSlots = QarnTimeSlots;
using CardTimes = QarnCardTimes;
using Title = QarnTitle;

// A key as 8 bytes; the commands that carry keys as hexadecimal text write it for you.
using Key = std::array<uint8_t, 8>;

struct Date {
    int year; // four digits
    int month;
    int day;
};

// Card lists by the marker byte of their list file.
enum class ListKind : uint8_t { white = QARN_LIST_WHITE, black = QARN_LIST_BLACK };

// A transaction record of either form. Terminals that keep short records send the identifier,
// those that keep long records the code and the four values; the other fields stay 0 or empty.
struct Record {
    bool long_form = false;
    // The record's number on its terminal, as records() and backup_records() asked for it; none
    // for realtime(), whose records come without one.
    std::optional<int32_t> number;
    int32_t identifier = 0;
    std::string code; // 7 characters, right-aligned
    int32_t value24 = 0;
    int32_t value32 = 0;
    int32_t value16 = 0;
    int32_t value8 = 0;
    int32_t year = 0;
    int32_t month = 0;
    int32_t day = 0;
    int32_t hour = 0;
    int32_t minute = 0;
    int32_t second = 0;
    bool flag_a = false;
    bool flag_b = false;
    int32_t terminal = 0; // the terminal that replied

    static Record from(const QarnRecord& r) {
        Record record = Stamped(r);
        record.identifier = r.identifier;
        return record;
    }
    static Record from(const QarnLongRecord& r) {
        Record record = Stamped(r);
        record.long_form = true;
        record.code.assign(r.code, sizeof r.code);
        record.value24 = r.value24;
        record.value32 = r.value32;
        record.value16 = r.value16;
        record.value8 = r.value8;
        return record;
    }

  private:
    template <class Layout> static Record Stamped(const Layout& r) {
        Record record;
        record.year = r.year;
        record.month = r.month;
        record.day = r.day;
        record.hour = r.hour;
        record.minute = r.minute;
        record.second = r.second;
        record.flag_a = r.flag_a != 0;
        record.flag_b = r.flag_b != 0;
        record.terminal = r.terminal;
        return record;
    }
};

// A fixed-width text field as a string, all of its bytes.
template <size_t N> std::string text(const char (&field)[N]) {
    return std::string(field, N);
}

// Fills a fixed-width text field: the text, then fill. An error, leaving the field as it was,
// when the text is longer than the field.
template <size_t N>
Result<void> set_text(char (&field)[N], std::string_view value, char fill = ' ') {
    if (value.size() > N)
        return Error(Failure::argument, -1,
                     "qarn: \"" + std::string(value) + "\" is longer than its field of " +
                         std::to_string(N) + " characters");
    std::memset(field, fill, N);
    std::memcpy(field, value.data(), value.size());
    return {};
}

} // namespace qarn
