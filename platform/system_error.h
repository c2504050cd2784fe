// The calling thread's system error code (errno on POSIX, GetLastError on Windows): a failed call
// leaves it at the reason for the application to read.
#pragma once

namespace qarn::platform {

// Reasons this library finds itself, as the system's code for them.
enum class ErrorReason {
    InvalidSettings, // a settings text it cannot use: EINVAL, ERROR_INVALID_PARAMETER
    InvalidHandle,   // no live object behind a handle: EBADF, ERROR_INVALID_HANDLE
};

int LastSystemError();
void SetSystemError(int code);
void SetSystemError(ErrorReason reason);

// Puts the code back as it was when the keeper was made: clean-up after a failure must not
// overwrite its reason.
class SystemErrorKeeper {
  public:
    SystemErrorKeeper() : code_(LastSystemError()) {}
    ~SystemErrorKeeper() { SetSystemError(code_); }
    SystemErrorKeeper(const SystemErrorKeeper&) = delete;
    SystemErrorKeeper& operator=(const SystemErrorKeeper&) = delete;

  private:
    int code_;
};

} // namespace qarn::platform
