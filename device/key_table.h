// The built-in key table, a build-time constant (CMake cache variable QARN_KEY_TABLE).
// Bytes 0-7 mask the communication, user and system keys; bytes 0-1 mask the card password of
// card layout 1; bytes 8-15 are the DES key for card and system keys; bytes 16-23 are unused.
#pragma once

#include <cstdint>

namespace qarn {

extern const uint8_t kBuiltInKeyTable[24];

} // namespace qarn
