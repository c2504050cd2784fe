#include "session.h"

#include "embedded_line.h"
#include "notify_window.h"
#include "qarn.h"
#include "terminal_io.h"

namespace qarnctl {

namespace {

constexpr char kDefaultLineSettings[] = "baud=9600,parity=E,data=8,stop=1";

// The port's name in a settings text, for messages.
// Where the port's name ends: at the first ':', or for tcp://HOST:PORT and rfc2217://HOST:PORT
// at the ':' after the port (HOST may be a bracketed IPv6 address).
size_t NameEnd(const std::string& settings) {
    size_t scheme = settings.find("://");
    if (scheme == std::string::npos) return settings.find(':');
    size_t host = settings.find(']', scheme);
    size_t port = settings.find(':', host == std::string::npos ? scheme + 3 : host);
    return port == std::string::npos ? port : settings.find(':', port + 1);
}

std::string PortPath(const std::string& settings) {
    return settings.substr(0, NameEnd(settings));
}

// Who switches RTS around the frames on the open port, for the port line.
const char* RtsNote(int control) {
    if (control == QARN_RTS_BY_DRIVER) return " (RTS switched by the driver)";
    if (control == QARN_RTS_BY_LIBRARY) return " (RTS switched by the library)";
    if (control == QARN_RTS_BY_SERVER) return " (RTS switched by the serial device server)";
    return "";
}

} // namespace

std::string PortSettings(const std::string& port) {
    if (NameEnd(port) != std::string::npos) return port;
    return port + ":" + kDefaultLineSettings;
}

Session::Session() = default;

Session::~Session() {
    if (device_) {
        DisConnectPort(device_);
        CloseDevice(device_);
    }
}

bool Session::Open(const LineOptions& options, std::ostream& err) {
    host_ = options.host;
    std::string port = options.port;
    if (port.empty()) {
        embedded_ = StartEmbeddedLine(err);
        if (!embedded_) return false;
        port = embedded_->PortName();
        err << "qarnctl: no --port given: using an embedded simulated line with terminals "
            << EmbeddedLine::Terminals() << " on " << port << "\n";
    }
    settings_ = PortSettings(port);
    window_ = std::make_unique<NotifyWindow>();
    device_ = window_->Create(&Session::Notify, this) ? OpenDevice(host_, window_->Handle()) : 0;
    if (!device_) {
        err << "qarnctl: the library cannot open a device object\n";
        return false;
    }
    SetWaitTime(device_, options.waitMilliseconds);
    SetCommKey(device_, options.key.c_str());
    SetInnerCmd(device_, options.internalCommands ? 1 : 0);
    if (options.log) SetAddLog(device_, 1);
    ClearPortFailure();
    if (ConnectPort(device_, settings_.c_str()) != 1) {
        err << "qarnctl: cannot open " << PortPath(settings_) << ": " << PortFailure() << "\n";
        return false;
    }
    // The settings text in full, so that every key it holds (speed, framing, line driver)
    // shows as the library took it, and whether a driver took rs485=kernel.
    if (options.announce && !embedded_)
        err << "qarnctl: port " << settings_ << RtsNote(GetRtsControl(device_)) << "\n";
    return true;
}

CommandReply Session::Run(int terminal, int code, void* params) {
    CommandReply reply;
    int command = StartQARNCommand(device_, terminal, code, params, 0);
    if (!command) return reply;
    reply.started = true;
    reply.result = GetCmdResult(command);
    int size = GetSizeOfData(command);
    reply.data.resize(static_cast<size_t>(size > 0 ? size : 0));
    GetData(command, reply.data.data(), static_cast<int>(reply.data.size()));
    reply.recordForm = GetRecordForm(command);
    EndQARNCommand(command);
    return reply;
}

void Session::Notify(int message, void* user) {
    auto* session = static_cast<Session*>(user);
    if (session->onNotification) session->onNotification(message);
}

} // namespace qarnctl
