// Clock, time-slot and card-time-window payloads.
#include "platform/clock.h"
#include "protocol/downlink/payload_encoders.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

namespace {

constexpr int kTimeSlots = 20;
constexpr int kCardTimeWindows = 8;

// Century, year within the century, month, day, hour, minute, second, day of the week.
void AppendClock(ByteArray& payload, int32_t year, const int32_t (&rest)[6]) {
    payload.push_back(LowByte(year / 100));
    payload.push_back(LowByte(year % 100));
    for (int32_t field : rest)
        payload.push_back(LowByte(field));
}

// hour x 60 + minute in wrapping 32-bit arithmetic, so that absurd hours cannot overflow.
int32_t MinutesOfDay(int32_t hour, int32_t minute) {
    return static_cast<int32_t>(static_cast<uint32_t>(hour) * 60u + static_cast<uint32_t>(minute));
}

} // namespace

bool EncodeHostClock(const PayloadContext&, const uint8_t*, ByteArray& payload) {
    platform::LocalTime now = platform::GetLocalTime();
    // The terminal counts the days of the week from 1 for Sunday.
    AppendClock(payload, now.year,
                {now.month, now.day, now.hour, now.minute, now.second, now.dayOfWeek + 1});
    return true;
}

bool EncodeGivenClock(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    int32_t rest[6];
    for (int i = 0; i < 6; ++i)
        rest[i] = GetHostInt32(params, 4 + 4 * i);
    AppendClock(payload, GetHostInt32(params, 0), rest);
    return true;
}

bool EncodeTimeSlots(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    for (int slot = 0; slot < kTimeSlots; ++slot) {
        const size_t at = 12 * slot;
        AppendQuotientAndRemainder(
            payload, MinutesOfDay(GetHostInt32(params, at), GetHostInt32(params, at + 4)));
        payload.push_back(LowByte(GetHostInt32(params, at + 8)));
    }
    return true;
}

bool EncodeCardTimes(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    for (int window = 0; window < kCardTimeWindows; ++window) {
        const size_t at = 4 + 16 * window;
        AppendQuotientAndRemainder(
            payload, MinutesOfDay(GetHostInt32(params, at), GetHostInt32(params, at + 4)));
        AppendQuotientAndRemainder(
            payload, MinutesOfDay(GetHostInt32(params, at + 8), GetHostInt32(params, at + 12)));
    }
    return true;
}

} // namespace qarn
