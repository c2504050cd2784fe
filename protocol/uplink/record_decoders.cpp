#include "protocol/uplink/record_decoders.h"

#include "codec/bytes.h"

namespace qarn {

const char kCodeCharacters[65] = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";

TimeStamp UnpackTimeStamp(const uint8_t* at) {
    TimeStamp stamp;
    stamp.month = at[0] >> 4;
    stamp.day = (at[0] & 0x0F) << 1 | at[1] >> 7;
    stamp.hour = (at[1] >> 2) & 0x1F;
    stamp.minute = (at[1] & 0x03) << 4 | at[2] >> 4;
    stamp.second = (at[2] & 0x0F) << 2 | at[3] >> 6;
    stamp.flagA = (at[3] >> 5) & 1;
    stamp.flagB = (at[3] >> 4) & 1;
    return stamp;
}

namespace {

int32_t SignMagnitude(uint32_t word, int bits) {
    uint32_t sign = 1u << (bits - 1);
    int32_t magnitude = static_cast<int32_t>(word & (sign - 1));
    return (word & sign) ? -magnitude : magnitude;
}

} // namespace

int32_t GetSignMagnitude24(const uint8_t* at) {
    return SignMagnitude(static_cast<uint32_t>(at[0]) << 16 | GetBigEndian16(at + 1), 24);
}

int32_t GetSignMagnitude32(const uint8_t* at) {
    return SignMagnitude(GetBigEndian32(at), 32);
}

void UnpackRecordCode(const uint8_t* packed, char* text) {
    static const int kShifts[kRecordCodeLength] = {26, 20, 16, 12, 8, 4, 0};
    static const uint32_t kMasks[kRecordCodeLength] = {0x3F, 0x3F, 0x0F, 0x0F, 0x0F, 0x0F, 0x0F};
    uint32_t word = GetBigEndian32(packed);
    for (size_t i = 0; i < kRecordCodeLength; ++i)
        text[i] = kCodeCharacters[(word >> kShifts[i]) & kMasks[i]];
}

void UnpackRecordCodeClosedUp(const uint8_t* packed, char* text) {
    char characters[kRecordCodeLength];
    UnpackRecordCode(packed, characters);
    size_t free = kRecordCodeLength;
    for (size_t i = kRecordCodeLength; i-- > 0;)
        if (characters[i] != ' ') text[--free] = characters[i];
    while (free > 0)
        text[--free] = ' ';
}

namespace {

// Both record layouts end with year, month, day, hour, minute, second, the two flags and the
// replying terminal, as consecutive int32 fields from offset on.
void PutStampAndTerminal(uint8_t* entry, size_t offset, uint8_t year, const TimeStamp& stamp,
                         int terminal) {
    const int32_t fields[] = {year + kYearBase, stamp.month, stamp.day,   stamp.hour, stamp.minute,
                              stamp.second,     stamp.flagA, stamp.flagB, terminal};
    for (int32_t field : fields) {
        PutHostInt32(entry, offset, field);
        offset += 4;
    }
}

} // namespace

void DecodeShortRecord(const uint8_t* record, uint8_t* entry, int terminal) {
    TimeStamp stamp = UnpackTimeStamp(record + kTimeStampOffset);
    PutHostInt32(entry, 0, static_cast<int32_t>(GetBigEndian32(record)));
    PutStampAndTerminal(entry, 4, record[4], stamp, terminal);
}

void DecodeLongRecord(const uint8_t* record, uint8_t* entry, int terminal) {
    TimeStamp stamp = UnpackTimeStamp(record + kTimeStampOffset);
    UnpackRecordCodeClosedUp(record, reinterpret_cast<char*>(entry));
    entry[7] = 0;
    PutHostInt32(entry, 8, GetSignMagnitude24(record + 9));
    PutHostInt32(entry, 12, GetSignMagnitude32(record + 12));
    PutHostInt32(entry, 16, static_cast<int32_t>(GetBigEndian16(record + 16)));
    PutHostInt32(entry, 20, record[18]);
    PutStampAndTerminal(entry, 24, record[4], stamp, terminal);
}

void DecodeCounterPair(const uint8_t* payload, uint8_t* entry) {
    PutHostInt32(entry, 0, static_cast<int32_t>(GetBigEndian32(payload)));
    PutHostInt32(entry, 4, static_cast<int32_t>(GetBigEndian32(payload + 4)));
}

} // namespace qarn
