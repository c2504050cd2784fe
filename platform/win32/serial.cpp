// Serial devices on the Win32 communications API. The port is opened for overlapped I/O and
// each kind of operation has its own overlapped record, so a read on the owner thread never
// completes or disturbs the reader thread's pending event wait.
#include "platform/serial.h"

#include <atomic>
#include <cctype>

#include <windows.h>

namespace qarn::platform {

namespace {

const BYTE kParityTable[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
const BYTE kStopBitsTable[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

// A failed event wait is retried after this pause, so a broken port cannot make the reader spin.
constexpr DWORD kFailedWaitBackoffMilliseconds = 50;

// "COMn" becomes "\\.\COMn", which names every port number; a name in that form is kept.
bool DevicePath(const std::string& name, std::string& path) {
    if (name.compare(0, 4, "\\\\.\\") == 0) {
        path = name;
        return name.size() > 4;
    }
    if (name.size() < 4 || name.compare(0, 3, "COM") != 0) return false;
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    if (name.find_first_not_of('0', 3) == std::string::npos) return false; // COM0
    path = "\\\\.\\" + name;
    return true;
}

// Waits for an overlapped operation that reported ERROR_IO_PENDING; false when it failed.
bool Complete(HANDLE port, OVERLAPPED& operation, DWORD& transferred) {
    return GetOverlappedResult(port, &operation, &transferred, TRUE) != FALSE;
}

struct Overlapped {
    OVERLAPPED record{};
    Overlapped() { record.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() {
        if (record.hEvent) CloseHandle(record.hEvent);
    }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    // Ready for a new operation: offsets cleared, event non-signalled.
    OVERLAPPED* Fresh() {
        HANDLE event = record.hEvent;
        record = OVERLAPPED{};
        record.hEvent = event;
        ResetEvent(event);
        return &record;
    }
};

} // namespace

struct SerialDevice::State {
    HANDLE port = INVALID_HANDLE_VALUE;
    Overlapped wait;  // the reader thread's event wait
    Overlapped read;  // reads on the owner thread
    Overlapped write; // writes on the owner thread
    // Set while the event mask is 0, so the reader's wait ends even when it starts after
    // the mask was cleared.
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<uint32_t> mask{0};

    ~State() {
        if (stop) CloseHandle(stop);
    }
    bool Valid() const { return port != INVALID_HANDLE_VALUE; }
};

SerialDevice::SerialDevice() : state_(new State) {}

SerialDevice::~SerialDevice() { Close(); }

bool SerialDevice::Open(const std::string& name) {
    Close();
    std::string path;
    if (!DevicePath(name, path)) return false;
    if (!state_->stop || !state_->wait.record.hEvent || !state_->read.record.hEvent ||
        !state_->write.record.hEvent)
        return false;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    state_->port = port;
    state_->mask = 0;
    SetEvent(state_->stop);
    return true;
}

bool SerialDevice::IsOpen() const { return state_->Valid(); }

void SerialDevice::Close() {
    if (!state_->Valid()) return;
    SetEventMask(0);
    CloseHandle(state_->port);
    state_->port = INVALID_HANDLE_VALUE;
}

bool SerialDevice::SetEventMask(uint32_t mask) {
    State& s = *state_;
    if (!s.Valid()) return false;
    s.mask = mask;
    if (mask == 0)
        SetEvent(s.stop);
    else
        ResetEvent(s.stop);
    return SetCommMask(s.port, mask) != FALSE;
}

bool SerialDevice::SetQueueSizes(uint32_t input, uint32_t output) {
    return state_->Valid() && SetupComm(state_->port, input, output) != FALSE;
}

bool SerialDevice::SetTimeouts(const SerialTimeouts& timeouts) {
    COMMTIMEOUTS current;
    if (!state_->Valid() || !GetCommTimeouts(state_->port, &current)) return false;
    current.ReadIntervalTimeout = timeouts.readInterval;
    current.ReadTotalTimeoutMultiplier = timeouts.readMultiplier;
    current.ReadTotalTimeoutConstant = timeouts.readConstant;
    current.WriteTotalTimeoutMultiplier = timeouts.writeMultiplier;
    current.WriteTotalTimeoutConstant = timeouts.writeConstant;
    return SetCommTimeouts(state_->port, &current) != FALSE;
}

bool SerialDevice::ApplyLineSettings(const LineSettings& settings) {
    if (!state_->Valid() || settings.parity >= sizeof kParityTable ||
        settings.stopBits >= sizeof kStopBitsTable)
        return false;
    DCB control{};
    control.DCBlength = sizeof control;
    if (!GetCommState(state_->port, &control)) return false;
    control.BaudRate = settings.baud;
    control.ByteSize = settings.dataBits;
    control.Parity = kParityTable[settings.parity];
    control.StopBits = kStopBitsTable[settings.stopBits];
    control.fBinary = TRUE;
    control.fParity = TRUE;
    control.XonChar = 0x11;
    control.XoffChar = 0x13;
    control.XonLim = 100;
    control.XoffLim = 100;
    bool dsrFlow = settings.flowFlags & 0x01;
    bool ctsFlow = settings.flowFlags & 0x02;
    bool xonXoff = settings.flowFlags & 0x04;
    control.fOutxDsrFlow = dsrFlow;
    control.fDtrControl = dsrFlow ? DTR_CONTROL_HANDSHAKE : DTR_CONTROL_ENABLE;
    control.fOutxCtsFlow = ctsFlow;
    control.fRtsControl = ctsFlow ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    control.fInX = xonXoff;
    control.fOutX = xonXoff;
    return SetCommState(state_->port, &control) != FALSE;
}

bool SerialDevice::Purge() {
    return state_->Valid() &&
           PurgeComm(state_->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR |
                                       PURGE_RXCLEAR) != FALSE;
}

uint32_t SerialDevice::WaitEvent() {
    State& s = *state_;
    // A wait that ends with no event was restarted by a new mask (see Write): wait again.
    while (s.Valid() && s.mask != 0) {
        DWORD events = 0;
        OVERLAPPED* operation = s.wait.Fresh();
        if (!WaitCommEvent(s.port, &events, operation)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                WaitForSingleObject(s.stop, kFailedWaitBackoffMilliseconds);
                return 0;
            }
            HANDLE ends[2] = {operation->hEvent, s.stop};
            DWORD transferred = 0;
            if (WaitForMultipleObjects(2, ends, FALSE, INFINITE) != WAIT_OBJECT_0) {
                // The mask was cleared: the wait is abandoned, and its record must be free
                // again before it is reused or the port is closed.
                CancelIoEx(s.port, operation);
                Complete(s.port, *operation, transferred);
                return 0;
            }
            if (!Complete(s.port, *operation, transferred)) return 0;
        }
        if (events != 0) return events;
    }
    return 0;
}

size_t SerialDevice::ClearError() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!state_->Valid() || !ClearCommError(state_->port, &errors, &status)) return 0;
    return status.cbInQue;
}

void SerialDevice::ClearBreak() {
    if (state_->Valid()) ClearCommBreak(state_->port);
}

IoResult SerialDevice::Read(uint8_t* buffer, size_t size, size_t& got) {
    got = 0;
    State& s = *state_;
    if (!s.Valid()) return IoResult::Failed;
    DWORD transferred = 0;
    OVERLAPPED* operation = s.read.Fresh();
    IoResult result = IoResult::Completed;
    if (!ReadFile(s.port, buffer, static_cast<DWORD>(size), &transferred, operation)) {
        if (GetLastError() != ERROR_IO_PENDING || !Complete(s.port, *operation, transferred))
            return IoResult::Failed;
        result = IoResult::CompletedLate;
    }
    got = transferred;
    return got > 0 ? result : IoResult::Failed;
}

IoResult SerialDevice::Write(const uint8_t* bytes, size_t size) {
    State& s = *state_;
    if (!s.Valid()) return IoResult::Failed;
    DWORD transferred = 0;
    OVERLAPPED* operation = s.write.Fresh();
    IoResult result = IoResult::Completed;
    if (!WriteFile(s.port, bytes, static_cast<DWORD>(size), &transferred, operation)) {
        if (GetLastError() != ERROR_IO_PENDING || !Complete(s.port, *operation, transferred) ||
            transferred != size)
            return IoResult::Failed;
        result = IoResult::CompletedLate;
    }
    // Some drivers (Wine's among them) report the transmitter empty only to an event wait
    // begun after the write; setting the mask again restarts the reader's pending wait.
    uint32_t mask = s.mask;
    if (mask & kLineEventTransmitEmpty) SetCommMask(s.port, mask);
    return result;
}

bool SerialDevice::SetRts(bool raised) {
    return state_->Valid() && EscapeCommFunction(state_->port, raised ? SETRTS : CLRRTS) != FALSE;
}

bool SerialDevice::SetDtr(bool raised) {
    return state_->Valid() && EscapeCommFunction(state_->port, raised ? SETDTR : CLRDTR) != FALSE;
}

} // namespace qarn::platform
