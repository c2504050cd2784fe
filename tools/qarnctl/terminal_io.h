// The few things qarnctl asks of the operating system directly.
#pragma once

#include <string>

namespace qarnctl {

bool StandardErrorIsTerminal();
// Clears the reason a failed ConnectPort leaves (errno, or the last error on Windows), and then
// says it in words.
void ClearPortFailure();
std::string PortFailure();
// From now on SIGINT and SIGTERM set the flag InterruptRequested reads, instead of ending the
// process, so that a live view can close the line properly.
void CatchInterrupts();
bool InterruptRequested();

} // namespace qarnctl
