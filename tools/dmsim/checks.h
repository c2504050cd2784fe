// Payload checks shared by the command handlers.
#pragma once

#include "dmsim/commands.h"

namespace dmsim {

// A payload of another length than the command's is refused with the reject status.
inline bool HasLength(const Terminal& terminal, uint8_t code, size_t size, size_t wanted,
                      Reply& reply) {
    if (size == wanted) return true;
    Acknowledge(reply, code, terminal.rejectStatus);
    return false;
}

} // namespace dmsim
