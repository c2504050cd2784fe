// The port object: opens a line (a serial port or a network line) from a settings text, takes its
// line events on the owner thread, drains received bytes and writes frames with RTS raised
// around them.
#pragma once

#include <cstdint>
#include <memory>

#include "codec/bytes.h"
#include "platform/window.h"
#include "transport/line_device.h"
#include "transport/port_settings.h"

namespace qarn {

enum CommMessage : unsigned {
    WM_COMM_EVENT = 0x0D60,
    WM_COMM_RXDATA = 0x0D61,
    WM_COMM_TXDONE = 0x0D62,
};

class CComm : public platform::Window {
  public:
    CComm();
    ~CComm() override;

    int Open(const char* settings);
    int Close();
    void Write(const ByteArray& bytes);
    void TakeReceived(ByteArray& destination);
    void Purge();

    int IsOpen() const { return open_; }
    int IsTxIdle() const { return txIdle_; }
    // 1 while no write is confirmed, 0 once the last write has left the transmitter.
    int LineStatus() const { return lineStatus_; }
    const PortSettings& Settings() const { return settings_; }
    // Microseconds that this many characters take on the wire at the open port's settings.
    uint64_t WireMicroseconds(size_t characters) const;
    // 1 while the open port's driver switches RTS itself (rs485=kernel taken).
    int DriverSwitchesRts() const { return rts_ == RtsSwitcher::Driver; }
    // 1 while the open line is a serial device server's, which switches RTS on its own line.
    int ServerSwitchesRts() const { return rts_ == RtsSwitcher::Server; }
    int DriverRtsAsked() const { return settings_.rtsControl == RtsControl::Kernel; }

  protected:
    bool OnCreate() override;
    void OnDestroy() override;
    platform::MessageParam OnMessage(unsigned message, platform::MessageParam wParam,
                                     platform::MessageParam lParam) override;
    void OnFinalDestroy() override;

  private:
    // Stops taking line events and closes the device; settle waits for the line to come to rest.
    void Shut(bool settle);
    void OnCommEvent(uint32_t mask);
    void Drain();
    void NotifyParent(unsigned message);

    bool LibrarySwitchesRts() const { return rts_ == RtsSwitcher::Library; }

    std::unique_ptr<LineDevice> device_;
    int open_ = 0;
    int txIdle_ = 1;
    PortSettings settings_;
    ByteArray rxBuffer_;
    int lineStatus_ = 1;
    RtsSwitcher rts_ = RtsSwitcher::Library;
};

} // namespace qarn
