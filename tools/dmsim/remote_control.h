// The simulator driven from another process (a program under Wine, say) over a second pty given
// by --control-pty: one request per text line, answered by one line,
// "ok" followed by any results, or "no". Bytes travel as hexadecimal text (hex_text.h), terminal
// states and faults in the layout of state_codec.h.
//
//   reset                          the line as new (Simulator::Reset)
//   key-table HEX                  24 bytes
//   key ADDRESS HEX                the terminal's key text (Simulator::SetCommKey), as bytes
//   add-terminal ADDRESS
//   start | stop | close           close: the line too (Simulator::Close)
//   set-faults HEX | faults        faults -> ok HEX (with the counts that remain)
//   terminal ADDRESS               -> ok HEX
//   replace-terminal ADDRESS HEX   the whole state, refused when its address is taken
//   frames                         -> ok HEX HEX ... (every good downlink frame, in order)
//   bytes                          -> ok HEX
//   clear
//   wait-frames COUNT MILLISECONDS
//   send-raw HEX
//   send-uplink FROM TO PREAMBLE(0/1) HEX
#pragma once

#include "dmsim/simulator.h"

#include <string>

namespace dmsim {

class RemoteControl {
  public:
    explicit RemoteControl(Simulator& simulator) : simulator_(simulator) {}
    std::string Handle(const std::string& request);

  private:
    Simulator& simulator_;
};

} // namespace dmsim
