// The simulator's end of the serial line: the master side of a pseudo-terminal, or a real
// serial device (a COM port on Windows, which has no ptys).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace dmsim {

class Line {
  public:
    Line() = default;
    Line(const Line&) = delete;
    Line& operator=(const Line&) = delete;
    ~Line() { Close(); }

    // Creates a pty in raw mode; the host opens Name(). The simulator keeps the other side
    // open too, so the line stays usable while the host closes and reopens it. Always false on
    // Windows.
    bool OpenPty();
    // Opens a serial device at the given speed, 8 data bits, even parity, 1 stop bit, the
    // host's default line settings. On Windows the path is a port name, COM7 or \\.\COM12.
    bool OpenDevice(const std::string& path, int baud);
    void Close();

    bool IsOpen() const;
    const std::string& Name() const { return name_; }

    enum class Wait {
        kBytes,  // bytes were read
        kQuiet,  // the time passed without bytes
        kAgain,  // nothing read, for no lasting reason: wait again
        kBroken, // the line reports only errors
        kWoken,  // Wake was called, or waiting itself failed
    };
    // Waits up to `milliseconds` (-1: without limit) for bytes and reads those that arrived.
    // One thread reads at a time.
    Wait Read(uint8_t* buffer, size_t size, int milliseconds, size_t& got);
    // Ends the Read waiting on another thread, or the next one; ClearWake undoes it.
    bool Wake();
    void ClearWake();
    // Drops the input not read yet.
    void Discard();

    // Writes every byte; false when the line fails or stays full for a second (nobody reads).
    bool Write(const uint8_t* bytes, size_t count);

#ifndef _WIN32
    int Fd() const {
        return fd_;
    }
#endif

  private:
#ifdef _WIN32
    void* port_ = nullptr;  // the COM port's handle, opened for overlapped I/O
    void* wake_ = nullptr;  // an event set by Wake
    void* reads_ = nullptr; // the event of the overlapped reads
#else
    int fd_ = -1;
    int peer_ = -1; // the pty's other side, held open
    int wake_[2] = {-1, -1};
#endif
    std::string name_;
};

} // namespace dmsim
