// The block downloads: 0xC0 sends a program file in four steps (two lead-in frames, the record
// frames, a closing frame), 0xC5 any file in pages. Both go out as code 0x80 and a sub-code.
#include <cstddef>
#include <cstdint>

#include "device/device.h"
#include "files/down_file.h"
#include "protocol/downlink/builder.h"
#include "protocol/downlink/downloads.h"

namespace qarn {

namespace {

// The frame body as the builder hands it over: destination, source, key, code.
constexpr size_t kKeyAt = 4;
constexpr size_t kKeySize = 8;
constexpr size_t kCodeAt = kKeyAt + kKeySize;
constexpr size_t kBodyBeforePayload = kCodeAt + 1;

constexpr uint8_t kWireCode = 0x80;
constexpr int kLeadInFirst = 0xC1;
constexpr int kLeadInSecond = 0xC2;
constexpr int kProgramData = 0xC3;
constexpr uint8_t kProgramClose = 0xC4;
constexpr uint8_t kPageData = 0xC6;

constexpr int kProgramPause = 200;
constexpr int kLeadInTimeOut = 200;
constexpr int kDataFrameSends = 3;

// Puts 0x80 in place of the command code; false if the body is not the one handed over.
bool UseWireCode(CQARNAction& action) {
    if (action.Frame.size() != kBodyBeforePayload) return false;
    action.Frame[kCodeAt] = kWireCode;
    return true;
}

void RemoveKey(ByteArray& frame) {
    frame.erase(frame.begin() + kKeyAt, frame.begin() + kKeyAt + kKeySize);
}

bool LoadFile(CQARNCommand& device, CQARNAction& action, DownloadKind kind) {
    return device.DownFile && action.Params &&
           device.DownFile->Load(reinterpret_cast<const char*>(action.Params), kind,
                                 action.FileCopy);
}

// The record frames, and the closing frame once the file has no records left.
int BuildProgramData(CQARNCommand& device, CQARNAction& action) {
    ByteArray records;
    action.FilePos = device.DownFile->ReadHexRecords(action.FileCopy, records, action.FilePos);
    if (action.FilePos == 0) {
        action.SubCode = kLeadInFirst;
        return FailBuild(action);
    }
    RemoveKey(action.Frame);
    if (action.FilePos == -1) {
        action.Result = kResultAcknowledged;
        action.ExpectReply = 0;
        action.BlockPending = 0;
        action.Pause = 0;
        action.Frame.push_back(kProgramClose);
        return 1;
    }
    action.SendsLeft = kDataFrameSends;
    action.Frame.push_back(kProgramData);
    action.Frame.insert(action.Frame.end(), records.begin(), records.end());
    return 1;
}

} // namespace

int BuildProgramStep(CQARNCommand& device, CQARNAction& action) {
    if (!UseWireCode(action)) return FailBuild(action);
    action.BlockPending = 1;
    action.Pause = kProgramPause;
    switch (action.SubCode) {
    case kLeadInFirst:
        // The whole file is read and checked before the first frame; the records come from
        // that copy.
        if (!LoadFile(device, action, DownloadKind::kProgram)) return FailBuild(action);
        // No reply comes, so the step counts as acknowledged and the next one follows.
        action.Outcome = kOutcomeSuccess;
        action.ExpectReply = 0;
        action.TimeOut = kLeadInTimeOut;
        action.SubCode = kLeadInSecond;
        action.Frame.push_back(kLeadInFirst);
        return 1;
    case kLeadInSecond:
        RemoveKey(action.Frame);
        action.ExpectReply = 0;
        action.TimeOut = kLeadInTimeOut;
        action.SubCode = kProgramData;
        action.Frame.push_back(kLeadInSecond);
        action.Frame.push_back(0x00);
        return 1;
    case kProgramData:
        return BuildProgramData(device, action);
    default:
        return FailBuild(action);
    }
}

int BuildPageFrame(CQARNCommand& device, CQARNAction& action) {
    if (!UseWireCode(action)) return FailBuild(action);
    action.BlockPending = 1;
    action.Frame.push_back(kPageData);
    if (action.FilePos == 0 && !LoadFile(device, action, DownloadKind::kPages))
        return FailBuild(action);
    ByteArray pages;
    action.FilePos = device.DownFile->ReadPages(action.FileCopy, pages, action.FilePos);
    if (action.FilePos == 0) return FailBuild(action);
    if (action.FilePos == -1) {
        // The body without pages is the closing frame; the engine sends it once.
        action.State = DONE;
        action.Result = kResultAcknowledged;
        action.BlockPending = 0;
        return 1;
    }
    action.SendsLeft = kDataFrameSends;
    action.Frame.insert(action.Frame.end(), pages.begin(), pages.end());
    return 1;
}

} // namespace qarn
