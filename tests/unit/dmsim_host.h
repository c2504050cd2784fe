// The host side of a simulated line for the simulator's tests: frames written and read with
// the simulator's own frame writer and reader.
#pragma once

#include "dmsim/frame.h"
#include "dmsim/simulator.h"

#include <array>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace dmsim_test {

using dmsim::Bytes;

constexpr uint16_t kHost = 0x0001;

class TestHost {
  public:
    explicit TestHost(const std::string& port) {
        fd_ = open(port.c_str(), O_RDWR | O_NOCTTY);
        termios settings{};
        if (fd_ >= 0 && tcgetattr(fd_, &settings) == 0) {
            cfmakeraw(&settings);
            tcsetattr(fd_, TCSANOW, &settings);
        }
    }
    ~TestHost() {
        if (fd_ >= 0) close(fd_);
    }
    bool IsOpen() const { return fd_ >= 0; }

    void SendData(uint16_t destination, const Bytes& data) { Write(Frame(destination, data)); }

    static Bytes Frame(uint16_t destination, const Bytes& data) {
        return dmsim::WriteFrame(destination, kHost, data, true);
    }

    // Key, code, payload.
    void Send(uint16_t destination, uint8_t code, const Bytes& payload = {}) {
        Bytes data = KeyBytes(keyTable);
        data.push_back(code);
        data.insert(data.end(), payload.begin(), payload.end());
        SendData(destination, data);
    }

    void Write(const Bytes& bytes) {
        ssize_t written = write(fd_, bytes.data(), bytes.size());
        (void)written;
    }

    // Reads until `count` good frames have arrived or the time is up.
    std::vector<dmsim::Frame> Receive(size_t count, int timeoutMilliseconds = 1000) {
        std::vector<dmsim::Frame> frames;
        auto end =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
        while (frames.size() < count) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd ready{fd_, POLLIN, 0};
            if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
            uint8_t buffer[4096];
            ssize_t got = read(fd_, buffer, sizeof buffer);
            if (got <= 0) break;
            raw_.insert(raw_.end(), buffer, buffer + got);
            for (dmsim::Frame& frame : reader_.Feed(buffer, static_cast<size_t>(got)))
                frames.push_back(std::move(frame));
        }
        return frames;
    }

    // The data field of the next frame; empty when none came.
    Bytes Next(int timeoutMilliseconds = 1000) {
        std::vector<dmsim::Frame> frames = Receive(1, timeoutMilliseconds);
        return frames.empty() ? Bytes() : frames[0].data;
    }

    // The data field of the one reply to a command; empty when none came.
    Bytes Ask(uint16_t destination, uint8_t code, const Bytes& payload = {},
              int timeoutMilliseconds = 1000) {
        Send(destination, code, payload);
        return Next(timeoutMilliseconds);
    }

    const Bytes& Raw() const { return raw_; }

    // The key bytes of the library's default key text under a key table.
    static Bytes KeyBytes(const std::array<uint8_t, 24>& table = dmsim::kDefaultKeyTable) {
        Bytes key;
        for (size_t i = 0; i < 8; ++i)
            key.push_back(
                static_cast<uint8_t>(table[i] ^ static_cast<uint8_t>(dmsim::kDefaultKeyText[i])));
        return key;
    }

    // The key table Send masks the key text with: the simulator's.
    std::array<uint8_t, 24> keyTable = dmsim::kDefaultKeyTable;

  private:
    int fd_ = -1;
    dmsim::FrameReader reader_;
    Bytes raw_;
};

// A started simulator with terminals on a fresh pty, and the host end of it.
struct Line {
    explicit Line(std::initializer_list<uint16_t> addresses) {
        ok = simulator.OpenPty();
        for (uint16_t address : addresses)
            simulator.AddTerminal(address);
        ok = ok && simulator.Start();
        host.reset(new TestHost(simulator.PortName()));
        ok = ok && host->IsOpen();
    }
    dmsim::Simulator simulator;
    std::unique_ptr<TestHost> host;
    bool ok = false;
};

} // namespace dmsim_test
