// Descriptors watched by the calling thread's message queue, so a device's readiness reaches
// its owner thread without a thread of its own.
#pragma once

#include <cstdint>

#include "platform/window.h"

namespace qarn::platform {

// While watched, each readiness the epoll events report (edge-triggered with EPOLLET) reaches
// the window as message, the events in lParam, after the messages and timers already due.
// False when the window is not the calling thread's or the descriptor cannot be watched.
bool WatchDescriptor(int descriptor, uint32_t events, WindowHandle window, unsigned message);
// Ends the watch and drops readiness not yet dispatched; call before closing the descriptor.
void UnwatchDescriptor(int descriptor);

} // namespace qarn::platform
