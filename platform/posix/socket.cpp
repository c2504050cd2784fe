// TCP connections on BSD sockets. Like the serial device, a connection's readiness comes from
// the owner thread's own message queue (edge-triggered), and transmit-empty from a timer set for
// the time the server's line takes to carry what was handed over.
#include "platform/socket.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/bounded_call.h"
#include "platform/clock.h"
#include "platform/posix/descriptor_watch.h"
#include "platform/relay_window.h"

namespace qarn::platform {

namespace {

// Keep-alive: the first probe after 20 s of silence, then every 10 s, the peer dead after 3
// unanswered; data unacknowledged for 50 s ends the connection too. A dead peer is noticed
// within a minute either way.
constexpr int kKeepAliveIdleSeconds = 20;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 3;
constexpr unsigned kUnacknowledgedMilliseconds = 50000;
constexpr int kSendRoomMilliseconds = 1000;

constexpr unsigned kMessageSocketReady = 0x0401;
constexpr unsigned kTransmitTimer = 1;
constexpr unsigned kHeldInputTimer = 2;

void SetOption(int fd, int level, int name, int value) {
    setsockopt(fd, level, name, &value, sizeof value);
}

// One attempt at one address; the descriptor, or -1 with errno at the reason.
int ConnectTo(const addrinfo& address, uint64_t deadline) {
    int fd = socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                    address.ai_protocol);
    if (fd < 0) return -1;
    if (connect(fd, address.ai_addr, address.ai_addrlen) == 0) return fd;
    int reason = errno;
    if (reason == EINPROGRESS) {
        pollfd out = {fd, POLLOUT, 0};
        uint64_t now = MonotonicMicroseconds();
        int wait = now < deadline ? static_cast<int>((deadline - now + 999) / 1000) : 0;
        int ready = poll(&out, 1, wait);
        socklen_t length = sizeof reason;
        if (ready > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &reason, &length) == 0 && reason == 0)
            return fd;
        if (ready == 0) reason = ETIMEDOUT;
    }
    close(fd);
    errno = reason;
    return -1;
}

} // namespace

void SetNetworkError(NetworkReason reason) {
    static const int kCodes[] = {ENXIO, ETIMEDOUT, EPROTONOSUPPORT, EINVAL};
    errno = kCodes[static_cast<int>(reason)];
}

struct StreamSocket::State {
    int fd = -1;
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
        if (message == kMessageSocketReady)
            OnReady(static_cast<uint32_t>(lParam));
        else if (message == kMessageTimer && wParam == kTransmitTimer)
            OnTransmitTimer();
        else if (message == kMessageTimer && wParam == kHeldInputTimer)
            OnHeldInputTimer();
        else
            return false;
        return true;
    }
    void OnReady(uint32_t events) {
        bool ending = (events & (EPOLLHUP | EPOLLERR | EPOLLRDHUP)) != 0;
        if (ending) {
            // What arrived before the end is still the line's.
            if (!hungUp) UnwatchDescriptor(fd);
            hungUp = true;
            if (Pending() > 0 && !Deliver(kLineEventReceived)) return;
            Deliver(kLineEventHangUp);
            return;
        }
        if (!(events & EPOLLIN)) return;
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
        int queued = 0;
        if (fd < 0 || ioctl(fd, FIONREAD, &queued) != 0 || queued < 0) return 0;
        return static_cast<size_t>(queued);
    }
};

StreamSocket::StreamSocket() : state_(new State) {}

StreamSocket::~StreamSocket() {
    Close();
}

bool StreamSocket::Connect(const std::string& host, uint16_t port, unsigned timeoutMilliseconds) {
    Close();
    uint64_t deadline = MonotonicMicroseconds() + uint64_t{timeoutMilliseconds} * 1000;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    struct Lookup {
        int code = EAI_AGAIN;
        int error = 0; // errno of an EAI_SYSTEM failure
        addrinfo* found = nullptr;
    };
    std::string service = std::to_string(port);
    std::optional<Lookup> done = CallWithin<Lookup>(
        [host, service, hints] {
            Lookup lookup;
            lookup.code = getaddrinfo(host.c_str(), service.c_str(), &hints, &lookup.found);
            lookup.error = errno;
            return lookup;
        },
        [](Lookup& late) {
            if (late.code == 0) freeaddrinfo(late.found);
        },
        timeoutMilliseconds);
    if (!done || done->code != 0) {
        if (done && done->code == EAI_SYSTEM && done->error != 0) {
            errno = done->error;
            return false;
        }
        SetNetworkError(!done || done->code == EAI_AGAIN ? NetworkReason::TimedOut
                                                         : NetworkReason::NameUnknown);
        return false;
    }
    addrinfo* found = done->found;
    int fd = -1;
    int reason = ETIMEDOUT;
    for (addrinfo* address = found; address && fd < 0; address = address->ai_next) {
        if (MonotonicMicroseconds() >= deadline) break;
        fd = ConnectTo(*address, deadline);
        if (fd < 0) reason = errno;
    }
    freeaddrinfo(found);
    if (fd < 0) {
        errno = reason;
        return false;
    }
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    SetOption(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
#ifdef TCP_KEEPIDLE
    SetOption(fd, IPPROTO_TCP, TCP_KEEPIDLE, kKeepAliveIdleSeconds);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPINTVL, kKeepAliveIntervalSeconds);
    SetOption(fd, IPPROTO_TCP, TCP_KEEPCNT, kKeepAliveProbes);
#endif
#ifdef TCP_USER_TIMEOUT
    SetOption(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(kUnacknowledgedMilliseconds));
#endif
    state_->fd = fd;
    state_->transmitPending = false;
    state_->inputHeld = false;
    state_->hungUp = false;
    return true;
}

bool StreamSocket::IsOpen() const {
    return state_->fd >= 0;
}

void StreamSocket::Close() {
    if (state_->fd < 0) return;
    StopEvents();
    close(state_->fd);
    state_->fd = -1;
}

IoResult StreamSocket::ReadWithin(uint8_t* buffer, size_t size, size_t& got,
                                  unsigned timeoutMilliseconds) {
    got = 0;
    if (state_->fd < 0) {
        errno = EBADF;
        return IoResult::Failed;
    }
    pollfd in = {state_->fd, POLLIN, 0};
    int ready = poll(&in, 1, static_cast<int>(timeoutMilliseconds));
    if (ready == 0 || (ready < 0 && errno == EINTR)) return IoResult::Completed;
    if (ready < 0) return IoResult::Failed;
    ssize_t count = recv(state_->fd, buffer, size, 0);
    if (count <= 0) {
        if (count == 0) errno = ECONNRESET;
        return IoResult::Failed;
    }
    got = static_cast<size_t>(count);
    return IoResult::Completed;
}

bool StreamSocket::StartEvents(WindowHandle window, unsigned message) {
    State& s = *state_;
    if (s.fd < 0) return false;
    StopEvents();
    auto* relay = RelayWindow<State>::Create(&s, window);
    if (!relay) return false;
    if (!WatchDescriptor(s.fd, EPOLLIN | EPOLLRDHUP | EPOLLET, relay->Handle(),
                         kMessageSocketReady)) {
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
    if (!s.hungUp) UnwatchDescriptor(s.fd);
    RelayWindow<State>::End(s.relay);
    s.transmitPending = false;
    s.inputHeld = false;
}

size_t StreamSocket::Pending() {
    return state_->Pending();
}

IoResult StreamSocket::Read(uint8_t* buffer, size_t size, size_t& got) {
    got = 0;
    if (state_->fd < 0) return IoResult::Failed;
    ssize_t count = recv(state_->fd, buffer, size, MSG_DONTWAIT);
    if (count <= 0) return IoResult::Failed;
    got = static_cast<size_t>(count);
    return IoResult::Completed;
}

IoResult StreamSocket::Send(const uint8_t* bytes, size_t size) {
    int fd = state_->fd;
    if (fd < 0) return IoResult::Failed;
    IoResult result = IoResult::Completed;
    size_t sent = 0;
    while (sent < size) {
        // MSG_NOSIGNAL: a connection the server closed fails the call instead of ending the
        // program with SIGPIPE.
        ssize_t count = send(fd, bytes + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return IoResult::Failed;
        result = IoResult::CompletedLate;
        pollfd out = {fd, POLLOUT, 0};
        if (poll(&out, 1, kSendRoomMilliseconds) <= 0) return IoResult::Failed;
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
    uint8_t discard[4096];
    while (s.Pending() > 0 && recv(s.fd, discard, sizeof discard, MSG_DONTWAIT) > 0) {
    }
    s.transmitPending = false;
    s.inputHeld = false;
}

} // namespace qarn::platform
