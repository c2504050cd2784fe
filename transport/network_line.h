// A line that ends in a serial device server reached over TCP: a raw byte stream (tcp://), or
// Telnet with the COM-PORT-OPTION (rfc2217://), which sets the server's line from the settings.
#pragma once

#include "codec/bytes.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "transport/line_device.h"
#include "transport/telnet_codec.h"

namespace qarn {

class NetworkLine : public LineDevice {
  public:
    // Connecting, and then the server's confirmation of the line settings, each take at most
    // this long.
    static constexpr unsigned kStepMilliseconds = 3000;

    bool Open(const PortSettings& settings) override;
    void Close() override;
    RtsSwitcher Rts() const override { return RtsSwitcher::Server; }
    bool StartEvents(platform::WindowHandle window, unsigned message) override;
    void StopEvents() override;
    size_t Pending() override;
    platform::IoResult Read(uint8_t* buffer, size_t size, size_t& got) override;
    platform::IoResult Write(const uint8_t* bytes, size_t size) override;
    void Purge() override;
    void ClearBreak() override {}
    // The server's line: nothing for the host to switch.
    bool SetRts(bool) override { return false; }
    bool SetDtr(bool) override { return false; }

  private:
    // Negotiates the COM-PORT-OPTION and the line settings; false with the system error set.
    bool Negotiate(const PortSettings& settings);
    // Reads what is waiting, or what comes within timeoutMilliseconds when that is not 0, and
    // decodes it into data_: the bytes read, -1 with the system error set when the connection
    // has ended.
    long Receive(unsigned timeoutMilliseconds);

    platform::StreamSocket socket_;
    platform::LineSettings line_{};
    bool telnet_ = false;
    TelnetCodec codec_;
    ByteArray data_; // line bytes decoded and not yet read
    ByteArray out_;
};

} // namespace qarn
