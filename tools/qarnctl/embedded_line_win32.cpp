#include "embedded_line.h"

namespace qarnctl {

const char kWithoutPortHelp[] =
    "This Windows build has no embedded simulated line (the simulator needs a Linux pty):\n"
    "give --port COMn.";

std::unique_ptr<EmbeddedLine> StartEmbeddedLine(std::ostream& err) {
    err << "qarnctl: no --port given, and the Windows build has no embedded simulated line: "
           "give the terminals' port, e.g. --port COM3\n";
    return nullptr;
}

} // namespace qarnctl
