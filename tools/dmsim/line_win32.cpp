#include "dmsim/line.h"

#include <windows.h>

#include <algorithm>

namespace dmsim {

namespace {

const int kSpeeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};

// A read waits for the first byte, then ends when no other follows within this time.
constexpr DWORD kByteGapMilliseconds = 5;
// A write that has not gone out after this long fails: nobody reads the line.
constexpr DWORD kWriteLimitMilliseconds = 1000;

HANDLE Handle(void* handle) {
    return static_cast<HANDLE>(handle);
}

// 8 data bits, even parity, 1 stop bit, no flow control, DTR and RTS on; a read takes what has
// arrived, waiting for the first.
bool Configure(HANDLE port, int baud) {
    DCB settings{};
    settings.DCBlength = sizeof settings;
    if (!GetCommState(port, &settings)) return false;
    settings.BaudRate = static_cast<DWORD>(baud);
    settings.ByteSize = 8;
    settings.Parity = EVENPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = TRUE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fRtsControl = RTS_CONTROL_ENABLE;
    settings.fAbortOnError = FALSE;
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kByteGapMilliseconds;
    return SetCommState(port, &settings) && SetCommTimeouts(port, &timeouts) &&
           PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
}

} // namespace

bool Line::IsOpen() const {
    return port_ != nullptr;
}

bool Line::OpenPty() {
    return false;
}

bool Line::OpenDevice(const std::string& path, int baud) {
    if (IsOpen() || path.empty() ||
        std::find(std::begin(kSpeeds), std::end(kSpeeds), baud) == std::end(kSpeeds))
        return false;
    // COM10 and above open only through the device namespace; every name may use it.
    std::string device = path.rfind("\\\\", 0) == 0 ? path : "\\\\.\\" + path;
    HANDLE port = CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    port_ = port;
    wake_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    reads_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wake_ == nullptr || reads_ == nullptr || !Configure(port, baud)) {
        Close();
        return false;
    }
    name_ = path;
    return true;
}

void Line::Close() {
    for (void* handle : {port_, wake_, reads_})
        if (handle != nullptr) CloseHandle(Handle(handle));
    port_ = wake_ = reads_ = nullptr;
    name_.clear();
}

Line::Wait Line::Read(uint8_t* buffer, size_t size, int milliseconds, size_t& got) {
    got = 0;
    if (WaitForSingleObject(Handle(wake_), 0) != WAIT_TIMEOUT) return Wait::kWoken;
    OVERLAPPED overlapped{};
    overlapped.hEvent = Handle(reads_);
    DWORD count = 0;
    auto asked = static_cast<DWORD>(std::min<size_t>(size, 1 << 16));
    DWORD woke = WAIT_OBJECT_0;
    if (!ReadFile(Handle(port_), buffer, asked, &count, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return Wait::kBroken;
        HANDLE events[2] = {Handle(reads_), Handle(wake_)};
        woke = WaitForMultipleObjects(
            2, events, FALSE, milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
        if (woke != WAIT_OBJECT_0) CancelIoEx(Handle(port_), &overlapped);
        // A cancelled read may still have taken bytes: they count.
        if (!GetOverlappedResult(Handle(port_), &overlapped, &count, TRUE)) {
            if (woke == WAIT_OBJECT_0) return Wait::kBroken;
            count = 0;
        }
    }
    if (count > 0) {
        got = count;
        return Wait::kBytes;
    }
    if (woke == WAIT_TIMEOUT) return Wait::kQuiet;
    return woke == WAIT_OBJECT_0 ? Wait::kAgain : Wait::kWoken;
}

bool Line::Wake() {
    return SetEvent(Handle(wake_));
}

void Line::ClearWake() {
    ResetEvent(Handle(wake_));
}

void Line::Discard() {
    PurgeComm(Handle(port_), PURGE_RXCLEAR);
}

bool Line::Write(const uint8_t* bytes, size_t count) {
    if (!IsOpen()) return false;
    // Several threads may write (one at a time): each write waits on an event of its own.
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (done == nullptr) return false;
    bool ok = true;
    while (ok && count > 0) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = done;
        DWORD written = 0;
        auto asked = static_cast<DWORD>(std::min<size_t>(count, 1 << 16));
        if (!WriteFile(Handle(port_), bytes, asked, &written, &overlapped)) {
            ok = GetLastError() == ERROR_IO_PENDING;
            if (ok && WaitForSingleObject(done, kWriteLimitMilliseconds) != WAIT_OBJECT_0)
                CancelIoEx(Handle(port_), &overlapped);
            ok = ok && GetOverlappedResult(Handle(port_), &overlapped, &written, TRUE);
        }
        ok = ok && written > 0;
        bytes += written;
        count -= written;
    }
    CloseHandle(done);
    return ok;
}

} // namespace dmsim
