#include "platform/clock.h"

#include <windows.h>

namespace qarn::platform {

namespace {

// The fixed test time is read and written from any thread.
struct FixedTime {
    SRWLOCK lock = SRWLOCK_INIT;
    bool isFixed = false;
    LocalTime time{};
};

FixedTime fixedTime;

} // namespace

uint32_t TickCount() {
    return GetTickCount();
}

uint64_t MonotonicMicroseconds() {
    static const uint64_t frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<uint64_t>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    uint64_t counts = static_cast<uint64_t>(now.QuadPart);
    // Split so that the product cannot overflow for any counter frequency.
    return counts / frequency * 1000000 + counts % frequency * 1000000 / frequency;
}

LocalTime GetLocalTime() {
    AcquireSRWLockShared(&fixedTime.lock);
    bool isFixed = fixedTime.isFixed;
    LocalTime fixed = fixedTime.time;
    ReleaseSRWLockShared(&fixedTime.lock);
    if (isFixed) return fixed;
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return LocalTime{now.wYear, now.wMonth,  now.wDayOfWeek, now.wDay,
                     now.wHour, now.wMinute, now.wSecond,    now.wMilliseconds};
}

void SetLocalTimeForTesting(const LocalTime* fixed) {
    AcquireSRWLockExclusive(&fixedTime.lock);
    fixedTime.isFixed = fixed != nullptr;
    if (fixed) fixedTime.time = *fixed;
    ReleaseSRWLockExclusive(&fixedTime.lock);
}

void SleepMilliseconds(unsigned milliseconds) {
    Sleep(milliseconds);
}

} // namespace qarn::platform
