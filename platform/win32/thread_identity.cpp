#include "platform/thread_identity.h"

#include <atomic>

namespace qarn::platform {

namespace {

std::atomic<uint64_t> lastSerial{0};
thread_local uint64_t serial = 0;

} // namespace

uint64_t ThreadSerial() {
    if (serial == 0) serial = ++lastSerial;
    return serial;
}

bool IsThreadOfThisProcess(uint64_t) {
    return true; // Windows has no fork
}

} // namespace qarn::platform
