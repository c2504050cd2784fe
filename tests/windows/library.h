// The module as an application sees it: loaded at run time, each function taken by address.
#pragma once

#include <windows.h>

#include "checks.h"
#include "qarn.h"

namespace wintest {

// Every export: its name, the byte count of its arguments and the ordinals of its plain and its
// decorated name, in ordinal order; a function added later takes the next two ordinals.
#define QARN_EXPORTS(X)                                                                            \
    X(ClearRecvStr, 4, 1, 22)                                                                      \
    X(CloseDevice, 4, 2, 23)                                                                       \
    X(ConnectPort, 8, 3, 24)                                                                       \
    X(DisConnectPort, 4, 4, 25)                                                                    \
    X(EndQARNCommand, 4, 5, 26)                                                                    \
    X(GetCmdResult, 4, 6, 27)                                                                      \
    X(GetData, 12, 7, 28)                                                                          \
    X(GetSizeOfData, 4, 8, 29)                                                                     \
    X(IsConnect, 4, 9, 30)                                                                         \
    X(OpenDevice, 8, 10, 31)                                                                       \
    X(RecvEdition, 4, 11, 32)                                                                      \
    X(RecvHDLC, 8, 12, 33)                                                                         \
    X(RecvStream, 8, 13, 34)                                                                       \
    X(SendFrame, 8, 14, 35)                                                                        \
    X(SetAddLog, 8, 15, 36)                                                                        \
    X(SetCommKey, 8, 16, 37)                                                                       \
    X(SetInnerCmd, 8, 17, 38)                                                                      \
    X(SetInnerCode, 8, 18, 39)                                                                     \
    X(SetMyAddress, 8, 19, 40)                                                                     \
    X(SetWaitTime, 8, 20, 41)                                                                      \
    X(StartQARNCommand, 20, 21, 42)                                                                \
    X(GetRtsControl, 4, 43, 44)                                                                    \
    X(GetRecordForm, 4, 45, 46)                                                                    \
    X(PostQuitToOwner, 4, 47, 48)                                                                  \
    X(CancelQARNCommand, 4, 49, 50)                                                                \
    X(SendCommandFrame, 16, 51, 52)                                                                \
    X(ConvertCardText, 24, 53, 54)

struct Qarn {
#define QARN_FIELD(name, bytes, ordinal, decoratedOrdinal) decltype(&::name) name = nullptr;
    QARN_EXPORTS(QARN_FIELD)
#undef QARN_FIELD
    HMODULE module = nullptr;
};

// Loads the DLL and takes every function by its plain name, its decorated name and both
// ordinals, checking that all four give the same address. False when the DLL did not load
// or a function is missing.
bool LoadQarn(const char* path, Qarn& qarn, Checks& checks);

} // namespace wintest
