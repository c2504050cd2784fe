// Serial devices on termios. Line events come from the owner thread's own message queue, which
// watches the device (edge-triggered) beside its posted messages and timers: a reply costs one
// wake-up of that thread and no thread of its own. "Transmitter empty" is looked at by a timer,
// first when the write's characters can have left the wire at the line's speed, then until the
// output queue has drained and, where the driver tells, the shift register is empty.
#include "platform/serial.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

#include "platform/clock.h"
#include "platform/posix/descriptor_watch.h"
#include "platform/posix/line_speed.h"
#include "platform/posix/termios2.h"
#include "platform/relay_window.h"
#include "platform/wire_time.h"

namespace qarn::platform {

namespace {

const tcflag_t kDataBitsFlags[] = {CS5, CS6, CS7, CS8}; // 5 to 8 data bits

// While a write is unconfirmed the output queue is looked at once its characters can have left
// the wire, then after pauses that double up to a limit: a pty drains at once, a slow line takes a
// while.
constexpr uint64_t kFirstTransmitPollMicroseconds = 100;
constexpr uint64_t kLongestTransmitPollMicroseconds = 1000;

// The relay window's messages and timer.
constexpr unsigned kMessageDeviceReady = 0x0401;
constexpr unsigned kTransmitTimer = 1;
constexpr unsigned kHeldInputTimer = 2;

// "COMn" and "\\.\COMn" name /dev/ttyS<n-1>; a name that begins with '/' is the device's path.
bool DevicePath(const std::string& name, std::string& path) {
    if (!name.empty() && name[0] == '/') {
        path = name;
        return true;
    }
    std::string port = name.compare(0, 4, "\\\\.\\") == 0 ? name.substr(4) : name;
    if (port.size() < 4 || strncasecmp(port.c_str(), "COM", 3) != 0) return false;
    char* end = nullptr;
    unsigned long number = std::strtoul(port.c_str() + 3, &end, 10);
    if (*end != '\0' || !std::isdigit(static_cast<unsigned char>(port[3])) || number < 1)
        return false;
    path = "/dev/ttyS" + std::to_string(number - 1);
    return true;
}

// Writes everything, waiting for room when the driver's queue is full.
IoResult WriteAll(int fd, const uint8_t* bytes, size_t size) {
    IoResult result = IoResult::Completed;
    size_t written = 0;
    while (written < size) {
        ssize_t count = write(fd, bytes + written, size - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR) return IoResult::Failed;
        result = IoResult::CompletedLate;
        pollfd out = {fd, POLLOUT, 0};
        if (poll(&out, 1, 1000) <= 0) return IoResult::Failed;
    }
    return result;
}

} // namespace

// Everything here belongs to the thread that opened the device.
struct SerialDevice::State {
    int fd = -1;
    uint32_t mask = 0;
    RelayWindow<State>* relay = nullptr; // while events are delivered
    WindowHandle target = 0;
    unsigned targetMessage = 0;
    bool transmitPending = false;
    uint64_t transmitPoll = kFirstTransmitPollMicroseconds;
    bool inputHeld = false; // input arrived while a write was unconfirmed
    bool watched = false;   // a tty that hung up stays readable for good: it is watched no more
    LineSettings line{};    // as the driver applied them
    // Drivers without the line-status or modem-line requests (a pty) are not asked again.
    bool lineStatusKnown = true;
    bool modemLinesKnown = true;

    // Hands one event to the target window; false when its handler stopped the delivery.
    bool Deliver(uint32_t event) {
        if (event == kLineEventHangUp || (mask & event))
            SendToWindow(target, targetMessage, 0, event);
        return relay != nullptr;
    }
    bool OnRelayMessage(unsigned message, MessageParam wParam, MessageParam lParam);
    void OnDeviceReady(uint32_t events);
    void OnTransmitTimer();
    void OnHeldInputTimer();
    void CheckTransmitSoon(uint64_t due);
    void Unwatch() {
        if (watched) UnwatchDescriptor(fd);
        watched = false;
    }
#ifdef TIOCSRS485
    bool driverRts = false;
    serial_rs485 savedRs485{};
#endif

    // The driver's queue is empty and, where the driver tells, the last bit has left the line.
    bool OutputDrained() {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) return true;
        if (queued != 0) return false;
#ifdef TIOCSERGETLSR
        unsigned lineStatus = 0;
        if (lineStatusKnown) {
            if (ioctl(fd, TIOCSERGETLSR, &lineStatus) == 0) return (lineStatus & TIOCSER_TEMT) != 0;
            lineStatusKnown = errno != ENOTTY && errno != EINVAL;
        }
#endif
        return true;
    }

    bool SetModemLine(int line, bool raised) {
        if (fd < 0 || !modemLinesKnown) return false;
        if (ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
        modemLinesKnown = errno != ENOTTY && errno != EINVAL;
        return false;
    }
};

// The relay takes the device's readiness and the transmit and held-input timers.
bool SerialDevice::State::OnRelayMessage(unsigned message, MessageParam wParam,
                                         MessageParam lParam) {
    if (message == kMessageDeviceReady)
        OnDeviceReady(static_cast<uint32_t>(lParam));
    else if (message == kMessageTimer && wParam == kTransmitTimer)
        OnTransmitTimer();
    else if (message == kMessageTimer && wParam == kHeldInputTimer)
        OnHeldInputTimer();
    else
        return false;
    return true;
}

void SerialDevice::State::OnDeviceReady(uint32_t events) {
    if (events & (EPOLLHUP | EPOLLERR)) {
        Unwatch();
        Deliver(kLineEventHangUp);
        return;
    }
    if (!(events & EPOLLIN)) return;
    if (transmitPending && (mask & kLineEventTransmitEmpty))
        inputHeld = true;
    else
        Deliver(kLineEventReceived);
}

void SerialDevice::State::CheckTransmitSoon(uint64_t due) {
    relay->SetDeadlineTimer(kTransmitTimer, due);
}

void SerialDevice::State::OnTransmitTimer() {
    if (!transmitPending) return;
    if (!OutputDrained()) {
        CheckTransmitSoon(MonotonicMicroseconds() + transmitPoll);
        transmitPoll = std::min(2 * transmitPoll, kLongestTransmitPollMicroseconds);
        return;
    }
    transmitPending = false;
    if (!Deliver(kLineEventTransmitEmpty)) return;
    // The held input follows once what the handler queued has run, as input arriving then would.
    if (inputHeld) relay->SetDeadlineTimer(kHeldInputTimer, 0);
}

void SerialDevice::State::OnHeldInputTimer() {
    if (!inputHeld || transmitPending) return;
    inputHeld = false;
    Deliver(kLineEventReceived);
}

SerialDevice::SerialDevice() : state_(new State) {}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& name) {
    Close();
    std::string path;
    if (!DevicePath(name, path)) {
        errno = EINVAL;
        return false;
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    // One program per port, as Windows opens a COM port exclusively. The lock belongs to this
    // open of the device, not to the process, so it also keeps a second device object of the
    // same program out, and it ends with the descriptor however the program ends. (TIOCEXCL
    // would not do: root passes it, and it outlives a killed holder while another program
    // keeps the line open.)
    int reason = 0;
    if (!isatty(fd))
        reason = ENOTTY;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        reason = errno == EWOULDBLOCK ? EBUSY : errno;
    if (reason != 0) {
        close(fd);
        errno = reason;
        return false;
    }
    state_->fd = fd;
    state_->mask = 0;
    state_->transmitPending = false;
    state_->inputHeld = false;
    state_->lineStatusKnown = true;
    state_->modemLinesKnown = true;
    return true;
}

bool SerialDevice::IsOpen() const {
    return state_->fd >= 0;
}

void SerialDevice::Close() {
    if (state_->fd < 0) return;
    StopEvents();
#ifdef TIOCSRS485
    if (state_->driverRts) ioctl(state_->fd, TIOCSRS485, &state_->savedRs485);
    state_->driverRts = false;
#endif
    close(state_->fd);
    state_->fd = -1;
}

bool SerialDevice::SetEventMask(uint32_t mask) {
    if (state_->fd < 0) return false;
    state_->mask = mask;
    return true;
}

bool SerialDevice::StartEvents(WindowHandle window, unsigned message) {
    State& s = *state_;
    if (s.fd < 0) return false;
    StopEvents();
    auto* relay = RelayWindow<State>::Create(&s, window);
    if (!relay) return false;
    // Input already queued is reported at once: the watch starts ready.
    if (!WatchDescriptor(s.fd, EPOLLIN | EPOLLET, relay->Handle(), kMessageDeviceReady)) {
        RelayWindow<State>::End(relay);
        return false;
    }
    s.relay = relay;
    s.watched = true;
    s.target = window;
    s.targetMessage = message;
    return true;
}

void SerialDevice::StopEvents() {
    State& s = *state_;
    if (!s.relay) return;
    s.Unwatch();
    RelayWindow<State>::End(s.relay);
    s.transmitPending = false;
    s.inputHeld = false;
}

bool SerialDevice::SetQueueSizes(uint32_t, uint32_t) {
    // The kernel's tty buffers are fixed; frames are far smaller than them.
    return state_->fd >= 0;
}

bool SerialDevice::SetTimeouts(const SerialTimeouts&) {
    // Reads and writes are non-blocking here; the caller's waits bound them.
    return state_->fd >= 0;
}

bool SerialDevice::ApplyLineSettings(const LineSettings& settings) {
    if (state_->fd < 0) return false;
    // termios has one and a half stop bits only as two on 5-bit characters, which UARTs send
    // as one and a half; on longer characters it would be two without a word.
    if (settings.baud == 0 || settings.dataBits < 5 || settings.dataBits > 8 ||
        settings.parity > 4 || settings.stopBits > 2 ||
        (settings.stopBits == 1 && settings.dataBits != 5)) {
        errno = EINVAL;
        return false;
    }
    termios line{};
    if (tcgetattr(state_->fd, &line) != 0) return false;
    cfmakeraw(&line);
    line.c_cflag |= CLOCAL | CREAD;
    line.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    line.c_cflag |= kDataBitsFlags[settings.dataBits - 5];
    if (settings.parity != 0) {
        line.c_cflag |= PARENB;
        line.c_iflag |= INPCK;
        if (settings.parity == 1 || settings.parity == 3) line.c_cflag |= PARODD;
        if (settings.parity >= 3) line.c_cflag |= CMSPAR;
    }
    if (settings.stopBits != 0) line.c_cflag |= CSTOPB;
    if (settings.flowFlags & 0x02) line.c_cflag |= CRTSCTS;
    line.c_iflag &= ~(IXON | IXOFF);
    if (settings.flowFlags & 0x04) line.c_iflag |= IXON | IXOFF;
    line.c_cc[VSTART] = 0x11;
    line.c_cc[VSTOP] = 0x13;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    speed_t standard = StandardSpeed(settings.baud);
    if (standard != B0) {
        cfsetispeed(&line, standard);
        cfsetospeed(&line, standard);
    }
    int reason = 0;
    if (tcsetattr(state_->fd, TCSANOW, &line) != 0) reason = errno;
    if (standard == B0 && !SetOtherSpeed(state_->fd, settings.baud) && reason == 0) reason = errno;
    // Drivers apply what they can: some refuse a request they cannot fully honour although they
    // applied the rest, others take it and keep values of their own (a speed out of their
    // range, a character size they lack). The settings read back decide: the line is usable
    // when it runs at the speed, character size and stop bits asked for. Parity is not read
    // back, as a pty keeps none.
    termios held{};
    uint32_t running = 0;
    if (tcgetattr(state_->fd, &held) != 0 || !ReadSpeed(state_->fd, running)) return false;
    constexpr tcflag_t kFraming = CSIZE | CSTOPB;
    if (SpeedHolds(settings.baud, running) &&
        (held.c_cflag & kFraming) == (line.c_cflag & kFraming)) {
        state_->line = settings; // the wire time counts what the line runs
        return true;
    }
    errno = reason != 0 ? reason : EINVAL;
    return false;
}

bool SerialDevice::Purge() {
    if (state_->fd < 0) return false;
    tcflush(state_->fd, TCIOFLUSH);
    state_->transmitPending = false;
    state_->inputHeld = false;
    return true;
}

size_t SerialDevice::ClearError() {
    if (state_->fd < 0) return 0;
    int queued = 0;
    if (ioctl(state_->fd, FIONREAD, &queued) != 0 || queued < 0) return 0;
    return static_cast<size_t>(queued);
}

void SerialDevice::ClearBreak() {}

IoResult SerialDevice::Read(uint8_t* buffer, size_t size, size_t& got) {
    got = 0;
    if (state_->fd < 0) return IoResult::Failed;
    ssize_t count = read(state_->fd, buffer, size);
    if (count <= 0) return IoResult::Failed;
    got = static_cast<size_t>(count);
    return IoResult::Completed;
}

IoResult SerialDevice::Write(const uint8_t* bytes, size_t size) {
    State& s = *state_;
    if (s.fd < 0) return IoResult::Failed;
    uint64_t began = MonotonicMicroseconds();
    IoResult result = WriteAll(s.fd, bytes, size);
    if (result != IoResult::Failed && s.relay) {
        s.transmitPending = true;
        s.transmitPoll = kFirstTransmitPollMicroseconds;
        // Whatever the driver says sooner, the last character is on the wire until then.
        s.CheckTransmitSoon(began + WireMicroseconds(size, s.line));
    }
    return result;
}

bool SerialDevice::SetRts(bool raised) {
    return state_->SetModemLine(TIOCM_RTS, raised);
}

bool SerialDevice::SetDtr(bool raised) {
    return state_->SetModemLine(TIOCM_DTR, raised);
}

bool SerialDevice::SetDriverRtsControl(unsigned leadMilliseconds, unsigned tailMilliseconds) {
#ifdef TIOCSRS485
    State& s = *state_;
    if (s.fd < 0) return false;
    serial_rs485 current{};
    if (ioctl(s.fd, TIOCGRS485, &current) != 0) return false;
    serial_rs485 wanted = current;
    wanted.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    wanted.flags &= ~static_cast<uint32_t>(SER_RS485_RTS_AFTER_SEND);
    wanted.delay_rts_before_send = leadMilliseconds;
    wanted.delay_rts_after_send = tailMilliseconds;
    if (ioctl(s.fd, TIOCSRS485, &wanted) != 0) return false;
    // A driver may accept the call yet leave the mode off; only a mode that took counts.
    serial_rs485 taken{};
    if (ioctl(s.fd, TIOCGRS485, &taken) != 0 || !(taken.flags & SER_RS485_ENABLED)) {
        ioctl(s.fd, TIOCSRS485, &current);
        return false;
    }
    s.savedRs485 = current;
    s.driverRts = true;
    return true;
#else
    (void)leadMilliseconds;
    (void)tailMilliseconds;
    return false;
#endif
}

} // namespace qarn::platform
