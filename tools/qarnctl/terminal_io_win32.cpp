#include "terminal_io.h"

#include <cstdio>
#include <io.h>
#include <windows.h>

namespace qarnctl {

bool StandardErrorIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

void ClearPortFailure() {
    SetLastError(ERROR_SUCCESS);
}

std::string PortFailure() {
    DWORD reason = GetLastError();
    // Windows opens a COM port for one program at a time and says "access denied" to the next.
    if (reason == ERROR_ACCESS_DENIED) return "the port is in use by another program, or denied";
    if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return "no such port";
    if (reason == ERROR_INVALID_PARAMETER)
        return "settings it cannot use (ConnectPort(3) gives each field's values)";
    if (reason == ERROR_SUCCESS) return "not a usable serial port";
    char text[256] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, reason, 0, text, sizeof text, nullptr);
    while (length > 0 &&
           (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == '.'))
        text[--length] = '\0';
    return length > 0 ? text : "error " + std::to_string(reason);
}

} // namespace qarnctl
