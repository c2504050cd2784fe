// One line opened for the commands of a run: the notification window, the device object and
// its port, or an embedded simulated line when no port is given.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace qarnctl {

class EmbeddedLine;
class NotifyWindow;

struct LineOptions {
    std::string port; // PATH, COMn, tcp://HOST:PORT or rfc2217://HOST:PORT[:settings]; empty: the
                      // embedded line (Linux)
    int host = 1;
    int waitMilliseconds = 500;
    std::string key = "58213094";
    bool internalCommands = false;
    bool log = false;     // the communication log in the current directory
    bool announce = true; // tell the port and its settings on stderr
};

struct CommandReply {
    bool started = false; // false: the library refused the command and sent nothing
    int result = -1;
    std::vector<uint8_t> data;
    int recordForm = 0; // GetRecordForm: QARN_RECORDS_SHORT, QARN_RECORDS_LONG or 0
};

class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // False, with the reason on err, when the line cannot be opened.
    bool Open(const LineOptions& options, std::ostream& err);

    CommandReply Run(int terminal, int code, void* params = nullptr);

    int Device() const { return device_; }
    int Host() const { return host_; }
    // The port settings the line was connected with.
    const std::string& Settings() const { return settings_; }

    // Called for every notification of the device (WM_HDLC_STREAM, _FRAME, _SENT).
    std::function<void(int message)> onNotification;

  private:
    static void Notify(int message, void* user);

    std::unique_ptr<EmbeddedLine> embedded_;
    std::unique_ptr<NotifyWindow> window_;
    int device_ = 0;
    int host_ = 1;
    std::string settings_;
};

// The settings text for a --port value: the default line settings when it names only a path.
std::string PortSettings(const std::string& port);

} // namespace qarnctl
