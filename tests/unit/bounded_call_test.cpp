#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/bounded_call.h"

using qarn::platform::CallWithin;

// A call that outlasts its limit leaves the caller at the limit and is cleaned up when it ends;
// one that ends in time gives its result.
TEST(BoundedCall, TheCallerWaitsNoLongerThanTheLimit) {
    auto discarded = std::make_shared<std::atomic<int>>(0);
    auto started = std::chrono::steady_clock::now();
    auto late = CallWithin<int>(
        [] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            return 7;
        },
        [discarded](int& value) { *discarded = value; }, 20);
    EXPECT_FALSE(late);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(250));
    for (int i = 0; i < 200 && *discarded == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(*discarded, 7);

    auto prompt = CallWithin<int>([] { return 5; }, [](int&) { FAIL(); }, 5000);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(*prompt, 5);
}
