#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "device_server.h"

namespace scenario {

namespace {

std::string FindServer() {
    for (const char* folder : {"/usr/sbin", "/usr/bin", "/usr/local/sbin", "/usr/local/bin"}) {
        std::string path = std::string(folder) + "/ser2net";
        if (access(path.c_str(), X_OK) == 0) return path;
    }
    return "";
}

// A socket on 127.0.0.1 at a port the system chose; -1 on failure.
int BoundSocket(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// True while a socket listens on the port: the system's table gives the local address as
// ADDRESS:PORT in hexadecimal and the state LISTEN as 0A.
bool Listening(int port) {
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream in(table);
        std::string slot, local, remote, state, rest;
        std::getline(in, rest); // the heading
        while (in >> slot >> local >> remote >> state && std::getline(in, rest))
            if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == wanted)
                return true;
    }
    return false;
}

template <class Done> bool PollFor(int timeoutMilliseconds, Done done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

int UnusedPort() {
    int port = 0;
    int fd = BoundSocket(port);
    if (fd < 0) return 0;
    close(fd);
    return port;
}

SilentListener::SilentListener() {
    socket_ = BoundSocket(port_);
    if (socket_ >= 0 && listen(socket_, 4) != 0) port_ = 0;
}

SilentListener::~SilentListener() {
    if (socket_ >= 0) close(socket_);
}

DeviceServer::~DeviceServer() {
    Kill();
    if (config_.empty()) return;
    std::remove(config_.c_str());
    std::remove((config_ + ".pid").c_str());
}

bool DeviceServer::Start(const std::string& line, int baud, std::string& why) {
    if (FindServer().empty()) {
        why = "ser2net is not installed (package group network-lines of ./run): skipped";
        return false;
    }
    line_ = line;
    rawPort_ = UnusedPort();
    telnetPort_ = UnusedPort();
    config_ = (std::filesystem::temp_directory_path() /
               ("qarn-ser2net-" + std::to_string(getpid()) + ".yaml"))
                  .string();
    // "local": no modem lines on a pty; kickolduser: a new client takes the line from the old.
    std::string serial = "serialdev," + line + "," + std::to_string(baud) + "e81,local";
    std::ofstream out(config_);
    out << "%YAML 1.1\n---\n"
        << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort_ << "\n  connector: " << serial
        << "\n  options:\n    kickolduser: true\n"
        << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort_
        << "\n  connector: " << serial << "\n  options:\n    kickolduser: true\n";
    out.close();
    if (rawPort_ == 0 || telnetPort_ == 0 || !out || !Launch()) {
        why = "ser2net did not start on 127.0.0.1";
        return false;
    }
    return true;
}

bool DeviceServer::Launch() {
    std::string server = FindServer();
    pid_t pid = fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        // Nothing of this process's goes with it: the simulator's own end of the line least.
        for (int fd = 3, last = static_cast<int>(sysconf(_SC_OPEN_MAX)); fd < last; ++fd)
            close(fd);
        // The process file of its own: ser2net removes it as it ends.
        std::string processFile = config_ + ".pid";
        execl(server.c_str(), "ser2net", "-n", "-c", config_.c_str(), "-P", processFile.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    if (pid < 0) return false;
    pid_ = pid;
    return PollFor(5000, [this] { return Listening(rawPort_) && Listening(telnetPort_); });
}

std::string DeviceServer::Raw(const std::string& values) const {
    return "tcp://127.0.0.1:" + std::to_string(rawPort_) + ":" + values;
}

std::string DeviceServer::Rfc2217(const std::string& values) const {
    return "rfc2217://127.0.0.1:" + std::to_string(telnetPort_) + ":" + values;
}

bool DeviceServer::WaitForLineFree(int timeoutMilliseconds) {
    std::string line = std::filesystem::canonical(line_).string();
    std::string fds = "/proc/" + std::to_string(pid_) + "/fd";
    return PollFor(timeoutMilliseconds, [&] {
        std::error_code failed;
        for (const auto& entry : std::filesystem::directory_iterator(fds, failed)) {
            std::error_code unreadable;
            if (std::filesystem::read_symlink(entry.path(), unreadable).string() == line)
                return false;
        }
        return true;
    });
}

bool DeviceServer::Kill() {
    if (pid_ <= 0) return false;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
    return true;
}

bool DeviceServer::Restart() {
    return pid_ == 0 && !config_.empty() && Launch();
}

} // namespace scenario
