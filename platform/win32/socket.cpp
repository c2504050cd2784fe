// TCP connections on Winsock. Readiness reaches the relay window on the owner thread as window
// messages (WSAAsyncSelect), so no thread of its own; transmit-empty comes from a timer set for
// the time the server's line takes to carry what was handed over.
#include "platform/socket.h"

// Winsock's headers before windows.h, and mstcpip.h after both.
#include <winsock2.h>

#include <windows.h>
#include <ws2tcpip.h>

#include <mstcpip.h>

#include <string>

#include "platform/bounded_call.h"
#include "platform/clock.h"
#include "platform/relay_window.h"

namespace qarn::platform {

namespace {

// Keep-alive: the first probe after 20 s of silence, then every 3 s; Windows gives up after 10
// unanswered probes, so a dead peer is noticed within a minute.
constexpr ULONG kKeepAliveIdleMilliseconds = 20000;
constexpr ULONG kKeepAliveIntervalMilliseconds = 3000;
constexpr long kSendRoomMicroseconds = 1000000;

constexpr unsigned kMessageSocket = WM_USER + 1;
constexpr unsigned kTransmitTimer = 1;
constexpr unsigned kHeldInputTimer = 2;

HWND ToHwnd(WindowHandle window) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(window));
}

// Waits up to microseconds for the socket to become writable (or, with read, readable); false
// at the time limit or on failure.
bool WaitFor(SOCKET s, bool read, long microseconds) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval limit = {microseconds / 1000000, microseconds % 1000000};
    return select(0, read ? &ready : nullptr, read ? nullptr : &ready, &failed, &limit) > 0;
}

// One attempt at one address; the socket, or INVALID_SOCKET with the last error at the reason.
SOCKET ConnectTo(const addrinfo& address, uint64_t deadline) {
    SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) return s;
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) return s;
    int reason = WSAGetLastError();
    if (reason == WSAEWOULDBLOCK) {
        uint64_t now = MonotonicMicroseconds();
        long wait = now < deadline ? static_cast<long>(deadline - now) : 0;
        int length = sizeof reason;
        bool ready = WaitFor(s, false, wait);
        reason = WSAETIMEDOUT;
        if (ready) {
            int error = 0;
            getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            if (error == 0) return s;
            reason = error;
        }
    }
    closesocket(s);
    WSASetLastError(reason);
    return INVALID_SOCKET;
}

} // namespace

void SetNetworkError(NetworkReason reason) {
    static const int kCodes[] = {WSAHOST_NOT_FOUND, WSAETIMEDOUT, WSAEPROTONOSUPPORT,
                                 ERROR_INVALID_PARAMETER};
    SetLastError(static_cast<DWORD>(kCodes[static_cast<int>(reason)]));
}

struct StreamSocket::State {
    SOCKET socket = INVALID_SOCKET;
    bool started = false; // WSAStartup succeeded, to be balanced
    RelayWindow<State>* relay = nullptr;
    WindowHandle target = 0;
    unsigned targetMessage = 0;
    bool transmitPending = false;
    bool inputHeld = false;
    bool hungUp = false;

    bool Deliver(uint32_t event) {
        SendToWindow(target, targetMessage, 0, event);
        return relay != nullptr;
    }
    bool OnRelayMessage(unsigned message, MessageParam wParam, MessageParam lParam) {
        if (message == kMessageSocket)
            OnReady(WSAGETSELECTEVENT(lParam));
        else if (message == kMessageTimer && wParam == kTransmitTimer)
            OnTransmitTimer();
        else if (message == kMessageTimer && wParam == kHeldInputTimer)
            OnHeldInputTimer();
        else
            return false;
        return true;
    }
    void OnReady(unsigned events) {
        if (hungUp) return;
        if (events & FD_CLOSE) {
            // What arrived before the end is still the line's.
            hungUp = true;
            if (Pending() > 0 && !Deliver(kLineEventReceived)) return;
            Deliver(kLineEventHangUp);
            return;
        }
        if (!(events & FD_READ)) return;
        if (transmitPending)
            inputHeld = true;
        else
            Deliver(kLineEventReceived);
    }
    void OnTransmitTimer() {
        if (!transmitPending) return;
        transmitPending = false;
        if (!Deliver(kLineEventTransmitEmpty)) return;
        if (inputHeld) relay->SetDeadlineTimer(kHeldInputTimer, 0);
    }
    void OnHeldInputTimer() {
        if (!inputHeld || transmitPending) return;
        inputHeld = false;
        Deliver(kLineEventReceived);
    }
    size_t Pending() const {
        u_long queued = 0;
        if (socket == INVALID_SOCKET || ioctlsocket(socket, FIONREAD, &queued) != 0) return 0;
        return queued;
    }
};

StreamSocket::StreamSocket() : state_(new State) {}

StreamSocket::~StreamSocket() {
    Close();
}

bool StreamSocket::Connect(const std::string& host, uint16_t port, unsigned timeoutMilliseconds) {
    Close();
    State& s = *state_;
    WSADATA data;
    int startup = WSAStartup(MAKEWORD(2, 2), &data);
    if (startup != 0) {
        SetLastError(static_cast<DWORD>(startup));
        return false;
    }
    s.started = true;
    uint64_t deadline = MonotonicMicroseconds() + uint64_t{timeoutMilliseconds} * 1000;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    struct Lookup {
        int code = WSATRY_AGAIN;
        addrinfo* found = nullptr;
    };
    std::string service = std::to_string(port);
    std::optional<Lookup> done = CallWithin<Lookup>(
        [host, service, hints] {
            Lookup lookup;
            lookup.code = getaddrinfo(host.c_str(), service.c_str(), &hints, &lookup.found);
            return lookup;
        },
        [](Lookup& late) {
            if (late.code == 0) freeaddrinfo(late.found);
        },
        timeoutMilliseconds);
    if (!done || done->code != 0) {
        Close();
        SetLastError(done ? static_cast<DWORD>(done->code) : WSAETIMEDOUT);
        return false;
    }
    addrinfo* found = done->found;
    SOCKET connected = INVALID_SOCKET;
    int reason = WSAETIMEDOUT;
    for (addrinfo* address = found; address && connected == INVALID_SOCKET;
         address = address->ai_next) {
        if (MonotonicMicroseconds() >= deadline) break;
        connected = ConnectTo(*address, deadline);
        if (connected == INVALID_SOCKET) reason = WSAGetLastError();
    }
    freeaddrinfo(found);
    if (connected == INVALID_SOCKET) {
        Close();
        SetLastError(static_cast<DWORD>(reason));
        return false;
    }
    BOOL on = TRUE;
    setsockopt(connected, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    setsockopt(connected, SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&on), sizeof on);
    tcp_keepalive keepAlive = {1, kKeepAliveIdleMilliseconds, kKeepAliveIntervalMilliseconds};
    DWORD returned = 0;
    WSAIoctl(connected, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &returned,
             nullptr, nullptr);
    s.socket = connected;
    s.transmitPending = false;
    s.inputHeld = false;
    s.hungUp = false;
    return true;
}

bool StreamSocket::IsOpen() const {
    return state_->socket != INVALID_SOCKET;
}

void StreamSocket::Close() {
    State& s = *state_;
    if (s.socket != INVALID_SOCKET) {
        StopEvents();
        closesocket(s.socket);
        s.socket = INVALID_SOCKET;
    }
    if (s.started) {
        DWORD kept = GetLastError();
        WSACleanup();
        SetLastError(kept);
        s.started = false;
    }
}

IoResult StreamSocket::ReadWithin(uint8_t* buffer, size_t size, size_t& got,
                                  unsigned timeoutMilliseconds) {
    got = 0;
    SOCKET s = state_->socket;
    if (s == INVALID_SOCKET) {
        SetLastError(WSAENOTSOCK);
        return IoResult::Failed;
    }
    if (!WaitFor(s, true, static_cast<long>(timeoutMilliseconds) * 1000))
        return IoResult::Completed;
    int count = recv(s, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (count <= 0) {
        if (count == 0) SetLastError(WSAECONNRESET);
        return IoResult::Failed;
    }
    got = static_cast<size_t>(count);
    return IoResult::Completed;
}

bool StreamSocket::StartEvents(WindowHandle window, unsigned message) {
    State& s = *state_;
    if (s.socket == INVALID_SOCKET) return false;
    StopEvents();
    auto* relay = RelayWindow<State>::Create(&s, window);
    if (!relay) return false;
    // Input already waiting is reported at once.
    if (WSAAsyncSelect(s.socket, ToHwnd(relay->Handle()), kMessageSocket, FD_READ | FD_CLOSE) !=
        0) {
        RelayWindow<State>::End(relay);
        return false;
    }
    s.relay = relay;
    s.target = window;
    s.targetMessage = message;
    return true;
}

void StreamSocket::StopEvents() {
    State& s = *state_;
    if (!s.relay) return;
    WSAAsyncSelect(s.socket, ToHwnd(s.relay->Handle()), 0, 0);
    RelayWindow<State>::End(s.relay);
    s.transmitPending = false;
    s.inputHeld = false;
}

size_t StreamSocket::Pending() {
    return state_->Pending();
}

IoResult StreamSocket::Read(uint8_t* buffer, size_t size, size_t& got) {
    got = 0;
    if (state_->socket == INVALID_SOCKET) return IoResult::Failed;
    int count = recv(state_->socket, reinterpret_cast<char*>(buffer), static_cast<int>(size), 0);
    if (count <= 0) return IoResult::Failed;
    got = static_cast<size_t>(count);
    return IoResult::Completed;
}

IoResult StreamSocket::Send(const uint8_t* bytes, size_t size) {
    SOCKET s = state_->socket;
    if (s == INVALID_SOCKET) return IoResult::Failed;
    IoResult result = IoResult::Completed;
    size_t sent = 0;
    while (sent < size) {
        int count =
            send(s, reinterpret_cast<const char*>(bytes + sent), static_cast<int>(size - sent), 0);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) return IoResult::Failed;
        result = IoResult::CompletedLate;
        if (!WaitFor(s, false, kSendRoomMicroseconds)) return IoResult::Failed;
    }
    return result;
}

IoResult StreamSocket::Write(const uint8_t* bytes, size_t size, uint64_t wireMicroseconds) {
    State& s = *state_;
    IoResult result = Send(bytes, size);
    if (result != IoResult::Failed && s.relay) {
        s.transmitPending = true;
        s.relay->SetDeadlineTimer(kTransmitTimer, MonotonicMicroseconds() + wireMicroseconds);
    }
    return result;
}

void StreamSocket::DropInput() {
    State& s = *state_;
    char discard[4096];
    while (s.Pending() > 0 && recv(s.socket, discard, sizeof discard, 0) > 0) {
    }
    s.transmitPending = false;
    s.inputHeld = false;
}

} // namespace qarn::platform
