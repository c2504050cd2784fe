// The handle registry: device and command handles are numbers issued here, so a stale, unknown
// or zero handle is recognised instead of being dereferenced. A handle is found only on the
// thread that registered it (the device's owner), and only in the process that registered it.
#pragma once

#include <cstdint>

namespace qarn {

class CQARNCommand;
class CQARNAction;

uint32_t RegisterDevice(CQARNCommand* device);
CQARNCommand* FindDevice(uint32_t handle);
void UnregisterDevice(uint32_t handle);
// Queues the quit message for the thread that opened the device; callable from any thread.
// False when the handle is no device's.
bool PostQuitToDeviceOwner(uint32_t handle);

uint32_t RegisterCommand(CQARNAction* action);
CQARNAction* FindCommand(uint32_t handle);
void UnregisterCommand(uint32_t handle);

} // namespace qarn
