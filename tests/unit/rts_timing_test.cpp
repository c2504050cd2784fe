// RTS around a write on a pty: the driver's RS-485 mode is refused there, so the port switches
// RTS itself, raised 3 ms before the first byte and dropped 3 ms after the transmitter is empty,
// which is never before the frame's time on the wire at the line's speed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
#include "platform/wire_time.h"
#include "transport/comm.h"

namespace qarn {
namespace {

class SentRecorder : public platform::Window {
  public:
    uint64_t doneAt = 0;

  protected:
    platform::MessageParam OnMessage(unsigned message, platform::MessageParam,
                                     platform::MessageParam) override {
        if (message == WM_COMM_TXDONE) doneAt = platform::MonotonicMicroseconds();
        return 1;
    }
};

// A pty to write through, and what its far side saw of one frame.
class PtyLine {
  public:
    PtyLine() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ >= 0 && (grantpt(master_) != 0 || unlockpt(master_) != 0)) {
            close(master_);
            master_ = -1;
        }
    }
    ~PtyLine() {
        if (master_ >= 0) close(master_);
    }
    bool Usable() const { return master_ >= 0; }
    std::string Settings(const std::string& values) const {
        return std::string(ptsname(master_)) + ":" + values;
    }

    struct Times {
        uint64_t writeAt = 0, firstByteAt = 0, lastByteAt = 0, doneAt = 0;
    };
    // Writes the frame through comm and waits for its transmit-empty.
    Times Send(CComm& comm, SentRecorder& parent, const ByteArray& frame) {
        Times times;
        std::atomic<uint64_t> firstByteAt{0}, lastByteAt{0};
        std::thread far([&] {
            size_t got = 0;
            uint8_t buffer[512];
            while (got < frame.size()) {
                pollfd ready = {master_, POLLIN, 0};
                if (poll(&ready, 1, 2000) != 1) return;
                ssize_t count = read(master_, buffer, sizeof buffer);
                if (count <= 0) continue;
                uint64_t now = platform::MonotonicMicroseconds();
                if (got == 0) firstByteAt = now;
                got += static_cast<size_t>(count);
                lastByteAt = now;
            }
        });
        parent.doneAt = 0;
        times.writeAt = platform::MonotonicMicroseconds();
        comm.Write(frame);
        far.join();
        EXPECT_TRUE(platform::PumpUntil([&] { return parent.doneAt != 0 && comm.IsTxIdle(); }));
        times.firstByteAt = firstByteAt;
        times.lastByteAt = lastByteAt;
        times.doneAt = parent.doneAt;
        return times;
    }

  private:
    int master_ = -1;
};

TEST(RtsTiming, SoftwareRtsLeadsAndTrailsTheWriteByThreeMilliseconds) {
    PtyLine line;
    ASSERT_TRUE(line.Usable());
    SentRecorder parent;
    ASSERT_TRUE(parent.CreateChild(0));
    auto* comm = new CComm; // deletes itself with its window
    ASSERT_TRUE(comm->CreateChild(parent.Handle()));
    ASSERT_EQ(comm->Open(line.Settings("baud=9600,parity=N,data=8,stop=1,rs485=kernel").c_str()),
              1);
    EXPECT_EQ(comm->DriverSwitchesRts(), 0);

    PtyLine::Times times = line.Send(*comm, parent, ByteArray(20, 0x5A));
    ASSERT_NE(times.lastByteAt, 0u);
    EXPECT_GE(times.firstByteAt - times.writeAt, 3000u) << "RTS lead";
    EXPECT_GE(times.doneAt - times.lastByteAt, 3000u) << "RTS tail";
    EXPECT_EQ(comm->LineStatus(), 0);
    parent.Destroy();
}

// A pty drains at once, as a driver's output queue does while its UART still sends: the
// transmitter counts as empty only once the frame's characters can have left the wire.
TEST(RtsTiming, TransmitEmptyWaitsForTheFrameTimeOnTheWire) {
    struct Case {
        const char* values;
        size_t characters;
        uint64_t wireMicroseconds;
    };
    const Case cases[] = {
        {"baud=1200,parity=N,data=8,stop=1", 10, 83334},    // 10 bits a character
        {"baud=9600,parity=E,data=8,stop=1", 40, 45834},    // 11 bits
        {"baud=115200,parity=N,data=8,stop=2", 500, 47744}, // 11 bits
    };
    PtyLine line;
    ASSERT_TRUE(line.Usable());
    SentRecorder parent;
    ASSERT_TRUE(parent.CreateChild(0));
    auto* comm = new CComm;
    ASSERT_TRUE(comm->CreateChild(parent.Handle()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.values);
        ASSERT_EQ(comm->Open(line.Settings(c.values).c_str()), 1);
        PtyLine::Times times = line.Send(*comm, parent, ByteArray(c.characters, 0x5A));
        ASSERT_NE(times.lastByteAt, 0u);
        // RTS lead, the frame on the wire, RTS tail.
        EXPECT_GE(times.doneAt - times.writeAt, 3000 + c.wireMicroseconds + 3000);
        EXPECT_LT(times.doneAt - times.writeAt, c.wireMicroseconds + 500000);
        EXPECT_EQ(comm->LineStatus(), 0);
    }
    parent.Destroy();
}

TEST(RtsTiming, WireTimeCountsStartDataParityAndStopBits) {
    EXPECT_EQ(platform::WireMicroseconds(1, {9600, 8, 0, 0, 8}), 1042u);   // 10 bits
    EXPECT_EQ(platform::WireMicroseconds(11, {9600, 8, 2, 0, 8}), 12605u); // 11 bits
    EXPECT_EQ(platform::WireMicroseconds(2, {4800, 7, 1, 1, 8}), 4375u);   // 10.5 bits
    EXPECT_EQ(platform::WireMicroseconds(3, {115200, 5, 4, 2, 8}), 235u);  // 9 bits
    EXPECT_EQ(platform::WireMicroseconds(100, {0, 8, 0, 0, 8}), 0u);
}

} // namespace
} // namespace qarn
