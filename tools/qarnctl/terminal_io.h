// The few things qarnctl asks of the operating system directly.
#pragma once

namespace qarnctl {

bool StandardErrorIsTerminal();
// From now on SIGINT and SIGTERM set the flag InterruptRequested reads, instead of ending the
// process, so that a live view can close the line properly.
void CatchInterrupts();
bool InterruptRequested();

} // namespace qarnctl
