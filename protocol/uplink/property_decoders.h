// Property and status decoders: the terminal's property blocks and its clock and status as
// data-buffer entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn {

constexpr size_t kPropertySize = 20;
constexpr size_t kPropertyEntrySize = 68;
constexpr size_t kSystemPropertySize = 37;
constexpr size_t kSystemPropertyShortSize = 32; // older terminals leave out the last five bytes
constexpr size_t kSystemPropertyEntrySize = 56;
constexpr size_t kStatusSize = 12;
constexpr size_t kStatusEntrySize = 32;

// The 20-byte property payload into its 68-byte entry.
void DecodeProperty(const uint8_t* payload, uint8_t* entry);
// A system property payload of size bytes (37, or 32 read as if five zero bytes followed) into
// its 56-byte entry.
void DecodeSystemProperty(const uint8_t* payload, size_t size, uint8_t* entry);
// The 12-byte status payload (clock and one value) into its 32-byte entry.
void DecodeStatus(const uint8_t* payload, uint8_t* entry);

// Line speed in baud for the terminal's speed code; unknown codes mean 38400.
int LineSpeedFromCode(uint8_t code);

} // namespace qarn
