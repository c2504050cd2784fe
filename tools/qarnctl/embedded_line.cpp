#include "embedded_line.h"

#include <cstring>
#include <ctime>

#include "dmsim/hex_text.h"
#include "dmsim/simulator.h"

namespace qarnctl {

namespace {

constexpr uint16_t kShortRecordTerminal = 0x0002;
constexpr uint16_t kLongRecordTerminal = 0x0003;
constexpr uint16_t kThirdTerminal = 0x0004;
constexpr int kSampleRecords = 20;

// A terminal's clock is about right: it starts at the host's time.
dmsim::Clock HostClock() {
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,    local.tm_hour,
            local.tm_min,         local.tm_sec,     local.tm_wday + 1};
}

// Twenty records of the past day, one every 73 minutes up to the terminal's clock.
void AddSampleRecords(dmsim::Terminal& terminal) {
    std::tm day{};
    day.tm_year = terminal.clock.year - 1900;
    day.tm_mon = terminal.clock.month - 1;
    day.tm_mday = terminal.clock.day;
    day.tm_hour = terminal.clock.hour;
    day.tm_min = terminal.clock.minute;
    day.tm_isdst = -1;
    std::time_t now = std::mktime(&day);
    for (int i = 0; i < kSampleRecords; ++i) {
        std::time_t when = now - static_cast<std::time_t>(kSampleRecords - i) * 73 * 60;
        std::tm at = *std::localtime(&when);
        dmsim::Record record;
        record.identifier = 100001u + static_cast<uint32_t>(i);
        record.code = i % 2 ? "AB12345" : "Z9 1   ";
        record.year = at.tm_year + 1900;
        record.month = at.tm_mon + 1;
        record.day = at.tm_mday;
        record.hour = at.tm_hour;
        record.minute = at.tm_min;
        record.second = at.tm_sec;
        record.flagA = i % 3 == 0;
        record.flagB = i % 5 == 0;
        record.value24 = (i - 10) * 150;
        record.value32 = 250 * i;
        record.value16 = static_cast<uint16_t>(i);
        record.value8 = static_cast<uint8_t>(i * 7);
        terminal.records.push_back(record);
    }
}

void AddSampleCard(dmsim::Terminal& terminal) {
    dmsim::Card& card = terminal.card;
    card.number = 20240001;
    card.recordCode = "AB12345";
    card.attribute1 = 1;
    card.attribute2 = 2;
    card.password = 1234;
    std::memcpy(card.name.data(), "SAMPLE  ", 8);
    card.year = terminal.clock.year + 2;
    card.month = 12;
    card.day = 31;
    card.balance = 10050;
    card.id = 0x00C0FFEE;
}

// The simulator of the embedded line, started on a pty of its own.
class SimulatedLine : public EmbeddedLine {
  public:
    ~SimulatedLine() override { simulator_.Stop(); }

    bool Start() {
        if (!simulator_.OpenPty()) return false;
        // The build's key table, so that masked card passwords read back as written.
        simulator_.SetKeyTable(dmsim::KeyTableFromHex(QARN_KEY_TABLE_TEXT));
        dmsim::Clock clock = HostClock();
        for (uint16_t address : {kShortRecordTerminal, kLongRecordTerminal, kThirdTerminal}) {
            simulator_.AddTerminal(address);
            simulator_.UpdateTerminal(address, [&](dmsim::Terminal& terminal) {
                terminal.clock = clock;
                terminal.statusValue = address;
                terminal.longRecords = address == kLongRecordTerminal;
                AddSampleRecords(terminal);
                AddSampleCard(terminal);
            });
        }
        return simulator_.Start();
    }

    std::string PortName() const override { return simulator_.PortName(); }

  private:
    dmsim::Simulator simulator_;
};

} // namespace

const char kWithoutPortHelp[] =
    "Without --port it starts an embedded simulated line of three terminals (0x0002, 0x0003,\n"
    "0x0004) so that every command can be tried without hardware.";

std::unique_ptr<EmbeddedLine> StartEmbeddedLine(std::ostream& err) {
    auto line = std::make_unique<SimulatedLine>();
    if (line->Start()) return line;
    err << "qarnctl: the embedded simulated line cannot start\n";
    return nullptr;
}

} // namespace qarnctl
