// The simulator's end of the serial line: the master side of a pseudo-terminal, or a real
// serial device.
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
    // open too, so the line stays usable while the host closes and reopens it.
    bool OpenPty();
    // Opens a serial device at the given speed, 8 data bits, even parity, 1 stop bit, the
    // host's default line settings.
    bool OpenDevice(const std::string& path, int baud);
    void Close();

    bool IsOpen() const { return fd_ >= 0; }
    int Fd() const { return fd_; }
    const std::string& Name() const { return name_; }

    // Writes every byte; false when the line fails or stays full for a second (nobody reads).
    bool Write(const uint8_t* bytes, size_t count);

  private:
    int fd_ = -1;
    int peer_ = -1; // the pty's other side, held open
    std::string name_;
};

} // namespace dmsim
