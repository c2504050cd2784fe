// The module as an application sees it: loaded at run time, each function taken by address.
#pragma once

#include <windows.h>

#include "checks.h"
#include "qarn.h"

namespace wintest {

// Every export: its name and the byte count of its arguments, in ordinal order.
#define QARN_EXPORTS(X)                                                                            \
    X(ClearRecvStr, 4)                                                                             \
    X(CloseDevice, 4)                                                                              \
    X(ConnectPort, 8)                                                                              \
    X(DisConnectPort, 4)                                                                           \
    X(EndQARNCommand, 4)                                                                           \
    X(GetCmdResult, 4)                                                                             \
    X(GetData, 12)                                                                                 \
    X(GetSizeOfData, 4)                                                                            \
    X(IsConnect, 4)                                                                                \
    X(OpenDevice, 8)                                                                               \
    X(RecvEdition, 4)                                                                              \
    X(RecvHDLC, 8)                                                                                 \
    X(RecvStream, 8)                                                                               \
    X(SendFrame, 8)                                                                                \
    X(SetAddLog, 8)                                                                                \
    X(SetCommKey, 8)                                                                               \
    X(SetInnerCmd, 8)                                                                              \
    X(SetInnerCode, 8)                                                                             \
    X(SetMyAddress, 8)                                                                             \
    X(SetWaitTime, 8)                                                                              \
    X(StartQARNCommand, 20)

struct Qarn {
#define QARN_FIELD(name, bytes) decltype(&::name) name = nullptr;
    QARN_EXPORTS(QARN_FIELD)
#undef QARN_FIELD
    HMODULE module = nullptr;
};

// Loads the DLL and takes every function by its plain name, its decorated name and both
// ordinals, checking that all four give the same address. False when the DLL did not load
// or a function is missing.
bool LoadQarn(const char* path, Qarn& qarn, Checks& checks);

} // namespace wintest
