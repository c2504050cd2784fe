#include "device/action.h"

#include <cstring>

#include "transport/hdlc.h"

namespace qarn {

int CQARNAction::GetData(void* buffer, int size) const {
    if (size != DataSize()) return 0;
    if (size > 0) std::memcpy(buffer, Data.data(), Data.size());
    return 1;
}

int CQARNAction::GetResult() const {
    // The link status stands in only while the command has no result from a reply of its own:
    // later line events (noise, another host's frame) do not change a decoded reply's result.
    if (Result == kResultPending || ResultFromReply) return Result;
    int link = Link ? Link->GetStatus() : 1;
    if (link != 0 && link != 7) return link;
    return Result;
}

} // namespace qarn
