// The serial port object: opens a port from a settings text, takes its line events on the owner
// thread, drains received bytes and writes frames with RTS raised around them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/bytes.h"
#include "platform/serial.h"
#include "platform/window.h"

namespace qarn {

enum CommMessage : unsigned {
    WM_COMM_EVENT = 0x0D60,
    WM_COMM_RXDATA = 0x0D61,
    WM_COMM_TXDONE = 0x0D62,
};

// Who switches RTS around a write: this library (raised, 3 ms, write, transmitter empty, 3 ms,
// dropped) or, where the driver can, the driver with the same delays.
enum class RtsControl : uint8_t { Software, Kernel, Unknown };

// The line parameters a settings text sets; fields a text does not match keep their value.
struct PortSettings {
    std::string portName;
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = 2;
    uint8_t stopBits = 0;
    RtsControl rtsControl = RtsControl::Software; // from every text anew
};

// Parses "COM1:baud=9600,parity=E,data=8,stop=1" (or "/dev/path:..." ) into settings, values by
// position; an empty text is the default. False when the text gives no line to open: a baud
// rate of 0, data bits outside 5 to 8, or a stop value other than 1, 1.5 and 2 (the data bits
// are then not stored and the stop bits keep their value). After the four values ",rs485=kernel"
// or ",rs485=off" may follow; another rs485 value gives RtsControl::Unknown and false.
bool ParseSettings(const char* text, PortSettings& settings);

// The write time-out multiplier: 19200 divided by the baud rate (0 for a baud rate of 0).
uint32_t WriteMultiplier(uint32_t baud);

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
    // 1 while the open port's driver switches RTS itself (rs485=kernel taken).
    int DriverSwitchesRts() const { return driverRts_; }
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

    platform::SerialDevice device_;
    int open_ = 0;
    int txIdle_ = 1;
    PortSettings settings_;
    uint8_t flowFlags_ = 8;
    ByteArray rxBuffer_;
    int lineStatus_ = 1;
    int driverRts_ = 0;
};

} // namespace qarn
