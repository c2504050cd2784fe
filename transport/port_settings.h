// The settings text of a port: its name and line settings.
#pragma once

#include <cstdint>
#include <string>

namespace qarn {

// Who switches RTS around a write: this library (raised, 3 ms, write, transmitter empty, 3 ms,
// dropped) or, where the driver can, the driver with the same delays.
enum class RtsControl : uint8_t { Software, Kernel };

// A serial port of this machine, or a serial device server's port reached over TCP: as a raw
// byte stream, or through Telnet with the COM-PORT-OPTION (RFC 2217).
enum class LineKind : uint8_t { Serial, RawTcp, Rfc2217 };

struct PortSettings {
    std::string portName = "COM1";
    LineKind kind = LineKind::Serial;
    std::string host;     // a network line's server: a name or an address, without brackets
    uint16_t tcpPort = 0; // and its TCP port
    uint32_t baud = 9600;
    uint8_t dataBits = 8;
    uint8_t parity = 2;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    RtsControl rtsControl = RtsControl::Software;
};

// Parses "COM1:baud=9600,parity=E,data=8,stop=1" into settings. The name runs to the first ':'
// and is COM1 to COM256, a "\\.\" name or a device path ("/dev/ttyUSB0"); an empty text is COM1.
// "tcp://HOST:PORT" and "rfc2217://HOST:PORT" name a network line (HOST a name, an IPv4 address
// or a bracketed IPv6 address; PORT 1 to 65535), the values following after one more ':'.
// The values are baud rate, parity, data bits and stop bits: one whose key is one of those
// words goes to that field, any other takes its position. Values not given take the defaults
// above, and ",rs485=kernel" or ",rs485=off" may stand among them. False, with the settings
// unchanged, for a text that cannot be used: a name of another form, a value that is empty or
// out of its range, a field given twice, a fifth value.
bool ParseSettings(const char* text, PortSettings& settings);

// The write time-out multiplier: 19200 divided by the baud rate (0 for a baud rate of 0).
uint32_t WriteMultiplier(uint32_t baud);

} // namespace qarn
