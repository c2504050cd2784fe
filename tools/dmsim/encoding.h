// The terminal's own encoders and decoders for the values inside reply and command payloads.
#pragma once

#include "dmsim/terminal.h"

#include <cstdint>
#include <string>

namespace dmsim {

// Record codes: seven characters of the 64-character code table packed into 32 bits, the
// first two with 6 bits each, the other five with their low 4 bits.
void AppendRecordCode(Bytes& out, const std::string& code);
std::string ReadRecordCode(const uint8_t* packed);

// Sign in the top bit, magnitude in the bits below; magnitudes too large for the field are cut.
uint32_t SignMagnitude(int32_t value, int bits);

// Records: 9 bytes (identifier, year, packed time stamp and flags) or 19 bytes (code, year,
// time stamp, 24-bit and 32-bit sign-magnitude values, 16-bit and 8-bit values).
void AppendRecord(Bytes& out, const Record& record, bool longForm);

// Clock bytes: century, year within it, month, day, hour, minute, second, weekday.
void AppendClock(Bytes& out, const Clock& clock);
Clock ReadClock(const uint8_t* bytes);

// A date byte holds the year minus 2000.
inline uint8_t YearByte(int year) {
    return static_cast<uint8_t>(year - 2000);
}

} // namespace dmsim
