// The downlink builder: fills a command record's frame body and sets its timing and flags.
#pragma once

#include "codec/bytes.h"

namespace qarn {

// The destination of the commands every terminal on the line takes.
constexpr int kBroadcastAddress = 0xAAAA;

class CQARNCommand;
class CQARNAction;

// The head of every downlink frame body: the destination, the device's host address, its key
// bytes and the code byte.
void AppendFrameHead(const CQARNCommand& device, int destination, int code, ByteArray& frame);

// 1 when the frame body is ready to send, or a multi-frame command ended at build time;
// 0 when the frame cannot be built (State DONE, Result 9, SendsLeft 0).
int BuildFrame(CQARNCommand& device, CQARNAction& action);

// Marks a build as failed and returns the build's failure result, 0.
int FailBuild(CQARNAction& action);

} // namespace qarn
