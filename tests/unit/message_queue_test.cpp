// The per-thread message queue: timers, posts from other threads, quit, destruction from
// inside a handler, and watched descriptors.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <poll.h>
#include <thread>
#include <vector>

#include "platform/posix/descriptor_watch.h"
#include "platform/window.h"

#include <sys/epoll.h>
#include <unistd.h>

namespace qarn::platform {
namespace {

constexpr unsigned kPing = 0x0400;

class Recorder : public Window {
  public:
    std::vector<unsigned> messages;
    int ticks = 0;
    bool destroyOnPing = false;
    bool* finalFlag = nullptr;

  protected:
    MessageParam OnMessage(unsigned message, MessageParam, MessageParam) override {
        messages.push_back(message);
        if (message == kMessageTimer) ++ticks;
        if (message == kPing && destroyOnPing) Destroy();
        return 1;
    }
    void OnFinalDestroy() override {
        if (finalFlag) *finalFlag = true;
    }
};

bool Readable(int descriptor, int timeoutMilliseconds) {
    pollfd watched = {descriptor, POLLIN, 0};
    return poll(&watched, 1, timeoutMilliseconds) == 1;
}

TEST(MessageQueue, TimerAlreadyDueWhenArmedStillWakesTheWait) {
    // A timer can fall due between the search for due work and arming the wait; that
    // expiration must wake the wait instead of being lost.
    Recorder window;
    ASSERT_TRUE(window.CreateChild(0));
    ASSERT_TRUE(window.SetTimer(1, 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int round = 0; round < 10; ++round) {
        EXPECT_TRUE(Readable(MessageDescriptor(), 1000)) << "round " << round;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    window.KillTimer(1);
    window.Destroy();
}

TEST(MessageQueue, WaitEndsOnTimersAndOnPostsFromOtherThreads) {
    Recorder window;
    ASSERT_TRUE(window.CreateChild(0));
    ASSERT_TRUE(window.SetTimer(7, 5));
    EXPECT_TRUE(PumpUntil([&] { return window.ticks >= 20; }));
    window.KillTimer(7);

    WindowHandle handle = window.Handle();
    std::thread poster([handle] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostToWindow(handle, kPing, 0, 0);
    });
    EXPECT_TRUE(
        PumpUntil([&] { return !window.messages.empty() && window.messages.back() == kPing; }));
    poster.join();
    window.Destroy();
}

TEST(MessageQueue, QuitEndsTheWaitAndIsConsumed) {
    Recorder window;
    ASSERT_TRUE(window.CreateChild(0));
    PostQuit(0);
    EXPECT_FALSE(PumpUntil([] { return false; }));
    PostToWindow(window.Handle(), kPing, 0, 0);
    EXPECT_TRUE(PumpUntil([&] { return !window.messages.empty(); }));
    EXPECT_EQ(window.messages, std::vector<unsigned>{kPing});
    window.Destroy();
}

TEST(MessageQueue, WindowDestroyedInItsOwnHandlerIsFinishedAfterTheHandler) {
    bool finished = false;
    auto* child = new Recorder;
    Recorder parent;
    ASSERT_TRUE(parent.CreateChild(0));
    ASSERT_TRUE(child->CreateChild(parent.Handle()));
    child->destroyOnPing = true;
    child->finalFlag = &finished;
    WindowHandle childHandle = child->Handle();
    EXPECT_EQ(SendToWindow(childHandle, kPing, 0, 0), 1);
    EXPECT_FALSE(IsWindow(childHandle));
    EXPECT_TRUE(finished);
    EXPECT_EQ(SendToWindow(childHandle, kPing, 0, 0), 0);
    delete child;

    // Destroying a parent takes its children with it.
    Recorder second;
    ASSERT_TRUE(second.CreateChild(parent.Handle()));
    parent.Destroy();
    EXPECT_FALSE(second.Alive());
}

TEST(MessageQueue, WatchedDescriptorReadinessFollowsPostsAndEndsWithTheWatch) {
    constexpr unsigned kReady = 0x0401;
    Recorder window;
    ASSERT_TRUE(window.CreateChild(0));
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_TRUE(WatchDescriptor(ends[0], EPOLLIN | EPOLLET, window.Handle(), kReady));
    EXPECT_FALSE(WatchDescriptor(ends[0], EPOLLIN, 0x7FFFFFFF, kReady)); // no window

    ASSERT_EQ(write(ends[1], "a", 1), 1);
    PostToWindow(window.Handle(), kPing, 0, 0);
    EXPECT_TRUE(Readable(MessageDescriptor(), 1000));
    while (PumpMessages(0) > 0) {
    }
    EXPECT_EQ(window.messages, (std::vector<unsigned>{kPing, kReady}));
    // Edge-triggered: the unread byte is not reported again, a new one is.
    EXPECT_EQ(PumpMessages(20), 0);
    ASSERT_EQ(write(ends[1], "b", 1), 1);
    EXPECT_EQ(PumpMessages(1000), 1);
    EXPECT_EQ(window.messages.back(), kReady);

    UnwatchDescriptor(ends[0]);
    ASSERT_EQ(write(ends[1], "c", 1), 1);
    EXPECT_EQ(PumpMessages(20), 0);
    // A window's watches end with it.
    ASSERT_TRUE(WatchDescriptor(ends[0], EPOLLIN | EPOLLET, window.Handle(), kReady));
    window.Destroy();
    ASSERT_EQ(write(ends[1], "d", 1), 1);
    EXPECT_EQ(PumpMessages(20), 0);
    close(ends[0]);
    close(ends[1]);
}

} // namespace
} // namespace qarn::platform
