// A serial device server in front of the simulated line, on 127.0.0.1: ser2net, with a raw TCP
// port and an RFC 2217 (Telnet) port bridged to the simulator's line. On Linux the scenarios
// start and stop it themselves; on Windows ./run starts it beside the Linux simulator and tells
// its ports through the environment.
#pragma once

#include <string>

namespace scenario {

class DeviceServer {
  public:
    DeviceServer() = default;
    ~DeviceServer(); // stops it
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    // Starts serving the line (the simulator's port name) at this speed; false, with why, when
    // the server is not available here.
    bool Start(const std::string& line, int baud, std::string& why);
    // "tcp://127.0.0.1:PORT:values" or "rfc2217://127.0.0.1:PORT:values".
    std::string Raw(const std::string& values) const;
    std::string Rfc2217(const std::string& values) const;

    // Waits until the server has let go of the line (it keeps it open for a while after a client
    // leaves); false when it still holds it after the time given.
    bool WaitForLineFree(int timeoutMilliseconds);
    // Ends the server at once, as a crash or a power cut would; Restart brings it back on the
    // same ports. False where the scenarios cannot control it.
    bool Kill();
    bool Restart();

  private:
    bool Launch();

    std::string line_;
    std::string config_;
    int rawPort_ = 0;
    int telnetPort_ = 0;
    int pid_ = 0;
};

// A TCP port on 127.0.0.1 with nothing listening on it, and one whose listener accepts
// connections (the system completes them) and never answers; 0 when none could be had.
int UnusedPort();
class SilentListener {
  public:
    SilentListener();
    ~SilentListener();
    int Port() const { return port_; }

  private:
    int socket_ = -1;
    int port_ = 0;
};

} // namespace scenario
