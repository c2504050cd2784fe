// Soak run against the simulated line: many commands with the simulator's faults mixed at random
// (fixed seed), then list downloads with acknowledgements dropped. Prints the results by fault
// and the resident memory; exits with 1 when a command ends with a result its fault does not
// explain or outlives its bound, a download reports 8 with numbers missing on the terminal, or
// memory grows by more than 1 MiB between the first and the last thousand commands.
//   qarn_soak [--commands N] [--lines N] [--downloads N] [--list N] [--seed N]
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "dmsim/simulator.h"
#include "qarn.h"

namespace {

constexpr uint16_t kHost = 0x0001;
constexpr uint16_t kTerminal = 0x0002;
constexpr int kWaitTime = 200;
constexpr int kPause = 50;
constexpr int kSlack = 1000; // for a loaded machine
constexpr int kMemoryWindow = 1000;
constexpr long kMemoryBound = 1024 * 1024;

struct Options {
    int commands = 10000;
    int lines = 1;
    int downloads = 10;
    int listSize = 10000;
    unsigned seed = 20240601;
};

// A command of the mix and what its answer holds when nothing goes wrong.
struct Command {
    int code;
    int params[2];
    int result;   // the result of an undisturbed exchange
    int dataSize; // bytes of decoded data then
};

const Command kCommands[] = {
    {0x13, {0, 0}, 13, 68}, // property
    {0x16, {0, 0}, 13, 32}, // status
    {0x03, {0, 0}, 13, 4},  // search: the data is the terminal's address
    {0x1B, {1, 0}, 8, 0},   // beep
    {0x12, {3, 9}, 8, 0},   // set a property
    {0x01, {0, 0}, 0, 0},   // clock: expects no reply, so faults of replies do not touch it
};

enum Fault {
    kNone,
    kDrop,
    kCorrupt,
    kSplit,
    kNoise,
    kShortDelay,
    kLongDelay,
    kOtherHost,
    kOtherSource,
    kFaultCount
};

const char* const kFaultNames[kFaultCount] = {"none",       "drop",       "corrupt check",
                                              "split",      "noise",      "delay",
                                              "late reply", "other host", "other terminal"};

// Results a fault explains besides the undisturbed one. A late reply is decoded if it comes
// before the command is ended; noise that looks like the start of a frame can hide the reply
// (then the link status: bad check byte or another host, or the time-out).
const std::set<int> kExplained[kFaultCount] = {{}, {5}, {4}, {}, {2, 4, 5}, {}, {5}, {2}, {5}};

struct Tally {
    std::map<int, std::map<int, int>> results; // fault -> result -> count
    std::vector<std::string> faults;           // what went wrong
    long memoryAfterFirst = 0;
    long memoryAfterLast = 0;
};

long ResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6) * 1024;
    return 0;
}

bool StartLine(dmsim::Simulator& simulator) {
    if (!simulator.OpenPty()) return false;
    std::array<uint8_t, 24> table{};
    for (size_t i = 0; i < table.size(); ++i) {
        unsigned value = 0;
        std::sscanf(QARN_KEY_TABLE_TEXT + 2 * i, "%2x", &value);
        table[i] = static_cast<uint8_t>(value);
    }
    simulator.SetKeyTable(table);
    simulator.AddTerminal(kTerminal);
    return simulator.Start();
}

dmsim::Faults MakeFault(Fault fault, std::mt19937& random) {
    dmsim::Faults faults;
    auto between = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    switch (fault) {
    case kDrop:
        faults.dropReplies = 1;
        break;
    case kCorrupt:
        faults.corruptReplies = 1;
        break;
    case kSplit:
        faults.splitPieces = between(2, 6);
        faults.splitGapMilliseconds = between(0, 15);
        break;
    case kNoise:
        faults.noise.resize(static_cast<size_t>(between(1, 8)));
        for (uint8_t& byte : faults.noise)
            byte = static_cast<uint8_t>(between(0, 255));
        break;
    case kShortDelay:
        faults.delayMilliseconds = between(10, kWaitTime / 2);
        break;
    case kLongDelay:
        faults.delayMilliseconds = between(kWaitTime + 60, kWaitTime + 150);
        break;
    case kOtherHost:
        faults.wrongDestination = true;
        break;
    case kOtherSource:
        faults.wrongSource = true;
        break;
    default:
        break;
    }
    return faults;
}

Fault PickFault(std::mt19937& random) {
    // Half the exchanges undisturbed, the rest spread over the faults.
    int roll = std::uniform_int_distribution<int>(0, 2 * (kFaultCount - 1) - 1)(random);
    return roll < kFaultCount - 1 ? kNone : static_cast<Fault>(roll - (kFaultCount - 1) + 1);
}

void PumpFor(int milliseconds) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < until)
        PumpMessages(milliseconds);
}

// Runs one command under one fault and judges how it ended.
void RunOne(int device, dmsim::Simulator& simulator, std::mt19937& random, Tally& tally) {
    const Command& command =
        kCommands[std::uniform_int_distribution<size_t>(0, std::size(kCommands) - 1)(random)];
    Fault fault = PickFault(random);
    dmsim::Faults faults = MakeFault(fault, random);
    simulator.SetFaults(faults);
    int params[2] = {command.params[0], command.params[1]};

    auto started = std::chrono::steady_clock::now();
    int handle = StartQARNCommand(device, kTerminal, command.code, params, 0);
    long took = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                      std::chrono::steady_clock::now() - started)
                                      .count());
    int result = handle ? GetCmdResult(handle) : -1;
    std::vector<uint8_t> data(handle ? static_cast<size_t>(GetSizeOfData(handle)) : 0);
    if (handle) GetData(handle, data.data(), static_cast<int>(data.size()));
    if (handle && EndQARNCommand(handle) != 0) result = -2;
    if (fault == kLongDelay) PumpFor(faults.delayMilliseconds); // let the late reply pass

    Fault counted = command.code == 0x01 ? kNone : fault;
    tally.results[counted][result]++;
    char what[160];
    bool undisturbed = result == command.result;
    bool rightData = static_cast<int>(data.size()) == command.dataSize;
    if (rightData && command.code == 0x03) {
        int32_t found = 0;
        std::memcpy(&found, data.data(), sizeof found);
        rightData = found == kTerminal;
    }
    if (undisturbed && !rightData) {
        std::snprintf(what, sizeof what, "0x%02X under %s: %zu bytes of data", command.code,
                      kFaultNames[fault], data.size());
        tally.faults.push_back(what);
    } else if (!undisturbed && kExplained[counted].count(result) == 0) {
        std::snprintf(what, sizeof what, "0x%02X under %s: result %d", command.code,
                      kFaultNames[fault], result);
        tally.faults.push_back(what);
    }
    long bound = kWaitTime + kPause + faults.delayMilliseconds + kSlack;
    if (took > bound) {
        std::snprintf(what, sizeof what, "0x%02X under %s: %ld ms, bound %ld ms", command.code,
                      kFaultNames[fault], took, bound);
        tally.faults.push_back(what);
    }
}

// A list file: the marker, then each number as 10 BCD digits, most significant first.
bool WriteListFile(const std::string& path, const std::vector<uint64_t>& numbers) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.put(static_cast<char>(0xBB));
    for (uint64_t number : numbers) {
        char entry[5];
        for (int i = 4; i >= 0; --i) {
            entry[i] = static_cast<char>(number % 10 | (number / 10 % 10) << 4);
            number /= 100;
        }
        out.write(entry, 5);
    }
    return static_cast<bool>(out);
}

// Downloads the list with a tenth of the acknowledgements dropped; a download that reports 8
// must have put every number on the terminal.
void RunDownloads(int device, dmsim::Simulator& simulator, const Options& options, Tally& tally) {
    std::mt19937_64 random(options.seed);
    std::vector<uint64_t> numbers(static_cast<size_t>(options.listSize));
    for (uint64_t& number : numbers)
        number = random() % 0x100000000ULL; // list numbers are 32-bit
    std::vector<uint32_t> wanted(numbers.begin(), numbers.end());
    std::sort(wanted.begin(), wanted.end());
    char path[] = "/tmp/qarn-soak-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0 || !WriteListFile(path, numbers)) {
        tally.faults.push_back("could not write the list file");
        if (fd >= 0) close(fd);
        return;
    }
    close(fd);
    SetWaitTime(device, 300);
    for (int i = 0; i < options.downloads; ++i) {
        dmsim::Faults faults;
        faults.dropPercent = 10;
        faults.dropSeed = options.seed + static_cast<unsigned>(i);
        simulator.SetFaults(faults);
        int handle = StartQARNCommand(device, kTerminal, 0xA2, path, 0);
        int result = handle ? GetCmdResult(handle) : -1;
        if (handle) EndQARNCommand(handle);
        dmsim::Terminal terminal;
        simulator.GetTerminal(kTerminal, terminal);
        std::vector<uint32_t> stored = terminal.WhiteList();
        std::sort(stored.begin(), stored.end());
        bool complete = stored == wanted;
        tally.results[-1][result]++;
        std::printf("download %d: result %d, %zu of %zu numbers on the terminal\n", i + 1, result,
                    stored.size(), wanted.size());
        if (result == 8 && !complete) tally.faults.push_back("a download reported 8 incomplete");
        if (result != 8 && result != 5 && result != 4 && result != 2)
            tally.faults.push_back("a download ended with result " + std::to_string(result));
    }
    unlink(path);
    SetWaitTime(device, kWaitTime);
}

// One line on the calling thread: its simulator, the application's window and a device.
Tally RunLine(int line, int commands, const Options& options) {
    Tally tally;
    dmsim::Simulator simulator;
    int window = 0;
    int device = 0;
    if (StartLine(simulator)) window = CreateNotifyWindow([](int, int, int, void*) {}, nullptr);
    if (window) device = OpenDevice(kHost, window);
    std::string settings = simulator.PortName() + ":baud=115200,parity=E,data=8,stop=1";
    if (!device || ConnectPort(device, settings.c_str()) != 1) {
        tally.faults.push_back("line " + std::to_string(line) + " did not open");
        if (window) DestroyNotifyWindow(window);
        return tally;
    }
    SetWaitTime(device, kWaitTime);
    std::mt19937 random(options.seed + static_cast<unsigned>(line));
    for (int i = 0; i < commands; ++i) {
        RunOne(device, simulator, random, tally);
        if (line == 0 && i + 1 == std::min(kMemoryWindow, commands))
            tally.memoryAfterFirst = ResidentBytes();
    }
    if (line == 0) tally.memoryAfterLast = ResidentBytes();
    if (line == 0) RunDownloads(device, simulator, options, tally);
    CloseDevice(device);
    DestroyNotifyWindow(window);
    return tally;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string name = argv[i];
        long value = std::strtol(argv[i + 1], nullptr, 10);
        if (value < 0) return false;
        if (name == "--commands")
            options.commands = static_cast<int>(value);
        else if (name == "--lines" && value > 0)
            options.lines = static_cast<int>(value);
        else if (name == "--downloads")
            options.downloads = static_cast<int>(value);
        else if (name == "--list" && value > 0)
            options.listSize = static_cast<int>(value);
        else if (name == "--seed")
            options.seed = static_cast<unsigned>(value);
        else
            return false;
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr, "usage: qarn_soak [--commands N] [--lines N] [--downloads N] "
                             "[--list N] [--seed N]\n");
        return 2;
    }
    auto started = std::chrono::steady_clock::now();
    std::vector<std::future<Tally>> lines;
    for (int line = 0; line < options.lines; ++line) {
        int share = options.commands / options.lines + (line < options.commands % options.lines);
        lines.push_back(std::async(std::launch::async, RunLine, line, share, options));
    }
    Tally total;
    for (std::future<Tally>& line : lines) {
        Tally tally = line.get();
        for (auto& fault : tally.results)
            for (auto& result : fault.second)
                total.results[fault.first][result.first] += result.second;
        total.faults.insert(total.faults.end(), tally.faults.begin(), tally.faults.end());
        if (tally.memoryAfterFirst) total.memoryAfterFirst = tally.memoryAfterFirst;
        if (tally.memoryAfterLast) total.memoryAfterLast = tally.memoryAfterLast;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    std::printf("%d commands on %d line(s), %d download(s) of %d numbers, seed %u, %.0f s\n",
                options.commands, options.lines, options.downloads, options.listSize, options.seed,
                seconds);
    std::printf("%-16s result:count\n", "fault");
    for (auto& fault : total.results) {
        std::printf("%-16s", fault.first < 0 ? "list download" : kFaultNames[fault.first]);
        for (auto& result : fault.second)
            std::printf(" %d:%d", result.first, result.second);
        std::printf("\n");
    }
    int window = std::min(kMemoryWindow, options.commands);
    std::printf("resident memory of line 0: %.1f KiB after its first %d commands, %.1f KiB after "
                "its last %d\n",
                total.memoryAfterFirst / 1024.0, window, total.memoryAfterLast / 1024.0, window);
    // The comparison means something only when the first and the last thousand differ.
    if (options.lines == 1 && options.commands >= 2 * kMemoryWindow &&
        total.memoryAfterLast - total.memoryAfterFirst > kMemoryBound)
        total.faults.push_back("resident memory grew by more than 1 MiB");
    for (const std::string& fault : total.faults)
        std::printf("FAULT: %s\n", fault.c_str());
    std::printf("%s\n", total.faults.empty() ? "soak passed" : "soak FAILED");
    return total.faults.empty() ? 0 : 1;
}
