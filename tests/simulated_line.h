// A simulated line for the tests: the simulator on a pty, its terminals sharing the key table
// the library was built with (QARN_KEY_TABLE_TEXT).
#pragma once

#include <cstdint>
#include <vector>

#include "dmsim/hex_text.h"

namespace testline {

// Opens the simulator's pty, adds the terminals and starts it; false when a step fails. The
// simulator is the one in this process or, for the Windows scenarios, the one they drive.
template <class Simulator>
bool StartSimulatedLine(Simulator& simulator, const std::vector<uint16_t>& terminals) {
    if (!simulator.OpenPty()) return false;
    simulator.SetKeyTable(dmsim::KeyTableFromHex(QARN_KEY_TABLE_TEXT));
    for (uint16_t address : terminals)
        if (!simulator.AddTerminal(address)) return false;
    return simulator.Start();
}

} // namespace testline
