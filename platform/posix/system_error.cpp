#include "platform/system_error.h"

#include <cerrno>

namespace qarn::platform {

int LastSystemError() {
    return errno;
}

void SetSystemError(int code) {
    errno = code;
}

void SetSystemError(ErrorReason reason) {
    errno = reason == ErrorReason::InvalidSettings ? EINVAL : EBADF;
}

} // namespace qarn::platform
