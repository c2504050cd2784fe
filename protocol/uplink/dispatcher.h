// The response dispatcher: judges a reply by its reply code and decodes it into the record.
#pragma once

#include "codec/bytes.h"

namespace qarn {

class CQARNCommand;
class CQARNAction;

// Called with action.Reply filled (reply code and payload); terminal is the replying terminal's
// address.
void DecodeReply(CQARNCommand& device, CQARNAction& action, int terminal);

// Hands the data of a frame that just arrived from terminal to a command that expects a reply. A
// command to
// one terminal takes only that terminal's frames (the others are left to the line monitor); a
// reply whose code cannot answer the command is a wrong reply, with nothing decoded; any other
// reply is decoded.
void OfferReply(CQARNCommand& device, CQARNAction& action, const ByteArray& reply, int terminal);

} // namespace qarn
