#include "platform/system_error.h"

#include <windows.h>

namespace qarn::platform {

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

void SetSystemError(int code) {
    SetLastError(static_cast<DWORD>(code));
}

void SetSystemError(ErrorReason reason) {
    SetLastError(reason == ErrorReason::InvalidSettings ? ERROR_INVALID_PARAMETER
                                                        : ERROR_INVALID_HANDLE);
}

} // namespace qarn::platform
