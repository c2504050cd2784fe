// The card list download 0xA2: each frame carries the next chunk of the list file as sorted
// list blocks of 64 card numbers; the build after the last chunk leaves the closing frame.
#include <algorithm>
#include <cstdint>
#include <iterator>
#include <vector>

#include "device/device.h"
#include "files/down_file.h"
#include "protocol/downlink/builder.h"
#include "protocol/downlink/downloads.h"

namespace qarn {

namespace {

constexpr int kEntrySize = static_cast<int>(kListEntrySize);
constexpr int kBlockSize = 64;
constexpr int kDataFrameSends = 3;

// Indexed by ListKind: the file's marker byte and the number of the kind's first block.
const uint8_t kListMarkers[] = {0xBB, 0xAA};
const int kBlockBase[] = {0x00, 0xC4};
constexpr int kUnknownListKind = 2;

void AppendBlock(ByteArray& frame, int number, const uint32_t* numbers, int count) {
    AppendBigEndian16(frame, static_cast<uint32_t>(number));
    frame.push_back(static_cast<uint8_t>(count));
    for (int i = 0; i < count; ++i)
        AppendBigEndian32(frame, numbers[i]);
}

} // namespace

int BuildListFrame(CQARNCommand& device, CQARNAction& action) {
    action.ListPending = 1;
    const int start = action.FilePos;
    device.ListFlag = start == 0 ? 1 : 0;
    if (!device.DownFile || !action.Params) return FailBuild(action);

    // The whole file is read and checked once, before the first frame; every frame comes from
    // that copy.
    if (start == 0 && !device.DownFile->Load(reinterpret_cast<const char*>(action.Params),
                                             DownloadKind::kList, action.FileCopy))
        return FailBuild(action);
    ByteArray chunk;
    action.FilePos = device.DownFile->ReadListChunk(action.FileCopy, chunk, start);
    if (action.FilePos == 0) return FailBuild(action);
    if (action.FilePos == -1) {
        action.State = DONE;
        action.Result = kResultAcknowledged;
        action.ListPending = 0;
        device.ListFlag = 1;
        return 1;
    }
    action.SendsLeft = kDataFrameSends;

    size_t first = 0;
    if (start == 0) {
        const uint8_t* marker =
            std::find(std::begin(kListMarkers), std::end(kListMarkers), chunk[0]);
        if (marker == std::end(kListMarkers)) {
            action.ListKind = kUnknownListKind;
            return FailBuild(action);
        }
        action.ListKind = static_cast<int>(marker - std::begin(kListMarkers));
        first = 1;
    }
    // Only a first frame with a known marker sets the kind of a list.
    if (action.ListKind < 0 || action.ListKind >= kUnknownListKind) return FailBuild(action);

    std::vector<uint32_t> numbers;
    for (size_t at = first; at + kEntrySize <= chunk.size(); at += kEntrySize)
        numbers.push_back(static_cast<uint32_t>(ListNumber(chunk.data() + at))); // checked to fit
    device.ListFlag = 0;
    std::sort(numbers.begin(), numbers.end());

    // Blocks are numbered through the whole list: this frame's full blocks end where the
    // full blocks sent so far end, and a partial block (only in the last chunk) follows them.
    const int base = kBlockBase[action.ListKind];
    const int count = static_cast<int>(numbers.size());
    const int fullSoFar = (action.FilePos - 1) / kEntrySize / kBlockSize;
    const int full = count / kBlockSize;
    for (int j = 0; j < full; ++j)
        AppendBlock(action.Frame, base + fullSoFar - full + j, &numbers[j * kBlockSize],
                    kBlockSize);
    if (count % kBlockSize > 0)
        AppendBlock(action.Frame, base + fullSoFar, &numbers[full * kBlockSize],
                    count % kBlockSize);
    return 1;
}

} // namespace qarn
