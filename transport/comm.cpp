#include "transport/comm.h"

#include "platform/clock.h"
#include "platform/system_error.h"
#include "platform/wire_time.h"

namespace qarn {

namespace {

constexpr uint32_t kQueueSize = 70000;
constexpr unsigned kRtsSettleMilliseconds = 3;
constexpr unsigned kCloseSettleMilliseconds = 300;
constexpr uint32_t kEventMask = platform::kLineEventReceived | platform::kLineEventTransmitEmpty |
                                platform::kLineEventBreak | platform::kLineEventError;

} // namespace

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
    if (!ParseSettings(text, settings_)) {
        platform::SetSystemError(platform::ErrorReason::InvalidSettings);
        return 0;
    }
    // A failed open leaves the system error at its reason; closing the device must keep it.
    if (!device_.Open(settings_.portName)) return 0;
    device_.SetEventMask(kEventMask);
    device_.SetQueueSizes(kQueueSize, kQueueSize);
    device_.Purge();
    device_.SetTimeouts({0xFFFFFFFF, 0, 1000, WriteMultiplier(settings_.baud), 0});
    platform::LineSettings line = {settings_.baud, settings_.dataBits, settings_.parity,
                                   settings_.stopBits, flowFlags_};
    if (!device_.ApplyLineSettings(line)) {
        platform::SystemErrorKeeper keep;
        device_.Close();
        return 0;
    }
    // A driver that refuses its RS-485 mode leaves RTS to this object, as without the key.
    driverRts_ = settings_.rtsControl == RtsControl::Kernel &&
                 device_.SetDriverRtsControl(kRtsSettleMilliseconds, kRtsSettleMilliseconds);
    if (!device_.StartEvents(Handle(), WM_COMM_EVENT)) {
        platform::SystemErrorKeeper keep;
        device_.Close();
        return 0;
    }
    open_ = 1;
    device_.SetDtr(true);
    if (!driverRts_) device_.SetRts(false);
    rxBuffer_.clear();
    return 1;
}

uint64_t CComm::WireMicroseconds(size_t characters) const {
    return platform::WireMicroseconds(
        characters, {settings_.baud, settings_.dataBits, settings_.parity, settings_.stopBits, 0});
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
