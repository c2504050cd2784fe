// The command engine: admits a command, drives its record through the states, hands replies to
// it, and waits for its start and end. A pass over the records runs as soon as an event lets a
// record move on (start, transmission done, reply decoded, end requested) and when the wait of a
// record ends; nothing runs while no record waits for anything.
#pragma once

#include <cstdint>

#include "codec/bytes.h"

namespace qarn {

class CQARNCommand;
class CQARNAction;

// Creates, builds and queues a command record; null when the code is not admitted, a command
// is still unreleased, or the frame cannot be built.
CQARNAction* StartCommand(CQARNCommand& device, int address, int code, const void* params,
                          int userValue);

// Runs the thread's messages until the command is done (true) or a quit message arrived
// (false). Returns at once, true, when the command or its device is gone meanwhile.
bool WaitForCommandDone(uint32_t commandHandle);

// Marks the command for release and waits until its device holds no command; 0 when that
// happened, 1 when a quit message ended the wait.
int EndCommand(uint32_t commandHandle);

// Ends a command that is still running where it stands (nothing more is sent for it, a partial
// reply is dropped) and releases it as EndCommand does. 0 for an unknown handle, otherwise 1:
// the command is released, at once or, when a quit message ended the wait, at the next pass.
int CancelCommand(uint32_t commandHandle);

void TimerPass(CQARNCommand& device);
// Arranges the next pass: at once when a record can move on now, at the end of the earliest wait
// otherwise, never when no record waits for anything.
void ScheduleNextPass(CQARNCommand& device);
void Step(CQARNCommand& device, CQARNAction& action);
// A frame from terminal, for the first record of the device.
void DispatchReply(CQARNCommand& device, const ByteArray& frame, int terminal);

} // namespace qarn
