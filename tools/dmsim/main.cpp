// dmsim: a line of simulated terminals for trying the host library without hardware.
//   dmsim --terminals 2,3,4 [--port PATH --baud N] [fault and state options]
// Serves a new pty, or the serial device named by --port (--device), which Windows requires.
// Prints "port PATH" on its first line and runs until SIGINT, SIGTERM or the end of stdin,
// answering the control lines of dmsim/control.h that arrive on stdin. With --control-pty
// another program also drives the line through a second pty, named on the next line as
// "control PATH" (requests in dmsim/remote_control.h); --terminals is then optional.
#include "dmsim/serve.h"
#include "dmsim/simulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

const char kUsage[] =
    "  --drop N            drop the next N replies\n"
    "  --corrupt N         corrupt the check byte of the next N replies\n"
    "  --delay MS          wait before each reply\n"
    "  --split N           write each reply in N pieces\n"
    "  --split-gap MS      gap between the pieces\n"
    "  --drop-percent N    then drop each reply with a chance of N percent\n"
    "  --seed N            seed of that chance\n"
    "  --wrong-destination address replies to host address + 1\n"
    "  --wrong-source      send replies as from terminal address + 1\n"
    "  --echo              write every received frame back to the line\n"
    "  --noise HEX         bytes written before every reply\n"
    "  --silent            answer nothing\n"
    "  --ack-status N      status byte of acknowledgements\n"
    "  --key-table HEX     the 24-byte key table of the host's build (48 digits)\n"
    "  --key [ADDRESS=]TEXT  the communication key text the terminal (every terminal without\n"
    "                      ADDRESS=) takes frames with; frames with another key are ignored\n"
    "                      (default 58213094, the library's default)\n"
    "  --still-clock       clocks stand at 2005-01-01 00:00:00 until set, instead of\n"
    "                      showing the host's local time\n"
    "  --ignore-stdin      keep running when stdin ends\n"
    "  --help              this text\n"
    "control lines on stdin, one answer line each (\"error: ...\" for a bad one, or a line\n"
    "longer than 4096 bytes):\n"
    "  show ADDRESS                  the terminal's state as JSON\n"
    "  records ADDRESS COUNT [long]  replace its records with COUNT generated ones\n"
    "  online ADDRESS 0|1            take it off the line or put it back\n";

void PrintUsage(std::FILE* to = stderr) {
    std::fprintf(to, "%s%s", dmsim::kLineUsage, kUsage);
}

bool ParseNumber(const char* text, long low, long high, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text, &end, 0);
    return errno == 0 && end != text && *end == '\0' && value >= low && value <= high;
}

bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    if (text.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        long value;
        if (!ParseNumber(("0x" + text.substr(i, 2)).c_str(), 0, 255, value)) return false;
        bytes.push_back(static_cast<uint8_t>(value));
    }
    return true;
}

bool ParseAddresses(const std::string& text, std::vector<uint16_t>& addresses) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
        long value;
        if (!ParseNumber(item.c_str(), 0, 0xFFFF, value)) return false;
        addresses.push_back(static_cast<uint16_t>(value));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !addresses.empty();
}

struct Options {
    std::vector<uint16_t> terminals;
    std::string device;
    long baud = 9600;
    dmsim::Faults faults;
    long ackStatus = -1;
    std::vector<uint8_t> keyTable;
    bool ignoreStdin = false;
    bool controlPty = false;
    bool stillClock = false;
    bool help = false;
    std::string key;                                    // for every terminal; empty: default
    std::vector<std::pair<uint16_t, std::string>> keys; // ADDRESS=TEXT
};

// "TEXT" or "ADDRESS=TEXT", a text of 1 to 8 characters.
bool ParseKey(const std::string& text, Options& options) {
    size_t equals = text.find('=');
    std::string key = equals == std::string::npos ? text : text.substr(equals + 1);
    if (key.empty() || key.size() > 8) return false;
    if (equals == std::string::npos) {
        options.key = key;
        return true;
    }
    long address;
    if (!ParseNumber(text.substr(0, equals).c_str(), 0, 0xFFFF, address)) return false;
    options.keys.emplace_back(static_cast<uint16_t>(address), key);
    return true;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        bool takesValue = true;
        bool ok = value != nullptr;
        if (name == "--terminals") {
            ok = ok && ParseAddresses(value, options.terminals);
        } else if (name == "--device" || name == "--port") {
            options.device = ok ? value : "";
        } else if (name == "--baud") {
            ok = ok && ParseNumber(value, 1, 4000000, options.baud);
        } else if (name == "--drop") {
            ok = ok && ParseNumber(value, 0, 1000000, number);
            options.faults.dropReplies = static_cast<int>(number);
        } else if (name == "--drop-percent") {
            ok = ok && ParseNumber(value, 0, 100, number);
            options.faults.dropPercent = static_cast<int>(number);
        } else if (name == "--seed") {
            ok = ok && ParseNumber(value, 0, 0x7FFFFFFF, number);
            options.faults.dropSeed = static_cast<unsigned>(number);
        } else if (name == "--corrupt") {
            ok = ok && ParseNumber(value, 0, 1000000, number);
            options.faults.corruptReplies = static_cast<int>(number);
        } else if (name == "--delay") {
            ok = ok && ParseNumber(value, 0, 600000, number);
            options.faults.delayMilliseconds = static_cast<int>(number);
        } else if (name == "--split") {
            ok = ok && ParseNumber(value, 1, 10000, number);
            options.faults.splitPieces = static_cast<int>(number);
        } else if (name == "--split-gap") {
            ok = ok && ParseNumber(value, 0, 600000, number);
            options.faults.splitGapMilliseconds = static_cast<int>(number);
        } else if (name == "--noise") {
            ok = ok && ParseHex(value, options.faults.noise);
        } else if (name == "--ack-status") {
            ok = ok && ParseNumber(value, 0, 255, options.ackStatus);
        } else if (name == "--key") {
            ok = ok && ParseKey(value, options);
        } else if (name == "--key-table") {
            ok = ok && ParseHex(value, options.keyTable) && options.keyTable.size() == 24;
        } else {
            takesValue = false;
            ok = true;
            if (name == "--wrong-destination")
                options.faults.wrongDestination = true;
            else if (name == "--wrong-source")
                options.faults.wrongSource = true;
            else if (name == "--echo")
                options.faults.echoDownlink = true;
            else if (name == "--silent")
                options.faults.silent = true;
            else if (name == "--ignore-stdin")
                options.ignoreStdin = true;
            else if (name == "--still-clock")
                options.stillClock = true;
            else if (name == "--help" || name == "-h")
                options.help = true;
            else if (name == "--control-pty" && dmsim::kHavePty)
                options.controlPty = true;
            else
                ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "dmsim: bad option %s\n", name.c_str());
            PrintUsage();
            return false;
        }
        if (takesValue) ++i;
    }
    if (options.help) return true;
    if (options.terminals.empty() && !options.controlPty) {
        std::fprintf(stderr, "dmsim: --terminals is required\n");
        PrintUsage();
        return false;
    }
    if (options.device.empty() && !dmsim::kHavePty) {
        std::fprintf(stderr, "dmsim: --port is required: there are no ptys here\n");
        PrintUsage();
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return 2;
    if (options.help) {
        PrintUsage(stdout);
        return 0;
    }

    dmsim::Simulator simulator;
    for (uint16_t address : options.terminals) {
        if (!simulator.AddTerminal(address)) {
            std::fprintf(stderr, "dmsim: terminal address %u is taken or not allowed\n", address);
            return 2;
        }
        if (options.ackStatus >= 0)
            simulator.UpdateTerminal(address, [&](dmsim::Terminal& terminal) {
                terminal.ackStatus = static_cast<int>(options.ackStatus);
            });
    }
    if (!options.keyTable.empty()) {
        std::array<uint8_t, 24> table;
        std::copy(options.keyTable.begin(), options.keyTable.end(), table.begin());
        simulator.SetKeyTable(table);
    }
    simulator.SetFaults(options.faults);
    simulator.SetClockFollowsHost(!options.stillClock);
    if (!options.key.empty())
        for (uint16_t address : options.terminals)
            simulator.SetCommKey(address, options.key);
    for (const auto& [address, key] : options.keys) {
        if (!simulator.SetCommKey(address, key)) {
            std::fprintf(stderr, "dmsim: --key: no terminal %u\n", address);
            return 2;
        }
    }

    bool opened = options.device.empty()
                      ? simulator.OpenPty()
                      : simulator.OpenDevice(options.device, static_cast<int>(options.baud));
    if (!opened) {
        std::fprintf(stderr, "dmsim: cannot open %s\n",
                     options.device.empty() ? "a pty" : options.device.c_str());
        return 1;
    }
    return dmsim::Serve(simulator, !options.ignoreStdin, options.controlPty);
}
