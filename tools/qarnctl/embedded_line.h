// The simulated line qarnctl opens when no port is given: three terminals with a day's worth
// of state, so that every command can be tried without hardware.
#pragma once

#include <memory>
#include <string>

namespace dmsim {
class Simulator;
}

namespace qarnctl {

class EmbeddedLine {
  public:
    EmbeddedLine();
    ~EmbeddedLine();

    bool Start();
    std::string PortName() const;
    static const char* Terminals() { return "0x0002, 0x0003 and 0x0004"; }

  private:
    std::unique_ptr<dmsim::Simulator> simulator_;
};

} // namespace qarnctl
