// A device lives no longer than the thread that opened it and belongs to its process alone: a
// thread that ends takes its devices with it, a forked child reaches nothing of its parent's, and
// a thread without a free descriptor gets no window until one is free again.
// Linux only: the scenarios count descriptors, limit them and fork.
#if !defined(_WIN32)

#include <chrono>
#include <thread>

#include <dirent.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "line_fixture.h"

using namespace scenario;

namespace {

void Ignore(int, int, int, void*) {}

int OpenDescriptors() {
    int count = 0;
    if (DIR* listing = opendir("/proc/self/fd")) {
        while (readdir(listing))
            ++count;
        closedir(listing);
    }
    return count;
}

} // namespace

TEST(Lifetimes, AThreadThatEndsClosesItsDevicesAndNoLaterThreadGetsThem) {
    Simulator simulator;
    ASSERT_TRUE(testline::StartSimulatedLine(simulator, {0x0002}));
    std::string settings = LineSettings(simulator);
    int descriptors = OpenDescriptors();
    int leftOpen = 0;
    std::thread([&] {
        QarnWindow window = CreateAppWindow(Ignore, nullptr);
        int device = window ? OpenDevice(0x0001, window) : 0;
        if (device && ConnectPort(device, settings.c_str()) == 1) leftOpen = device;
    }).join();
    ASSERT_NE(leftOpen, 0);
    EXPECT_EQ(OpenDescriptors(), descriptors) << "the port or the thread's queue stayed open";
    // A later thread, which may well get the ended one's stack and thread-local storage.
    int found = -1;
    int closed = -1;
    std::thread([&] {
        found = IsConnect(leftOpen);
        closed = CloseDevice(leftOpen);
    }).join();
    EXPECT_EQ(found, 0);
    EXPECT_EQ(closed, 0);

    // The port is free again, and the line answers the device that has it now.
    QarnWindow window = CreateAppWindow(Ignore, nullptr);
    int device = OpenDevice(0x0001, window);
    ASSERT_NE(device, 0);
    SetWaitTime(device, 300);
    EXPECT_EQ(ConnectPort(device, settings.c_str()), 1);
    int command = StartQARNCommand(device, 0x0002, 0x03, nullptr, 0);
    EXPECT_EQ(GetCmdResult(command), 13);
    EndQARNCommand(command);
    EXPECT_EQ(CloseDevice(leftOpen), 0);
    CloseDevice(device);
    DestroyAppWindow(window);
    simulator.Stop();
}

TEST_F(Line, AForkedChildReachesNothingOfItsParent) {
    Open();
    int parentQueue = GetMessageFd();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The exit status is the number of the first check that failed.
        int checks = 0;
        int wrong = 0;
        auto check = [&](bool right) {
            ++checks;
            if (!right && !wrong) wrong = checks;
        };
        check(DisConnectPort(device) == 0);
        check(IsConnect(device) == 0);
        check(SetWaitTime(device, 1) == 0);
        check(StartQARNCommand(device, 0x0002, 0x03, nullptr, 0) == 0);
        check(OpenDevice(kHost, window) == 0);
        check(CloseDevice(device) == 0);
        check(DestroyNotifyWindow(window) == 0);
        check(PostQuitToOwner(device) == 0); // the parent's queue would take it
        // The child's own window has a queue of its own, not the parent's.
        check(CreateNotifyWindow(Ignore, nullptr) != 0);
        check(GetMessageFd() != parentQueue);
        PostQuitMessage(0);
        check(PumpMessages(0) == -1);
        _exit(wrong);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's first wrong result";
    EXPECT_EQ(IsConnect(device), 1);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(RunAndEnd(0x0002, 0x03).result, 13) << "command " << i;
}

TEST(Lifetimes, NoDescriptorNoWindowAndALaterCallTriesAgain) {
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizers' own checks open descriptors and misreport when none is free.
    GTEST_SKIP() << "runs in the plain and thread-sanitizer builds";
#endif
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    int window = -1;
    int descriptor = 0;
    int dispatched = -2;
    double waited = 0;
    int windowLater = 0;
    int descriptorLater = -1;
    // A thread of its own, which has no message queue yet.
    std::thread([&] {
        rlimit lowered = limit;
        lowered.rlim_cur = static_cast<rlim_t>(OpenDescriptors() + 16);
        setrlimit(RLIMIT_NOFILE, &lowered);
        std::vector<int> filled;
        for (int copy; (copy = dup(0)) >= 0;)
            filled.push_back(copy);
        // Two free: too few for a queue (three), enough for the sanitizers' own pipe.
        for (int i = 0; i < 2 && !filled.empty(); ++i) {
            close(filled.back());
            filled.pop_back();
        }
        window = CreateNotifyWindow(Ignore, nullptr);
        descriptor = GetMessageFd();
        auto start = std::chrono::steady_clock::now();
        dispatched = PumpMessages(100);
        waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        for (int copy : filled)
            close(copy);
        setrlimit(RLIMIT_NOFILE, &limit);
        windowLater = CreateNotifyWindow(Ignore, nullptr);
        descriptorLater = GetMessageFd();
        DestroyNotifyWindow(windowLater);
    }).join();
    EXPECT_EQ(window, 0);
    EXPECT_EQ(descriptor, -1);
    EXPECT_EQ(dispatched, 0);
    EXPECT_GE(waited, 0.05) << "the pump returned at once";
    EXPECT_NE(windowLater, 0);
    EXPECT_GE(descriptorLater, 0);
}

#endif
