// The exported functions: thin entries that find the object behind a handle and forward.
#include "qarn.h"
#include "qarn_layouts.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "api/hex_text.h"
#include "device/action.h"
#include "device/device.h"
#include "device/engine.h"
#include "device/handles.h"
#include "platform/card_text.h"
#include "platform/system_error.h"
#include "protocol/downlink/builder.h"
#include "protocol/downlink/command_table.h"
#include "protocol/uplink/record_decoders.h"
#include "protocol/uplink/record_forms.h"
#include "transport/hdlc.h"

using namespace qarn;

static_assert(kShortRecordForm == QARN_RECORDS_SHORT && kLongRecordForm == QARN_RECORDS_LONG,
              "record forms as GetRecordForm reports them");
static_assert(kShortEntrySize == QARN_SHORT_RECORD_ENTRY_SIZE &&
                  kLongEntrySize == QARN_LONG_RECORD_ENTRY_SIZE &&
                  sizeof(QarnRecord) == QARN_SHORT_RECORD_ENTRY_SIZE &&
                  sizeof(QarnLongRecord) == QARN_LONG_RECORD_ENTRY_SIZE,
              "record entry sizes as the headers give them");

namespace {

const char kEdition[] = "<04.10>";

CQARNCommand* Device(int handle) {
    return FindDevice(static_cast<uint32_t>(handle));
}
CQARNAction* Command(int handle) {
    return FindCommand(static_cast<uint32_t>(handle));
}

platform::WindowHandle WindowOf(QarnWindow window) {
#if defined(_WIN32)
    return static_cast<platform::WindowHandle>(reinterpret_cast<uintptr_t>(window));
#else
    return static_cast<platform::WindowHandle>(window);
#endif
}

} // namespace

extern "C" {

int QARN_CALL OpenDevice(int hostAddress, QarnWindow parent) {
    auto* device = new CQARNCommand;
    if (!device->CreateDeviceEx(hostAddress, WindowOf(parent))) {
        delete device;
        return 0;
    }
    device->DeviceHandle = RegisterDevice(device);
    return static_cast<int>(device->DeviceHandle);
}

int QARN_CALL CloseDevice(int handle) {
    CQARNCommand* device = Device(handle);
    return device ? device->Destroy() : 0;
}

int QARN_CALL ConnectPort(int handle, const char* settings) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link) {
        platform::SetSystemError(platform::ErrorReason::InvalidHandle);
        return 0;
    }
    int opened = device->Link->OpenPort(settings);
    // A failure's reason stays for the caller to read.
    platform::SystemErrorKeeper keep;
    // Asked for the driver's RS-485 mode, the log tells whether it was taken.
    if (opened && device->Link->DriverRtsAsked())
        device->Log(device->Link->DriverSwitchesRts(), kLogPortOpened, kLogNoAddress);
    // Closing an open port first ended any transmission a command waits for.
    ScheduleNextPass(*device);
    return opened;
}

int QARN_CALL DisConnectPort(int handle) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link) return 0;
    int closed = device->Link->ClosePort();
    ScheduleNextPass(*device); // a transmission a command waits for has ended with the port
    return closed;
}

int QARN_CALL IsConnect(int handle) {
    CQARNCommand* device = Device(handle);
    return device && device->Link ? device->Link->IsOpen() : 0;
}

int QARN_CALL GetRtsControl(int handle) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link || !device->Link->IsOpen()) return 0;
    if (device->Link->ServerSwitchesRts()) return QARN_RTS_BY_SERVER;
    return device->Link->DriverSwitchesRts() ? QARN_RTS_BY_DRIVER : QARN_RTS_BY_LIBRARY;
}

int QARN_CALL SetMyAddress(int handle, int hostAddress) {
    CQARNCommand* device = Device(handle);
    if (!device) return 0;
    device->SetMyAddress(hostAddress);
    return hostAddress;
}

void QARN_CALL SetCommKey(int handle, const char* keyText) {
    if (CQARNCommand* device = Device(handle)) device->SetCommKey(keyText);
}

int QARN_CALL SetWaitTime(int handle, int milliseconds) {
    CQARNCommand* device = Device(handle);
    if (!device) return 0;
    // Time-outs compare as unsigned: a negative wait would never end, so it counts as none.
    device->WaitTime = std::max(milliseconds, 0);
    return milliseconds;
}

int QARN_CALL SetInnerCode(int handle, int selector) {
    CQARNCommand* device = Device(handle);
    if (!device) return 0;
    device->InnerCode = selector;
    return selector;
}

int QARN_CALL SetInnerCmd(int handle, int on) {
    CQARNCommand* device = Device(handle);
    if (!device) return 0;
    device->InnerCmd = on;
    return on;
}

int QARN_CALL SetAddLog(int handle, int on) {
    CQARNCommand* device = Device(handle);
    return device ? device->SetAddLog(on) : 0;
}

int QARN_CALL StartQARNCommand(int handle, int terminalAddress, int code, void* params,
                               int reserved) {
    CQARNCommand* device = Device(handle);
    if (!device) return 0;
    CQARNAction* action = StartCommand(*device, terminalAddress, code, params, reserved);
    if (!action) return 0;
    uint32_t commandHandle = action->CommandHandle;
    WaitForCommandDone(commandHandle);
    // The device may have been closed from a notification handler during the wait.
    return FindCommand(commandHandle) ? static_cast<int>(commandHandle) : 0;
}

int QARN_CALL GetCmdResult(int handle) {
    CQARNAction* action = Command(handle);
    return action ? action->GetResult() : 0;
}

int QARN_CALL GetSizeOfData(int handle) {
    CQARNAction* action = Command(handle);
    return action ? action->DataSize() : 0;
}

int QARN_CALL GetData(int handle, void* buffer, int size) {
    CQARNAction* action = Command(handle);
    if (!action || (size > 0 && buffer == nullptr)) return 0;
    return action->GetData(buffer, size);
}

int QARN_CALL GetRecordForm(int handle) {
    CQARNAction* action = Command(handle);
    return action ? action->DataForm : 0;
}

int QARN_CALL EndQARNCommand(int handle) {
    return EndCommand(static_cast<uint32_t>(handle));
}

int QARN_CALL CancelQARNCommand(int handle) {
    return CancelCommand(static_cast<uint32_t>(handle));
}

void QARN_CALL SendFrame(int handle, const char* hexText) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link) return;
    ByteArray body = HexTextToBytes(hexText);
    // The link fields go after the two addresses; a shorter body is not a frame.
    if (body.size() >= 4) device->Link->Send(body);
}

void QARN_CALL SendCommandFrame(int handle, int terminal, int code, const char* payloadHex) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link) return;
    if (terminal < 0 || terminal > 0xFFFF || !IsAdmittedCommand(code, device->InnerCmd)) return;
    ByteArray payload;
    if (!ParseHexText(payloadHex, payload)) return;
    ByteArray frame;
    AppendFrameHead(*device, terminal, code, frame);
    frame.insert(frame.end(), payload.begin(), payload.end());
    device->Link->Send(frame);
}

int QARN_CALL ConvertCardText(int toCard, int big5, const char* input, int inputSize, char* output,
                              int outputSize) {
    if (inputSize < 0 || outputSize < 0 || (!input && inputSize > 0) || (!output && outputSize > 0))
        return -1;
    std::string_view text(input ? input : "", static_cast<size_t>(inputSize));
    std::string converted;
    if (!toCard)
        platform::DecodeCardText(text, big5 != 0, converted);
    else if (!platform::EncodeCardText(text, big5 != 0, converted))
        return -1;
    if (converted.size() > static_cast<size_t>(INT32_MAX)) return -1;
    if (converted.size() <= static_cast<size_t>(outputSize))
        std::memcpy(output, converted.data(), converted.size());
    return static_cast<int>(converted.size());
}

int QARN_CALL RecvStream(int handle, char* text) {
    CQARNCommand* device = Device(handle);
    if (!device || !device->Link || !text || !device->StreamReady) return 0;
    device->StreamReady = 0;
    ByteArray stream;
    device->Link->CopyStream(stream);
    // Cleared since the bytes arrived: nothing held, nothing written.
    if (stream.empty()) return 0;
    WriteHexDump(stream, text);
    return 1;
}

int QARN_CALL RecvHDLC(int handle, char* text) {
    CQARNCommand* device = Device(handle);
    if (!device || !text || !device->FrameReady) return 0;
    WriteHexDump(device->LastFrame, text);
    device->FrameReady = 0;
    return 1;
}

void QARN_CALL ClearRecvStr(int handle) {
    CQARNCommand* device = Device(handle);
    if (device && device->Link) device->Link->ClearStream();
}

int QARN_CALL PostQuitToOwner(int handle) {
    return PostQuitToDeviceOwner(static_cast<uint32_t>(handle)) ? 1 : 0;
}

void QARN_CALL RecvEdition(char* buffer) {
    if (buffer) std::memcpy(buffer, kEdition, 7);
}

} // extern "C"
