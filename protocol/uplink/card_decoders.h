// Card and money decoders: the data a terminal reads from an IC card, in four card layouts, the
// money replies and the card identifier, as data-buffer entries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn {

struct CardContext {
    int innerCode;           // non-zero: card names are converted from GB2312 to Big5
    const uint8_t* keyTable; // the 24-byte built-in key table; bytes 0-1 mask layout 1's password
};

constexpr size_t kCardLayout1Size = 29;
constexpr size_t kCardLayout1EntrySize = 48;
constexpr size_t kCardLayout2Size = 42;
constexpr size_t kCardLayout2EntrySize = 52;
constexpr size_t kCardLayout3Size = 24;
constexpr size_t kCardLayout3EntrySize = 48;
constexpr size_t kCardLayout254Size = 28;
constexpr size_t kCardLayout254EntrySize = 12;
constexpr size_t kMoneySize = 11;
constexpr size_t kMoneyEntrySize = 28;
constexpr size_t kCardIdSize = 5;
constexpr size_t kCardIdEntrySize = 8;

constexpr int kMoneySubCode = 2;

// Each takes the reply payload of its layout's size and fills the layout's entry. They return
// false, writing nothing, when the payload does not start with their sub-code.
bool DecodeCardLayout1(const CardContext& context, const uint8_t* payload, uint8_t* entry);
bool DecodeCardLayout2(const CardContext& context, const uint8_t* payload, uint8_t* entry);
bool DecodeCardLayout3(const CardContext& context, const uint8_t* payload, uint8_t* entry);
bool DecodeCardLayout254(const CardContext& context, const uint8_t* payload, uint8_t* entry);
bool DecodeMoney(const uint8_t* payload, uint8_t* entry);

// The card identifier has no sub-code to test.
void DecodeCardId(const uint8_t* payload, uint8_t* entry);

// Four characters '0' + thousands, hundreds, tens, units of value; 10000 and above make the
// first character run past '9'.
void PutPasswordDigits(uint32_t value, uint8_t* at);

} // namespace qarn
