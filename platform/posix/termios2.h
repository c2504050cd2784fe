// Line speeds outside the standard table, through the kernel's termios2 (BOTHER). Kept apart
// because its header cannot stand beside <termios.h>.
#pragma once

#include <cstdint>

namespace qarn::platform {

// Sets both directions to this rate, leaving the rest of the line as it is.
bool SetOtherSpeed(int fd, uint32_t baud);

// The rate the driver runs the line's output at, whichever way it was set.
bool ReadSpeed(int fd, uint32_t& baud);

} // namespace qarn::platform
