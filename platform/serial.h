// One serial device: the primitives the serial port object is built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/window.h"

namespace qarn::platform {

enum : uint32_t {
    kLineEventReceived = 0x01, // input is ready
    kLineEventTransmitEmpty = 0x04,
    kLineEventBreak = 0x40,
    kLineEventError = 0x80,
    kLineEventHangUp = 0x8000, // the device has gone (an adapter pulled out); it stays gone
};

struct LineSettings {
    uint32_t baud;
    uint8_t dataBits;
    uint8_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits;  // 0 one, 1 one and a half, 2 two
    uint8_t flowFlags; // bit 0 DSR/DTR, bit 1 CTS/RTS, bit 2 XON/XOFF
};

struct SerialTimeouts {
    uint32_t readInterval;
    uint32_t readMultiplier;
    uint32_t readConstant;
    uint32_t writeMultiplier;
    uint32_t writeConstant;
};

enum class IoResult { Completed, CompletedLate, Failed };

class SerialDevice {
  public:
    SerialDevice();
    ~SerialDevice(); // closes
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // name: "COMn" or "\\.\COMn" (on POSIX /dev/ttyS<n-1>), a "\\.\" name (Windows) or a
    // device path (POSIX). A port is open to one program at a time. False with the system error
    // at the reason; on POSIX EBUSY while another open holds the port, ENOTTY for a file that
    // is not a terminal, EINVAL for a name of another form.
    bool Open(const std::string& name);
    bool IsOpen() const;
    void Close();

    bool SetEventMask(uint32_t mask); // the line events delivered; a hang-up always is
    bool SetQueueSizes(uint32_t input, uint32_t output);
    bool SetTimeouts(const SerialTimeouts& timeouts);
    // Any speed the driver takes. False, with the system error at the reason, when the driver
    // refuses the settings or, as read back, runs the line at another speed, character size or
    // number of stop bits; a parity it keeps none of (a pty) is no reason.
    bool ApplyLineSettings(const LineSettings& settings);
    bool Purge(); // aborts and clears both directions

    // Delivers line events to a window of the calling thread as message, the event in lParam,
    // one at a time, each after the handler of the one before has returned, until StopEvents or
    // Close. A write's transmit-empty comes before input that arrived while it was unconfirmed:
    // a terminal that answers at once must not have its reply handled before the frame it
    // answers counts as sent. False when the port is closed or the window is not this thread's.
    bool StartEvents(WindowHandle window, unsigned message);
    // Nothing is delivered afterwards; safe from inside a delivered event's handler.
    void StopEvents();

    // Clears a line error; returns the bytes waiting in the input queue.
    size_t ClearError();
    void ClearBreak();

    // Reads up to size bytes that are waiting; Failed when nothing could be read.
    IoResult Read(uint8_t* buffer, size_t size, size_t& got);
    // Writes all bytes; the transmit-empty event follows once they have left the device.
    IoResult Write(const uint8_t* bytes, size_t size);

    // RTS and DTR; false when the device refuses (a pty does), which callers may ignore.
    bool SetRts(bool raised);
    bool SetDtr(bool raised);

    // Hands RTS to the driver: raised for each write this long before its first bit, dropped this
    // long after its last. False when the driver cannot (a pty, many USB adapters, every driver
    // on some systems); RTS then stays with SetRts. Closing gives the driver its own mode back.
    bool SetDriverRtsControl(unsigned leadMilliseconds, unsigned tailMilliseconds);

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace qarn::platform
