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

} // namespace

bool Line::OpenPty() {
    if (IsOpen()) return false;
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
    if (row == nullptr) return false;
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    if (!MakeRaw(fd, row->speed, true)) {
        close(fd);
        return false;
    }
    fd_ = fd;
    name_ = path;
    return true;
}

void Line::Close() {
    if (peer_ >= 0) close(peer_);
    if (fd_ >= 0) close(fd_);
    fd_ = peer_ = -1;
    name_.clear();
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
