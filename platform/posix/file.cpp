#include "platform/file.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace qarn::platform {

namespace {

// O_NONBLOCK keeps the open of a FIFO or device from waiting; on a regular file it does nothing.
constexpr int kCommonFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
const int kOpenFlags[] = {
    O_RDONLY | kCommonFlags,                    // kRead
    O_WRONLY | kCommonFlags,                    // kWrite
    O_WRONLY | O_CREAT | O_EXCL | kCommonFlags, // kCreateNew
};

int Descriptor(intptr_t handle) {
    return static_cast<int>(handle);
}

bool ToLocalTime(const struct timespec& when, LocalTime& time) {
    time_t seconds = when.tv_sec;
    tm parts;
    if (!localtime_r(&seconds, &parts)) return false;
    time = LocalTime{parts.tm_year + 1900, parts.tm_mon + 1,
                     parts.tm_wday,        parts.tm_mday,
                     parts.tm_hour,        parts.tm_min,
                     parts.tm_sec,         static_cast<int>(when.tv_nsec / 1000000)};
    return true;
}

} // namespace

File::~File() {
    Close();
}

bool File::Open(const char* path, Mode mode) {
    Close();
    int fd;
    do {
        fd = open(path, kOpenFlags[mode], 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat status;
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

void File::Close() {
    if (!IsOpen()) return;
    close(Descriptor(handle_));
    handle_ = kNoHandle;
}

int64_t File::Size() const {
    struct stat status;
    if (!IsOpen() || fstat(Descriptor(handle_), &status) != 0) return -1;
    return status.st_size;
}

int64_t File::ReadAt(int64_t offset, void* buffer, size_t count) const {
    if (!IsOpen() || offset < 0) return -1;
    auto* into = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        ssize_t got = pread(Descriptor(handle_), into + done, count - done,
                            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<int64_t>(done);
}

bool File::Append(const void* bytes, size_t count) {
    int64_t before = Size();
    if (before < 0) return false;
    int fd = Descriptor(handle_);
    auto* from = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < count) {
        ssize_t put = pwrite(fd, from + done, count - done, static_cast<off_t>(before + done));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            // A torn write would shift everything written after it: take the bytes back.
            if (done > 0) {
                [[maybe_unused]] int restored = ftruncate(fd, static_cast<off_t>(before));
            }
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

bool RemoveFile(const char* path) {
    return unlink(path) == 0;
}

bool RenameFile(const char* from, const char* to) {
    return rename(from, to) == 0;
}

bool GetFileCreationTime(const char* path, LocalTime& time) {
    struct statx status;
    if (statx(AT_FDCWD, path, 0, STATX_BTIME | STATX_MTIME, &status) == 0) {
        const struct statx_timestamp& stamp =
            (status.stx_mask & STATX_BTIME) ? status.stx_btime : status.stx_mtime;
        return ToLocalTime(timespec{static_cast<time_t>(stamp.tv_sec), stamp.tv_nsec}, time);
    }
    // Kernels without statx: the modification time.
    struct stat plain;
    if (errno != ENOSYS || stat(path, &plain) != 0) return false;
    return ToLocalTime(plain.st_mtim, time);
}

bool SetFileAttribute(const char* path, FileAttribute) {
    struct stat status;
    return stat(path, &status) == 0;
}

} // namespace qarn::platform
