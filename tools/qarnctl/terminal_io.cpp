#include "terminal_io.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qarnctl {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

void ClearPortFailure() {
    errno = 0;
}

std::string PortFailure() {
    int reason = errno;
    if (reason == EBUSY) return "the port is in use by another program";
    if (reason == ENOTTY) return "not a serial port";
    if (reason == EINVAL)
        return "settings it cannot use (ConnectPort(3) gives each field's values)";
    return reason != 0 ? std::strerror(reason) : "not a usable serial port";
}

} // namespace qarnctl
