// Transaction records, their indexes and the list counters.
#include "dmsim/checks.h"
#include "dmsim/encoding.h"

#include <algorithm>

namespace dmsim {

namespace {

constexpr size_t kMaxRecordsPerReply = 255;

void AppendRecords(Reply& reply, uint8_t code, const Terminal& terminal,
                   const std::vector<Record>& records, size_t first, size_t count) {
    reply = {code};
    size_t end = first + std::min(count, kMaxRecordsPerReply);
    for (size_t i = first; i < end && i < records.size(); ++i)
        AppendRecord(reply, records[i], terminal.longRecords);
}

void AnswerRange(uint8_t code, const Terminal& terminal, const std::vector<Record>& records,
                 const uint8_t* payload, size_t size, Reply& reply) {
    if (HasLength(terminal, code, size, 3, reply))
        AppendRecords(reply, code, terminal, records, GetBe16(payload), payload[2]);
}

int DateKey(int year, int month, int day) {
    return (year * 100 + month) * 100 + day;
}

} // namespace

// The payload byte limits the records sent; 0 sends them all.
void HandleRealtime(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                    Reply& reply) {
    if (!HasLength(terminal, 0x06, size, 1, reply)) return;
    size_t count = payload[0] != 0 ? payload[0] : terminal.realtimeRecords.size();
    AppendRecords(reply, 0x07, terminal, terminal.realtimeRecords, 0, count);
}

// Record numbers count from 0; a range beyond the stored records gives a reply without records.
void HandleRecords(const CommandContext&, Terminal& terminal, const uint8_t* payload, size_t size,
                   Reply& reply) {
    AnswerRange(0x10, terminal, terminal.records, payload, size, reply);
}

void HandleBackupRecords(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                         size_t size, Reply& reply) {
    AnswerRange(0x36, terminal, terminal.backupRecords, payload, size, reply);
}

// Answers the number of the first record in the date range and the count of records in it;
// flag 0xFF asks for all records, and a range without records gives the record total and 0.
void HandleRecordIndex(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                       size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x11, size, 7, reply)) return;
    bool all = payload[0] == 0xFF;
    int from = DateKey(2000 + payload[1], payload[2], payload[3]);
    int to = DateKey(2000 + payload[4], payload[5], payload[6]);
    size_t first = terminal.records.size();
    uint32_t count = 0;
    for (size_t i = 0; i < terminal.records.size(); ++i) {
        const Record& record = terminal.records[i];
        int key = DateKey(record.year, record.month, record.day);
        if (!all && (key < from || key > to)) continue;
        first = std::min(first, i);
        ++count;
    }
    reply = {0x11};
    AppendBe32(reply, static_cast<uint32_t>(first));
    AppendBe32(reply, count);
}

void HandleListCounts(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                      Reply& reply) {
    if (!HasLength(terminal, 0x17, size, 0, reply)) return;
    reply = {0x17};
    AppendBe32(reply, static_cast<uint32_t>(terminal.WhiteList().size()));
    AppendBe32(reply, static_cast<uint32_t>(terminal.BlackList().size()));
}

void HandleSetWritePointer(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                           size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x1A, size, 1, reply)) return;
    terminal.recordIndex = payload[0];
    Acknowledge(reply, 0x1A, terminal.ackStatus);
}

// The oldest records, as many as the payload byte says, wait for the host's confirmation
// before they are erased, so a lost exchange loses no record.
void HandleTakeRecords(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                       size_t size, Reply& reply) {
    if (!HasLength(terminal, 0x1C, size, 1, reply)) return;
    terminal.pendingDelete = std::min<size_t>(payload[0], terminal.records.size());
    Acknowledge(reply, 0x1C, terminal.ackStatus);
}

// No reply. Only the confirmation byte 0x08 erases the records taken; anything else keeps them.
void HandleConfirmTaken(const CommandContext&, Terminal& terminal, const uint8_t* payload,
                        size_t size, Reply&) {
    if (size == 1 && payload[0] == 0x08) {
        size_t count = std::min(terminal.pendingDelete, terminal.records.size());
        terminal.records.erase(terminal.records.begin(), terminal.records.begin() + count);
    }
    terminal.pendingDelete = 0;
}

void HandleCurrentIndex(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                        Reply& reply) {
    if (!HasLength(terminal, 0x1E, size, 0, reply)) return;
    reply = {0x1E};
    AppendBe32(reply, terminal.recordIndex);
}

void HandleInitPointer(const CommandContext&, Terminal& terminal, const uint8_t*, size_t size,
                       Reply& reply) {
    if (!HasLength(terminal, 0x84, size, 0, reply)) return;
    terminal.recordIndex = 0;
    terminal.pendingDelete = 0;
    Acknowledge(reply, 0x84, terminal.ackStatus);
}

} // namespace dmsim
