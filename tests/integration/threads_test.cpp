// Several devices on several threads, one owner each; a call from any other thread fails
// without touching the device or its command.
#include <array>
#include <future>
#include <thread>

#include "line_fixture.h"

using namespace scenario;

namespace {

constexpr int kLines = 4;
constexpr int kCommands = 500;

// What an owner thread lends the test's thread to try from outside, while it waits.
struct Lent {
    int window = 0;
    int device = 0;
    int command = 0;
};

// Runs one line on the calling thread: every search must find the line's own terminal. Returns
// how many of the commands gave exactly that.
int RunLine(uint16_t terminal, std::promise<Lent>& lend, std::shared_future<void> tried) {
    dmsim::Simulator simulator;
    int window = 0;
    int device = 0;
    if (testline::StartSimulatedLine(simulator, {terminal}))
        window = CreateNotifyWindow([](int, int, int, void*) {}, nullptr);
    if (window) device = OpenDevice(0x0001, window);
    if (device) SetWaitTime(device, 500);
    if (!device || ConnectPort(device, LineSettings(simulator, 115200).c_str()) != 1) {
        lend.set_value(Lent());
        if (window) DestroyNotifyWindow(window);
        return 0;
    }
    int right = 0;
    for (int i = 0; i < kCommands; ++i) {
        int command = StartQARNCommand(device, terminal, 0x03, nullptr, 0);
        if (i == 0) {
            lend.set_value({window, device, command});
            tried.wait();
        }
        int32_t found = 0;
        if (command && GetCmdResult(command) == 13 && GetSizeOfData(command) == 4 &&
            GetData(command, &found, 4) == 1 && found == terminal)
            ++right;
        if (command) EndQARNCommand(command);
    }
    CloseDevice(device);
    DestroyNotifyWindow(window);
    return right;
}

} // namespace

TEST(Threads, FourLinesOnFourThreadsAndCallsFromOutside) {
    std::array<std::promise<Lent>, kLines> lent;
    std::promise<void> tried;
    std::shared_future<void> triedAll = tried.get_future().share();
    std::array<std::future<int>, kLines> right;
    for (int i = 0; i < kLines; ++i)
        right[i] = std::async(std::launch::async, RunLine, static_cast<uint16_t>(0x0002 + i),
                              std::ref(lent[i]), triedAll);

    char text[64] = {};
    int32_t buffer = 0;
    for (std::promise<Lent>& promise : lent) {
        Lent from = promise.get_future().get();
        EXPECT_NE(from.command, 0);
        EXPECT_EQ(GetCmdResult(from.command), 0);
        EXPECT_EQ(GetSizeOfData(from.command), 0);
        EXPECT_EQ(GetData(from.command, &buffer, 4), 0);
        EXPECT_EQ(EndQARNCommand(from.command), 0);
        EXPECT_EQ(IsConnect(from.device), 0);
        EXPECT_EQ(GetRtsControl(from.device), 0);
        EXPECT_EQ(DisConnectPort(from.device), 0);
        EXPECT_EQ(ConnectPort(from.device, ""), 0);
        // Had these reached the device, its next commands would go wrong.
        EXPECT_EQ(SetMyAddress(from.device, 0x0009), 0);
        EXPECT_EQ(SetWaitTime(from.device, 1), 0);
        EXPECT_EQ(SetInnerCode(from.device, 1), 0);
        EXPECT_EQ(SetInnerCmd(from.device, 1), 0);
        EXPECT_EQ(SetAddLog(from.device, 0), 0);
        SetCommKey(from.device, "00000000");
        SendFrame(from.device, "AAAA0001");
        ClearRecvStr(from.device);
        EXPECT_EQ(StartQARNCommand(from.device, 0x0002, 0x03, nullptr, 0), 0);
        EXPECT_EQ(RecvStream(from.device, text), 0);
        EXPECT_EQ(RecvHDLC(from.device, text), 0);
        EXPECT_EQ(CloseDevice(from.device), 0);
        // A notification window serves the devices of its own thread only.
        EXPECT_EQ(OpenDevice(0x0001, from.window), 0);
    }
    tried.set_value();
    for (int i = 0; i < kLines; ++i)
        EXPECT_EQ(right[i].get(), kCommands) << "line " << i;
}
