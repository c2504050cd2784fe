// Speed of the library against the simulator on a pty: for each kind of round trip, for a large
// list download and for a time-out, the host's overhead (measured time minus the waits the
// protocol fixes) and the processor time per command; then the codecs' throughput. A pty has no
// line speed, so what remains beyond the fixed waits is the library's own cost (and the
// simulator's answer time). The simulator runs in a child process, so the processor time counted
// is the library's and this program's alone. Last, where ser2net is installed, the same status
// queries through it on 127.0.0.1, as a raw TCP line and as an RFC 2217 line, beside the pty's.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "codec/big5_gb.h"
#include "codec/des.h"
#include "dmsim/simulator.h"
#include "qarn.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kHost = 0x0001;
constexpr int kTerminal = 0x0002;
constexpr int kAbsentTerminal = 0x0009;
constexpr int kCommandsPerKind = 200;

// The waits the protocol fixes around one transmission: RTS raised 3 ms before the first byte
// and dropped 3 ms after the transmitter is empty; the pause after it.
constexpr double kRtsMilliseconds = 3 + 3;
constexpr double kPauseMilliseconds = 50;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double ProcessorMilliseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    size_t at = static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(at, values.size() - 1)];
}

void PrintSpread(const char* what, const std::vector<double>& values) {
    std::printf("  %-34s median %7.3f ms   p99 %7.3f ms   max %7.3f ms   (%zu)\n", what,
                Percentile(values, 0.5), Percentile(values, 0.99), Percentile(values, 1.0),
                values.size());
}

// The simulator stands in for terminals, which have processors of their own: on a machine with
// more than one, its process keeps off the one the library's thread starts on, so the two do
// not take turns on one processor while the other idles.
void KeepOffTheLibrarysProcessor(int libraryProcessor) {
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return;
    CPU_CLR(libraryProcessor, &allowed);
    sched_setaffinity(0, sizeof allowed, &allowed);
}

// The simulator in a child process; the child ends when the parent closes the pipe.
struct SimulatorProcess {
    pid_t child = -1;
    int toChild = -1;
    std::string port;

    bool Start() {
        int down[2], up[2];
        if (pipe(down) != 0 || pipe(up) != 0) return false;
        int libraryProcessor = sched_getcpu();
        child = fork();
        if (child < 0) return false;
        if (child == 0) {
            KeepOffTheLibrarysProcessor(libraryProcessor);
            close(down[1]);
            close(up[0]);
            dmsim::Simulator simulator;
            std::string name;
            if (simulator.OpenPty() && simulator.AddTerminal(kTerminal) && simulator.Start())
                name = simulator.PortName();
            name += '\n';
            if (write(up[1], name.data(), name.size()) < 0) _exit(1);
            char byte;
            while (read(down[0], &byte, 1) > 0) {
            }
            simulator.Stop();
            _exit(0);
        }
        close(down[0]);
        close(up[1]);
        toChild = down[1];
        char byte;
        while (read(up[0], &byte, 1) == 1 && byte != '\n')
            port += byte;
        close(up[0]);
        return !port.empty();
    }
    ~SimulatorProcess() {
        if (toChild >= 0) close(toChild);
        if (child > 0) waitpid(child, nullptr, 0);
    }
};

// Times of the transmissions the library reports, for the list download's frames.
std::vector<Clock::time_point> sentTimes;

void Notify(int message, int, int, void*) {
    if (message == WM_HDLC_SENT) sentTimes.push_back(Clock::now());
}

struct Line {
    SimulatorProcess simulator;
    int window = 0;
    int device = 0;

    bool Open() {
        if (!simulator.Start()) return false;
        window = CreateNotifyWindow(&Notify, nullptr);
        device = OpenDevice(kHost, window);
        std::string settings = simulator.port + ":baud=115200,parity=E,data=8,stop=1";
        return device != 0 && ConnectPort(device, settings.c_str()) == 1;
    }
    ~Line() {
        if (device) CloseDevice(device);
        if (window) DestroyNotifyWindow(window);
    }
};

struct Timed {
    int result = -1;
    double start = 0; // StartQARNCommand, ms
    double end = 0;   // EndQARNCommand, ms
};

Timed RunTimed(Line& line, int terminal, int code, void* params = nullptr) {
    Timed timed;
    auto started = Clock::now();
    int command = StartQARNCommand(line.device, terminal, code, params, 0);
    timed.start = MillisecondsSince(started);
    if (!command) return timed;
    timed.result = GetCmdResult(command);
    auto ending = Clock::now();
    EndQARNCommand(command);
    timed.end = MillisecondsSince(ending);
    return timed;
}

// What the machine itself charges for one answered command: a bare loop with the same waits
// (3 ms, a 20-byte write, 3 ms, the answer, 50 ms) against an echoing child on a pty of its own.
// Sleeping and waking cost processor time too, and a virtual machine's own stalls show in its
// times: more on some machines than on others. Returns the processor time per round.
double BareLoop() {
    constexpr int kRounds = kCommandsPerKind;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    char name[64];
    if (ptsname_r(master, name, sizeof name) != 0) return -1;
    int slave = open(name, O_RDWR | O_NOCTTY);
    if (slave < 0) return -1;
    for (int fd : {master, slave}) {
        termios raw{};
        tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        tcsetattr(fd, TCSANOW, &raw);
    }
    int libraryProcessor = sched_getcpu();
    pid_t child = fork();
    if (child == 0) {
        KeepOffTheLibrarysProcessor(libraryProcessor);
        uint8_t frame[64];
        ssize_t got;
        while ((got = read(master, frame, 20)) > 0)
            if (write(master, frame, 32) < 0) break;
        _exit(0);
    }
    const timespec rts{0, 3000000}, pause{0, 50000000};
    uint8_t frame[32] = {};
    std::vector<double> overheads;
    double start = ProcessorMilliseconds();
    for (int round = 0; round < kRounds; ++round) {
        auto started = Clock::now();
        nanosleep(&rts, nullptr);
        if (write(slave, frame, 20) != 20) break;
        nanosleep(&rts, nullptr);
        pollfd answer{slave, POLLIN, 0};
        poll(&answer, 1, 1000);
        if (read(slave, frame, sizeof frame) <= 0) break;
        nanosleep(&pause, nullptr);
        overheads.push_back(MillisecondsSince(started) - kRtsMilliseconds - kPauseMilliseconds);
    }
    double perRound = (ProcessorMilliseconds() - start) / kRounds;
    close(slave);
    close(master);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    std::printf("a bare loop of the same waits and one pty round trip, %d rounds: processor %.3f ms"
                " per round on this machine\n",
                kRounds, perRound);
    PrintSpread("beyond its fixed waits", overheads);
    return perRound;
}

void RoundTrips(Line& line, std::vector<double>& endTimes) {
    struct Kind {
        int code;
        int answer;
        const char* what;
    };
    const Kind kinds[] = {
        {0x13, 13, "property query (data reply)"},
        {0x16, 13, "status query (data reply)"},
        {0x83, 8, "property reset (acknowledged)"},
        {0x01, 0, "clock broadcast (no reply)"},
    };
    std::printf("round trips, %d commands each; fixed waits %.0f ms (RTS 3 + 3, pause 50)\n",
                kCommandsPerKind, kRtsMilliseconds + kPauseMilliseconds);
    double bare = BareLoop();
    for (const Kind& kind : kinds) {
        std::vector<double> overheads;
        int good = 0;
        double processorStart = ProcessorMilliseconds();
        for (int i = 0; i < kCommandsPerKind; ++i) {
            Timed timed = RunTimed(line, kTerminal, kind.code);
            good += timed.result == kind.answer;
            overheads.push_back(timed.start - kRtsMilliseconds - kPauseMilliseconds);
            endTimes.push_back(timed.end);
        }
        double processor = (ProcessorMilliseconds() - processorStart) / kCommandsPerKind;
        std::printf("%s: %d of %d with result %d, processor %.3f ms per command (%.3f ms beyond"
                    " the bare loop)\n",
                    kind.what, good, kCommandsPerKind, kind.answer, processor, processor - bare);
        PrintSpread("host overhead per command", overheads);
    }
}

std::string WriteListFile(int numbers) {
    std::string path = "/tmp/qarn_bench_" + std::to_string(getpid()) + ".lst";
    std::ofstream file(path, std::ios::binary);
    file.put(static_cast<char>(0xBB));
    uint64_t seed = 17;
    for (int i = 0; i < numbers; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        uint64_t number = (seed >> 20) % 4294967296ULL; // a list number holds 32 bits
        char entry[5];
        for (int digit = 4; digit >= 0; --digit, number /= 100)
            entry[digit] = static_cast<char>(number % 10 | (number / 10 % 10) << 4);
        file.write(entry, sizeof entry);
    }
    return path;
}

// Each frame after the first goes out a pause and the RTS waits after the one before it; the
// closing frame's acknowledgement ends the command without a pause.
void ListDownload(Line& line) {
    constexpr int kNumbers = 10000;
    constexpr int kRuns = 15;
    std::string path = WriteListFile(kNumbers);
    std::vector<double> perFrame;
    double total = 0, fixed = 0, processor = 0;
    size_t frames = 0;
    int good = 0;
    for (int run = 0; run < kRuns; ++run) {
        sentTimes.clear();
        double processorStart = ProcessorMilliseconds();
        auto started = Clock::now();
        Timed timed = RunTimed(line, kTerminal, 0xA2, const_cast<char*>(path.c_str()));
        double took = timed.start;
        processor += ProcessorMilliseconds() - processorStart;
        good += timed.result == 8;
        if (sentTimes.empty()) continue;
        perFrame.push_back(
            std::chrono::duration<double, std::milli>(sentTimes[0] - started).count() -
            kRtsMilliseconds);
        for (size_t i = 1; i < sentTimes.size(); ++i)
            perFrame.push_back(
                std::chrono::duration<double, std::milli>(sentTimes[i] - sentTimes[i - 1]).count() -
                kRtsMilliseconds - kPauseMilliseconds);
        total += took;
        fixed += sentTimes.size() * kRtsMilliseconds + (sentTimes.size() - 1) * kPauseMilliseconds;
        frames += sentTimes.size();
    }
    std::remove(path.c_str());
    std::printf("white list of %d numbers, %d runs: %d with result 8, %zu frames a run,"
                " %.1f ms a run (%.1f ms fixed waits), processor %.3f ms per frame\n",
                kNumbers, kRuns, good, frames / kRuns, total / kRuns, fixed / kRuns,
                processor / static_cast<double>(frames));
    std::printf("  host overhead per frame, all runs   mean %7.3f ms\n",
                (total - fixed) / static_cast<double>(frames));
    PrintSpread("host overhead per frame", perFrame);
}

void TimeOuts(Line& line) {
    constexpr int kWaitTime = 500;
    constexpr int kRuns = 10;
    SetWaitTime(line.device, kWaitTime);
    std::vector<double> overheads;
    int good = 0;
    double processorStart = ProcessorMilliseconds();
    for (int run = 0; run < kRuns; ++run) {
        Timed timed = RunTimed(line, kAbsentTerminal, 0x13);
        good += timed.result == 5;
        overheads.push_back(timed.start - kRtsMilliseconds - kWaitTime - kPauseMilliseconds);
    }
    double processor = (ProcessorMilliseconds() - processorStart) / kRuns;
    std::printf("time-out of %d ms, silent terminal, %d runs: %d with result 5; fixed waits %.0f"
                " ms; processor %.3f ms per command\n",
                kWaitTime, kRuns, good, kRtsMilliseconds + kWaitTime + kPauseMilliseconds,
                processor);
    PrintSpread("beyond the fixed waits", overheads);
}

// A TCP port on 127.0.0.1 that the system had free; 0 when none.
int UnusedPort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                 getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (fd >= 0) close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// ser2net on 127.0.0.1 in front of the simulator's pty, in a process of its own.
struct DeviceServer {
    pid_t child = -1;
    std::string config = "/tmp/qarn_bench_" + std::to_string(getpid()) + ".yaml";
    int rawPort = 0, telnetPort = 0;

    bool Start(const std::string& pty) {
        const char* server = "/usr/sbin/ser2net";
        if (access(server, X_OK) != 0) return false;
        rawPort = UnusedPort();
        telnetPort = UnusedPort();
        if (rawPort == 0 || telnetPort == 0) return false;
        std::string serial = "serialdev," + pty + ",115200e81,local";
        std::ofstream out(config);
        out << "%YAML 1.1\n---\nconnection: &raw\n  accepter: tcp,127.0.0.1," << rawPort
            << "\n  connector: " << serial << "\nconnection: &telnet\n"
            << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << telnetPort
            << "\n  connector: " << serial << "\n";
        out.close();
        child = fork();
        if (child == 0) {
            for (int fd = 0, last = static_cast<int>(sysconf(_SC_OPEN_MAX)); fd < last; ++fd)
                close(fd);
            std::string processFile = config + ".pid"; // ser2net removes it as it ends
            execl(server, "ser2net", "-n", "-c", config.c_str(), "-P", processFile.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        return child > 0;
    }
    ~DeviceServer() {
        if (child > 0) {
            kill(child, SIGTERM);
            waitpid(child, nullptr, 0);
        }
        std::remove(config.c_str());
        std::remove((config + ".pid").c_str());
    }
};

// 200 status queries through the line that settings names: the host's overhead beyond the fixed
// waits and the request's own time on the wire (20 characters of 11 bits at 115200 baud).
void StatusSeries(Line& line, const std::string& settings, const char* what) {
    constexpr double kWireMilliseconds = 20 * 11 * 1000.0 / 115200;
    DisConnectPort(line.device);
    // The server may not listen yet, or still hold the line for the client before: polled.
    auto started = Clock::now();
    while (ConnectPort(line.device, settings.c_str()) != 1 && MillisecondsSince(started) < 10000)
        PumpMessages(20);
    if (!IsConnect(line.device)) {
        std::printf("%s: cannot connect (%s)\n", what, settings.c_str());
        return;
    }
    std::vector<double> overheads;
    int good = 0;
    double processorStart = ProcessorMilliseconds();
    for (int i = 0; i < kCommandsPerKind; ++i) {
        Timed timed = RunTimed(line, kTerminal, 0x16);
        good += timed.result == 13;
        overheads.push_back(timed.start - kRtsMilliseconds - kPauseMilliseconds -
                            kWireMilliseconds);
    }
    double processor = (ProcessorMilliseconds() - processorStart) / kCommandsPerKind;
    std::printf("%s: %d of %d with result 13, processor %.3f ms per command\n", what, good,
                kCommandsPerKind, processor);
    PrintSpread("beyond fixed waits and wire time", overheads);
}

void NetworkLines(Line& line) {
    std::printf("status queries, %d each, pty and network lines at 115200 baud; fixed waits"
                " %.0f ms, wire time %.3f ms\n",
                kCommandsPerKind, kRtsMilliseconds + kPauseMilliseconds, 20 * 11 * 1000.0 / 115200);
    std::string values = ":baud=115200,parity=E,data=8,stop=1";
    StatusSeries(line, line.simulator.port + values, "pty");
    DisConnectPort(line.device); // ser2net opens the pty itself
    DeviceServer server;
    if (!server.Start(line.simulator.port)) {
        std::printf("network lines: skipped (ser2net is not installed, package group"
                    " network-lines)\n");
        return;
    }
    StatusSeries(line, "tcp://127.0.0.1:" + std::to_string(server.rawPort) + values,
                 "tcp:// through ser2net");
    StatusSeries(line, "rfc2217://127.0.0.1:" + std::to_string(server.telnetPort) + values,
                 "rfc2217:// through ser2net");
    DisConnectPort(line.device);
}

void Codecs() {
    constexpr int kBlocks = 200000;
    qarn::CDes des;
    const uint8_t key[8] = {0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    des.SetKey(key);
    uint8_t block[8] = {};
    auto start = Clock::now();
    for (int i = 0; i < kBlocks; ++i)
        des.Encipher(block, block);
    double seconds = MillisecondsSince(start) / 1000;
    std::printf("DES: %.0f blocks/s (last block %02X%02X)\n", kBlocks / seconds, block[0],
                block[1]);

    std::vector<uint8_t> text;
    for (int lead = 0xA4; text.size() < (1u << 20); lead = lead == 0xF9 ? 0xA4 : lead + 1)
        for (int trail = 0x40; trail <= 0x7E; ++trail) {
            text.push_back(static_cast<uint8_t>(lead));
            text.push_back(static_cast<uint8_t>(trail));
        }
    start = Clock::now();
    qarn::CBig5ToGB::ConvertBig5ToGb(text.data(), text.size());
    qarn::CBig5ToGB::ConvertGbToBig5(text.data(), text.size());
    seconds = MillisecondsSince(start) / 1000;
    std::printf("Big5 -> GB -> Big5: %.0f MB/s\n", 2 * text.size() / seconds / 1e6);
}

} // namespace

int main() {
    Line line;
    if (!line.Open()) {
        std::fprintf(stderr, "could not open the simulated line\n");
        return 1;
    }
    std::vector<double> endTimes;
    RoundTrips(line, endTimes);
    std::printf("EndQARNCommand after a finished command:\n");
    PrintSpread("EndQARNCommand", endTimes);
    ListDownload(line);
    TimeOuts(line);
    SetWaitTime(line.device, 500);
    NetworkLines(line);
    Codecs();
    return 0;
}
