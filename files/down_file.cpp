#include "files/down_file.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/file.h"

namespace qarn {

namespace {

constexpr int kPageSize = 256;
constexpr int64_t kMostPages = 65536; // page numbers are 16 bits
constexpr int kListEntrySize = 5;
constexpr int64_t kFirstListChunk = 1 + 640 * kListEntrySize; // the marker and 640 entries
constexpr int64_t kLaterListChunk = 704 * kListEntrySize;

// Opens a download file for one reader call; false when it cannot be opened, or is too long
// for the 32-bit positions the readers return.
bool OpenDownloadFile(platform::File& file, const char* path, int64_t& size) {
    if (!path || !file.Open(path, platform::File::kRead)) return false;
    size = file.Size();
    return size >= 0 && size <= std::numeric_limits<int>::max();
}

// Reads a file byte by byte through a buffer, so a program file is read once per call.
class ByteSource {
  public:
    ByteSource(const platform::File& file, int64_t offset) : file_(file), offset_(offset) {}

    // The next byte, or -1 at the end of the file or on a read error (Failed tells which).
    int Next() {
        if (offset_ - bufferStart_ >= filled_) {
            bufferStart_ = offset_;
            int64_t got = file_.ReadAt(offset_, buffer_, sizeof buffer_);
            failed_ = got < 0;
            filled_ = std::max<int64_t>(got, 0);
            if (filled_ == 0) return -1;
        }
        return buffer_[offset_++ - bufferStart_];
    }

    // Moves past the next ':'; false if there is none.
    bool SkipToColon() {
        for (int c = Next(); c >= 0; c = Next())
            if (c == ':') return true;
        return false;
    }

    int64_t Offset() const { return offset_; }
    bool Failed() const { return failed_; }

  private:
    const platform::File& file_;
    int64_t offset_;
    int64_t bufferStart_ = 0;
    int64_t filled_ = 0;
    bool failed_ = false;
    uint8_t buffer_[4096];
};

int HexValue(int c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One byte from two hexadecimal characters, high nibble first; -1 if either is not one.
int ReadHexByte(ByteSource& source) {
    int high = HexValue(source.Next());
    if (high < 0) return -1;
    int low = HexValue(source.Next());
    if (low < 0) return -1;
    return high << 4 | low;
}

// Parses the record that follows a ':' and appends address, count and data; false if the
// record is malformed. The record type and the check byte are read past, not interpreted.
bool ParseHexRecord(ByteSource& source, ByteArray& output) {
    int count = ReadHexByte(source);
    int addressHigh = ReadHexByte(source);
    int addressLow = ReadHexByte(source);
    int type = ReadHexByte(source);
    if (count < 0 || addressHigh < 0 || addressLow < 0 || type < 0) return false;
    output.push_back(static_cast<uint8_t>(addressHigh));
    output.push_back(static_cast<uint8_t>(addressLow));
    output.push_back(static_cast<uint8_t>(count));
    for (int i = 0; i < count; ++i) {
        int data = ReadHexByte(source);
        if (data < 0) return false;
        output.push_back(static_cast<uint8_t>(data));
    }
    return ReadHexByte(source) >= 0;
}

// Counts the ':' characters of the whole file; -1 on a read error.
int64_t CountColons(const platform::File& file) {
    ByteSource source(file, 0);
    int64_t colons = 0;
    while (source.SkipToColon())
        ++colons;
    return source.Failed() ? -1 : colons;
}

} // namespace

int CDownFile::ReadHexRecords(const char* path, ByteArray& output, int position) {
    output.clear();
    platform::File file;
    int64_t size;
    if (position < 0 || !OpenDownloadFile(file, path, size)) return 0;
    if (position == 0) {
        int64_t colons = CountColons(file);
        if (colons < 0) return 0;
        m_nHexLeft = static_cast<int>(colons - 1);
    }
    if (m_nHexLeft == 0) return -1;
    if (m_nHexLeft < 0) return 0; // no record in the file at all

    ByteSource source(file, position);
    int taken = 0;
    while (static_cast<int>(output.size()) <= m_nMaxChunk) {
        --m_nHexLeft;
        // A counted record that is missing (the file changed since position 0) or malformed.
        if (!source.SkipToColon() || !ParseHexRecord(source, output)) {
            output.clear();
            return 0;
        }
        position = static_cast<int>(source.Offset());
        if (++taken > m_nHexLeft) break;
    }
    return position;
}

int CDownFile::ReadPages(const char* path, ByteArray& output, int position) {
    output.clear();
    platform::File file;
    int64_t size;
    if (position < 0 || !OpenDownloadFile(file, path, size)) return 0;
    if (size > kMostPages * kPageSize) return 0;
    if (position >= size) return -1;
    while (position < size && static_cast<int>(output.size()) <= m_nMaxChunk) {
        AppendBigEndian16(output, static_cast<uint32_t>(position / kPageSize));
        size_t at = output.size();
        output.resize(at + kPageSize, 0x00);
        if (file.ReadAt(position, output.data() + at, kPageSize) < 0) {
            output.clear();
            return 0;
        }
        position += kPageSize;
    }
    return position;
}

int CDownFile::ReadListChunk(const char* path, ByteArray& output, int position) {
    output.clear();
    platform::File file;
    int64_t size;
    if (position < 0 || !OpenDownloadFile(file, path, size)) return 0;
    if (position >= size) return -1;
    if ((size - 1) % kListEntrySize != 0) return 0;
    int64_t take = std::min(position == 0 ? kFirstListChunk : kLaterListChunk, size - position);
    output.resize(static_cast<size_t>(take));
    if (file.ReadAt(position, output.data(), output.size()) != take) {
        output.clear();
        return 0;
    }
    return static_cast<int>(position + take);
}

} // namespace qarn
