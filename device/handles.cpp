#include "device/handles.h"

#include "device/device.h"

#include <mutex>
#include <unordered_map>

#include "platform/thread_identity.h"

namespace qarn {

namespace {

// Every function of a device runs on the thread that opened it; a handle therefore resolves only
// on that thread, so a call from another one, or from a forked child, fails without touching the
// object. Threads are told apart by their serial number, which no later thread takes over.
using ThreadMark = uint64_t;

ThreadMark CurrentThread() {
    return platform::ThreadSerial();
}

template <typename Object> struct Entry {
    Object* object;
    ThreadMark owner;
};

// One lock guards both tables and the counter; it is held only inside the functions below, never
// while an object's own code runs.
std::mutex registryLock;
std::unordered_map<uint32_t, Entry<CQARNCommand>> devices;
std::unordered_map<uint32_t, Entry<CQARNAction>> commands;
// One counter for both kinds, so a device handle is never taken for a command handle.
uint32_t lastHandle = 0x00A00000;

uint32_t NextHandle() {
    do {
        ++lastHandle;
    } while (lastHandle == 0 || devices.count(lastHandle) || commands.count(lastHandle));
    return lastHandle;
}

template <typename Object>
uint32_t Register(std::unordered_map<uint32_t, Entry<Object>>& table, Object* object) {
    std::lock_guard<std::mutex> hold(registryLock);
    uint32_t handle = NextHandle();
    table[handle] = {object, CurrentThread()};
    return handle;
}

template <typename Object>
Object* Find(const std::unordered_map<uint32_t, Entry<Object>>& table, uint32_t handle) {
    std::lock_guard<std::mutex> hold(registryLock);
    auto found = table.find(handle);
    if (found == table.end() || found->second.owner != CurrentThread()) return nullptr;
    return found->second.object;
}

template <typename Object>
void Unregister(std::unordered_map<uint32_t, Entry<Object>>& table, uint32_t handle) {
    std::lock_guard<std::mutex> hold(registryLock);
    table.erase(handle);
}

} // namespace

uint32_t RegisterDevice(CQARNCommand* device) {
    return Register(devices, device);
}

CQARNCommand* FindDevice(uint32_t handle) {
    return Find(devices, handle);
}

void UnregisterDevice(uint32_t handle) {
    Unregister(devices, handle);
}

bool PostQuitToDeviceOwner(uint32_t handle) {
    // Held while posting: a device leaves the registry before its window goes, so the window
    // of a device found here is alive until the post is done.
    std::lock_guard<std::mutex> hold(registryLock);
    auto found = devices.find(handle);
    // A forked child's copy of a device shares the parent's queue: it posts nothing.
    return found != devices.end() && platform::IsThreadOfThisProcess(found->second.owner) &&
           platform::PostQuitToOwnerOf(found->second.object->Handle());
}

uint32_t RegisterCommand(CQARNAction* action) {
    return Register(commands, action);
}

CQARNAction* FindCommand(uint32_t handle) {
    return Find(commands, handle);
}

void UnregisterCommand(uint32_t handle) {
    Unregister(commands, handle);
}

} // namespace qarn
