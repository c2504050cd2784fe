// The response dispatcher: judges a reply by its reply code and decodes it into the record.
#pragma once

namespace qarn {

class CQARNCommand;
class CQARNAction;

// Called with action.Reply filled (reply code and payload).
void DecodeReply(CQARNCommand& device, CQARNAction& action);

} // namespace qarn
