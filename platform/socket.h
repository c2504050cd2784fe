// One TCP connection to a server: the primitives a network line is built on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial.h"
#include "platform/window.h"

namespace qarn::platform {

// Reasons a connection fails that the system has no code of its own for. Each is a system error
// code (errno on POSIX, a Winsock code on Windows) whose text the application can show.
enum class NetworkReason {
    NameUnknown,        // the host name has no address: ENXIO, WSAHOST_NOT_FOUND
    TimedOut,           // no connection or no answer in time: ETIMEDOUT, WSAETIMEDOUT
    OptionNotOffered,   // the server does not offer what the line needs: EPROTONOSUPPORT
    SettingsNotApplied, // the server refused or changed a line setting: EINVAL
};
void SetNetworkError(NetworkReason reason);

class StreamSocket {
  public:
    StreamSocket();
    ~StreamSocket(); // closes
    StreamSocket(const StreamSocket&) = delete;
    StreamSocket& operator=(const StreamSocket&) = delete;

    // Connects to port on host (a name, an IPv4 address or an IPv6 address without brackets),
    // trying each address the name has, all within timeoutMilliseconds. The connection has no
    // send delay (TCP_NODELAY) and keep-alive probes that find a dead peer within a minute.
    // False with the system error at the reason.
    bool Connect(const std::string& host, uint16_t port, unsigned timeoutMilliseconds);
    bool IsOpen() const;
    void Close();

    // Waits up to timeoutMilliseconds for bytes and reads what is waiting, for exchanges before
    // events start: got is 0 when nothing came in time. Failed, with the system error at the
    // reason, when the connection has ended.
    IoResult ReadWithin(uint8_t* buffer, size_t size, size_t& got, unsigned timeoutMilliseconds);

    // Delivers kLineEventReceived, kLineEventTransmitEmpty and kLineEventHangUp to a window of the
    // calling thread as message, the event in lParam, one at a time, until StopEvents or Close. A
    // write's transmit-empty comes before input that arrived while it was unconfirmed, as on a
    // serial port. The hang-up (the server closed or reset the connection, or keep-alive found
    // it dead) comes after the input received before it.
    bool StartEvents(WindowHandle window, unsigned message);
    void StopEvents();

    size_t Pending(); // bytes waiting to be read
    // Reads up to size bytes that are waiting; Failed when nothing could be read.
    IoResult Read(uint8_t* buffer, size_t size, size_t& got);
    // Hands all bytes to the connection, waiting a bounded time for room.
    IoResult Send(const uint8_t* bytes, size_t size);
    // Sends, and reports transmit-empty wireMicroseconds after the bytes were handed over: the
    // time the server's line takes to carry them.
    IoResult Write(const uint8_t* bytes, size_t size, uint64_t wireMicroseconds);
    void DropInput(); // discards what is waiting; forgets an unconfirmed write

  private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace qarn::platform
