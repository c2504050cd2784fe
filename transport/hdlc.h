// The link layer: adds and checks the link fields of frames and assembles uplink frames from
// the byte stream of the serial port.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bytes.h"
#include "platform/window.h"

namespace qarn {

class CComm;

// What the link tells its parent window: bytes arrived (the raw stream grew), a frame for this
// host arrived (wParam the replying terminal's address; CopyFrame gives its data), a frame has
// left the port.
enum LinkMessage : unsigned {
    WM_LINK_STREAM = 0x0D66,
    WM_LINK_FRAME = 0x0D67,
    WM_LINK_SENT = 0x0D68,
};

enum LinkStatus : int {
    kLinkSent = 0,
    kLinkNothingYet = 1,
    kLinkOtherDestination = 2,
    kLinkBadCheck = 4,
    kLinkFrameReceived = 7,
};

// The raw stream keeps the last bytes received, up to this many: a line nobody monitors must not
// grow the process by every byte it carries.
constexpr size_t kRawStreamLimit = 65536;

class CHDLC : public platform::Window {
  public:
    // Adds length field, check byte, preamble and start bytes to a frame body and writes it.
    void Send(const ByteArray& body);
    // Abandons a partly assembled frame and purges the port.
    void Reset();

    int GetStatus() const;
    int IsTxIdle() const;
    // How long the frame last sent takes on the wire, in microseconds.
    uint64_t TxWireMicroseconds() const;
    int IsOpen() const;
    int OpenPort(const char* settings);
    int ClosePort();
    int DriverSwitchesRts() const;
    int ServerSwitchesRts() const; // the line is a serial device server's
    int DriverRtsAsked() const;    // the last settings asked for rs485=kernel

    void CopyFrame(ByteArray& destination) const { destination = lastFrame_; }
    void CopyStream(ByteArray& destination) const { destination = rawStream_; }
    void ClearStream() { rawStream_.clear(); }

    void SetMyAddress(int address) { myAddress_ = address & 0xFFFF; }

    // Feeds received bytes to the receive assembler (the port's data handler uses it).
    void Assemble(const uint8_t* bytes, size_t size);

  protected:
    bool OnCreate() override;
    void OnDestroy() override;
    platform::MessageParam OnMessage(unsigned message, platform::MessageParam wParam,
                                     platform::MessageParam lParam) override;
    void OnFinalDestroy() override;
    virtual void OnFrameComplete();
    // The replying terminal's address, valid after a good frame.
    int SourceAddress() const { return sourceAddress_; }

  private:
    void OnPortData();
    void OnPortSent();
    // One assembler step; false when the byte shows the frame begun in frameBytes_ was a false
    // start.
    bool Take(uint8_t b);
    // Runs the quiet-line check while a frame with the host's address is being assembled.
    void WatchQuietLine();
    void OnQuietLineCheck();
    uint32_t QuietLimit() const;

    uint8_t checksum_ = 0;
    int sourceAddress_ = 0;
    int length_ = 0;
    int myAddress_ = 0;
    int status_ = kLinkNothingYet;
    CComm* comm_ = nullptr;
    int state_ = 0;
    ByteArray txFrame_;
    ByteArray rxPayload_;
    ByteArray lastFrame_;
    ByteArray rawStream_;
    ByteArray frameBytes_; // the frame being assembled, from its first start byte
    uint32_t lastByteTick_ = 0;
    bool quietTimer_ = false;
};

} // namespace qarn
