// Which way a line speed is set on termios: the standard table's code, or the rate itself.
#pragma once

#include <cstdint>
#include <termios.h>

namespace qarn::platform {

// The code of a rate in the standard table; B0 for a rate the table lacks, which is set
// through termios2 (SetOtherSpeed).
speed_t StandardSpeed(uint32_t baud);

// The speed a driver reports running holds the one asked when it lies within 2% of it, as far
// as a UART's receiver tolerates; drivers that round a rate to their clock report it so.
bool SpeedHolds(uint32_t asked, uint32_t reported);

} // namespace qarn::platform
