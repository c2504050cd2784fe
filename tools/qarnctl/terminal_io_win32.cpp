#include "terminal_io.h"

#include <windows.h>

#include <cstdio>
#include <io.h>
#include <shellapi.h>

namespace qarnctl {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr || count != argc) {
        if (wide != nullptr) LocalFree(wide);
        return std::vector<std::string>(argv, argv + argc);
    }
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        int size = WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, nullptr, 0, nullptr, nullptr);
        std::string argument(size > 0 ? static_cast<size_t>(size) : 1, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide[i], -1, argument.data(), size, nullptr, nullptr);
        argument.resize(argument.size() - 1); // the terminator
        arguments.push_back(argument);
    }
    LocalFree(wide);
    return arguments;
}

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
