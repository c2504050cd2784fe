// The names of the command and reply codes, as the line monitor shows them.
#pragma once

namespace qarnctl {

// The code's name, or nullptr for a code without one.
const char* CommandName(int code);

} // namespace qarnctl
