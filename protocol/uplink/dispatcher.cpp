#include "protocol/uplink/dispatcher.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "codec/bytes.h"
#include "device/action.h"
#include "device/device.h"
#include "device/key_table.h"
#include "protocol/downlink/builder.h"
#include "protocol/uplink/card_decoders.h"
#include "protocol/uplink/property_decoders.h"
#include "protocol/uplink/record_decoders.h"
#include "protocol/uplink/record_forms.h"

namespace qarn {

namespace {

constexpr int kAnyLength = -1;
constexpr int kNoSubCode = -1;
constexpr int kStatusAcknowledged = 8;
constexpr int kStatusFileComplete = 0x80;
constexpr int kProgramDownloadCode = 0xC0;
constexpr int kFileDownloadCode = 0xC5;
constexpr size_t kSearchListCapacity = 256;
constexpr size_t kSearchListHeader = 4;

// What the rows see of one reply.
struct Reply {
    CQARNCommand& device;
    CQARNAction& action;
    const uint8_t* payload; // reply byte 1 onward
    size_t size;            // payload length
    int terminal;           // the replying terminal's address
    CardContext card;
};

// Fills the row's freshly allocated data buffer; false when the payload is rejected.
using ReplyDecoder = bool (*)(const Reply& reply, uint8_t* data);
// Result, outcome, state and flags of rows whose effects go beyond "decoded or rejected".
using ReplyEffect = void (*)(Reply& reply);

struct ReplyRow {
    int code;
    int answers;         // the command (as the application gives it) that gets this reply
    int lengths[2];      // accepted payload lengths (the same twice for one); kAnyLength: unchecked
    int subCode;         // sub-code the parameter block must start with; kNoSubCode: unchecked
    size_t dataSize;     // bytes of the data buffer the decoder fills
    ReplyDecoder decode; // result 13 when it accepts the payload, 12 when not
    ReplyEffect apply;   // runs after the decoder, or alone for rows without one
};

bool HasSubCode(const CQARNAction& action, int subCode) {
    // A missing parameter block holds no sub-code at all.
    return action.Params != nullptr && GetHostInt32(action.Params, 0) == subCode;
}

// Gives the record a new, zeroed data buffer, releasing the one of an earlier reply. The search
// record's data is the search list that 0x05 replies write into, so while its search runs no
// other reply may replace it: such a reply is a wrong reply.
bool TakeDataBuffer(Reply& reply, size_t size) {
    if (reply.device.SearchList == &reply.action) {
        reply.action.Result = kResultWrongReply;
        return false;
    }
    reply.action.Data.assign(size, 0);
    reply.action.DataForm = kNoRecordForm;
    return true;
}

// A reply of the reply code alone has no status byte: it counts as a wrong reply and a failure.
bool ReadStatus(Reply& reply, int& status) {
    if (reply.size == 0) {
        reply.action.Result = kResultWrongReply;
        reply.action.Outcome = kOutcomeFailure;
        return false;
    }
    status = reply.payload[0];
    return true;
}

int OutcomeOf(int status) {
    return status == kStatusAcknowledged ? kOutcomeSuccess : kOutcomeFailure;
}

// Decoders of the rows.

bool StoreNumber16(const Reply& reply, uint8_t* data) {
    PutHostInt32(data, 0, static_cast<int32_t>(GetBigEndian16(reply.payload)));
    return true;
}

bool StoreNumber32(const Reply& reply, uint8_t* data) {
    PutHostInt32(data, 0, static_cast<int32_t>(GetBigEndian32(reply.payload)));
    return true;
}

bool StoreCounterPair(const Reply& reply, uint8_t* data) {
    DecodeCounterPair(reply.payload, data);
    return true;
}

bool StoreProperty(const Reply& reply, uint8_t* data) {
    DecodeProperty(reply.payload, data);
    return true;
}

bool StoreSystemProperty(const Reply& reply, uint8_t* data) {
    DecodeSystemProperty(reply.payload, reply.size, data);
    return true;
}

bool StoreStatus(const Reply& reply, uint8_t* data) {
    DecodeStatus(reply.payload, data);
    return true;
}

bool StoreMoney(const Reply& reply, uint8_t* data) {
    return DecodeMoney(reply.payload, data);
}

bool StoreCardId(const Reply& reply, uint8_t* data) {
    DecodeCardId(reply.payload, data);
    return true;
}

// Effects of the rows.

void ApplySearchResult(Reply& reply) {
    CQARNAction& action = reply.action;
    // Only the record whose data is the search list collects addresses; a 0x05 reply reaching
    // any other record, or a record without a list, is ignored.
    if (reply.device.SearchList != &action || action.Data.size() < kSearchListHeader) return;
    uint8_t* list = action.Data.data();
    size_t capacity =
        std::min(kSearchListCapacity, (action.Data.size() - kSearchListHeader) / sizeof(int32_t));
    int32_t count = GetHostInt32(list, 0);
    // A full list drops further addresses; the search still runs to its time-out.
    if (count >= 0 && static_cast<size_t>(count) < capacity) {
        PutHostInt32(list, kSearchListHeader + sizeof(int32_t) * count,
                     static_cast<int32_t>(GetBigEndian16(reply.payload)));
        PutHostInt32(list, 0, count + 1);
    }
    action.Result = kResultDataReady;
    action.Outcome = kOutcomeSuccess;
    action.State = WAIT_REPLY;
}

struct RecordLayout {
    size_t recordSize;
    size_t entrySize;
    void (*decode)(const uint8_t* record, uint8_t* entry, int terminal);
};

const RecordLayout& LayoutOf(RecordForm form) {
    static const RecordLayout kShort = {kShortRecordSize, kShortEntrySize, DecodeShortRecord};
    static const RecordLayout kLong = {kLongRecordSize, kLongEntrySize, DecodeLongRecord};
    return form == kLongRecordForm ? kLong : kShort;
}

// The records a "Recv Record" or "Recv BackupRecord" request asked for: the last byte of its
// payload, after the key and the command code. The realtime query asks for no number.
constexpr size_t kRecordCountInFrame = 15;

int RecordsAsked(const CQARNAction& action, int replyCode) {
    bool ranged = replyCode == 0x10 || replyCode == 0x36;
    if (!ranged || action.CommandCode != replyCode || action.Frame.size() <= kRecordCountInFrame)
        return kCountNotAsked;
    return action.Frame[kRecordCountInFrame];
}

void ApplyRecordRule(Reply& reply) {
    CQARNAction& action = reply.action;
    if (reply.size == 0) {
        action.Outcome = kOutcomeFailure;
        action.Result = kResultNoRecords;
        return;
    }
    RecordForm form =
        ChooseRecordForm(reply.payload, reply.size, RecordsAsked(action, action.Code));
    if (form == kNoRecordForm) {
        action.Outcome = kOutcomeFailure;
        action.Result = kResultWrongReply;
        return;
    }
    const RecordLayout& layout = LayoutOf(form);
    size_t count = reply.size / layout.recordSize;
    if (!TakeDataBuffer(reply, count * layout.entrySize)) return;
    for (size_t i = 0; i < count; ++i)
        layout.decode(reply.payload + i * layout.recordSize,
                      action.Data.data() + i * layout.entrySize, reply.terminal);
    action.DataForm = form;
    action.Outcome = kOutcomeSuccess;
    action.Result = kResultDataReady;
}

struct CardLayout {
    int subCode;
    size_t size;
    size_t entrySize;
    bool (*decode)(const CardContext& context, const uint8_t* payload, uint8_t* entry);
};

const CardLayout kCardLayouts[] = {
    {1, kCardLayout1Size, kCardLayout1EntrySize, DecodeCardLayout1},
    {2, kCardLayout2Size, kCardLayout2EntrySize, DecodeCardLayout2},
    {3, kCardLayout3Size, kCardLayout3EntrySize, DecodeCardLayout3},
    {254, kCardLayout254Size, kCardLayout254EntrySize, DecodeCardLayout254},
};

void ApplyCardRule(Reply& reply) {
    CQARNAction& action = reply.action;
    const CardLayout* layout = std::find_if(
        std::begin(kCardLayouts), std::end(kCardLayouts),
        [&](const CardLayout& candidate) { return HasSubCode(action, candidate.subCode); });
    // No layout (unknown sub-code, or no parameter block): the record stays as it is.
    if (layout == std::end(kCardLayouts)) return;
    if (reply.size != layout->size) {
        action.Result = kResultWrongReply;
        return;
    }
    if (!TakeDataBuffer(reply, layout->entrySize)) return;
    // A rejected payload leaves the buffer allocated, at the layout's size, with no content.
    bool accepted = layout->decode(reply.card, reply.payload, action.Data.data());
    action.Result = accepted ? kResultDataReady : kResultWrongReply;
}

// Reads the status byte into the result and the outcome; false when there is none.
bool TakeStatus(Reply& reply, int& status) {
    if (!ReadStatus(reply, status)) return false;
    reply.action.Result = status;
    reply.action.Outcome = OutcomeOf(status);
    return true;
}

void ApplyListAcknowledgement(Reply& reply) {
    CQARNAction& action = reply.action;
    int status;
    if (!TakeStatus(reply, status)) return;
    if (status == kStatusAcknowledged && reply.device.ListFlag) {
        action.Result = kResultAcknowledged;
        action.ListPending = 0;
        action.State = DONE;
    }
}

void ApplyProgramFirstStep(Reply& reply) {
    reply.action.Code = kProgramDownloadCode;
    reply.action.Result = kResultAcknowledged;
    reply.action.Outcome = kOutcomeSuccess;
}

void ApplyProgramStep(Reply& reply) {
    reply.action.Code = kProgramDownloadCode;
    int status;
    TakeStatus(reply, status);
}

void ApplyFilePiece(Reply& reply) {
    CQARNAction& action = reply.action;
    action.Code = kFileDownloadCode;
    int status;
    if (!TakeStatus(reply, status)) return;
    if (status == kStatusFileComplete) {
        action.Outcome = kOutcomeSuccess;
        action.Result = kResultAcknowledged;
        action.BlockPending = 0;
        action.State = DONE;
    }
}

void ApplyStatus(Reply& reply) {
    int status;
    if (ReadStatus(reply, status)) reply.action.Result = status;
}

const ReplyRow kReplyRows[] = {
    {0x03, 0x03, {2, 2}, kNoSubCode, 4, StoreNumber16, nullptr},
    {0x05, 0x04, {2, 2}, kNoSubCode, 0, nullptr, ApplySearchResult},
    {0x07, 0x06, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyRecordRule},
    {0x10, 0x10, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyRecordRule},
    {0x36, 0x36, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyRecordRule},
    {0x11, 0x11, {8, 8}, kNoSubCode, kCounterPairSize, StoreCounterPair, nullptr},
    {0x17, 0x17, {8, 8}, kNoSubCode, kCounterPairSize, StoreCounterPair, nullptr},
    {0x1E, 0x1E, {4, 4}, kNoSubCode, 4, StoreNumber32, nullptr},
    {0x13, 0x13, {20, 20}, kNoSubCode, kPropertyEntrySize, StoreProperty, nullptr},
    {0x15, 0x15, {37, 32}, kNoSubCode, kSystemPropertyEntrySize, StoreSystemProperty, nullptr},
    {0x16, 0x16, {12, 12}, kNoSubCode, kStatusEntrySize, StoreStatus, nullptr},
    {0x60, 0x60, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyCardRule},
    {0x62, 0x62, {11, 11}, kMoneySubCode, kMoneyEntrySize, StoreMoney, nullptr},
    {0x63, 0x63, {11, 11}, kMoneySubCode, kMoneyEntrySize, StoreMoney, nullptr},
    {0x67, 0x67, {11, 11}, kMoneySubCode, kMoneyEntrySize, StoreMoney, nullptr},
    {0x64, 0x64, {5, 5}, kNoSubCode, kCardIdEntrySize, StoreCardId, nullptr},
    {0xA2, 0xA2, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyListAcknowledgement},
    {0xC1, 0xC0, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyProgramFirstStep},
    {0xC2, 0xC0, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyProgramStep},
    {0xC3, 0xC0, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyProgramStep},
    {0xC6, 0xC5, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyFilePiece},
};

// Every code without a row of its own: the status byte is the result.
const ReplyRow kStatusRow = {-1, -1, {kAnyLength}, kNoSubCode, 0, nullptr, ApplyStatus};

const ReplyRow& FindReplyRow(int code) {
    for (const ReplyRow& row : kReplyRows)
        if (row.code == code) return row;
    return kStatusRow;
}

bool Fits(const ReplyRow& row, const Reply& reply) {
    if (row.lengths[0] != kAnyLength && static_cast<int>(reply.size) != row.lengths[0] &&
        static_cast<int>(reply.size) != row.lengths[1])
        return false;
    return row.subCode == kNoSubCode || HasSubCode(reply.action, row.subCode);
}

void ApplyRow(const ReplyRow& row, Reply& reply) {
    if (!Fits(row, reply)) {
        reply.action.Result = kResultWrongReply;
        return;
    }
    if (row.decode != nullptr) {
        if (!TakeDataBuffer(reply, row.dataSize)) return;
        bool accepted = row.decode(reply, reply.action.Data.data());
        reply.action.Result = accepted ? kResultDataReady : kResultWrongReply;
    }
    if (row.apply != nullptr) row.apply(reply);
}

// A reply normally carries the code of the command it answers; the searches, the realtime query
// and the download steps answer with codes of their own, given by their rows.
bool AnswersCommand(int replyCode, int command) {
    const ReplyRow& row = FindReplyRow(replyCode);
    return &row == &kStatusRow ? replyCode == command : row.answers == command;
}

// Broadcasts (the searches among them) take every terminal's answer.
bool FromAddressedTerminal(const CQARNAction& action, int terminal) {
    if (action.Frame.size() < 2) return true;
    int destination = GetBigEndian16(action.Frame.data());
    return destination == kBroadcastAddress || destination == terminal;
}

} // namespace

void OfferReply(CQARNCommand& device, CQARNAction& action, const ByteArray& reply, int terminal) {
    if (!FromAddressedTerminal(action, terminal)) return;
    if (!reply.empty() && !AnswersCommand(reply[0], action.CommandCode)) {
        action.State = PAUSE;
        action.Result = kResultWrongReply;
        action.Outcome = kOutcomeFailure;
        action.ResultFromReply = 1;
        return;
    }
    action.SetReply(reply);
    DecodeReply(device, action, terminal);
    action.ResultFromReply = 1;
}

void DecodeReply(CQARNCommand& device, CQARNAction& action, int terminal) {
    action.State = PAUSE;
    // An empty reply has no code to judge it by: a wrong reply, with nothing decoded or logged.
    if (action.Reply.empty()) {
        action.Result = kResultWrongReply;
        action.Outcome = kOutcomeFailure;
        return;
    }
    int code = action.Reply[0];
    action.Code = code;
    if (device.AddLog) device.Log(code, kLogDecodeUpFrame, terminal);
    Reply reply{device,
                action,
                action.Reply.data() + 1,
                action.Reply.size() - 1,
                terminal,
                {device.InnerCode, kBuiltInKeyTable}};
    ApplyRow(FindReplyRow(code), reply);
}

} // namespace qarn
