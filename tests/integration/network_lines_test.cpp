// Lines behind a serial device server (ser2net on 127.0.0.1, bridged to the simulator's pty):
// the same commands and downloads as on the pty, the server's line set through RFC 2217, and
// servers that go away, never answer or are not there.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#endif

#include "device_server.h"
#include "line_fixture.h"

using namespace scenario;

namespace {

constexpr uint16_t kTerminal = 0x0002;
constexpr int kBaud = 230400;
constexpr int kRecords = 200;
constexpr int kRecordsPerCommand = 19;
constexpr int kListNumbers = 10000;

std::string Values(int baud) {
    return std::to_string(baud) + ",E,8,1";
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A file in the temporary directory, removed with the object.
class TempFile {
  public:
    TempFile(const std::string& name, const Bytes& bytes)
        : path_((std::filesystem::temp_directory_path() /
                 (name + std::to_string(std::random_device()() % 1000000)))
                    .string()) {
        std::ofstream(path_, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
    }
    ~TempFile() { std::remove(path_.c_str()); }
    char* Path() { return &path_[0]; }

  private:
    std::string path_;
};

// A white list file: the marker, then each number as 10 BCD digits.
Bytes ListFile() {
    Bytes file = {0xBB};
    uint32_t number = 12345;
    for (int i = 0; i < kListNumbers; ++i) {
        number = number * 1103515245u + 12345u;
        uint64_t digits = number;
        uint8_t entry[5];
        for (int at = 4; at >= 0; --at, digits /= 100)
            entry[at] = static_cast<uint8_t>(digits % 10 | (digits / 10 % 10) << 4);
        file.insert(file.end(), entry, entry + 5);
    }
    return file;
}

// A program file of Intel HEX records whose data is full of 0xFF, which Telnet escapes.
Bytes ProgramFile() {
    std::string text;
    auto record = [&text](int address, int type, const Bytes& data) {
        Bytes all = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                     static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
        all.insert(all.end(), data.begin(), data.end());
        uint8_t sum = 0;
        for (uint8_t b : all)
            sum = static_cast<uint8_t>(sum + b);
        all.push_back(static_cast<uint8_t>(-sum));
        char pair[3];
        text += ':';
        for (uint8_t b : all) {
            std::snprintf(pair, sizeof pair, "%02X", b);
            text += pair;
        }
        text += "\r\n";
    };
    for (int i = 0; i < 8; ++i) {
        Bytes data(16, 0xFF);
        for (int j = 0; j < 16; j += 3)
            data[static_cast<size_t>(j)] = static_cast<uint8_t>(i * 16 + j);
        record(0x0200 + 16 * i, 0x00, data);
    }
    record(0, 0x01, {});
    return Bytes(text.begin(), text.end());
}

// The terminal as every tour finds it: 200 records, their identifiers holding 0xFF bytes.
void FreshTerminal(dmsim::Terminal& terminal) {
    dmsim::Terminal fresh(terminal.address);
    for (int i = 0; i < kRecords; ++i) {
        dmsim::Record record;
        record.identifier = 0xFF00FF00u + static_cast<uint32_t>(i);
        record.day = 1 + i % 28;
        record.second = i % 60;
        fresh.records.push_back(record);
    }
    terminal = fresh;
}

} // namespace

class NetworkLines : public Line {
  protected:
    // The simulator with one terminal, a device object without a port, and ser2net in front.
    void StartLine(int serverBaud = kBaud) {
        ASSERT_TRUE(testline::StartSimulatedLine(simulator, {kTerminal}));
        simulator.UpdateTerminal(kTerminal, FreshTerminal);
        window = CreateAppWindow(&Line::Record, this);
        ASSERT_TRUE(window);
        device = OpenDevice(kHost, window);
        ASSERT_NE(device, 0);
        SetWaitTime(device, 600);
        std::string why;
        if (!server.Start(simulator.PortName(), serverBaud, why)) GTEST_SKIP() << why;
    }

    // Connects, waiting while the server still holds the line for a client that left (it
    // refuses a new client meanwhile).
    void Connect(const std::string& settings) {
        ASSERT_TRUE(server.WaitForLineFree(10000));
        auto started = std::chrono::steady_clock::now();
        while (ConnectPort(device, settings.c_str()) != 1 && SecondsSince(started) < 10)
            Pump(50);
        ASSERT_EQ(IsConnect(device), 1) << settings;
    }

    // Search, clock, status, 200 records, a 10,000-number list and a program: each outcome, and
    // what the terminal holds afterwards.
    std::string Tour() {
        simulator.UpdateTerminal(kTerminal, FreshTerminal);
        std::ostringstream seen;
        auto show = [&seen](const char* what, const Outcome& outcome) {
            seen << what << ": " << outcome.result << " " << Hex(outcome.data) << "\n";
        };
        show("search", RunAndEnd(kTerminal, 0x03));
        int clock[2] = {0, 0};
        show("clock", RunAndEnd(0xFFFF, 0x01, clock));
        Outcome status = RunAndEnd(kTerminal, 0x16); // its data holds the running clock
        seen << "status: " << status.result << " " << status.data.size() << " bytes\n";
        for (int first = 0; first < kRecords; first += kRecordsPerCommand) {
            int range[2] = {first, std::min(kRecordsPerCommand, kRecords - first)};
            show("records", RunAndEnd(kTerminal, 0x10, range));
        }
        TempFile list("qarn-net-list-", ListFile());
        show("list", RunAndEnd(kTerminal, 0xA2, list.Path()));
        SetInnerCmd(device, 1);
        TempFile program("qarn-net-program-", ProgramFile());
        show("program", RunAndEnd(kTerminal, 0xC0, program.Path()));
        SetInnerCmd(device, 0);
        dmsim::Terminal state;
        EXPECT_TRUE(simulator.GetTerminal(kTerminal, state));
        seen << "white list: " << state.WhiteList().size() << " numbers";
        for (uint32_t number : state.WhiteList())
            seen << " " << number;
        seen << "\nprogram:";
        for (const auto& [address, data] : state.programMemory)
            seen << " " << address << "=" << Hex(data);
        return seen.str();
    }

    DeviceServer server;
};

// Every result and every byte of data is what the pty gives; so is what reaches the terminal,
// 0xFF bytes both ways among it.
TEST_F(NetworkLines, CommandsAndDownloadsGiveWhatThePtyGives) {
    StartLine();
    ASSERT_EQ(ConnectPort(device, LineSettings(simulator, kBaud).c_str()), 1);
    EXPECT_EQ(GetRtsControl(device), QARN_RTS_BY_LIBRARY);
    std::string onPty = Tour();
    EXPECT_NE(onPty.find("program: 512="), std::string::npos) << onPty;
    DisConnectPort(device);

    for (const std::string& settings : {server.Raw(Values(kBaud)), server.Rfc2217(Values(kBaud))}) {
        Connect(settings);
        EXPECT_EQ(GetRtsControl(device), QARN_RTS_BY_SERVER) << settings;
        auto started = std::chrono::steady_clock::now();
        std::string tour = Tour();
        EXPECT_EQ(tour.size(), onPty.size()) << settings;
        auto differs = std::mismatch(tour.begin(), tour.end(), onPty.begin(), onPty.end());
        EXPECT_TRUE(differs.first == tour.end()) << settings << " differs from the pty at "
                                                 << tour.substr(differs.first - tour.begin(), 80);
        std::printf("[ network ] %s: the tour took %.1f s\n", settings.c_str(),
                    SecondsSince(started));
        EXPECT_EQ(DisConnectPort(device), 1);
        EXPECT_EQ(IsConnect(device), 0);
    }
}

#if !defined(_WIN32)
// The speed set through RFC 2217 is the one the server's line runs (a pty keeps only the speed).
TEST_F(NetworkLines, Rfc2217SetsTheServersLine) {
    StartLine(9600);
    auto speed = [this] {
        termios line{};
        int fd = open(simulator.PortName().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        bool read = fd >= 0 && tcgetattr(fd, &line) == 0;
        if (fd >= 0) close(fd);
        return read ? cfgetospeed(&line) : B0;
    };
    const struct {
        const char* values;
        speed_t speed;
    } cases[] = {{"19200,N,8,1", B19200}, {"38400,O,7,2", B38400}, {"115200,E,8,1", B115200}};
    for (const auto& c : cases) {
        Connect(server.Rfc2217(c.values));
        EXPECT_EQ(speed(), c.speed) << c.values;
        EXPECT_EQ(RunAndEnd(kTerminal, 0x16).result, 13) << c.values;
        DisConnectPort(device);
    }
}
#endif

// The server goes in the middle of a command (killed, as by a crash): the command ends, the
// device reports no port, and once the server is back ConnectPort opens it again.
TEST_F(NetworkLines, ServerGoneMidCommandEndsItAndTheLineComesBack) {
    StartLine();
    for (const std::string& settings : {server.Raw(Values(kBaud)), server.Rfc2217(Values(kBaud))}) {
        Connect(settings);
        dmsim::Faults faults;
        faults.delayMilliseconds = 300; // the reply would come after the server has gone
        simulator.SetFaults(faults);
        bool killed = false;
        onNotification = [&](int message) {
            if (message == WM_HDLC_SENT && !killed) killed = server.Kill();
        };
        auto started = std::chrono::steady_clock::now();
        int handle = Run(kTerminal, 0x16);
        double took = SecondsSince(started);
        onNotification = nullptr;
        if (!killed) GTEST_SKIP() << "the server cannot be stopped from this target";
        ASSERT_NE(handle, 0);
        EXPECT_EQ(GetCmdResult(handle), 1) << settings;
        EXPECT_EQ(EndQARNCommand(handle), 0);
        EXPECT_LT(took, 2.0) << settings;
        EXPECT_EQ(IsConnect(device), 0) << settings;
        errno = 0;
        EXPECT_EQ(ConnectPort(device, settings.c_str()), 0) << settings;
        EXPECT_PORT_ERROR(ECONNREFUSED, settings);

        simulator.SetFaults(dmsim::Faults());
        ASSERT_TRUE(server.Restart());
        Connect(settings);
        EXPECT_EQ(RunAndEnd(kTerminal, 0x16).result, 13) << settings;

        // A newer client takes the line (the server kicks the old one): to the old one that is
        // a closed connection.
        int newer = OpenDevice(kHost, window);
        ASSERT_EQ(ConnectPort(newer, settings.c_str()), 1) << settings;
        auto kicked = std::chrono::steady_clock::now();
        while (IsConnect(device) && SecondsSince(kicked) < 5)
            Pump(20);
        EXPECT_EQ(IsConnect(device), 0) << settings;
        EXPECT_EQ(CloseDevice(newer), 1);
    }
}

#if !defined(_WIN32)
namespace {

// A Telnet server that takes one client and answers what the host sends with these bytes.
class ScriptedServer {
  public:
    explicit ScriptedServer(Bytes answer) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        listen(listener_, 1);
        thread_ = std::thread([this, answer] {
            int client = accept(listener_, nullptr, nullptr);
            uint8_t request[256];
            // Each piece the host sends gets the script; then the client's end is awaited.
            while (client >= 0 && recv(client, request, sizeof request, 0) > 0)
                send(client, answer.data(), answer.size(), MSG_NOSIGNAL);
            if (client >= 0) close(client);
        });
    }
    ~ScriptedServer() {
        shutdown(listener_, SHUT_RDWR);
        thread_.join();
        close(listener_);
    }
    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(port_) + ":19200"; }

  private:
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

} // namespace
#endif

// Each ends in a documented result within its bound: nothing listening, a listener that never
// answers, a Telnet server without the COM-PORT-OPTION or one that keeps another speed.
TEST_F(NetworkLines, AbsentSilentAndRefusingServers) {
    ASSERT_TRUE(testline::StartSimulatedLine(simulator, {kTerminal}));
    window = CreateAppWindow(&Line::Record, this);
    device = OpenDevice(kHost, window);
    ASSERT_NE(device, 0);
    SetWaitTime(device, 300);

    std::string nobody = "127.0.0.1:" + std::to_string(UnusedPort());
    for (const std::string& settings : {"tcp://" + nobody, "rfc2217://" + nobody}) {
        auto started = std::chrono::steady_clock::now();
        errno = 0;
        EXPECT_EQ(ConnectPort(device, settings.c_str()), 0) << settings;
        EXPECT_PORT_ERROR(ECONNREFUSED, settings);
        EXPECT_LT(SecondsSince(started), 1.0) << settings;
        EXPECT_EQ(IsConnect(device), 0);
    }

    // Connected, a raw stream cannot tell: its commands run into their time-outs.
    SilentListener silent;
    ASSERT_NE(silent.Port(), 0);
    std::string raw = "tcp://127.0.0.1:" + std::to_string(silent.Port());
    ASSERT_EQ(ConnectPort(device, raw.c_str()), 1);
    EXPECT_EQ(RunAndEnd(kTerminal, 0x16).result, 5); // sent, and no reply in time
    EXPECT_EQ(IsConnect(device), 1);
    DisConnectPort(device);
    // Telnet has the option to agree on: no answer within the limit, no line.
    std::string telnet = "rfc2217://127.0.0.1:" + std::to_string(silent.Port());
    auto started = std::chrono::steady_clock::now();
    errno = 0;
    EXPECT_EQ(ConnectPort(device, telnet.c_str()), 0);
    EXPECT_PORT_ERROR(ETIMEDOUT, telnet);
    EXPECT_GT(SecondsSince(started), 2.5);
    EXPECT_LT(SecondsSince(started), 5.0);

#if !defined(_WIN32)
    const struct {
        Bytes answer;
        int reason;
    } servers[] = {
        {{0xFF, 0xFE, 0x2C}, EPROTONOSUPPORT}, // DONT COM-PORT-OPTION
        // Agreed, then 9600 baud confirmed for the 19200 asked.
        {{0xFF, 0xFD, 0x2C, 0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF,
          0xF0, 0xFF, 0xFA, 0x2C, 0x66, 0x08, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x67,
          0x03, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0},
         EINVAL},
    };
    for (const auto& s : servers) {
        ScriptedServer scripted(s.answer);
        errno = 0;
        EXPECT_EQ(ConnectPort(device, scripted.Url().c_str()), 0) << Hex(s.answer);
        EXPECT_EQ(errno, s.reason) << Hex(s.answer);
    }
#endif
    EXPECT_EQ(IsConnect(device), 0);
}
