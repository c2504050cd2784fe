#include "platform/thread_identity.h"

#include <atomic>

#include <pthread.h>

namespace qarn::platform {

namespace {

std::atomic<uint64_t> lastSerial{0};
thread_local uint64_t serial = 0;
// Serials below it belong to the threads of the processes this one was forked from.
uint64_t firstSerialOfProcess = 1;

// The child's thread is a thread of another process: it draws a new serial, which is greater than
// any serial the child's copy of the parent's memory holds.
void ForkedChild() {
    serial = 0;
    firstSerialOfProcess = lastSerial + 1;
}

const int forkHandled = pthread_atfork(nullptr, nullptr, ForkedChild);

} // namespace

uint64_t ThreadSerial() {
    (void)forkHandled;
    if (serial == 0) serial = ++lastSerial;
    return serial;
}

bool IsThreadOfThisProcess(uint64_t threadSerial) {
    return threadSerial >= firstSerialOfProcess;
}

} // namespace qarn::platform
