// RTS around a write on a pty: the driver's RS-485 mode is refused there, so the port switches
// RTS itself, raised 3 ms before the first byte and dropped 3 ms after the transmitter is empty.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/clock.h"
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

TEST(RtsTiming, SoftwareRtsLeadsAndTrailsTheWriteByThreeMilliseconds) {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    std::string settings = std::string(ptsname(master)) + ":baud=9600,parity=N,data=8,stop=1";

    SentRecorder parent;
    ASSERT_TRUE(parent.CreateChild(0));
    auto* comm = new CComm; // deletes itself with its window
    ASSERT_TRUE(comm->CreateChild(parent.Handle()));
    ASSERT_EQ(comm->Open((settings + ",rs485=kernel").c_str()), 1);
    EXPECT_EQ(comm->DriverSwitchesRts(), 0);

    const ByteArray frame(20, 0x5A);
    std::atomic<uint64_t> firstByteAt{0}, lastByteAt{0};
    std::thread far([&] {
        size_t got = 0;
        uint8_t buffer[64];
        while (got < frame.size()) {
            pollfd ready = {master, POLLIN, 0};
            if (poll(&ready, 1, 2000) != 1) return;
            ssize_t count = read(master, buffer, sizeof buffer);
            if (count <= 0) continue;
            uint64_t now = platform::MonotonicMicroseconds();
            if (got == 0) firstByteAt = now;
            got += static_cast<size_t>(count);
            lastByteAt = now;
        }
    });
    uint64_t writeAt = platform::MonotonicMicroseconds();
    comm->Write(frame);
    far.join();
    EXPECT_TRUE(platform::PumpUntil([&] { return parent.doneAt != 0 && comm->IsTxIdle(); }));

    ASSERT_NE(lastByteAt.load(), 0u);
    EXPECT_GE(firstByteAt - writeAt, 3000u) << "RTS lead";
    EXPECT_GE(parent.doneAt - lastByteAt, 3000u) << "RTS tail";
    EXPECT_EQ(comm->LineStatus(), 0);
    parent.Destroy();
    close(master);
}

} // namespace
} // namespace qarn
