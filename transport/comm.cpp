#include "transport/comm.h"

#include "platform/clock.h"
#include "platform/system_error.h"
#include "platform/wire_time.h"

namespace qarn {

namespace {

constexpr unsigned kRtsSettleMilliseconds = 3;
constexpr unsigned kCloseSettleMilliseconds = 300;

} // namespace

CComm::CComm() = default;

CComm::~CComm() {
    Close();
}

bool CComm::OnCreate() {
    settings_ = PortSettings();
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
    device_ = MakeLineDevice(settings_);
    // A failed open leaves the system error at its reason.
    if (!device_->Open(settings_)) return 0;
    if (!device_->StartEvents(Handle(), WM_COMM_EVENT)) {
        platform::SystemErrorKeeper keep;
        device_->Close();
        return 0;
    }
    rts_ = device_->Rts();
    open_ = 1;
    device_->SetDtr(true);
    if (LibrarySwitchesRts()) device_->SetRts(false);
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
    device_->StopEvents();
    if (settle) platform::SleepMilliseconds(kCloseSettleMilliseconds);
    device_->SetDtr(false);
    device_->SetRts(false);
    device_->Purge();
    device_->Close();
    rts_ = RtsSwitcher::Library;
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
            // A server's line keeps the library's pause after the frame, as a serial port does.
            if (!DriverSwitchesRts()) {
                platform::SleepMilliseconds(kRtsSettleMilliseconds);
                device_->SetRts(false);
            }
            lineStatus_ = 0;
            NotifyParent(WM_COMM_TXDONE);
            txIdle_ = 1;
        } else if (mask & platform::kLineEventBreak) {
            device_->ClearBreak();
            device_->Pending();
        } else if (mask & platform::kLineEventError) {
            device_->Pending();
        }
    }
}

void CComm::Drain() {
    // Reads whole chunks rather than single bytes; a read that fails while bytes are still
    // reported ends the loop after a few attempts instead of running for ever.
    constexpr int kFailedReadLimit = 3;
    uint8_t chunk[4096];
    int failedReads = 0;
    for (size_t queued = device_->Pending(); queued > 0 && open_; queued = device_->Pending()) {
        size_t got = 0;
        platform::IoResult result =
            device_->Read(chunk, queued < sizeof chunk ? queued : sizeof chunk, got);
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
    if (!DriverSwitchesRts()) {
        device_->SetRts(true);
        platform::SleepMilliseconds(kRtsSettleMilliseconds);
    }
    platform::IoResult result = device_->Write(bytes.data(), bytes.size());
    if (result != platform::IoResult::Completed) lineStatus_ = 1;
    if (result == platform::IoResult::Failed) device_->Pending();
}

void CComm::TakeReceived(ByteArray& destination) {
    destination.swap(rxBuffer_);
    rxBuffer_.clear();
}

void CComm::Purge() {
    if (!device_) return;
    device_->Purge();
    device_->Pending();
    txIdle_ = 1;
}

void CComm::NotifyParent(unsigned message) {
    platform::SendToWindow(Parent(), message, 0, 0);
}

} // namespace qarn
