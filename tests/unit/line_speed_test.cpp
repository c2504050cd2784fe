#include <gtest/gtest.h>

#include "platform/posix/line_speed.h"

using qarn::platform::SpeedHolds;
using qarn::platform::StandardSpeed;

TEST(LineSpeed, TableSpeedsByCodeOthersByRateWithinTwoPercent) {
    EXPECT_EQ(StandardSpeed(9600), static_cast<speed_t>(B9600));
    EXPECT_EQ(StandardSpeed(921600), static_cast<speed_t>(B921600));
    for (uint32_t other : {14400u, 56000u, 128000u, 250000u, 9601u, 0u})
        EXPECT_EQ(StandardSpeed(other), static_cast<speed_t>(B0)) << other;
    EXPECT_TRUE(SpeedHolds(14400, 14400));
    EXPECT_TRUE(SpeedHolds(56000, 57120));  // 2% above
    EXPECT_FALSE(SpeedHolds(56000, 57600)); // the next standard speed is not it
    EXPECT_FALSE(SpeedHolds(921600, 9600)); // a driver's fallback to its old speed
    EXPECT_FALSE(SpeedHolds(4000000000u, 0));
}
