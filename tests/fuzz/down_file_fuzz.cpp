// The download files on arbitrary contents: each is loaded and checked as its download loads it,
// then, when it passes, read to its end one frame's worth a call; the readers also run on copies
// that did not pass, so that they stay safe on any bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/down_file.h"

using namespace qarn;

namespace {

constexpr int kMostCalls = 100000; // a reader must end long before this

template <typename Reader> void ReadToEnd(CDownFile& file, Reader read, const ByteArray& copy) {
    ByteArray output;
    int position = 0;
    for (int call = 0; call < kMostCalls && position >= 0; ++call) {
        int next = (file.*read)(copy, output, position);
        if (next == 0) return;
        if (next > 0 && next <= position) __builtin_trap(); // a reader that does not advance
        position = next;
    }
}

struct Download {
    DownloadKind kind;
    int (CDownFile::*read)(const ByteArray&, ByteArray&, int);
};

const Download kDownloads[] = {
    {DownloadKind::kProgram, &CDownFile::ReadHexRecords},
    {DownloadKind::kList, &CDownFile::ReadListChunk},
    {DownloadKind::kPages, &CDownFile::ReadPages},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int fd = memfd_create("qarn_fuzz_file", 0);
    static std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const ByteArray raw(data, data + size);
    CDownFile file;
    for (const Download& download : kDownloads) {
        ByteArray copy;
        if (file.Load(path.c_str(), download.kind, copy)) {
            if (copy != raw) __builtin_trap(); // the copy is the file
            ReadToEnd(file, download.read, copy);
        }
        ReadToEnd(file, download.read, raw);
    }
    return 0;
}
