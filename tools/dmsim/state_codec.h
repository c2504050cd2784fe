// A terminal's state and the fault knobs as bytes, so that a program driving the simulator from
// another process can read and change them.
#pragma once

#include "dmsim/bytes.h"
#include "dmsim/faults.h"
#include "dmsim/terminal.h"

namespace dmsim {

Bytes EncodeTerminal(Terminal terminal);
bool DecodeTerminal(const Bytes& bytes, Terminal& terminal); // false: malformed, unchanged

Bytes EncodeFaults(Faults faults);
bool DecodeFaults(const Bytes& bytes, Faults& faults);

} // namespace dmsim
