#include "platform/clock.h"

#include <mutex>
#include <time.h>

namespace qarn::platform {

namespace {

std::mutex fixedTimeLock;
bool timeIsFixed = false;
LocalTime fixedTime;

} // namespace

uint32_t TickCount() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds = static_cast<uint64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
    return static_cast<uint32_t>(milliseconds);
}

uint64_t MonotonicMicroseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
}

LocalTime GetLocalTime() {
    {
        std::lock_guard<std::mutex> hold(fixedTimeLock);
        if (timeIsFixed) return fixedTime;
    }
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts;
    localtime_r(&now.tv_sec, &parts);
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1,
                     parts.tm_wday,        parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,
                     parts.tm_sec,         static_cast<int>(now.tv_nsec / 1000000)};
}

void SetLocalTimeForTesting(const LocalTime* fixed) {
    std::lock_guard<std::mutex> hold(fixedTimeLock);
    timeIsFixed = fixed != nullptr;
    if (fixed) fixedTime = *fixed;
}

void SleepMilliseconds(unsigned milliseconds) {
    timespec pause{static_cast<time_t>(milliseconds / 1000),
                   static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&pause, &pause) != 0) {
    }
}

} // namespace qarn::platform
