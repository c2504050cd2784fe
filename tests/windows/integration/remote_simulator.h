// The simulated line as the scenarios see it on Windows: the simulator runs as a Linux process
// beside Wine, its line behind COM5 and its control line behind COM6. The same operations as
// the in-process simulator, each a request on the control line.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dmsim/faults.h"
#include "dmsim/terminal.h"

namespace wintest {

class RemoteSimulator {
  public:
    RemoteSimulator() = default;
    ~RemoteSimulator(); // stops the line
    RemoteSimulator(const RemoteSimulator&) = delete;
    RemoteSimulator& operator=(const RemoteSimulator&) = delete;

    bool OpenPty(); // the line, reset to no terminals
    std::string PortName() const { return "COM5"; }

    bool AddTerminal(uint16_t address);
    bool Start();
    void Stop();
    void Close(); // the line too: COM5's far end hangs up

    bool GetTerminal(uint16_t address, dmsim::Terminal& copy);
    // The change runs here on a copy of the terminal's state, which then replaces it.
    bool UpdateTerminal(uint16_t address, const std::function<void(dmsim::Terminal&)>& change);

    void SetFaults(const dmsim::Faults& faults);
    dmsim::Faults GetFaults();
    void SetKeyTable(const std::array<uint8_t, 24>& table);
    bool SetCommKey(uint16_t address, const std::string& keyText);

    std::vector<std::vector<uint8_t>> ReceivedFrames();
    std::vector<uint8_t> ReceivedBytes();
    void ClearReceived();
    bool WaitForFrames(size_t count, int timeoutMilliseconds);

    void SendRaw(const std::vector<uint8_t>& bytes);
    void SendUplink(uint16_t from, uint16_t to, const std::vector<uint8_t>& data,
                    bool preamble = true);

  private:
    // Sends one request and returns the words of its answer after "ok"; false for "no" or a
    // control line that failed.
    bool Call(const std::string& request, std::vector<std::string>* results = nullptr);

    bool opened_ = false;
};

} // namespace wintest
