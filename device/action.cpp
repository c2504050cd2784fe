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
    if (Result == kResultPending) return Result;
    int link = Link ? Link->GetStatus() : 1;
    if (link != 0 && link != 7) return link;
    return Result;
}

} // namespace qarn
