// What the port object needs of a line, whether a serial port or a serial device server reached
// over the network.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/serial.h"
#include "platform/window.h"
#include "transport/port_settings.h"

namespace qarn {

// Who raises and drops RTS around each frame.
enum class RtsSwitcher { Library, Driver, Server };

class LineDevice {
  public:
    virtual ~LineDevice() = default;

    // Opens the line with the settings; false with the system error at the reason.
    virtual bool Open(const PortSettings& settings) = 0;
    virtual void Close() = 0;
    virtual RtsSwitcher Rts() const = 0;

    // The line events of platform/serial.h reach the window as message, one at a time.
    virtual bool StartEvents(platform::WindowHandle window, unsigned message) = 0;
    virtual void StopEvents() = 0;

    // Clears a line error; the bytes waiting.
    virtual size_t Pending() = 0;
    virtual platform::IoResult Read(uint8_t* buffer, size_t size, size_t& got) = 0;
    // Writes a frame; transmit-empty follows once it has left the line.
    virtual platform::IoResult Write(const uint8_t* bytes, size_t size) = 0;
    virtual void Purge() = 0;
    virtual void ClearBreak() = 0;
    virtual bool SetRts(bool raised) = 0;
    virtual bool SetDtr(bool raised) = 0;
};

// The line that the settings name: a serial port, or a network line for tcp:// and rfc2217://.
std::unique_ptr<LineDevice> MakeLineDevice(const PortSettings& settings);

} // namespace qarn
