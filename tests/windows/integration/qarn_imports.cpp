// The module's functions as the scenarios call them, each forwarding to the export of qarn.dll
// that LoadLibraryA and GetProcAddress found, as an application loads it.
#include <cstdio>
#include <cstdlib>

#include <windows.h>

#include "qarn.h"

namespace {

template <class Function> Function Export(const char* name) {
    static HMODULE module = LoadLibraryA("qarn.dll");
    FARPROC address = module ? GetProcAddress(module, name) : nullptr;
    if (!address) {
        std::fprintf(stderr, "qarn.dll or its export %s is missing\n", name);
        std::exit(2);
    }
    return reinterpret_cast<Function>(reinterpret_cast<void*>(address));
}

#define QARN_FORWARD(name, ...)                                                                    \
    static auto function = Export<decltype(&::name)>(#name);                                       \
    return function(__VA_ARGS__)

} // namespace

extern "C" {

int QARN_CALL OpenDevice(int hostAddress, QarnWindow parent) {
    QARN_FORWARD(OpenDevice, hostAddress, parent);
}
int QARN_CALL CloseDevice(int device) {
    QARN_FORWARD(CloseDevice, device);
}
int QARN_CALL ConnectPort(int device, const char* settings) {
    QARN_FORWARD(ConnectPort, device, settings);
}
int QARN_CALL DisConnectPort(int device) {
    QARN_FORWARD(DisConnectPort, device);
}
int QARN_CALL IsConnect(int device) {
    QARN_FORWARD(IsConnect, device);
}
int QARN_CALL GetRtsControl(int device) {
    QARN_FORWARD(GetRtsControl, device);
}
int QARN_CALL GetRecordForm(int command) {
    QARN_FORWARD(GetRecordForm, command);
}
int QARN_CALL SetMyAddress(int device, int hostAddress) {
    QARN_FORWARD(SetMyAddress, device, hostAddress);
}
void QARN_CALL SetCommKey(int device, const char* keyText) {
    QARN_FORWARD(SetCommKey, device, keyText);
}
int QARN_CALL SetWaitTime(int device, int milliseconds) {
    QARN_FORWARD(SetWaitTime, device, milliseconds);
}
int QARN_CALL SetInnerCode(int device, int selector) {
    QARN_FORWARD(SetInnerCode, device, selector);
}
int QARN_CALL SetInnerCmd(int device, int on) {
    QARN_FORWARD(SetInnerCmd, device, on);
}
int QARN_CALL SetAddLog(int device, int on) {
    QARN_FORWARD(SetAddLog, device, on);
}
int QARN_CALL StartQARNCommand(int device, int terminalAddress, int code, void* params,
                               int reserved) {
    QARN_FORWARD(StartQARNCommand, device, terminalAddress, code, params, reserved);
}
int QARN_CALL GetCmdResult(int command) {
    QARN_FORWARD(GetCmdResult, command);
}
int QARN_CALL GetSizeOfData(int command) {
    QARN_FORWARD(GetSizeOfData, command);
}
int QARN_CALL GetData(int command, void* buffer, int size) {
    QARN_FORWARD(GetData, command, buffer, size);
}
int QARN_CALL EndQARNCommand(int command) {
    QARN_FORWARD(EndQARNCommand, command);
}
int QARN_CALL PostQuitToOwner(int device) {
    QARN_FORWARD(PostQuitToOwner, device);
}

int QARN_CALL CancelQARNCommand(int command) {
    QARN_FORWARD(CancelQARNCommand, command);
}
void QARN_CALL SendFrame(int device, const char* hexText) {
    QARN_FORWARD(SendFrame, device, hexText);
}
int QARN_CALL ConvertCardText(int toCard, int big5, const char* input, int inputSize, char* output,
                              int outputSize) {
    QARN_FORWARD(ConvertCardText, toCard, big5, input, inputSize, output, outputSize);
}
void QARN_CALL SendCommandFrame(int device, int terminal, int code, const char* payloadHex) {
    QARN_FORWARD(SendCommandFrame, device, terminal, code, payloadHex);
}
int QARN_CALL RecvStream(int device, char* text) {
    QARN_FORWARD(RecvStream, device, text);
}
int QARN_CALL RecvHDLC(int device, char* text) {
    QARN_FORWARD(RecvHDLC, device, text);
}
void QARN_CALL ClearRecvStr(int device) {
    QARN_FORWARD(ClearRecvStr, device);
}
void QARN_CALL RecvEdition(char* buffer) {
    QARN_FORWARD(RecvEdition, buffer);
}

} // extern "C"
