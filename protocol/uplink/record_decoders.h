// Record and counter decoders: the terminal's stored records and record counters as data-buffer
// entries of host-order int32 fields and fixed-width texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn {

constexpr size_t kShortRecordSize = 9;
constexpr size_t kShortEntrySize = 40;
constexpr size_t kLongRecordSize = 19;
constexpr size_t kLongEntrySize = 60;
constexpr size_t kCounterPairSize = 8;
constexpr size_t kRecordCodeLength = 7;
// Years travel as the year minus this.
constexpr int kYearBase = 2000;

// The 64 characters a packed record code indexes; index 0 is the space.
extern const char kCodeCharacters[65];

// Where both record forms keep their packed time stamp.
constexpr size_t kTimeStampOffset = 5;

// Packed month, day, hour, minute, second and two flags of bytes 5-8 of both record forms.
struct TimeStamp {
    int month, day, hour, minute, second, flagA, flagB;
};
TimeStamp UnpackTimeStamp(const uint8_t* at);

// Sign in the top bit, magnitude in the remaining 23 or 31 bits; a negative zero gives 0.
int32_t GetSignMagnitude24(const uint8_t* at);
int32_t GetSignMagnitude32(const uint8_t* at);

// The seven characters of a packed 4-byte record code, in packed order.
void UnpackRecordCode(const uint8_t* packed, char* text);
// The same characters with the spaces removed, right-aligned and space-filled on the left.
void UnpackRecordCodeClosedUp(const uint8_t* packed, char* text);

// One 9-byte short record into its 40-byte entry; terminal is the replying terminal's address.
void DecodeShortRecord(const uint8_t* record, uint8_t* entry, int terminal);
// One 19-byte long record into its 60-byte entry.
void DecodeLongRecord(const uint8_t* record, uint8_t* entry, int terminal);
// Two 32-bit big-endian counters into two int32 fields.
void DecodeCounterPair(const uint8_t* payload, uint8_t* entry);

} // namespace qarn
