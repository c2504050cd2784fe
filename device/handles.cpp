#include "device/handles.h"

#include <mutex>
#include <unordered_map>

namespace qarn {

namespace {

std::mutex registryLock;
std::unordered_map<uint32_t, CQARNCommand*> devices;
std::unordered_map<uint32_t, CQARNAction*> commands;
// One counter for both kinds, so a device handle is never taken for a command handle.
uint32_t lastHandle = 0x00A00000;

uint32_t NextHandle() {
    do {
        ++lastHandle;
    } while (lastHandle == 0 || devices.count(lastHandle) || commands.count(lastHandle));
    return lastHandle;
}

template <typename Object>
Object* Find(const std::unordered_map<uint32_t, Object*>& table, uint32_t handle) {
    std::lock_guard<std::mutex> hold(registryLock);
    auto found = table.find(handle);
    return found == table.end() ? nullptr : found->second;
}

} // namespace

uint32_t RegisterDevice(CQARNCommand* device) {
    std::lock_guard<std::mutex> hold(registryLock);
    uint32_t handle = NextHandle();
    devices[handle] = device;
    return handle;
}

CQARNCommand* FindDevice(uint32_t handle) {
    return Find(devices, handle);
}

void UnregisterDevice(uint32_t handle) {
    std::lock_guard<std::mutex> hold(registryLock);
    devices.erase(handle);
}

uint32_t RegisterCommand(CQARNAction* action) {
    std::lock_guard<std::mutex> hold(registryLock);
    uint32_t handle = NextHandle();
    commands[handle] = action;
    return handle;
}

CQARNAction* FindCommand(uint32_t handle) {
    return Find(commands, handle);
}

void UnregisterCommand(uint32_t handle) {
    std::lock_guard<std::mutex> hold(registryLock);
    commands.erase(handle);
}

} // namespace qarn
