#include "platform/posix/termios2.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace qarn::platform {

bool SetOtherSpeed(int fd, uint32_t baud) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return false;
    // No input code: the input runs at the output's rate.
    line.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    line.c_cflag |= BOTHER;
    line.c_ispeed = baud;
    line.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &line) == 0;
}

bool ReadSpeed(int fd, uint32_t& baud) {
    termios2 line{};
    if (ioctl(fd, TCGETS2, &line) != 0) return false;
    baud = line.c_ospeed;
    return true;
}

} // namespace qarn::platform
