// dmsim's run on each platform: from starting the simulator on its open line to the end.
#pragma once

#include "dmsim/simulator.h"

namespace dmsim {

// The usage text's lines about the line, which differ by platform.
extern const char kLineUsage[];
// Whether the platform has ptys: without, the line is a serial port named on the command line,
// and there is no control pty.
extern const bool kHavePty;

// Starts the simulator and prints "port NAME" (and, with a control pty, "control NAME") on
// stdout; then serves until SIGINT, SIGTERM (Ctrl-C or Ctrl-Break on Windows) or, when
// watchStdin, the end of stdin, answering the control lines of control.h on stdin and the
// requests of remote_control.h on the control pty. Returns the exit status.
int Serve(Simulator& simulator, bool watchStdin, bool controlPty);

} // namespace dmsim
