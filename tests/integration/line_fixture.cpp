#include "line_fixture.h"

#include <array>
#include <cstdio>

namespace scenario {

Bytes ExpectedKey(const char* keyText) {
    std::array<uint8_t, 24> table = dmsim::KeyTableFromHex(QARN_KEY_TABLE_TEXT);
    Bytes key;
    for (int i = 0; i < 8; ++i)
        key.push_back(static_cast<uint8_t>(table[i] ^ static_cast<uint8_t>(keyText[i])));
    return key;
}

Bytes DownlinkFrame(uint16_t destination, uint16_t source, const Bytes& key, uint8_t code,
                    const Bytes& payload) {
    size_t length = key.size() + 1 + payload.size();
    Bytes body = {static_cast<uint8_t>(destination >> 8), static_cast<uint8_t>(destination),
                  static_cast<uint8_t>(source >> 8),      static_cast<uint8_t>(source),
                  static_cast<uint8_t>(length >> 8),      static_cast<uint8_t>(length)};
    body.insert(body.end(), key.begin(), key.end());
    body.push_back(code);
    body.insert(body.end(), payload.begin(), payload.end());
    uint8_t check = 0;
    for (uint8_t b : body)
        check ^= b;
    body.insert(body.begin(), {0x0F, 0x0F, 0xAB, 0xAB});
    body.push_back(check);
    return body;
}

std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X ", b);
        text += pair;
    }
    return text;
}

std::string LineSettings(const Simulator& simulator, int baud) {
    return LineSettings(simulator.PortName(), baud);
}

void Line::SetUp() {}

void Line::TearDown() {
    if (device) CloseDevice(device);
    if (window) DestroyAppWindow(window);
    simulator.Stop();
}

void Line::Open(std::vector<uint16_t> terminals, int waitTime, int baud) {
    ASSERT_TRUE(testline::StartSimulatedLine(simulator, terminals));
    window = CreateAppWindow(&Line::Record, this);
    ASSERT_TRUE(window);
    device = OpenDevice(kHost, window);
    ASSERT_NE(device, 0);
    SetWaitTime(device, waitTime);
    ASSERT_EQ(ConnectPort(device, LineSettings(simulator, baud).c_str()), 1);
}

int Line::Run(int terminal, int code, void* params) {
    return StartQARNCommand(device, terminal, code, params, 0);
}

Line::Outcome Line::RunAndEnd(int terminal, int code, void* params) {
    Outcome outcome;
    outcome.handle = Run(terminal, code, params);
    if (!outcome.handle) return outcome;
    outcome.result = GetCmdResult(outcome.handle);
    outcome.data.resize(static_cast<size_t>(GetSizeOfData(outcome.handle)));
    EXPECT_EQ(GetData(outcome.handle, outcome.data.data(), static_cast<int>(outcome.data.size())),
              1);
    EXPECT_EQ(EndQARNCommand(outcome.handle), 0);
    return outcome;
}

void Line::Record(int message, int, int lParam, void* user) {
    auto* line = static_cast<Line*>(user);
    line->notifications.push_back(message);
    line->notificationDevices.push_back(lParam);
    if (line->onNotification) line->onNotification(message);
}

} // namespace scenario
