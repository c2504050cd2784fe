// The three download file readers on arbitrary file contents, each read to its end the way a
// download reads it, one frame's worth a call.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "files/down_file.h"

using namespace qarn;

namespace {

constexpr int kMostCalls = 100000; // a reader must end long before this

template <typename Reader> void ReadToEnd(CDownFile& file, Reader read, const std::string& path) {
    ByteArray output;
    int position = 0;
    for (int call = 0; call < kMostCalls && position >= 0; ++call) {
        int next = read(file, path.c_str(), output, position);
        if (next == 0) return;
        if (next > 0 && next <= position) __builtin_trap(); // a reader that does not advance
        position = next;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int fd = memfd_create("qarn_fuzz_file", 0);
    static std::string path = "/proc/self/fd/" + std::to_string(fd);
    if (fd < 0 || ftruncate(fd, 0) != 0) return 0;
    if (size > 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    CDownFile file;
    ReadToEnd(
        file,
        [](CDownFile& f, const char* p, ByteArray& o, int at) {
            return f.ReadHexRecords(p, o, at);
        },
        path);
    ReadToEnd(
        file,
        [](CDownFile& f, const char* p, ByteArray& o, int at) { return f.ReadListChunk(p, o, at); },
        path);
    ReadToEnd(
        file,
        [](CDownFile& f, const char* p, ByteArray& o, int at) { return f.ReadPages(p, o, at); },
        path);
    return 0;
}
