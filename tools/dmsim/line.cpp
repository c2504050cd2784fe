#include "dmsim/line.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace dmsim {

namespace {

struct SpeedRow {
    int baud;
    speed_t speed;
};

const SpeedRow kSpeeds[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
};

bool MakeRaw(int fd, speed_t speed, bool evenParity) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) return false;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    if (evenParity) settings.c_cflag |= PARENB;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

bool SetNonBlocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The pipe through which Wake ends a waiting Read.
bool OpenWakePipe(int (&wake)[2]) {
    return pipe2(wake, O_CLOEXEC | O_NONBLOCK) == 0;
}

} // namespace

bool Line::IsOpen() const {
    return fd_ >= 0;
}

bool Line::OpenPty() {
    if (IsOpen() || !OpenWakePipe(wake_)) return false;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0) return false;
    // ptsname_r: several simulators may open their lines on several threads at once.
    char name[128];
    int peer = -1;
    if (grantpt(master) == 0 && unlockpt(master) == 0 && ptsname_r(master, name, sizeof name) == 0)
        peer = open(name, O_RDWR | O_NOCTTY);
    if (peer < 0 || !MakeRaw(peer, B9600, false) || !SetNonBlocking(master)) {
        if (peer >= 0) close(peer);
        close(master);
        Close();
        return false;
    }
    fd_ = master;
    peer_ = peer;
    name_ = name;
    return true;
}

bool Line::OpenDevice(const std::string& path, int baud) {
    if (IsOpen()) return false;
    const SpeedRow* row = nullptr;
    for (const SpeedRow& candidate : kSpeeds)
        if (candidate.baud == baud) row = &candidate;
    if (row == nullptr || !OpenWakePipe(wake_)) return false;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0 || !MakeRaw(fd, row->speed, true)) {
        if (fd >= 0) close(fd);
        Close();
        return false;
    }
    fd_ = fd;
    name_ = path;
    return true;
}

void Line::Close() {
    for (int fd : {peer_, fd_, wake_[0], wake_[1]})
        if (fd >= 0) close(fd);
    fd_ = peer_ = wake_[0] = wake_[1] = -1;
    name_.clear();
}

Line::Wait Line::Read(uint8_t* buffer, size_t size, int milliseconds, size_t& got) {
    got = 0;
    pollfd ready[2] = {{fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int count = poll(ready, 2, milliseconds);
    if (count < 0) return errno == EINTR ? Wait::kAgain : Wait::kWoken;
    if (ready[1].revents != 0) return Wait::kWoken;
    if (count == 0) return Wait::kQuiet;
    if ((ready[0].revents & POLLIN) != 0) {
        ssize_t bytesRead = read(fd_, buffer, size);
        if (bytesRead <= 0) return Wait::kAgain;
        got = static_cast<size_t>(bytesRead);
        return Wait::kBytes;
    }
    return ready[0].revents != 0 ? Wait::kBroken : Wait::kAgain;
}

bool Line::Wake() {
    const char byte = 1;
    // A full pipe wakes the reader as well as one more byte would.
    return write(wake_[1], &byte, 1) == 1 || errno == EAGAIN;
}

void Line::ClearWake() {
    char drained[16];
    while (read(wake_[0], drained, sizeof drained) > 0) {
    }
}

void Line::Discard() {
    uint8_t discarded[4096];
    while (read(fd_, discarded, sizeof discarded) > 0) {
    }
}

bool Line::Write(const uint8_t* bytes, size_t count) {
    if (!IsOpen()) return false;
    while (count > 0) {
        ssize_t written = write(fd_, bytes, count);
        if (written > 0) {
            bytes += written;
            count -= static_cast<size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        pollfd ready{fd_, POLLOUT, 0};
        if (poll(&ready, 1, 1000) <= 0) return false;
    }
    return true;
}

} // namespace dmsim
