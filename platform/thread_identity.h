// Which thread is calling, as a number no other thread of the process ever has.
#pragma once

#include <cstdint>

namespace qarn::platform {

// The calling thread's serial number: never 0 and never reused, not even after the thread has
// ended, unlike a thread id or the address of a thread-local object. In a forked child the one
// thread takes a new serial, so nothing the parent's threads own is the child's.
uint64_t ThreadSerial();

// Whether a serial is that of a thread of this process, not of the parent a forked child was
// copied from.
bool IsThreadOfThisProcess(uint64_t serial);

} // namespace qarn::platform
