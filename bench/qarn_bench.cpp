// Speed of the library: command round trips and a large list download against the simulator
// on a pty, processor use while a command waits, and the codecs' throughput. A pty has no line
// speed, so the round trips show the library's own cost, not the time a real line takes.
#include <sys/resource.h>
#include <unistd.h>

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

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void Ignore(int, int, int, void*) {}

// The simulator with one terminal and a device object connected to it.
struct Line {
    dmsim::Simulator simulator;
    int window = 0;
    int device = 0;

    bool Open(int waitTime) {
        if (!simulator.OpenPty() || !simulator.AddTerminal(kTerminal) || !simulator.Start())
            return false;
        window = CreateNotifyWindow(&Ignore, nullptr);
        device = OpenDevice(kHost, window);
        SetWaitTime(device, waitTime);
        std::string settings = simulator.PortName() + ":baud=115200,parity=E,data=8,stop=1";
        return device != 0 && ConnectPort(device, settings.c_str()) == 1;
    }
    ~Line() {
        if (device) CloseDevice(device);
        if (window) DestroyNotifyWindow(window);
        simulator.Stop();
    }
    int RunAndEnd(int terminal, int code, void* params = nullptr) {
        int command = StartQARNCommand(device, terminal, code, params, 0);
        if (!command) return -1;
        int result = GetCmdResult(command);
        EndQARNCommand(command);
        return result;
    }
};

void RoundTrips(Line& line) {
    constexpr int kCount = 200;
    struct Row {
        int code;
        const char* what;
    };
    const Row rows[] = {{0x13, "property query"}, {0x16, "status query"}, {0x83, "beep"}};
    for (const Row& row : rows) {
        int good = 0;
        auto start = Clock::now();
        for (int i = 0; i < kCount; ++i)
            good += line.RunAndEnd(kTerminal, row.code) == (row.code == 0x83 ? 8 : 13);
        double seconds = SecondsSince(start);
        std::printf("round trip, %-15s %4d commands, %3d answered, %6.2f ms each"
                    " (50 of them the pause after the exchange)\n",
                    row.what, kCount, good, seconds * 1000 / kCount);
    }
}

void WhiteListDownload(Line& line) {
    constexpr int kNumbers = 10000;
    std::string path = "/tmp/qarn_bench_" + std::to_string(getpid()) + ".lst";
    {
        std::ofstream file(path, std::ios::binary);
        file.put(static_cast<char>(0xBB));
        uint64_t seed = 17;
        for (int i = 0; i < kNumbers; ++i) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            uint64_t number = (seed >> 20) % 10000000000ULL;
            char entry[5];
            for (int digit = 4; digit >= 0; --digit, number /= 100)
                entry[digit] = static_cast<char>(number % 10 | (number / 10 % 10) << 4);
            file.write(entry, sizeof entry);
        }
    }
    auto start = Clock::now();
    double processorStart = ProcessorSeconds();
    int result = line.RunAndEnd(kTerminal, 0xA2, const_cast<char*>(path.c_str()));
    double seconds = SecondsSince(start);
    double processor = ProcessorSeconds() - processorStart;
    std::remove(path.c_str());
    std::printf("white list of %d numbers: result %d, %.3f s, %.3f s of processor\n", kNumbers,
                result, seconds, processor);
}

void IdleWait(Line& line) {
    constexpr int kWaitTime = 2000;
    SetWaitTime(line.device, kWaitTime);
    auto start = Clock::now();
    double processorStart = ProcessorSeconds();
    int result = line.RunAndEnd(kAbsentTerminal, 0x13);
    double seconds = SecondsSince(start);
    double processor = ProcessorSeconds() - processorStart;
    std::printf("wait for a silent terminal: result %d after %.2f s, %.2f%% of one core\n", result,
                seconds, 100 * processor / seconds);
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
    double seconds = SecondsSince(start);
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
    seconds = SecondsSince(start);
    std::printf("Big5 -> GB -> Big5: %.0f MB/s\n", 2 * text.size() / seconds / 1e6);
}

} // namespace

int main() {
    Codecs();
    Line line;
    if (!line.Open(500)) {
        std::fprintf(stderr, "could not open the simulated line\n");
        return 1;
    }
    RoundTrips(line);
    WhiteListDownload(line);
    IdleWait(line);
    return 0;
}
