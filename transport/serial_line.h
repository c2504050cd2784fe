// A line on a serial port of this machine.
#pragma once

#include "platform/serial.h"
#include "transport/line_device.h"

namespace qarn {

class SerialLine : public LineDevice {
  public:
    bool Open(const PortSettings& settings) override;
    void Close() override;
    RtsSwitcher Rts() const override;
    bool StartEvents(platform::WindowHandle window, unsigned message) override;
    void StopEvents() override;
    size_t Pending() override;
    platform::IoResult Read(uint8_t* buffer, size_t size, size_t& got) override;
    platform::IoResult Write(const uint8_t* bytes, size_t size) override;
    void Purge() override;
    void ClearBreak() override;
    bool SetRts(bool raised) override;
    bool SetDtr(bool raised) override;

  private:
    platform::SerialDevice device_;
    bool driverRts_ = false;
};

} // namespace qarn
