// Serial devices on the Win32 communications API. The port is opened for overlapped I/O and
// each kind of operation has its own overlapped record, so a read on the owner thread never
// completes or disturbs the reader thread's pending event wait.
//
// Line events: a reader thread waits for them and posts each to a relay window on the owner
// thread, which hands it to the target window; the reader looks for the next one only after
// that handler has returned.
//
// Transmit-empty: reported once per write, never before the write's characters can have left
// the wire at the line's speed: the driver's output queue empties while the UART's FIFO still
// sends, and an adapter that echoes its own transmission has input at once. Past that time the
// driver's own report or the drained output queue ends the wait; some drivers never report it
// (Wine on a pty reports it only by chance), so the reader watches the queue too. Input that
// arrives while a write is unconfirmed is held back until its transmit-empty has been reported:
// a terminal that answers at once must not have its reply handled before the frame it answers
// counts as sent.
#include "platform/serial.h"

#include "platform/clock.h"
#include "platform/relay_window.h"
#include "platform/wire_time.h"

#include <algorithm>
#include <atomic>
#include <cctype>

#include <windows.h>

namespace qarn::platform {

namespace {

const BYTE kParityTable[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
const BYTE kStopBitsTable[] = {ONESTOPBIT, ONE5STOPBITS, TWOSTOPBITS};

constexpr unsigned kMessageLineEvent = WM_USER + 1; // the relay window's

// A port whose event wait cannot even start is retried after this pause.
constexpr DWORD kFailedWaitBackoffMilliseconds = 50;
// A wait that ended without an event (in an error, say) is started again after a pause that
// doubles up to a limit, so no driver makes the reader spin. A driver whose waits keep ending
// so (Wine's on a pty, within 1 ms each) is polled instead: after each pause the reader looks at
// the input queue, which costs far less than starting a wait.
// A write starts the pauses afresh, as the reply to it is due soon.
constexpr DWORD kFirstFailurePauseMilliseconds = 1;
constexpr DWORD kLongestFailurePauseMilliseconds = 50;
constexpr int kEmptyWaitsBeforePolling = 3;
// While a write is unconfirmed and its characters can have left the wire, the reader looks at
// the output queue this often.
constexpr DWORD kTransmitPollMilliseconds = 2;

// "COMn" becomes "\\.\COMn", which names every port number; a name in that form is kept.
bool DevicePath(const std::string& name, std::string& path) {
    if (name.compare(0, 4, "\\\\.\\") == 0) {
        path = name;
        return name.size() > 4;
    }
    if (name.size() < 4) return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return false;
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    if (name.find_first_not_of('0', 3) == std::string::npos) return false; // COM0
    path = "\\\\.\\" + name;
    return true;
}

// The settings a driver keeps hold the ones asked when speed, character size and stop bits do.
bool FramingHolds(const DCB& asked, const DCB& held) {
    return held.BaudRate == asked.BaudRate && held.ByteSize == asked.ByteSize &&
           held.StopBits == asked.StopBits;
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

enum class WaitStart { Completed, Pending, Failed };

} // namespace

struct SerialDevice::State {
    HANDLE port = INVALID_HANDLE_VALUE;
    Overlapped wait;  // the reader thread's event wait
    Overlapped read;  // reads on the owner thread
    Overlapped write; // writes on the owner thread
    // Set while the event mask is 0, so the reader's wait ends even when it starts after
    // the mask was cleared.
    HANDLE stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE written = CreateEventA(nullptr, FALSE, FALSE, nullptr); // a write has begun
    std::atomic<uint32_t> mask{0};
    // Set for the whole of a write, so input that answers it before the write is marked
    // pending is still held back.
    std::atomic<bool> writing{false};
    std::atomic<bool> transmitPending{false};
    // MonotonicMicroseconds when the last character of the unconfirmed write can have left.
    std::atomic<uint64_t> transmitDue{0};
    LineSettings line{}; // as the driver applied them
    // The reader thread's own: an event wait may stay pending from one WaitEvent to the next.
    bool waitPending = false;
    DWORD waitEvents = 0;
    DWORD failurePause = kFirstFailurePauseMilliseconds;
    uint32_t seen = 0;  // events the driver reported and the reader has not handed over yet
    int emptyWaits = 0; // in a row
    // Polling reports input once, then again only after the owner has emptied the queue.
    std::atomic<bool> receiveArmed{true};

    // Delivery. The reader thread's: delivering, handshake (set while the reader may post the
    // next event), relayWindow. The owner thread's: the rest.
    HANDLE reader = nullptr;
    // Set by the reader as it leaves its loop: waiting for that, not for the thread's end, lets
    // a thread that ends with its port open close it while the loader holds its lock.
    HANDLE readerLeft = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE handshake = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    std::atomic<bool> delivering{false};
    WindowHandle relayWindow = 0;
    RelayWindow<State>* relay = nullptr;
    WindowHandle target = 0;
    unsigned targetMessage = 0;

    ~State() {
        for (HANDLE event : {stop, written, handshake, readerLeft})
            if (event) CloseHandle(event);
    }
    bool Valid() const { return port != INVALID_HANDLE_VALUE; }
    bool Ready() const {
        return stop && written && handshake && readerLeft && wait.record.hEvent &&
               read.record.hEvent && write.record.hEvent;
    }

    uint32_t WaitEvent();
    size_t ClearError();

    void ReadEvents() {
        while (delivering) {
            uint32_t event = WaitEvent();
            if (!delivering) break;
            if (event == 0) {
                ClearError();
                continue;
            }
            WaitForSingleObject(handshake, INFINITE);
            if (!delivering) break;
            ResetEvent(handshake);
            PostToWindow(relayWindow, kMessageLineEvent, 0, static_cast<MessageParam>(event));
        }
    }
    // The relay hands the reader's events on, then lets the reader look for the next one; a
    // handler that stopped the delivery has set the handshake itself.
    bool OnRelayMessage(unsigned message, MessageParam, MessageParam lParam) {
        if (message != kMessageLineEvent) return false;
        SendToWindow(target, targetMessage, 0, lParam);
        if (relay) SetEvent(handshake);
        return true;
    }
    static DWORD WINAPI ReaderMain(void* state) {
        HANDLE left = static_cast<State*>(state)->readerLeft;
        static_cast<State*>(state)->ReadEvents();
        SetEvent(left); // the state may be gone from here on
        return 0;
    }

    WaitStart StartWait() {
        waitEvents = 0;
        if (WaitCommEvent(port, &waitEvents, wait.Fresh())) return WaitStart::Completed;
        if (GetLastError() != ERROR_IO_PENDING) return WaitStart::Failed;
        waitPending = true;
        return WaitStart::Pending;
    }

    // Ends a pending wait, so its record is free before it is reused or the port is closed.
    void AbandonWait() {
        if (!waitPending) return;
        DWORD transferred = 0;
        CancelIoEx(port, &wait.record);
        Complete(port, wait.record, transferred);
        waitPending = false;
    }

    void PauseAfterEmptyWait() {
        HANDLE ends[2] = {stop, written};
        DWORD pause = WatchingTransmit() ? std::min(failurePause, TransmitWait()) : failurePause;
        DWORD woke = WaitForMultipleObjects(2, ends, FALSE, pause);
        failurePause = woke == WAIT_OBJECT_0 + 1 ? kFirstFailurePauseMilliseconds
                       : failurePause < kLongestFailurePauseMilliseconds / 2
                           ? failurePause * 2
                           : kLongestFailurePauseMilliseconds;
    }

    bool Polling() const { return emptyWaits >= kEmptyWaitsBeforePolling; }

    void AfterWait(DWORD events) {
        emptyWaits = events != 0 ? 0 : emptyWaits + 1;
        if (events == 0)
            PauseAfterEmptyWait();
        else
            failurePause = kFirstFailurePauseMilliseconds;
        seen |= events;
    }

    void Poll() {
        PauseAfterEmptyWait();
        DWORD errors = 0;
        COMSTAT status{};
        if ((mask & kLineEventReceived) && receiveArmed && ClearCommError(port, &errors, &status) &&
            status.cbInQue > 0) {
            receiveArmed = false;
            seen |= kLineEventReceived;
            failurePause = kFirstFailurePauseMilliseconds; // more may follow at once
        }
    }

    bool OutputDrained() {
        DWORD errors = 0;
        COMSTAT status{};
        return ClearCommError(port, &errors, &status) && status.cbOutQue == 0;
    }

    bool WatchingTransmit() const { return (mask & kLineEventTransmitEmpty) && transmitPending; }

    // How long the reader may wait before it looks at an unconfirmed write again: until its
    // characters can have left the wire, then the polling interval.
    DWORD TransmitWait() const {
        uint64_t now = MonotonicMicroseconds();
        uint64_t due = transmitDue;
        return due > now ? static_cast<DWORD>((due - now + 999) / 1000) : kTransmitPollMilliseconds;
    }

    // What the reader hands over next, from the events seen so far: one transmit-empty per
    // write, once its characters can have left the wire and the driver reported it or its
    // output queue has drained, alone and before any input; input only once no write is
    // unconfirmed. The driver's transmit-empty waits for that time; one without a write is
    // dropped.
    uint32_t TakeReady() {
        if (WatchingTransmit() && MonotonicMicroseconds() >= transmitDue &&
            ((seen & kLineEventTransmitEmpty) || OutputDrained())) {
            seen &= ~static_cast<uint32_t>(kLineEventTransmitEmpty);
            transmitPending = false;
            return kLineEventTransmitEmpty;
        }
        if (!WatchingTransmit()) seen &= ~static_cast<uint32_t>(kLineEventTransmitEmpty);
        uint32_t ready = seen & ~static_cast<uint32_t>(kLineEventTransmitEmpty);
        if (writing || WatchingTransmit()) ready &= ~static_cast<uint32_t>(kLineEventReceived);
        seen &= ~ready;
        return ready;
    }
};

SerialDevice::SerialDevice() : state_(new State) {}

SerialDevice::~SerialDevice() {
    Close();
}

bool SerialDevice::Open(const std::string& name) {
    Close();
    std::string path;
    if (!DevicePath(name, path)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!state_->Ready()) return false;
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    State& s = *state_;
    s.port = port;
    s.mask = 0;
    s.writing = false;
    s.transmitPending = false;
    s.waitPending = false;
    s.seen = 0;
    s.emptyWaits = 0;
    s.receiveArmed = true;
    SetEvent(s.stop);
    ResetEvent(s.written);
    return true;
}

bool SerialDevice::IsOpen() const {
    return state_->Valid();
}

void SerialDevice::Close() {
    if (!state_->Valid()) return;
    StopEvents();
    SetEventMask(0);
    state_->AbandonWait();
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
    // The settings read back decide, whether the driver took the request or refused it. Some
    // take it and keep values of their own; some refuse a request they cannot fully honour
    // although they applied the rest (Wine's on a pty, which keeps no parity): the line is
    // usable when it runs at the speed, character size and stop bits asked for.
    DWORD refusal = SetCommState(state_->port, &control) ? ERROR_SUCCESS : GetLastError();
    DCB held{};
    held.DCBlength = sizeof held;
    if (!GetCommState(state_->port, &held)) return false;
    if (FramingHolds(control, held)) {
        // The wire time counts the parity bit only where the line keeps one.
        state_->line = settings;
        if (held.Parity == NOPARITY) state_->line.parity = 0;
        return true;
    }
    SetLastError(refusal != ERROR_SUCCESS ? refusal : ERROR_INVALID_PARAMETER);
    return false;
}

bool SerialDevice::Purge() {
    if (!state_->Valid()) return false;
    state_->transmitPending = false;
    return PurgeComm(state_->port, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR) !=
           FALSE;
}

bool SerialDevice::StartEvents(WindowHandle window, unsigned message) {
    State& s = *state_;
    if (!s.Valid()) return false;
    StopEvents();
    auto* relay = RelayWindow<State>::Create(&s, window);
    if (!relay) return false;
    s.relay = relay;
    s.relayWindow = relay->Handle();
    s.target = window;
    s.targetMessage = message;
    s.delivering = true;
    SetEvent(s.handshake);
    s.reader = CreateThread(nullptr, 0, State::ReaderMain, &s, 0, nullptr);
    if (!s.reader) {
        StopEvents();
        return false;
    }
    return true;
}

void SerialDevice::StopEvents() {
    State& s = *state_;
    if (!s.relay) return;
    // Ends a pending event wait and a wait for the handshake, so the reader leaves its loop.
    s.delivering = false;
    SetEventMask(0);
    SetEvent(s.handshake);
    if (s.reader) {
        WaitForSingleObject(s.readerLeft, INFINITE);
        CloseHandle(s.reader);
        s.reader = nullptr;
        ResetEvent(s.readerLeft);
    }
    RelayWindow<State>::End(s.relay);
}

uint32_t SerialDevice::State::WaitEvent() {
    State& s = *this;
    while (s.Valid() && s.mask != 0) {
        if (uint32_t ready = s.TakeReady()) return ready;
        if (s.Polling()) {
            s.Poll();
            continue;
        }
        if (!s.waitPending) {
            WaitStart started = s.StartWait();
            if (started == WaitStart::Failed) {
                WaitForSingleObject(s.stop, kFailedWaitBackoffMilliseconds);
                return 0;
            }
            if (started == WaitStart::Completed) {
                s.AfterWait(s.waitEvents);
                continue;
            }
        }
        HANDLE ends[3] = {s.wait.record.hEvent, s.stop, s.written};
        DWORD timeout = s.WatchingTransmit() ? s.TransmitWait() : INFINITE;
        DWORD woke = WaitForMultipleObjects(3, ends, FALSE, timeout);
        if (woke == WAIT_OBJECT_0 + 1) {
            s.AbandonWait();
            return 0;
        }
        if (woke == WAIT_OBJECT_0) {
            s.waitPending = false;
            DWORD transferred = 0;
            if (!Complete(s.port, s.wait.record, transferred)) s.waitEvents = 0;
            s.AfterWait(s.waitEvents);
        } else if (woke == WAIT_OBJECT_0 + 2) {
            s.failurePause = kFirstFailurePauseMilliseconds;
        }
    }
    return 0;
}

size_t SerialDevice::State::ClearError() {
    DWORD errors = 0;
    COMSTAT status{};
    if (!Valid() || !ClearCommError(port, &errors, &status)) return 0;
    if (status.cbInQue == 0) receiveArmed = true;
    return status.cbInQue;
}

size_t SerialDevice::ClearError() {
    return state_->ClearError();
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
    if (!ReadFile(s.port, buffer, static_cast<DWORD>(size), &transferred, operation) &&
        (GetLastError() != ERROR_IO_PENDING || !Complete(s.port, *operation, transferred)))
        return IoResult::Failed;
    // The caller asks only for bytes the driver reports queued. Some drivers (Wine's) let every
    // read pend however soon it completes, so a read counts as late only when it came short.
    got = transferred;
    if (got == 0) return IoResult::Failed;
    return got == size ? IoResult::Completed : IoResult::CompletedLate;
}

IoResult SerialDevice::Write(const uint8_t* bytes, size_t size) {
    State& s = *state_;
    if (!s.Valid()) return IoResult::Failed;
    DWORD transferred = 0;
    OVERLAPPED* operation = s.write.Fresh();
    IoResult result = IoResult::Completed;
    uint64_t began = MonotonicMicroseconds();
    s.writing = true;
    if (!WriteFile(s.port, bytes, static_cast<DWORD>(size), &transferred, operation)) {
        if (GetLastError() != ERROR_IO_PENDING || !Complete(s.port, *operation, transferred) ||
            transferred != size)
            result = IoResult::Failed;
        else
            result = IoResult::CompletedLate;
    }
    if (result != IoResult::Failed) {
        s.transmitDue = began + WireMicroseconds(size, s.line);
        s.transmitPending = true;
    }
    s.writing = false;
    SetEvent(s.written);
    return result;
}

bool SerialDevice::SetRts(bool raised) {
    return state_->Valid() && EscapeCommFunction(state_->port, raised ? SETRTS : CLRRTS) != FALSE;
}

// The communications API has no direction control with set delays.
bool SerialDevice::SetDriverRtsControl(unsigned, unsigned) {
    return false;
}

bool SerialDevice::SetDtr(bool raised) {
    return state_->Valid() && EscapeCommFunction(state_->port, raised ? SETDTR : CLRDTR) != FALSE;
}

} // namespace qarn::platform
