// Codings of the record code, card password and card name fields of the card layouts.
#pragma once

#include <cstdint>

#include "codec/bytes.h"

namespace qarn {

// Packs 7 record-code characters into 4 bytes: spaces are dropped and the rest padded with
// spaces; the first two characters keep their 6-bit code, the last five its low 4 bits.
void AppendRecordCode(ByteArray& payload, const uint8_t* code);

// The 16-bit value of 4 password characters taken as decimal digits (hex letters count 10 to
// 15 at their decimal weight, other characters -1), XOR-ed with mask, high byte first.
void AppendCardPassword(ByteArray& payload, const uint8_t* text, uint16_t mask);

// The 8 name bytes, converted pair by pair from Big5 to GB when innerCode is set; spaces are
// sent as 0x00.
void AppendCardName(ByteArray& payload, const uint8_t* name, int innerCode);

} // namespace qarn
