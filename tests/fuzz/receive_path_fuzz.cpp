// Line bytes into the link assembler, on through the dispatcher into the decoders, with a
// command of one reply kind waiting. The first input byte picks the command, the next two the
// terminal address; the rest is what the line carries.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "device/action.h"
#include "device/device.h"
#include "device/engine.h"
#include "device/handles.h"
#include "qarn.h"
#include "transport/hdlc.h"

using namespace qarn;

namespace {

constexpr int kHost = 0x0001;
constexpr int kNoSubCode = -1;

struct WaitingCommand {
    int code;
    int subCode;      // first integer of the parameter block
    const char* file; // downloads: the file the parameter block names
};

// Every reply row and the status row: card layouts by sub-code, money by its sub-code.
const WaitingCommand kCommands[] = {
    {0x03, kNoSubCode, nullptr}, {0x07, kNoSubCode, nullptr}, {0x10, kNoSubCode, nullptr},
    {0x36, kNoSubCode, nullptr}, {0x11, kNoSubCode, nullptr}, {0x17, kNoSubCode, nullptr},
    {0x1E, kNoSubCode, nullptr}, {0x13, kNoSubCode, nullptr}, {0x15, kNoSubCode, nullptr},
    {0x16, kNoSubCode, nullptr}, {0x60, 1, nullptr},          {0x60, 2, nullptr},
    {0x60, 3, nullptr},          {0x60, 254, nullptr},        {0x62, 2, nullptr},
    {0x63, 2, nullptr},          {0x67, 2, nullptr},          {0x64, kNoSubCode, nullptr},
    {0x83, kNoSubCode, nullptr}, {0xA2, kNoSubCode, "list"},  {0xC0, kNoSubCode, "program"},
    {0xC5, kNoSubCode, "pages"},
};

std::string FilePath(const char* name) {
    return std::string("/tmp/qarn_fuzz_receive_") + name;
}

void WriteFile(const char* name, const std::string& contents) {
    FILE* file = std::fopen(FilePath(name).c_str(), "wb");
    if (!file) return;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

CQARNCommand* device = nullptr;

} // namespace

// One device for the whole run, made before the inputs: it lives until the process ends.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    WriteFile("list", std::string("\x01\x00\x00\x00\x12\x34\x00\x00\x00\x56\x78", 11));
    WriteFile("program", ":0400000001020304F2\n:020004000506EF\n:00000001FF\n");
    WriteFile("pages", std::string(300, 'p'));
    int window = CreateNotifyWindow([](int, int, int, void*) {}, nullptr);
    int handle = OpenDevice(kHost, window);
    SetInnerCmd(handle, 1);
    device = FindDevice(static_cast<uint32_t>(handle));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!device || size < 3) return 0;
    const WaitingCommand& command = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
    int address = data[1] << 8 | data[2];
    uint8_t params[512] = {};
    if (command.file) {
        std::string path = FilePath(command.file);
        std::memcpy(params, path.c_str(), path.size() + 1);
    } else if (command.subCode != kNoSubCode) {
        int32_t subCode = command.subCode;
        std::memcpy(params, &subCode, sizeof subCode);
    }
    CQARNAction* action = StartCommand(*device, address, command.code, params, 0);
    if (!action) return 0;
    action->State = WAIT_REPLY;
    device->Link->Assemble(data + 3, size - 3);

    uint8_t buffer[4096];
    volatile int seen = action->GetResult();
    int dataSize = action->DataSize();
    if (dataSize > 0 && dataSize <= static_cast<int>(sizeof buffer))
        seen += action->GetData(buffer, dataSize);
    (void)seen;
    device->Commands.clear();
    device->ReleaseAction(action);
    device->Link->Reset();
    return 0;
}
