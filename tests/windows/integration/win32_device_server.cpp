// On Windows the scenarios find ser2net already serving the simulator's line: the test script
// starts it on the Linux side and gives its ports in QARN_TEST_SER2NET_RAW and
// QARN_TEST_SER2NET_RFC2217, and kills or restarts it on request.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <string>

#include "device_server.h"

namespace scenario {

namespace {

int PortFrom(const char* variable) {
    const char* text = std::getenv(variable);
    return text ? std::atoi(text) : 0;
}

// A socket on 127.0.0.1 at a port the system chose; INVALID_SOCKET on failure.
SOCKET BoundSocket(int& port) {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (s == INVALID_SOCKET ||
        bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (s != INVALID_SOCKET) closesocket(s);
        return INVALID_SOCKET;
    }
    port = ntohs(address.sin_port);
    return s;
}

// Asks ./run's keeper of ser2net to act (it watches the directory named by
// QARN_TEST_SER2NET_REQUESTS for a file of that name) and waits until it says it has.
bool AskKeeper(const char* request, const char* done, int timeoutMilliseconds = 10000) {
    const char* directory = std::getenv("QARN_TEST_SER2NET_REQUESTS");
    if (!directory) return false;
    std::string base = std::string(directory) + "\\";
    DeleteFileA((base + done).c_str());
    HANDLE file = CreateFileA((base + request).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    for (int waited = 0; waited < timeoutMilliseconds; waited += 10) {
        if (GetFileAttributesA((base + done).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(10);
    }
    return false;
}

} // namespace

int UnusedPort() {
    int port = 0;
    SOCKET s = BoundSocket(port);
    if (s == INVALID_SOCKET) return 0;
    closesocket(s);
    return port;
}

SilentListener::SilentListener() {
    SOCKET s = BoundSocket(port_);
    if (s != INVALID_SOCKET && listen(s, 4) != 0) port_ = 0;
    socket_ = static_cast<int>(s);
}

SilentListener::~SilentListener() {
    if (static_cast<SOCKET>(socket_) != INVALID_SOCKET) closesocket(static_cast<SOCKET>(socket_));
}

// The scenarios that follow use the simulator's line directly: ser2net must have let go of it.
DeviceServer::~DeviceServer() {
    if (rawPort_ != 0) WaitForLineFree(20000);
}

bool DeviceServer::Start(const std::string& line, int, std::string& why) {
    line_ = line;
    rawPort_ = PortFrom("QARN_TEST_SER2NET_RAW");
    telnetPort_ = PortFrom("QARN_TEST_SER2NET_RFC2217");
    if (rawPort_ == 0 || telnetPort_ == 0) {
        why = "no ser2net beside Wine (package group network-lines of ./run): skipped";
        return false;
    }
    return true;
}

std::string DeviceServer::Raw(const std::string& values) const {
    return "tcp://127.0.0.1:" + std::to_string(rawPort_) + ":" + values;
}

std::string DeviceServer::Rfc2217(const std::string& values) const {
    return "rfc2217://127.0.0.1:" + std::to_string(telnetPort_) + ":" + values;
}

bool DeviceServer::WaitForLineFree(int timeoutMilliseconds) {
    return AskKeeper("release", "released", timeoutMilliseconds);
}

bool DeviceServer::Kill() {
    return AskKeeper("kill", "killed");
}

bool DeviceServer::Restart() {
    return AskKeeper("start", "started");
}

bool DeviceServer::Launch() {
    return false;
}

} // namespace scenario
