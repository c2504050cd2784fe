// Field codings shared by several payload encoders.
#pragma once

#include <cstdint>

#include "codec/bytes.h"
#include "platform/clock.h"

namespace qarn {

// The largest payload whose length field (9 + n) still fits 16 bits.
constexpr int kLargestPayloadSize = 0xFFFF - 9;

// The low 8 bits of a 32-bit value, whatever its sign.
inline uint8_t LowByte(int32_t value) {
    return static_cast<uint8_t>(value);
}

// The year as one byte: (year - 2000) modulo 256, so 1999 gives 0xFF.
inline uint8_t YearSince2000(int32_t year) {
    return static_cast<uint8_t>(static_cast<uint32_t>(year) - 2000u);
}

// "0" to "9", "a" to "f" and "A" to "F" count 0 to 15; any other character counts -1.
int HexDigitValue(uint8_t character);

// 16 characters of hex key text to 8 bytes, first character of a pair the high nibble. A pair
// with a non-digit is not refused: the byte is (16 x first + second) modulo 256 with -1 for it.
void DecodeHexKey(const uint8_t* text, uint8_t key[8]);

// value / 256 and value % 256 (truncating toward zero), each as its low byte.
void AppendQuotientAndRemainder(ByteArray& payload, int32_t value);

// Second, minute, hour, day of month, month and year modulo 100, one byte each.
void AppendTimeStamp(ByteArray& payload, const platform::LocalTime& time);

} // namespace qarn
