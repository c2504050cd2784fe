// A line of simulated terminals on a pty or a serial device. A background thread reads the
// downlink frames, lets the addressed terminals act on them and writes their replies.
#pragma once

#include "dmsim/faults.h"
#include "dmsim/terminal.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dmsim {

// The key table of the default build; SetKeyTable gives the simulator another site's.
extern const std::array<uint8_t, 24> kDefaultKeyTable;

// The key text of the library's default.
extern const char kDefaultKeyText[];

// Gap between the replies of several terminals to one broadcast.
constexpr int kBroadcastGapMilliseconds = 20;

class Simulator {
  public:
    Simulator();
    ~Simulator(); // stops and closes
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool OpenPty(); // a pty in raw mode
    bool OpenDevice(const std::string& path, int baud);
    std::string PortName() const; // the path the host opens, e.g. /dev/pts/7

    // False when a terminal already has the address, or it is the broadcast address.
    bool AddTerminal(uint16_t address);
    bool Start(); // false without an open line
    void Stop();
    void Close(); // stops and closes the line: the host's end of a pty hangs up
    // Back to a line without terminals, as new: stopped, default faults and key table, nothing
    // received, unread input discarded. The line stays open.
    void Reset();

    // Snapshot and update of one terminal's state under the simulator's lock. An update that
    // would give the terminal a taken address is not applied.
    bool GetTerminal(uint16_t address, Terminal& copy);
    bool UpdateTerminal(uint16_t address, const std::function<void(Terminal&)>& change);

    void SetFaults(const Faults& faults);
    Faults GetFaults(); // with the counts that remain
    void SetKeyTable(const std::array<uint8_t, 24>& table);
    // The communication key text a terminal takes frames with (default kDefaultKeyText, the
    // library's default): a frame whose key bytes are not this text masked with the key table
    // is ignored, as a terminal ignores it. False for an unknown terminal.
    bool SetCommKey(uint16_t address, const std::string& keyText);
    // On: each terminal's clock shows the host's local time until a command sets it. Off (the
    // default): the clocks stand still, so replies are predictable.
    void SetClockFollowsHost(bool on);

    std::vector<std::vector<uint8_t>> ReceivedFrames(); // every good downlink frame, in order,
                                                        // preamble through check byte
    std::vector<uint8_t> ReceivedBytes();               // every byte read from the line
    void ClearReceived();
    // Waits until at least `count` frames have been received since the last ClearReceived.
    bool WaitForFrames(size_t count, int timeoutMilliseconds);

    void SendRaw(const std::vector<uint8_t>& bytes); // written to the line as is
    // An uplink frame from terminal `from` to host `to`, with or without the 0F 0F preamble.
    void SendUplink(uint16_t from, uint16_t to, const std::vector<uint8_t>& data,
                    bool preamble = true);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace dmsim
