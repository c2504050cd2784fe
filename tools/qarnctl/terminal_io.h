// The few things qarnctl asks of the operating system directly.
#pragma once

#include <string>
#include <vector>

namespace qarnctl {

// The command line as UTF-8: as given on Linux; on Windows read again from the wide command
// line, since argv there is in the ANSI code page.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

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
