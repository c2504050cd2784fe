// The simulated line qarnctl opens when no port is given: three terminals with a day's worth
// of state, so that every command can be tried without hardware. It stands on a pty, so only
// the Linux build has it.
#pragma once

#include <memory>
#include <ostream>
#include <string>

namespace qarnctl {

class EmbeddedLine {
  public:
    virtual ~EmbeddedLine() = default;
    virtual std::string PortName() const = 0;
    static const char* Terminals() { return "0x0002, 0x0003 and 0x0004"; }
};

// The running line, or null with the reason on err.
std::unique_ptr<EmbeddedLine> StartEmbeddedLine(std::ostream& err);

// What qarnctl does without --port, for its help.
extern const char kWithoutPortHelp[];

} // namespace qarnctl
