#include "dmsim/commands.h"

namespace dmsim {

namespace {

// Codes as they arrive on the wire: "Set Time_Hand(B)" comes as 0x01 and the block downloads as
// 0x80 with a step code, so neither 0x0A, 0xC0 nor 0xC5 has a row. Codes without a row are
// not answered.
const CommandRow kCommands[] = {
    {0x01, HandleAdjustTime},
    {0x02, HandleSetAddress},
    {0x03, HandleSearch},
    {0x04, HandleSearchOnline},
    {0x06, HandleRealtime},
    {0x10, HandleRecords},
    {0x11, HandleRecordIndex},
    {0x12, HandleSetProperty},
    {0x13, HandleGetProperty},
    {0x14, HandleSetSystemProperty},
    {0x15, HandleGetSystemProperty},
    {0x16, HandleGetStatus},
    {0x17, HandleListCounts},
    {0x18, HandleTimeSlots},
    {0x19, HandleCardTimes},
    {0x1A, HandleSetWritePointer},
    {0x1B, HandleBeep},
    {0x1C, HandleTakeRecords},
    {0x1D, HandleConfirmTaken},
    {0x1E, HandleCurrentIndex},
    {0x36, HandleBackupRecords},
    {0x60, HandleReadCard},
    {0x61, HandleWriteCard},
    {0x62, HandleAddMoney},
    {0x63, HandleDecMoney},
    {0x64, HandleReadCardId},
    {0x65, HandleCardKeys},
    {0x66, HandleUpdateCard},
    {0x67, HandleReadMoney},
    {0x68, HandleFourKeys},
    {0x80, HandleStepCommand},
    {0x81, HandleResetWhite},
    {0x82, HandleResetBlack},
    {0x83, HandleInitProperty},
    {0x84, HandleInitPointer},
    {0x85, HandleInitTerminal},
    {0x86, HandleLcdTitle},
    {0xA0, HandleFourKeys},
    {0xA1, HandleUserKeys},
    {0xA2, HandleListBlocks},
    {0xA3, HandleBlackCard},
    {0xA4, HandleOpenLock},
    {0xA5, HandleGrades},
    {0xC7, HandleSerialNumber},
    {0xC8, HandleSystemCard},
    {0xC9, HandleLoadSystemKey},
    {0xCA, HandleInitKeys},
    {0xCD, HandleInnerSetting},
};

constexpr size_t kKeySize = 8;
constexpr uint8_t kStepCode = 0x80;

bool IsKeylessStep(uint8_t step) {
    return step == 0xC2 || step == 0xC3 || step == 0xC4;
}

} // namespace

const CommandRow* FindCommand(uint8_t code) {
    for (const CommandRow& row : kCommands)
        if (row.code == code) return &row;
    return nullptr;
}

bool SplitCommand(const Terminal& terminal, const Bytes& data, uint8_t& code, size_t& payloadAt) {
    // The bare second step (80 C2 00) is too short to hold a key, so it is told apart even when
    // the first step went unseen; the later key-less steps only follow it.
    bool bareSecondStep = data.size() == 3 && data[0] == kStepCode && data[1] == 0xC2;
    if (data.size() >= 2 && data[0] == kStepCode && IsKeylessStep(data[1]) &&
        (terminal.programMode || bareSecondStep)) {
        code = kStepCode;
        payloadAt = 1;
        return true;
    }
    if (data.size() < kKeySize + 1) return false;
    code = data[kKeySize];
    payloadAt = kKeySize + 1;
    return true;
}

} // namespace dmsim
