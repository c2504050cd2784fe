// A simulated line for the end-to-end scenarios: the simulator on a pty, the application's
// notification window, and one device object connected to the line.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dmsim/faults.h"
#include "dmsim/terminal.h"
#include "qarn.h"
#include "simulated_line.h"
#include "target.h"

// The reason for a failed ConnectPort, where the target's codes are known here.
#if defined(_WIN32)
#define EXPECT_PORT_ERROR(code, what)
#else
#define EXPECT_PORT_ERROR(code, what) EXPECT_EQ(errno, code) << what
#endif

namespace scenario {

using Bytes = std::vector<uint8_t>;

// The communication key the library derives from a key text with the default key table.
Bytes ExpectedKey(const char* keyText = "58213094");

// The wire frame the host must send: preamble, start bytes, addresses, length, body, check.
Bytes DownlinkFrame(uint16_t destination, uint16_t source, const Bytes& key, uint8_t code,
                    const Bytes& payload);

std::string Hex(const Bytes& bytes);

// The settings text that connects a device to the simulator's line.
std::string LineSettings(const Simulator& simulator, int baud = 9600);

class Line : public ::testing::Test {
  protected:
    static constexpr int kHost = 0x0001;

    void SetUp() override;
    void TearDown() override;

    // Opens the simulator with these terminals and a connected device object.
    void Open(std::vector<uint16_t> terminals = {0x0002}, int waitTime = 300, int baud = 9600);

    // Runs one command to its end; returns the command handle (0 when refused).
    int Run(int terminal, int code, void* params = nullptr);
    // Runs, reads result and data, ends the command.
    struct Outcome {
        int handle = 0;
        int result = -1;
        Bytes data;
    };
    Outcome RunAndEnd(int terminal, int code, void* params = nullptr);

    // The downlink frames the simulator has received.
    std::vector<Bytes> Frames() { return simulator.ReceivedFrames(); }

    static void Record(int message, int wParam, int lParam, void* user);

    Simulator simulator;
    QarnWindow window{};
    int device = 0;
    std::vector<int> notifications;
    std::vector<int> notificationDevices;
    // Run from a notification handler, when set.
    std::function<void(int message)> onNotification;
};

} // namespace scenario
