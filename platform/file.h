// Files on the host's disk: the download files the terminals are loaded from, and the
// communication log. Paths are plain narrow texts, relative to the current directory or absolute.
//
// Only regular files open: a directory, device, pipe or FIFO is refused, and opening one never
// waits (for the other end of a FIFO, for a device to become ready).
//
// Sharing: on Win32 every open is exclusive (no sharing with other opens); POSIX has no
// mandatory locks, so there opens do not exclude one another.
//
// Creation time: Win32 keeps it for every file. On POSIX it is the birth time where the file
// system keeps one; where it keeps none, the time of the last modification stands in for it.
//
// Attributes: the hidden and system attributes exist only on Win32; on POSIX setting them does
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

namespace qarn::platform {

class File {
  public:
    enum Mode {
        kRead,      // an existing file, for reading
        kWrite,     // an existing file, for writing; never creates one
        kCreateNew, // a new, empty file for writing; fails if the name exists already
    };

    File() = default;
    ~File(); // closes
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // False when the file cannot be opened or is not a regular file.
    bool Open(const char* path, Mode mode);
    void Close();
    bool IsOpen() const { return handle_ != kNoHandle; }

    // Length in bytes, -1 when it cannot be had.
    int64_t Size() const;

    // Reads up to count bytes from offset; fewer only at the end of the file. Returns the
    // number read, -1 on a read error.
    int64_t ReadAt(int64_t offset, void* buffer, size_t count) const;

    // Writes all count bytes at the end of the file, or, when that fails (disk full), leaves
    // the file as it was and returns false.
    bool Append(const void* bytes, size_t count);

  private:
    static constexpr intptr_t kNoHandle = -1;
    intptr_t handle_ = kNoHandle; // a descriptor on POSIX, a HANDLE on Win32
};

bool RemoveFile(const char* path);

// Renames a file, replacing a file that has the new name already.
bool RenameFile(const char* from, const char* to);

// The file's creation time in local time; false if the file cannot be examined.
bool GetFileCreationTime(const char* path, LocalTime& time);

enum FileAttribute { kFileHidden = 2, kFileSystem = 4 };

// Gives the file exactly this attribute, keeping its times; false if it cannot.
bool SetFileAttribute(const char* path, FileAttribute attribute);

} // namespace qarn::platform
