#include "transport/comm.h"

#include "platform/clock.h"

#include <cstdlib>
#include <cstring>

namespace qarn {

namespace {

const char kDefaultSettings[] = "COM1:baud=9600,parity=E,data=8,stop=1";

struct ParityRow {
    const char* text;
    uint8_t parity;
};

const ParityRow kParityTable[] = {
    {"N", 0}, {"n", 0}, {"0", 0}, {"O", 1}, {"o", 1}, {"1", 1}, {"E", 2}, {"e", 2},
    {"2", 2}, {"M", 3}, {"m", 3}, {"3", 3}, {"S", 4}, {"s", 4}, {"4", 4},
};

struct StopRow {
    double value;
    uint8_t stopBits;
};

const StopRow kStopTable[] = {{1.0, 0}, {1.5, 1}, {2.0, 2}};

constexpr long kFewestDataBits = 5;
constexpr long kMostDataBits = 8;

constexpr uint32_t kQueueSize = 70000;
constexpr unsigned kRtsSettleMilliseconds = 3;
constexpr unsigned kCloseSettleMilliseconds = 300;
constexpr uint32_t kEventMask = platform::kLineEventReceived | platform::kLineEventTransmitEmpty |
                                platform::kLineEventBreak | platform::kLineEventError;

} // namespace

// Takes ",rs485=..." out of the values, so the four values before it parse as without it.
RtsControl TakeRtsControl(std::string& values) {
    static const char kKey[] = ",rs485=";
    size_t key = values.find(kKey);
    if (key == std::string::npos) return RtsControl::Software;
    size_t start = key + sizeof kKey - 1;
    size_t end = values.find(',', start);
    std::string value = values.substr(start, end == std::string::npos ? end : end - start);
    values.erase(key, end == std::string::npos ? end : end - key);
    if (value == "kernel") return RtsControl::Kernel;
    if (value == "off") return RtsControl::Software;
    return RtsControl::Unknown;
}

bool ParseSettings(const char* text, PortSettings& settings) {
    std::string all = (text && *text) ? text : kDefaultSettings;
    std::string values;
    if (all[0] == '/') {
        size_t colon = all.find(':');
        settings.portName = all.substr(0, colon);
        values = colon == std::string::npos ? std::string() : all.substr(colon + 1);
    } else {
        settings.portName = all.substr(0, 4);
        values = all.size() > 5 ? all.substr(5) : std::string();
    }
    settings.rtsControl = TakeRtsControl(values);

    std::string fields[4];
    int commas = 0;
    size_t valueStart = 0;
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] == '=') {
            valueStart = i + 1;
        } else if (values[i] == ',') {
            if (commas < 3) fields[commas] = values.substr(valueStart, i - valueStart);
            ++commas;
            valueStart = i + 1;
        }
    }
    size_t lastEquals = values.rfind('=');
    fields[3] = values.substr(lastEquals == std::string::npos ? 0 : lastEquals + 1);

    settings.baud = static_cast<uint32_t>(std::strtoul(fields[0].c_str(), nullptr, 10));
    for (const ParityRow& row : kParityTable)
        if (fields[1] == row.text) settings.parity = row.parity;
    long dataBits = std::strtol(fields[2].c_str(), nullptr, 10);
    bool dataBitsValid = dataBits >= kFewestDataBits && dataBits <= kMostDataBits;
    if (dataBitsValid) settings.dataBits = static_cast<uint8_t>(dataBits);
    double stop = std::atof(fields[3].c_str());
    bool stopValid = false;
    for (const StopRow& row : kStopTable)
        if (stop == row.value) {
            settings.stopBits = row.stopBits;
            stopValid = true;
        }
    return settings.baud != 0 && dataBitsValid && stopValid &&
           settings.rtsControl != RtsControl::Unknown;
}

uint32_t WriteMultiplier(uint32_t baud) {
    return baud == 0 ? 0 : 19200 / baud;
}

CComm::CComm() = default;

CComm::~CComm() {
    Close();
}

bool CComm::OnCreate() {
    settings_ = PortSettings();
    flowFlags_ = 8;
    open_ = 0;
    txIdle_ = 1;
    return true;
}

void CComm::OnDestroy() {
    Close();
}

void CComm::OnFinalDestroy() {
    delete this;
}

platform::MessageParam CComm::OnMessage(unsigned message, platform::MessageParam wParam,
                                        platform::MessageParam lParam) {
    if (message != WM_COMM_EVENT) return Window::OnMessage(message, wParam, lParam);
    OnCommEvent(static_cast<uint32_t>(lParam));
    return 1;
}

int CComm::Open(const char* text) {
    if (open_) Close();
    // A missing or non-numeric baud rate would also divide the write time-out by zero.
    if (!ParseSettings(text, settings_)) return 0;
    if (!device_.Open(settings_.portName)) return 0;
    device_.SetEventMask(kEventMask);
    device_.SetQueueSizes(kQueueSize, kQueueSize);
    device_.Purge();
    device_.SetTimeouts({0xFFFFFFFF, 0, 1000, WriteMultiplier(settings_.baud), 0});
    platform::LineSettings line = {settings_.baud, settings_.dataBits, settings_.parity,
                                   settings_.stopBits, flowFlags_};
    if (!device_.ApplyLineSettings(line)) {
        device_.Close();
        return 0;
    }
    // A driver that refuses its RS-485 mode leaves RTS to this object, as without the key.
    driverRts_ = settings_.rtsControl == RtsControl::Kernel &&
                 device_.SetDriverRtsControl(kRtsSettleMilliseconds, kRtsSettleMilliseconds);
    if (!device_.StartEvents(Handle(), WM_COMM_EVENT)) {
        device_.Close();
        return 0;
    }
    open_ = 1;
    device_.SetDtr(true);
    if (!driverRts_) device_.SetRts(false);
    rxBuffer_.clear();
    return 1;
}

int CComm::Close() {
    if (!open_) {
        lineStatus_ = 1;
        return 0;
    }
    Shut(true);
    return 1;
}

void CComm::Shut(bool settle) {
    open_ = 0;
    txIdle_ = 1;
    device_.StopEvents();
    if (settle) platform::SleepMilliseconds(kCloseSettleMilliseconds);
    device_.SetDtr(false);
    device_.SetRts(false);
    device_.Purge();
    device_.Close();
    driverRts_ = 0;
    lineStatus_ = 1;
}

void CComm::OnCommEvent(uint32_t mask) {
    if (open_) {
        if (mask & platform::kLineEventHangUp) {
            // Nothing more can be read or written: the port is closed (IsConnect reports 0) and
            // a command in progress runs into its time-out. ConnectPort opens it again once
            // the device is back.
            Shut(false);
        } else if (mask & platform::kLineEventReceived) {
            Drain();
        } else if (mask & platform::kLineEventTransmitEmpty) {
            if (!driverRts_) {
                platform::SleepMilliseconds(kRtsSettleMilliseconds);
                device_.SetRts(false);
            }
            lineStatus_ = 0;
            NotifyParent(WM_COMM_TXDONE);
            txIdle_ = 1;
        } else if (mask & platform::kLineEventBreak) {
            device_.ClearBreak();
            device_.ClearError();
        } else if (mask & platform::kLineEventError) {
            device_.ClearError();
        }
    }
}

void CComm::Drain() {
    // Reads whole chunks rather than single bytes; a read that fails while bytes are still
    // reported ends the loop after a few attempts instead of running for ever.
    constexpr int kFailedReadLimit = 3;
    uint8_t chunk[4096];
    int failedReads = 0;
    for (size_t queued = device_.ClearError(); queued > 0 && open_; queued = device_.ClearError()) {
        size_t got = 0;
        platform::IoResult result =
            device_.Read(chunk, queued < sizeof chunk ? queued : sizeof chunk, got);
        if (result != platform::IoResult::Completed) lineStatus_ = 1;
        if (got == 0) {
            if (++failedReads >= kFailedReadLimit) break;
            continue;
        }
        failedReads = 0;
        rxBuffer_.insert(rxBuffer_.end(), chunk, chunk + got);
    }
    NotifyParent(WM_COMM_RXDATA);
}

void CComm::Write(const ByteArray& bytes) {
    if (!open_ || !txIdle_) return;
    txIdle_ = 0;
    if (!driverRts_) {
        device_.SetRts(true);
        platform::SleepMilliseconds(kRtsSettleMilliseconds);
    }
    platform::IoResult result = device_.Write(bytes.data(), bytes.size());
    if (result != platform::IoResult::Completed) lineStatus_ = 1;
    if (result == platform::IoResult::Failed) device_.ClearError();
}

void CComm::TakeReceived(ByteArray& destination) {
    destination.swap(rxBuffer_);
    rxBuffer_.clear();
}

void CComm::Purge() {
    device_.Purge();
    device_.ClearError();
    txIdle_ = 1;
}

void CComm::NotifyParent(unsigned message) {
    platform::SendToWindow(Parent(), message, 0, 0);
}

} // namespace qarn
