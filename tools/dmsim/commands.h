// How one terminal answers one command: the handlers by command code, as the wire carries it.
#pragma once

#include "dmsim/terminal.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace dmsim {

struct CommandContext {
    uint8_t code = 0;                  // the command code as received
    const uint8_t* keyTable = nullptr; // 24 bytes: 0-7 key mask, 0-1 password mask, 8-15 DES key
    std::function<bool(uint16_t)> addressInUse;
};

// The data field of the reply (reply code, then payload); empty for no reply.
using Reply = Bytes;

using Handler = void (*)(const CommandContext& context, Terminal& terminal, const uint8_t* payload,
                         size_t size, Reply& reply);

struct CommandRow {
    uint8_t code;
    Handler handle;
};

const CommandRow* FindCommand(uint8_t code);

// Splits a downlink data field into command code and payload. The program download's later
// steps carry no communication key; they are recognised by their 0x80 step code.
bool SplitCommand(const Terminal& terminal, const Bytes& data, uint8_t& code, size_t& payloadAt);

inline void Acknowledge(Reply& reply, uint8_t code, int status) {
    reply = {code, static_cast<uint8_t>(status)};
}

// Families of handlers, one file each.
void HandleAdjustTime(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSetAddress(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSearch(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSearchOnline(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSetProperty(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleGetProperty(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSetSystemProperty(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleGetSystemProperty(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleGetStatus(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleTimeSlots(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleCardTimes(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleBeep(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleOpenLock(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleInitProperty(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleInitTerminal(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleLcdTitle(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleGrades(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSerialNumber(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleInnerSetting(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);

void HandleRealtime(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleRecords(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleBackupRecords(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleRecordIndex(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleListCounts(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSetWritePointer(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleTakeRecords(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleConfirmTaken(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleCurrentIndex(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleInitPointer(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);

void HandleReadCard(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleWriteCard(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleUpdateCard(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleAddMoney(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleDecMoney(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleReadMoney(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleReadCardId(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);

void HandleCardKeys(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleFourKeys(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleUserKeys(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleSystemCard(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleLoadSystemKey(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleInitKeys(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);

void HandleStepCommand(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleResetWhite(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleResetBlack(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleListBlocks(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);
void HandleBlackCard(const CommandContext&, Terminal&, const uint8_t*, size_t, Reply&);

} // namespace dmsim
