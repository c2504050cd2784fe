#include "platform/posix/line_speed.h"

namespace qarn::platform {

namespace {

struct SpeedRow {
    uint32_t baud;
    speed_t speed;
};

const SpeedRow kSpeedTable[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

constexpr uint64_t kToleranceDivisor = 50; // 2%

} // namespace

speed_t StandardSpeed(uint32_t baud) {
    for (const SpeedRow& row : kSpeedTable)
        if (row.baud == baud) return row.speed;
    return B0;
}

bool SpeedHolds(uint32_t asked, uint32_t reported) {
    uint64_t difference = asked > reported ? asked - reported : reported - asked;
    return difference * kToleranceDivisor <= asked;
}

} // namespace qarn::platform
