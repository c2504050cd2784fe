// Files on Win32. Every open is exclusive: no other open of the file may share it meanwhile.
#include "platform/file.h"

#include <windows.h>

namespace qarn::platform {

namespace {

struct OpenRow {
    DWORD access;
    DWORD disposition;
};

const OpenRow kOpenTable[] = {
    {GENERIC_READ, OPEN_EXISTING},  // kRead
    {GENERIC_WRITE, OPEN_EXISTING}, // kWrite
    {GENERIC_WRITE, CREATE_NEW},    // kCreateNew
};

// Largest piece handed to one ReadFile or WriteFile call.
constexpr size_t kMaximumPiece = 1u << 30;

HANDLE Native(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

OVERLAPPED At(int64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(static_cast<uint64_t>(offset));
    position.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    return position;
}

DWORD Piece(size_t remaining) {
    return static_cast<DWORD>(remaining < kMaximumPiece ? remaining : kMaximumPiece);
}

} // namespace

File::~File() {
    Close();
}

bool File::Open(const char* path, Mode mode) {
    Close();
    const OpenRow& row = kOpenTable[mode];
    HANDLE file =
        CreateFileA(path, row.access, 0, nullptr, row.disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    // Devices ("NUL", "CON", ports) and pipes are not files on a disk.
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    return true;
}

void File::Close() {
    if (!IsOpen()) return;
    CloseHandle(Native(handle_));
    handle_ = kNoHandle;
}

int64_t File::Size() const {
    LARGE_INTEGER size;
    if (!IsOpen() || !GetFileSizeEx(Native(handle_), &size)) return -1;
    return size.QuadPart;
}

int64_t File::ReadAt(int64_t offset, void* buffer, size_t count) const {
    if (!IsOpen() || offset < 0) return -1;
    auto* into = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        OVERLAPPED position = At(offset + static_cast<int64_t>(done));
        DWORD got = 0;
        if (!ReadFile(Native(handle_), into + done, Piece(count - done), &got, &position)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

bool File::Append(const void* bytes, size_t count) {
    int64_t before = Size();
    if (before < 0) return false;
    HANDLE file = Native(handle_);
    auto* from = static_cast<const char*>(bytes);
    size_t done = 0;
    while (done < count) {
        OVERLAPPED position = At(before + static_cast<int64_t>(done));
        DWORD put = 0;
        if (!WriteFile(file, from + done, Piece(count - done), &put, &position) || put == 0) {
            // A torn write would shift everything written after it: take the bytes back.
            LARGE_INTEGER end;
            end.QuadPart = before;
            if (done > 0 && SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) SetEndOfFile(file);
            return false;
        }
        done += put;
    }
    return true;
}

bool RemoveFile(const char* path) {
    return DeleteFileA(path) != FALSE;
}

bool RenameFile(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool GetFileCreationTime(const char* path, LocalTime& time) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    SYSTEMTIME universal, local;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        !FileTimeToSystemTime(&data.ftCreationTime, &universal) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return false;
    time = LocalTime{local.wYear, local.wMonth,  local.wDayOfWeek, local.wDay,
                     local.wHour, local.wMinute, local.wSecond,    local.wMilliseconds};
    return true;
}

bool SetFileAttribute(const char* path, FileAttribute attribute) {
    return SetFileAttributesA(path, static_cast<DWORD>(attribute)) != FALSE;
}

} // namespace qarn::platform
