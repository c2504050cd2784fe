// How long characters take on a serial line: the floor under every transmit-empty report.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/serial.h"

namespace qarn::platform {

// Microseconds that this many characters take on the wire at the line's speed, rounded up:
// each has a start bit, its data bits, a parity bit unless parity is none, and its stop bits.
// 0 for a baud rate of 0.
uint64_t WireMicroseconds(size_t characters, const LineSettings& line);

} // namespace qarn::platform
