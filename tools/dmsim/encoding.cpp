#include "dmsim/encoding.h"

#include <cstring>

namespace dmsim {

namespace {

const char kCodeCharacters[] = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";

uint32_t CodeIndex(char c) {
    const char* at = std::strchr(kCodeCharacters, c);
    return at != nullptr && c != '\0' ? static_cast<uint32_t>(at - kCodeCharacters) : 0;
}

// Bit positions of the seven indexes in the packed word, and their widths.
const int kCodeShifts[7] = {26, 20, 16, 12, 8, 4, 0};
const uint32_t kCodeMasks[7] = {0x3F, 0x3F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F};

} // namespace

void AppendRecordCode(Bytes& out, const std::string& code) {
    uint32_t word = 0;
    for (int i = 0; i < 7; ++i) {
        char c = i < static_cast<int>(code.size()) ? code[i] : ' ';
        word |= (CodeIndex(c) & kCodeMasks[i]) << kCodeShifts[i];
    }
    AppendBe32(out, word);
}

std::string ReadRecordCode(const uint8_t* packed) {
    uint32_t word = GetBe32(packed);
    std::string code(7, ' ');
    for (int i = 0; i < 7; ++i)
        code[i] = kCodeCharacters[(word >> kCodeShifts[i]) & kCodeMasks[i]];
    return code;
}

uint32_t SignMagnitude(int32_t value, int bits) {
    uint32_t sign = 1u << (bits - 1);
    uint32_t magnitude =
        value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    return (magnitude & (sign - 1)) | (value < 0 ? sign : 0);
}

void AppendRecord(Bytes& out, const Record& record, bool longForm) {
    if (longForm)
        AppendRecordCode(out, record.code);
    else
        AppendBe32(out, record.identifier);
    out.push_back(YearByte(record.year));
    uint32_t stamp = (static_cast<uint32_t>(record.month) & 0x0F) << 28 |
                     (static_cast<uint32_t>(record.day) & 0x1F) << 23 |
                     (static_cast<uint32_t>(record.hour) & 0x1F) << 18 |
                     (static_cast<uint32_t>(record.minute) & 0x3F) << 12 |
                     (static_cast<uint32_t>(record.second) & 0x3F) << 6 |
                     (record.flagA ? 1u << 5 : 0) | (record.flagB ? 1u << 4 : 0);
    AppendBe32(out, stamp);
    if (!longForm) return;
    AppendBe24(out, SignMagnitude(record.value24, 24));
    AppendBe32(out, SignMagnitude(record.value32, 32));
    AppendBe16(out, record.value16);
    out.push_back(record.value8);
}

void AppendClock(Bytes& out, const Clock& clock) {
    out.push_back(static_cast<uint8_t>(clock.year / 100));
    out.push_back(static_cast<uint8_t>(clock.year % 100));
    for (int field :
         {clock.month, clock.day, clock.hour, clock.minute, clock.second, clock.weekday})
        out.push_back(static_cast<uint8_t>(field));
}

Clock ReadClock(const uint8_t* bytes) {
    Clock clock;
    clock.year = bytes[0] * 100 + bytes[1];
    clock.month = bytes[2];
    clock.day = bytes[3];
    clock.hour = bytes[4];
    clock.minute = bytes[5];
    clock.second = bytes[6];
    clock.weekday = bytes[7];
    return clock;
}

} // namespace dmsim
