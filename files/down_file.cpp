#include "files/down_file.h"

#include <algorithm>
#include <cstdint>

#include "platform/file.h"

namespace qarn {

namespace {

constexpr size_t kPageSize = 256;
constexpr size_t kMostPages = 65536;                         // page numbers are 16 bits
constexpr size_t kFirstListChunk = 1 + 640 * kListEntrySize; // the marker and 640 entries
constexpr size_t kLaterListChunk = 704 * kListEntrySize;
constexpr uint8_t kWhiteMarker = 0xBB;
constexpr uint8_t kBlackMarker = 0xAA;
constexpr uint64_t kMostCardNumber = 0xFFFFFFFF;

bool ReadWhole(const char* path, ByteArray& copy) {
    platform::File file;
    if (!path || !file.Open(path, platform::File::kRead)) return false;
    int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > kMostDownloadBytes) return false;
    copy.resize(static_cast<size_t>(size));
    return file.ReadAt(0, copy.data(), copy.size()) == size;
}

// Reads a copy byte by byte from an offset.
class ByteSource {
  public:
    ByteSource(const ByteArray& file, size_t offset) : file_(file), offset_(offset) {}

    // The next byte, or -1 at the end.
    int Next() { return offset_ < file_.size() ? file_[offset_++] : -1; }

    // Moves past the next ':'; false if there is none.
    bool SkipToColon() {
        for (int c = Next(); c >= 0; c = Next())
            if (c == ':') return true;
        return false;
    }

    size_t Offset() const { return offset_; }

  private:
    const ByteArray& file_;
    size_t offset_;
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

// Every record, the end record included, whole and in hexadecimal; at least one.
bool IsProgramFile(const ByteArray& file) {
    ByteSource source(file, 0);
    ByteArray record;
    bool any = false;
    for (; source.SkipToColon(); any = true) {
        record.clear();
        if (!ParseHexRecord(source, record)) return false;
    }
    return any;
}

bool IsListFile(const ByteArray& file) {
    if (file.empty() || (file.size() - 1) % kListEntrySize != 0) return false;
    size_t capacity = file[0] == kWhiteMarker   ? kWhiteListCapacity
                      : file[0] == kBlackMarker ? kBlackListCapacity
                                                : 0;
    if ((file.size() - 1) / kListEntrySize > capacity) return false;
    for (size_t at = 1; at < file.size(); at += kListEntrySize)
        if (ListNumber(&file[at]) > kMostCardNumber) return false;
    return true;
}

bool Fits(const ByteArray& file, DownloadKind kind) {
    switch (kind) {
    case DownloadKind::kList:
        return IsListFile(file);
    case DownloadKind::kProgram:
        return IsProgramFile(file);
    case DownloadKind::kPages:
        return file.size() <= kMostPages * kPageSize;
    }
    return false;
}

} // namespace

uint64_t ListNumber(const uint8_t* entry) {
    uint64_t value = 0;
    for (size_t i = 0; i < kListEntrySize; ++i)
        value = value * 100 + (entry[i] >> 4) * 10 + (entry[i] & 0x0F);
    return value;
}

bool CDownFile::Load(const char* path, DownloadKind kind, ByteArray& copy) {
    if (ReadWhole(path, copy) && Fits(copy, kind)) return true;
    copy.clear();
    copy.shrink_to_fit();
    return false;
}

int CDownFile::ReadHexRecords(const ByteArray& file, ByteArray& output, int position) {
    output.clear();
    if (position < 0) return 0;
    if (position == 0) {
        ByteSource counter(file, 0);
        int colons = 0;
        while (counter.SkipToColon())
            ++colons;
        m_nHexLeft = colons - 1;
    }
    if (m_nHexLeft == 0) return -1;
    if (m_nHexLeft < 0) return 0; // no record in the file at all

    ByteSource source(file, static_cast<size_t>(position));
    int taken = 0;
    while (static_cast<int>(output.size()) <= m_nMaxChunk) {
        --m_nHexLeft;
        if (!source.SkipToColon() || !ParseHexRecord(source, output)) {
            output.clear();
            return 0;
        }
        position = static_cast<int>(source.Offset());
        if (++taken > m_nHexLeft) break;
    }
    return position;
}

int CDownFile::ReadPages(const ByteArray& file, ByteArray& output, int position) {
    output.clear();
    if (position < 0 || file.size() > kMostPages * kPageSize) return 0;
    size_t at = static_cast<size_t>(position);
    if (at >= file.size()) return -1;
    while (at < file.size() && static_cast<int>(output.size()) <= m_nMaxChunk) {
        AppendBigEndian16(output, static_cast<uint32_t>(at / kPageSize));
        size_t end = std::min(file.size(), at + kPageSize);
        output.insert(output.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                      file.begin() + static_cast<std::ptrdiff_t>(end));
        output.resize(output.size() + (at + kPageSize - end), 0x00);
        at += kPageSize;
    }
    return static_cast<int>(at);
}

int CDownFile::ReadListChunk(const ByteArray& file, ByteArray& output, int position) {
    output.clear();
    if (position < 0) return 0;
    size_t at = static_cast<size_t>(position);
    if (at >= file.size()) return -1;
    if ((file.size() - 1) % kListEntrySize != 0) return 0;
    size_t take = std::min(at == 0 ? kFirstListChunk : kLaterListChunk, file.size() - at);
    output.assign(file.begin() + static_cast<std::ptrdiff_t>(at),
                  file.begin() + static_cast<std::ptrdiff_t>(at + take));
    return static_cast<int>(at + take);
}

} // namespace qarn
