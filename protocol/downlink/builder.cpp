#include "protocol/downlink/builder.h"

#include "device/action.h"
#include "device/device.h"
#include "device/key_table.h"
#include "platform/clock.h"
#include "protocol/downlink/downloads.h"
#include "protocol/downlink/payloads.h"

namespace qarn {

namespace {

constexpr int kSearchListSize = 4 + 256 * 4;

enum class Special { None, SearchList, ListDownload, ProgramDownload, PageDownload };

// What a code's frame does beyond the common steps; codes without a row go to the terminal,
// expect a reply and pause 50 ms.
struct BuildRow {
    int code;
    bool broadcast;
    int wireCode; // -1: the code as given
    bool expectReply;
    int pause;
    Special special;
};

const BuildRow kBuildRows[] = {
    {0x01, true, -1, false, 50, Special::None},
    {0x02, true, -1, true, 50, Special::None},
    {0x03, true, -1, true, 50, Special::None},
    {0x04, true, -1, true, 50, Special::SearchList},
    {0x0A, true, 0x01, false, 50, Special::None},
    {0x1D, false, -1, false, 0, Special::None},
    {0xA2, false, -1, true, 50, Special::ListDownload},
    {0xC0, false, -1, true, 50, Special::ProgramDownload},
    {0xC5, false, -1, true, 50, Special::PageDownload},
};

const BuildRow kTerminalRow = {0, false, -1, true, 50, Special::None};

const BuildRow& FindBuildRow(int code) {
    for (const BuildRow& row : kBuildRows)
        if (row.code == code) return row;
    return kTerminalRow;
}

} // namespace

void AppendFrameHead(const CQARNCommand& device, int destination, int code, ByteArray& frame) {
    AppendBigEndian16(frame, destination);
    AppendBigEndian16(frame, device.MyAddress);
    frame.insert(frame.end(), device.CommKey.begin(), device.CommKey.end());
    frame.push_back(static_cast<uint8_t>(code));
}

int FailBuild(CQARNAction& action) {
    action.State = DONE;
    action.Result = kResultNotBuilt;
    action.SendsLeft = 0;
    return 0;
}

int BuildFrame(CQARNCommand& device, CQARNAction& action) {
    action.StartTick = platform::MonotonicMicroseconds();
    device.Log(action.Code, kLogCodeDownFrame, action.Address);
    action.Frame.clear();
    action.State = SEND;
    action.SendsLeft = 1;
    action.Pause = 50;
    action.ExpectReply = 1;
    action.TimeOut = device.WaitTime;
    action.BlockPending = 0;
    action.ListPending = 0;

    const BuildRow& row = FindBuildRow(action.Code);
    ByteArray& frame = action.Frame;
    int destination = row.broadcast ? kBroadcastAddress : action.Address;
    AppendFrameHead(device, destination, row.wireCode >= 0 ? row.wireCode : action.Code, frame);
    action.ExpectReply = row.expectReply;
    action.Pause = row.pause;

    switch (row.special) {
    case Special::SearchList:
        // A fresh list, count 0, owned by this record; the replies append to it.
        action.Data.assign(kSearchListSize, 0);
        device.SearchList = &action;
        return 1;
    case Special::ListDownload:
        return BuildListFrame(device, action);
    case Special::ProgramDownload:
        return BuildProgramStep(device, action);
    case Special::PageDownload:
        return BuildPageFrame(device, action);
    case Special::None:
        break;
    }

    const PayloadRow* payloadRow = FindPayloadRow(action.Code);
    if (!payloadRow) return 1;
    // A command whose payload comes from the parameter block cannot be built without one.
    if (payloadRow->needsParams && action.Params == nullptr) return FailBuild(action);
    PayloadContext context = {device.InnerCode, kBuiltInKeyTable};
    ByteArray payload;
    if (!payloadRow->encode(context, action.Params, payload)) return FailBuild(action);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return 1;
}

} // namespace qarn
