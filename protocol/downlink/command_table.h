// The command table: codes and names of the commands (the log looks names up here), and the
// codes that StartQARNCommand admits.
#pragma once

#include <cstdint>

namespace qarn {

struct CommandRow {
    uint8_t code;
    char name[22]; // begins with "\r\n", zero-padded
};

extern const CommandRow kCommandTable[50];

// The row's name, or null for a code without a row.
const char* CommandName(int code);

// The 48 codes always admitted, and 0xC0, 0xC7 and 0xCD while internal commands are on.
bool IsAdmittedCommand(int code, bool innerCommands);

} // namespace qarn
