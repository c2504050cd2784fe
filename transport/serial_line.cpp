#include "transport/serial_line.h"

#include "platform/system_error.h"

namespace qarn {

namespace {

constexpr uint32_t kQueueSize = 70000;
constexpr unsigned kRtsSettleMilliseconds = 3;
constexpr uint32_t kEventMask = platform::kLineEventReceived | platform::kLineEventTransmitEmpty |
                                platform::kLineEventBreak | platform::kLineEventError;
constexpr uint8_t kFlowFlags = 8;

} // namespace

bool SerialLine::Open(const PortSettings& settings) {
    // A failed open leaves the system error at its reason; closing the device must keep it.
    if (!device_.Open(settings.portName)) return false;
    device_.SetEventMask(kEventMask);
    device_.SetQueueSizes(kQueueSize, kQueueSize);
    device_.Purge();
    device_.SetTimeouts({0xFFFFFFFF, 0, 1000, WriteMultiplier(settings.baud), 0});
    platform::LineSettings line = {settings.baud, settings.dataBits, settings.parity,
                                   settings.stopBits, kFlowFlags};
    if (!device_.ApplyLineSettings(line)) {
        platform::SystemErrorKeeper keep;
        device_.Close();
        return false;
    }
    // A driver that refuses its RS-485 mode leaves RTS to the library, as without the key.
    driverRts_ = settings.rtsControl == RtsControl::Kernel &&
                 device_.SetDriverRtsControl(kRtsSettleMilliseconds, kRtsSettleMilliseconds);
    return true;
}

void SerialLine::Close() {
    device_.Close();
    driverRts_ = false;
}

RtsSwitcher SerialLine::Rts() const {
    return driverRts_ ? RtsSwitcher::Driver : RtsSwitcher::Library;
}

bool SerialLine::StartEvents(platform::WindowHandle window, unsigned message) {
    return device_.StartEvents(window, message);
}

void SerialLine::StopEvents() {
    device_.StopEvents();
}

size_t SerialLine::Pending() {
    return device_.ClearError();
}

platform::IoResult SerialLine::Read(uint8_t* buffer, size_t size, size_t& got) {
    return device_.Read(buffer, size, got);
}

platform::IoResult SerialLine::Write(const uint8_t* bytes, size_t size) {
    return device_.Write(bytes, size);
}

void SerialLine::Purge() {
    device_.Purge();
}

void SerialLine::ClearBreak() {
    device_.ClearBreak();
}

bool SerialLine::SetRts(bool raised) {
    return device_.SetRts(raised);
}

bool SerialLine::SetDtr(bool raised) {
    return device_.SetDtr(raised);
}

} // namespace qarn
