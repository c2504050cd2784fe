// Clock, address, search, properties, status and the terminal's other settings.
#include "dmsim/checks.h"
#include "dmsim/encoding.h"
#include "dmsim/frame.h"

namespace dmsim {

namespace {

// Where "Set DM_Property" and "Set DM_SysProp" put each item in the blocks that the property
// replies carry: the item numbers follow the order of the fields in those replies.
struct ItemRow {
    int item;
    size_t offset;
    size_t width;
};

const ItemRow kPropertyItems[] = {
    {0, 0, 2},   {1, 2, 2},   {2, 4, 2},   {3, 6, 1},   {4, 7, 1},   {5, 8, 1},
    {6, 9, 1},   {7, 10, 1},  {8, 11, 1},  {9, 12, 1},  {10, 13, 1}, {11, 14, 1},
    {12, 15, 1}, {13, 16, 1}, {14, 17, 1}, {15, 18, 1}, {16, 19, 1},
};

const ItemRow kSystemItems[] = {
    {0, 0, 4}, {1, 4, 4}, {2, 8, 1}, {3, 9, 1}, {4, 10, 1}, {5, 11, 1},
};

template <size_t N>
bool SetItem(const ItemRow (&rows)[N], const uint8_t* payload, uint8_t* block, size_t size) {
    for (const ItemRow& row : rows) {
        if (row.item != payload[0] || row.offset + row.width > size) continue;
        uint32_t value = GetBe32(payload + 1);
        for (size_t i = 0; i < row.width; ++i)
            block[row.offset + i] = static_cast<uint8_t>(value >> (8 * (row.width - 1 - i)));
        return true;
    }
    return false;
}

void AppendAddress(Reply& reply, uint8_t code, uint16_t address) {
    reply = {code};
    AppendBe16(reply, address);
}

} // namespace

// No reply: the clock command is a broadcast.
void HandleAdjustTime(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                      size_t size, Reply&) {
    if (size == 8) terminal.clock = ReadClock(payload);
}

// Only the terminal whose identity the frame names takes the new address, and answers from it.
void HandleSetAddress(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                      size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x02, size, 6, reply)) return;
    if (GetBe32(payload) != terminal.serialNumber) return;
    auto address = static_cast<uint16_t>(GetBe16(payload + 4));
    if (address != terminal.address &&
        (address == kBroadcastAddress || context.addressInUse(address))) {
        Acknowledge(reply, 0x02, terminal.rejectStatus);
        return;
    }
    terminal.address = address;
    Acknowledge(reply, 0x02, terminal.ackStatus);
}

void HandleSearch(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                  Reply& reply) {
    if (HasLength(terminal, 0x03, size, 0, reply)) AppendAddress(reply, 0x03, terminal.address);
}

void HandleSearchOnline(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                        Reply& reply) {
    if (HasLength(terminal, 0x04, size, 0, reply)) AppendAddress(reply, 0x05, terminal.address);
}

void HandleSetProperty(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                       size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x12, size, 5, reply)) return;
    bool known =
        SetItem(kPropertyItems, payload, terminal.property.data(), terminal.property.size());
    Acknowledge(reply, 0x12, known ? terminal.ackStatus : terminal.rejectStatus);
}

void HandleGetProperty(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                       Reply& reply) {
    if (!HasLength(terminal, 0x13, size, 0, reply)) return;
    reply = {0x13};
    reply.insert(reply.end(), terminal.property.begin(), terminal.property.end());
}

void HandleSetSystemProperty(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                             size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x14, size, 5, reply)) return;
    bool known = SetItem(kSystemItems, payload, terminal.systemProperty.data(),
                         terminal.systemProperty.size());
    Acknowledge(reply, 0x14, known ? terminal.ackStatus : terminal.rejectStatus);
}

void HandleGetSystemProperty(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                             Reply& reply) {
    if (!HasLength(terminal, 0x15, size, 0, reply)) return;
    reply = {0x15};
    reply.insert(reply.end(), terminal.systemProperty.begin(), terminal.systemProperty.end());
}

void HandleGetStatus(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                     Reply& reply) {
    if (!HasLength(terminal, 0x16, size, 0, reply)) return;
    reply = {0x16};
    AppendClock(reply, terminal.clock);
    AppendBe32(reply, terminal.statusValue);
}

void HandleTimeSlots(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                     Reply& reply) {
    if (!HasLength(terminal, 0x18, size, 3 * terminal.timeSlots.size(), reply)) return;
    for (TimeSlot& slot : terminal.timeSlots) {
        slot.minuteOfDay = static_cast<int>(GetBe16(payload));
        slot.value = payload[2];
        payload += 3;
    }
    Acknowledge(reply, 0x18, terminal.ackStatus);
}

void HandleCardTimes(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                     Reply& reply) {
    if (!HasLength(terminal, 0x19, size, 1 + 4 * terminal.cardTimes.size(), reply)) return;
    terminal.cardTimeLead = payload[0];
    for (size_t k = 0; k < terminal.cardTimes.size(); ++k) {
        terminal.cardTimes[k].start = static_cast<int>(GetBe16(payload + 1 + 4 * k));
        terminal.cardTimes[k].end = static_cast<int>(GetBe16(payload + 3 + 4 * k));
    }
    Acknowledge(reply, 0x19, terminal.ackStatus);
}

void HandleBeep(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                Reply& reply) {
    if (!HasLength(terminal, 0x1B, size, 1, reply)) return;
    terminal.lastBeep = payload[0];
    ++terminal.beeps;
    Acknowledge(reply, 0x1B, terminal.ackStatus);
}

void HandleOpenLock(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                    Reply& reply) {
    if (!HasLength(terminal, 0xA4, size, 1, reply)) return;
    terminal.lastLock = payload[0];
    ++terminal.lockOpenings;
    Acknowledge(reply, 0xA4, terminal.ackStatus);
}

void HandleInitProperty(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                        Reply& reply) {
    if (!HasLength(terminal, 0x83, size, 0, reply)) return;
    terminal.property = DefaultProperty();
    Acknowledge(reply, 0x83, terminal.ackStatus);
}

// Clears the terminal's data memory. Its identity and line settings, its clock, its firmware
// (system property, program and pages) and the card in its reader stay.
void HandleInitTerminal(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                        Reply& reply) {
    if (!HasLength(terminal, 0x85, size, 0, reply)) return;
    Terminal fresh(terminal.address);
    fresh.serialNumber = terminal.serialNumber;
    fresh.online = terminal.online;
    fresh.ackStatus = terminal.ackStatus;
    fresh.rejectStatus = terminal.rejectStatus;
    fresh.clock = terminal.clock;
    fresh.systemProperty = terminal.systemProperty;
    fresh.statusValue = terminal.statusValue;
    fresh.longRecords = terminal.longRecords;
    fresh.card = terminal.card;
    fresh.programMemory = terminal.programMemory;
    fresh.programLoads = terminal.programLoads;
    fresh.pages = terminal.pages;
    fresh.pageLoads = terminal.pageLoads;
    terminal = fresh;
    Acknowledge(reply, 0x85, terminal.ackStatus);
}

void HandleLcdTitle(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                    Reply& reply) {
    if (!HasLength(terminal, 0x86, size, 48, reply)) return;
    terminal.lcdTitle.assign(payload, payload + size);
    Acknowledge(reply, 0x86, terminal.ackStatus);
}

void HandleGrades(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                  Reply& reply) {
    size_t count = size >= 3 ? GetBe16(payload + 1) : 0;
    if (!HasLength(terminal, 0xA5, size, 3 + count, reply)) return;
    terminal.gradeFlag = payload[0] != 0;
    terminal.grades.assign(payload + 3, payload + size);
    Acknowledge(reply, 0xA5, terminal.ackStatus);
}

void HandleSerialNumber(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                        size_t size, Reply& reply) {
    if (!HasLength(terminal, 0xC7, size, 5, reply)) return;
    terminal.serialNumber = GetBe32(payload + 1);
    Acknowledge(reply, 0xC7, terminal.ackStatus);
}

void HandleInnerSetting(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                        size_t size, Reply& reply) {
    if (!HasLength(terminal, 0xCD, size, 11, reply)) return;
    terminal.innerSetting.assign(payload, payload + size);
    Acknowledge(reply, 0xCD, terminal.ackStatus);
}

} // namespace dmsim
