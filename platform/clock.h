// Time for time-outs, pauses, clock commands and log stamps.
#pragma once

#include <cstdint>

namespace qarn::platform {

struct LocalTime {
    int year;      // four digits
    int month;     // 1 to 12
    int dayOfWeek; // 0 = Sunday to 6 = Saturday
    int day;       // 1 to 31
    int hour;      // 0 to 23
    int minute;
    int second;
    int milliseconds;
};

// Milliseconds since an arbitrary start, wrapping at 2^32; compare with unsigned subtraction.
uint32_t TickCount();

// Microseconds since an arbitrary start, on a clock that neither wraps nor jumps; the
// deadline timers of window objects run on it.
uint64_t MonotonicMicroseconds();

// The host's local time, or the time fixed by SetLocalTimeForTesting.
LocalTime GetLocalTime();

// Tests fix the local clock here (null restores the real clock).
void SetLocalTimeForTesting(const LocalTime* fixed);

// Blocks the calling thread; no messages are handled meanwhile.
void SleepMilliseconds(unsigned milliseconds);

} // namespace qarn::platform
