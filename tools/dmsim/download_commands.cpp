// Card lists, the test frame, and the program and page downloads that share its code 0x80.
#include "dmsim/checks.h"

#include <algorithm>

namespace dmsim {

namespace {

constexpr uint8_t kStepCode = 0x80;
constexpr int kBlackBase = 196; // list blocks from here on hold the black list
constexpr size_t kBlockCapacity = 64;
constexpr size_t kPageSize = 256;
constexpr uint8_t kPagesComplete = 0x80; // status that ends a page download

using Blocks = std::map<int, std::vector<uint32_t>>;

// Every byte must belong to a whole block, or nothing is stored.
bool ReadBlocks(const uint8_t* payload, size_t size, Blocks& blocks) {
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 3) return false;
        int number = static_cast<int>(GetBe16(payload + pos));
        size_t count = payload[pos + 2];
        pos += 3;
        if (count == 0 || count > kBlockCapacity || size - pos < 4 * count) return false;
        std::vector<uint32_t>& numbers = blocks[number];
        numbers.clear();
        for (size_t i = 0; i < count; ++i, pos += 4)
            numbers.push_back(GetBe32(payload + pos));
    }
    return true;
}

// Program records: address, length, data; they must fill the chunk exactly.
bool ReadProgramRecords(const uint8_t* chunk, size_t size, std::map<int, Bytes>& records) {
    size_t pos = 0;
    while (pos < size) {
        if (size - pos < 3 || size - pos - 3 < chunk[pos + 2]) return false;
        size_t length = chunk[pos + 2];
        records[static_cast<int>(GetBe16(chunk + pos))].assign(chunk + pos + 3,
                                                               chunk + pos + 3 + length);
        pos += 3 + length;
    }
    return true;
}

void Test(Terminal& terminal, const uint8_t* payload, size_t size, Reply& reply) {
    bool counted = true;
    for (size_t i = 0; i < size; ++i)
        counted = counted && payload[i] == static_cast<uint8_t>(i);
    Acknowledge(reply, kStepCode, counted ? terminal.ackStatus : terminal.rejectStatus);
}

void ProgramRecords(Terminal& terminal, const uint8_t* chunk, size_t size, Reply& reply) {
    std::map<int, Bytes> records;
    if (!terminal.programMode || !ReadProgramRecords(chunk, size, records)) {
        Acknowledge(reply, 0xC3, terminal.rejectStatus);
        return;
    }
    for (auto& record : records)
        terminal.programMemory[record.first] = std::move(record.second);
    Acknowledge(reply, 0xC3, terminal.ackStatus);
}

// Pages: number, then 256 bytes. A download that carries page 0 starts the memory afresh.
void Pages(Terminal& terminal, const uint8_t* pages, size_t size, Reply& reply) {
    if (size == 0) {
        ++terminal.pageLoads;
        Acknowledge(reply, 0xC6, kPagesComplete);
        return;
    }
    if (size % (2 + kPageSize) != 0) {
        Acknowledge(reply, 0xC6, terminal.rejectStatus);
        return;
    }
    for (size_t pos = 0; pos < size; pos += 2 + kPageSize) {
        int number = static_cast<int>(GetBe16(pages + pos));
        if (number == 0) terminal.pages.clear();
        terminal.pages[number].assign(pages + pos + 2, pages + pos + 2 + kPageSize);
    }
    Acknowledge(reply, 0xC6, terminal.ackStatus);
}

} // namespace

// The test frame counts 0, 1, 2, ...; the downloads put their step code first.
void HandleStepCommand(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                       size_t size, Reply& reply) {
    if (size == 0 || payload[0] == 0x00) {
        Test(terminal, payload, size, reply);
        return;
    }
    const uint8_t* rest = payload + 1;
    size_t restSize = size - 1;
    switch (payload[0]) {
    case 0xC1:
        terminal.programMode = true;
        terminal.programMemory.clear();
        if (terminal.acknowledgeLeadIn) Acknowledge(reply, 0xC1, terminal.ackStatus);
        return;
    case 0xC2:
        terminal.programMode = true;
        if (terminal.acknowledgeLeadIn) Acknowledge(reply, 0xC2, terminal.ackStatus);
        return;
    case 0xC3:
        ProgramRecords(terminal, rest, restSize, reply);
        return;
    case 0xC4: // the closing step expects no reply
        if (terminal.programMode) ++terminal.programLoads;
        terminal.programMode = false;
        return;
    case 0xC6:
        Pages(terminal, rest, restSize, reply);
        return;
    default:
        Acknowledge(reply, kStepCode, terminal.rejectStatus);
    }
}

void HandleResetWhite(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                      Reply& reply) {
    if (!HasLength(terminal, 0x81, size, 1, reply)) return;
    terminal.whiteBlocks.clear();
    Acknowledge(reply, 0x81, terminal.ackStatus);
}

void HandleResetBlack(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                      Reply& reply) {
    if (!HasLength(terminal, 0x82, size, 1, reply)) return;
    terminal.blackBlocks.clear();
    terminal.blackCards.clear();
    Acknowledge(reply, 0x82, terminal.ackStatus);
}

// A frame that carries a region's first block starts that list afresh; the other blocks replace
// blocks of the same number, so a repeated frame stores nothing twice.
void HandleListBlocks(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                      size_t size, Reply& reply) {
    Blocks blocks;
    if (!ReadBlocks(payload, size, blocks)) {
        Acknowledge(reply, 0xA2, terminal.rejectStatus);
        return;
    }
    if (blocks.count(0) != 0) terminal.whiteBlocks.clear();
    if (blocks.count(kBlackBase) != 0) terminal.blackBlocks.clear();
    for (auto& block : blocks) {
        Blocks& region = block.first < kBlackBase ? terminal.whiteBlocks : terminal.blackBlocks;
        region[block.first] = std::move(block.second);
    }
    Acknowledge(reply, 0xA2, terminal.ackStatus);
}

// The card number comes low byte first; a card already on the list is not added again.
void HandleBlackCard(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                     Reply& reply) {
    if (!HasLength(terminal, 0xA3, size, 4, reply)) return;
    uint32_t number = static_cast<uint32_t>(payload[0]) | static_cast<uint32_t>(payload[1]) << 8 |
                      static_cast<uint32_t>(payload[2]) << 16 |
                      static_cast<uint32_t>(payload[3]) << 24;
    std::vector<uint32_t> listed = terminal.BlackList();
    if (std::find(listed.begin(), listed.end(), number) == listed.end())
        terminal.blackCards.push_back(number);
    Acknowledge(reply, 0xA3, terminal.ackStatus);
}

} // namespace dmsim
