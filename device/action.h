// The command record: one command between StartQARNCommand and EndQARNCommand.
#pragma once

#include <cstdint>

#include "codec/bytes.h"

namespace qarn {

class CQARNCommand;
class CHDLC;

// Engine states, shared by the engine, the builder and the decoders.
enum CommandState : int {
    DONE = 0,
    RELEASE = 1,
    SEND = 2,
    WAIT_SENT = 3,
    WAIT_REPLY = 4,
    PAUSE = 5,
    RECOVER = 6,
};

enum ResultCode : int {
    kResultSent = 0,
    kResultUnexpectedReply = 2,
    kResultTimeOut = 5,
    kResultAcknowledged = 8,
    kResultNotBuilt = 9,
    kResultPending = 10,
    kResultWrongReply = 12,
    kResultDataReady = 13,
    kResultNoRecords = 14,
};

enum Outcome : int { kOutcomeSuccess = 8, kOutcomeFailure = 9 };

class CQARNAction {
  public:
    int ListKind = 2;
    int ListPending = 0;
    CQARNCommand* Device = nullptr;
    CHDLC* Link = nullptr;
    int Done = 0;
    int EndRequested = 0;
    int State = RELEASE;
    int ExpectReply = 1;
    int BlockPending = 0;
    int Code = 0;        // the code of the last decoded reply once one came
    int CommandCode = 0; // the code the application gave
    int Result = kResultPending;
    int ResultFromReply = 0; // Result was set by a reply, not by the engine's waits
    int Outcome = kOutcomeFailure;
    int Address = 0;
    int SendsLeft = 1;
    int SubCode = 0xC1;
    int Pause = 50;
    int TimeOut = 500;
    int FilePos = 0;
    ByteArray FileCopy; // a download's file, read whole when the command started
    ByteArray Data;     // decoded data (or the search list); its size is the data size
    int DataForm = 0;   // the record form of Data when it holds records (RecordForm), else 0
    const uint8_t* Params = nullptr;
    int UserValue = 0;
    ByteArray Frame;
    ByteArray Reply;
    uint64_t StartTick = 0;     // when the current wait began, on MonotonicMicroseconds
    uint32_t CommandHandle = 0; // the handle the application holds

    void SetReply(const ByteArray& reply) { Reply = reply; }
    int DataSize() const { return static_cast<int>(Data.size()); }
    // Copies the data when size matches it exactly; 1 copied, 0 mismatch.
    int GetData(void* buffer, int size) const;
    // The result code combined with the link status.
    int GetResult() const;
};

} // namespace qarn
