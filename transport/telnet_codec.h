// The Telnet side of an RFC 2217 line: escapes the host's data, takes the server's stream apart
// into line bytes and commands, answers option negotiation, and keeps what the server confirmed
// of the COM-PORT-OPTION line settings.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/bytes.h"

namespace qarn {

// Line settings as the COM-PORT-OPTION carries them.
struct ComPortValues {
    uint32_t baud = 0;
    uint8_t dataSize = 0;
    uint8_t parity = 0;   // 1 none, 2 odd, 3 even, 4 mark, 5 space
    uint8_t stopSize = 0; // 1 one, 2 two, 3 one and a half
};

class TelnetCodec {
  public:
    enum class ComPort { Asked, Accepted, Refused };

    TelnetCodec();

    // The bytes that open the session: the COM-PORT-OPTION and binary transmission offered and
    // binary transmission asked of the server.
    ByteArray Opening();
    // The subnegotiations that set the server's line to these values.
    static ByteArray SetLine(const ComPortValues& values);
    // Appends data with each 0xFF doubled.
    static void Escape(const uint8_t* bytes, size_t size, ByteArray& out);

    // Takes bytes from the server: line bytes are appended to data, the answers the host owes
    // the server to answers. A command may span calls.
    void Take(const uint8_t* bytes, size_t size, ByteArray& data, ByteArray& answers);

    ComPort ComPortState() const { return comPort_; }
    // The values the server confirmed, each as soon as its confirmation came.
    const ComPortValues& Confirmed() const { return confirmed_; }

  private:
    enum class Parse { Data, Command, Option, Sub, SubCommand };
    enum class Side : uint8_t { No, Asked, Yes };

    void OnOption(uint8_t verb, uint8_t option, ByteArray& answers);
    void OnSubnegotiation();

    Parse parse_ = Parse::Data;
    uint8_t verb_ = 0;
    ByteArray sub_;
    Side mine_[256] = {};   // options this side performs
    Side theirs_[256] = {}; // options the server performs
    ComPort comPort_ = ComPort::Asked;
    ComPortValues confirmed_;
};

} // namespace qarn
