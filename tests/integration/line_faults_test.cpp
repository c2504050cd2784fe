// A line in real use: reconnects, settings and monitor texts the library must check.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "line_fixture.h"

using namespace scenario;

class LineFaults : public Line {
  protected:
    std::string Settings(const std::string& values = "baud=9600,parity=E,data=8,stop=1") {
        return simulator.PortName() + ":" + values;
    }
    // Pumps until the simulator has seen `count` bytes or a second has passed.
    void WaitForBytes(size_t count) {
        for (int i = 0; i < 50 && simulator.ReceivedBytes().size() < count; ++i)
            Pump(20);
    }
};

TEST_F(LineFaults, PortReconnectsWithTheSameOrOtherSettings) {
    Open();
    // Open on an open port closes it and opens it again; a pty keeps no parity, which is
    // no reason to refuse the line.
    EXPECT_EQ(ConnectPort(device, Settings().c_str()), 1);
    EXPECT_EQ(DisConnectPort(device), 1);
    EXPECT_EQ(IsConnect(device), 0);
    EXPECT_EQ(ConnectPort(device, Settings().c_str()), 1);
    EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8);
    EXPECT_EQ(ConnectPort(device, Settings("baud=19200,parity=O,data=8,stop=2").c_str()), 1);
    EXPECT_EQ(ConnectPort(device, Settings("baud=9600,parity=N,data=8,stop=1").c_str()), 1);
    EXPECT_EQ(IsConnect(device), 1);
    EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8);
}

TEST_F(LineFaults, SettingsAreTakenAsTheLineRunsThemOrRefused) {
    Open();
    for (const char* values :
         {"baud=9600,parity=E,data=261,stop=1", "baud=9600,parity=E,data=4,stop=1",
          "baud=9600,parity=E,data=8,stop=nan", "baud=9600,parity=E,data=8,stop=3",
          "baud=9600,parity=E,data=8,stop=", "baud=0,parity=E,data=8,stop=1",
          "baud=9600,parity=x,data=8,stop=1",
          // A pty runs 8-bit characters only, and no character but a 5-bit one has 1.5 stop
          // bits on Linux: the settings read back refuse what the line would not run.
          "baud=9600,parity=E,data=7,stop=1", "baud=9600,parity=E,data=7,stop=1.5"}) {
        errno = 0;
        EXPECT_EQ(ConnectPort(device, Settings(values).c_str()), 0) << values;
        EXPECT_PORT_ERROR(EINVAL, values);
        EXPECT_EQ(IsConnect(device), 0) << values;
    }
    // Values not given take the defaults; on Linux speeds outside the standard table run as
    // asked (Wine's driver refuses them on a pty).
#if defined(_WIN32)
    for (const char* values : {"baud=19200", "19200,N"}) {
#else
    for (const char* values : {"baud=19200", "baud=14400,parity=N", "56000"}) {
#endif
        EXPECT_EQ(ConnectPort(device, Settings(values).c_str()), 1) << values;
        EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8) << values;
    }
}

// Wine lets a COM port be opened twice, as Windows does not: Linux only.
#if !defined(_WIN32)
TEST_F(LineFaults, PortIsOneDeviceObjectsAtATimeAndFailuresSayWhy) {
    Open();
    int other = OpenDevice(kHost, window);
    ASSERT_NE(other, 0);
    SetWaitTime(other, 300);
    SetCommKey(other, "58213094");
    errno = 0;
    EXPECT_EQ(ConnectPort(other, Settings().c_str()), 0);
    EXPECT_PORT_ERROR(EBUSY, "in use");
    EXPECT_EQ(IsConnect(other), 0);
    EXPECT_EQ(IsConnect(device), 1);
    EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8); // the holder's line is undisturbed
    // Free the moment its holder disconnects or is closed.
    EXPECT_EQ(DisConnectPort(device), 1);
    EXPECT_EQ(ConnectPort(other, Settings().c_str()), 1);
    EXPECT_EQ(ConnectPort(device, Settings().c_str()), 0);
    EXPECT_EQ(CloseDevice(other), 1);
    EXPECT_EQ(ConnectPort(device, Settings().c_str()), 1);
    EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8);
    const char* file = "/tmp/qarn-not-a-port";
    std::fclose(std::fopen(file, "w"));
    for (auto [text, code] : {std::pair{"/tmp/qarn-not-a-port:baud=9600", ENOTTY},
                              {"/dev/qarn-no-such-port:baud=9600", ENOENT},
                              {"ttyS0:baud=9600", EINVAL}}) {
        errno = 0;
        EXPECT_EQ(ConnectPort(device, text), 0) << text;
        EXPECT_PORT_ERROR(code, text);
    }
    std::remove(file);
    errno = 0;
    EXPECT_EQ(ConnectPort(0x7FFFFFFF, Settings().c_str()), 0);
    EXPECT_PORT_ERROR(EBADF, "no device");
}
#endif

TEST_F(LineFaults, MonitorTextsStayWithinTheirBounds) {
    Open({0x0002}, 300, 921600); // the longest frame takes under a second on the wire

    // 4 address bytes and 65536 more: the length field cannot hold it, nothing goes out.
    std::string body = "00020001" + std::string(2 * 65536, '5');
    SendFrame(device, body.c_str());
    Pump(200);
    EXPECT_TRUE(simulator.ReceivedBytes().empty());
    body.resize(body.size() - 2); // 65535 bytes after the addresses still fit
    SendFrame(device, body.c_str());
    WaitForBytes(65535 + 11);
    EXPECT_EQ(simulator.ReceivedBytes().size(), 65535u + 11u);

    simulator.SendUplink(0x0002, 0x0001, {0x13, 0x08});
    // The reply is handed over once the long frame has left the wire.
    for (int i = 0; i < 150 && std::find(notifications.begin(), notifications.end(),
                                         WM_HDLC_STREAM) == notifications.end();
         ++i)
        Pump(20);
    ASSERT_NE(std::find(notifications.begin(), notifications.end(), WM_HDLC_STREAM),
              notifications.end());
    ClearRecvStr(device);
    // Bytes arrived, but none are held any more: nothing is written, as with RecvHDLC.
    char text[8];
    std::memset(text, '#', sizeof text);
    EXPECT_EQ(RecvStream(device, text), 0);
    EXPECT_EQ(text[0], '#');

    // The raw stream keeps the last 65536 bytes: the dump of a longer stream ends at the
    // documented size, with the newest bytes.
    Bytes flood(70000);
    for (size_t i = 0; i < flood.size(); ++i)
        flood[i] = static_cast<uint8_t>(i % 251);
    // Written from this thread, so in pieces the pty holds, the library reading between them
    // (under Wine its port reads more slowly, hence the longer pause).
    for (size_t at = 0; at < flood.size(); at += 2000) {
        simulator.SendRaw(
            Bytes(flood.begin() + at, flood.begin() + std::min(flood.size(), at + 2000)));
        Pump(20);
    }
    const size_t kLongest = 3 * 65536 + 1;
    std::vector<char> dump(3 * flood.size() + 16, '#');
    std::string kept = Hex(Bytes(flood.end() - 65536, flood.end()));
    for (auto& c : kept)
        c = static_cast<char>(std::tolower(c));
    for (int i = 0; i < 100; ++i) {
        Pump(20);
        if (RecvStream(device, dump.data()) && std::string(dump.data()) == kept) break;
    }
    std::string got(dump.data());
    EXPECT_TRUE(got == kept) << got.size() << " characters, " << got.substr(0, 24) << "... "
                             << got.substr(got.size() > 24 ? got.size() - 24 : 0);
    EXPECT_EQ(dump[kLongest - 1], 0);
    EXPECT_EQ(dump[kLongest], '#');
}

TEST_F(LineFaults, FalseStartBeforeEveryReplyLosesNoReply) {
    Open({0x0002}, 300);
    dmsim::Faults faults;
    // A header for this host whose length takes in the real reply, and a cut-off frame whose
    // declared length ends inside it.
    for (Bytes noise : {Bytes{0xAB, 0xAB, 0x00, 0x01},
                        Bytes{0xAB, 0xAB, 0x00, 0x01, 0x00, 0x02, 0x00, 0x04, 0x13, 0x08}}) {
        faults.noise = noise;
        simulator.SetFaults(faults);
        int answered = 0;
        for (int i = 0; i < 10; ++i)
            answered += RunAndEnd(0x0002, 0x83).result == 8;
        EXPECT_EQ(answered, 10) << Hex(noise);
    }
}

TEST_F(LineFaults, UnpluggedAdapterEndsTheCommandAndTheLineComesBack) {
    Open({0x0002}, 400);
    dmsim::Faults faults;
    faults.delayMilliseconds = 200; // the reply would come after the unplug
    simulator.SetFaults(faults);
    // The adapter goes once the frame has left: the pty's far end closes, ours hangs up.
    onNotification = [this](int message) {
        if (message == WM_HDLC_SENT) simulator.Close();
    };
    auto started = std::chrono::steady_clock::now();
    int handle = Run(0x0002, 0x83);
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    onNotification = nullptr;
    ASSERT_NE(handle, 0);
    EXPECT_EQ(GetCmdResult(handle), 1); // time-out on a closed port: nothing confirmed
    EXPECT_EQ(EndQARNCommand(handle), 0);
    EXPECT_LT(took, 2.0);
    EXPECT_EQ(IsConnect(device), 0);

    // Nothing can be read: the library sleeps.
    double before = ProcessCpuSeconds();
    started = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - started < std::chrono::seconds(1))
        Pump(50);
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT((ProcessCpuSeconds() - before) / wall, 0.05);

    // The adapter is back (here a new pty): the same device opens it and carries commands.
    ASSERT_TRUE(simulator.OpenPty());
    simulator.SetFaults(dmsim::Faults());
    ASSERT_TRUE(simulator.Start());
    EXPECT_EQ(ConnectPort(device, Settings().c_str()), 1);
    EXPECT_EQ(RunAndEnd(0x0002, 0x83).result, 8);
}
