// Serial devices on termios. The reader thread's wait for line events is a poll over the device
// and a wake descriptor; "transmitter empty" is the output queue drained after a write.
#include "platform/serial.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace qarn::platform {

namespace {

struct BaudRow {
    uint32_t baud;
    speed_t speed;
};

const BaudRow kBaudTable[] = {
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

const tcflag_t kDataBitsFlags[] = {CS5, CS6, CS7, CS8}; // 5 to 8 data bits

// While a write is unconfirmed the reader looks at the output queue after a first short pause,
// then after pauses that double up to a limit: a pty drains at once, a slow line takes a while.
constexpr int kFirstTransmitPollMicroseconds = 100;
constexpr int kLongestTransmitPollMicroseconds = 1000;

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

// poll with a timeout in microseconds (negative: none).
int PollFor(pollfd* watched, nfds_t count, int microseconds) {
    timespec timeout{microseconds / 1000000, (microseconds % 1000000) * 1000L};
    return ppoll(watched, count, microseconds < 0 ? nullptr : &timeout, nullptr);
}

} // namespace

struct SerialDevice::State {
    int fd = -1;
    int wake = -1;
    std::atomic<uint32_t> mask{0};
    std::atomic<bool> transmitPending{false};
    // Set for the whole of a write, so a reply arriving before the write is marked pending is
    // still reported after it.
    std::atomic<bool> writing{false};
    // A reported input event is not reported again until the input queue has been drained.
    std::atomic<bool> receiveArmed{true};
    // A tty that hung up (its adapter unplugged, a pty's other side closed) stays hung up and
    // readable for good: once reported, the reader only waits to be woken.
    bool hungUp = false;

    void Wake() {
        uint64_t one = 1;
        (void)!write(wake, &one, sizeof one);
    }
    void DrainWake() {
        uint64_t count;
        (void)!read(wake, &count, sizeof count);
    }
#ifdef TIOCSRS485
    bool driverRts = false;
    serial_rs485 savedRs485{};
#endif

    // The driver's queue is empty and, where the driver tells, the last bit has left the line.
    bool OutputDrained() const {
        int queued = 0;
        if (ioctl(fd, TIOCOUTQ, &queued) != 0) return true;
        if (queued != 0) return false;
#ifdef TIOCSERGETLSR
        unsigned lineStatus = 0;
        if (ioctl(fd, TIOCSERGETLSR, &lineStatus) == 0) return (lineStatus & TIOCSER_TEMT) != 0;
#endif
        return true;
    }
};

SerialDevice::SerialDevice() : state_(new State) {}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& name) {
    Close();
    std::string path = name;
    if (name.size() >= 4 && name.compare(0, 3, "COM") == 0) {
        int number = std::atoi(name.c_str() + 3);
        if (number < 1) return false;
        path = "/dev/ttyS" + std::to_string(number - 1);
    }
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (!isatty(fd) || ioctl(fd, TIOCEXCL) != 0) {
        close(fd);
        return false;
    }
    int wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake < 0) {
        close(fd);
        return false;
    }
    state_->fd = fd;
    state_->wake = wake;
    state_->mask = 0;
    state_->transmitPending = false;
    state_->receiveArmed = true;
    state_->hungUp = false;
    return true;
}

bool SerialDevice::IsOpen() const {
    return state_->fd >= 0;
}

void SerialDevice::Close() {
    if (state_->fd < 0) return;
#ifdef TIOCSRS485
    if (state_->driverRts) ioctl(state_->fd, TIOCSRS485, &state_->savedRs485);
    state_->driverRts = false;
#endif
    ioctl(state_->fd, TIOCNXCL);
    close(state_->fd);
    close(state_->wake);
    state_->fd = -1;
    state_->wake = -1;
}

bool SerialDevice::SetEventMask(uint32_t mask) {
    if (state_->fd < 0) return false;
    state_->mask = mask;
    state_->Wake();
    return true;
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
    speed_t speed = 0;
    bool known = false;
    for (const BaudRow& row : kBaudTable)
        if (row.baud == settings.baud) {
            speed = row.speed;
            known = true;
        }
    if (!known || settings.dataBits < 5 || settings.dataBits > 8 || settings.parity > 4 ||
        settings.stopBits > 2)
        return false;
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
    // termios has no one and a half stop bits; two is the nearest longer setting.
    if (settings.stopBits != 0) line.c_cflag |= CSTOPB;
    if (settings.flowFlags & 0x02) line.c_cflag |= CRTSCTS;
    line.c_iflag &= ~(IXON | IXOFF);
    if (settings.flowFlags & 0x04) line.c_iflag |= IXON | IXOFF;
    line.c_cc[VSTART] = 0x11;
    line.c_cc[VSTOP] = 0x13;
    line.c_cc[VMIN] = 0;
    line.c_cc[VTIME] = 0;
    cfsetispeed(&line, speed);
    cfsetospeed(&line, speed);
    if (tcsetattr(state_->fd, TCSANOW, &line) == 0) return true;
    // Some drivers refuse a request they cannot fully honour although they applied the rest
    // (a pty keeps no parity, and then reports failure for a request that changes nothing):
    // the line is usable when it runs at the speed, character size and stop bits asked for.
    termios held{};
    if (tcgetattr(state_->fd, &held) != 0) return false;
    constexpr tcflag_t kFraming = CSIZE | CSTOPB;
    return cfgetospeed(&held) == speed && (held.c_cflag & kFraming) == (line.c_cflag & kFraming);
}

bool SerialDevice::Purge() {
    if (state_->fd < 0) return false;
    tcflush(state_->fd, TCIOFLUSH);
    // The reader is woken only when what it watches changed.
    bool wasPending = state_->transmitPending.exchange(false);
    bool wasArmed = state_->receiveArmed.exchange(true);
    if (wasPending || !wasArmed) state_->Wake();
    return true;
}

uint32_t SerialDevice::WaitEvent() {
    State& s = *state_;
    int transmitPoll = kFirstTransmitPollMicroseconds;
    for (;;) {
        uint32_t mask = s.mask;
        if (s.fd < 0 || mask == 0) return 0;
        bool transmitWatch = (mask & kLineEventTransmitEmpty) && s.transmitPending;
        if (transmitWatch && s.OutputDrained()) {
            s.transmitPending = false;
            return kLineEventTransmitEmpty;
        }
        pollfd watched[2] = {{s.wake, POLLIN, 0}, {s.hungUp ? -1 : s.fd, 0, 0}};
        if ((mask & kLineEventReceived) && s.receiveArmed) watched[1].events = POLLIN;
        int ready = PollFor(watched, 2, transmitWatch && !s.hungUp ? transmitPoll : -1);
        if (ready < 0 && errno != EINTR) return 0;
        if (transmitWatch)
            transmitPoll = std::min(2 * transmitPoll, kLongestTransmitPollMicroseconds);
        if (watched[0].revents & POLLIN) {
            s.DrainWake();
            if (s.mask == 0) return 0;
            transmitPoll = kFirstTransmitPollMicroseconds;
            // A write may have started: its transmitter-empty event goes before the input
            // that answers it.
            continue;
        }
        if (watched[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
            s.hungUp = true;
            return kLineEventHangUp;
        }
        if (watched[1].revents & POLLIN) {
            // Looked at after the poll: a write may have begun while it slept, and the input
            // may be its answer. writing is read first, as Write clears it only after marking
            // the write pending.
            bool holdInput = s.writing || ((mask & kLineEventTransmitEmpty) && s.transmitPending);
            if (holdInput) {
                // The write is reported first; the input stays queued until it has drained.
                pollfd wake = {s.wake, POLLIN, 0};
                PollFor(&wake, 1, transmitPoll);
                transmitPoll = std::min(2 * transmitPoll, kLongestTransmitPollMicroseconds);
                continue;
            }
            s.receiveArmed = false;
            return kLineEventReceived;
        }
    }
}

size_t SerialDevice::ClearError() {
    if (state_->fd < 0) return 0;
    int queued = 0;
    if (ioctl(state_->fd, FIONREAD, &queued) != 0) queued = 0;
    if (queued <= 0) {
        if (!state_->receiveArmed.exchange(true)) state_->Wake();
        return 0;
    }
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
    s.writing = true;
    IoResult result = WriteAll(s.fd, bytes, size);
    if (result != IoResult::Failed) s.transmitPending = true;
    s.writing = false;
    s.Wake();
    return result;
}

static bool SetModemLine(int fd, int line, bool raised) {
    if (fd < 0) return false;
    return ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) == 0;
}

bool SerialDevice::SetRts(bool raised) {
    return SetModemLine(state_->fd, TIOCM_RTS, raised);
}

bool SerialDevice::SetDtr(bool raised) {
    return SetModemLine(state_->fd, TIOCM_DTR, raised);
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
