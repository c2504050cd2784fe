// The hexadecimal texts of the line monitor.
#pragma once

#include "codec/bytes.h"

namespace qarn {

// Spaces are dropped; each pair of characters gives one byte, a character that is not a hex
// digit counting as -1; a last single character is ignored.
ByteArray HexTextToBytes(const char* text);

// The strict reading: spaces anywhere, every other character a hex digit, an even number of
// digits. False, with bytes left empty, for anything else; a null text is no bytes.
bool ParseHexText(const char* text, ByteArray& bytes);

// "%02x " per byte and a NUL after the last; nothing at all for no bytes.
void WriteHexDump(const ByteArray& bytes, char* text);

} // namespace qarn
