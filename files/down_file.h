// The reader of download files. A download reads its whole file and checks it when the command
// starts (Load), then takes each frame's worth from that copy, so that what reaches the terminal
// is the file as it was then, or nothing.
//
// Every reader empties the output first and returns 0 when the copy cannot be read as required,
// -1 when nothing is left, and otherwise the position for the next call.
#pragma once

#include <cstddef>

#include "codec/bytes.h"

namespace qarn {

// List memory: white list blocks 0 to 195, black list blocks 196 to 65535, 64 numbers a block.
constexpr size_t kWhiteListCapacity = 196 * 64;
constexpr size_t kBlackListCapacity = (65536 - 196) * 64;
constexpr size_t kListEntrySize = 5;
// No download file is longer than the largest list file: the marker and a full black list.
constexpr size_t kMostDownloadBytes = 1 + kBlackListCapacity * kListEntrySize;

enum class DownloadKind { kList, kProgram, kPages };

class CDownFile {
  public:
    // Reads the regular file at path whole into copy and checks it for its download; false,
    // with copy empty, when it is no regular file, cannot be read, is longer than
    // kMostDownloadBytes or is not what the download takes:
    // - a list: the marker 0xBB (white) or 0xAA (black), then 5-byte entries of 10 BCD digits,
    //   each number at most 4294967295, no more numbers than the kind's list memory holds;
    // - a program: at least one text record, every record whole and in hexadecimal;
    // - pages: any file of at most 65536 pages (page numbers are 16 bits).
    bool Load(const char* path, DownloadKind kind, ByteArray& copy);

    // Program files: text records ":LLAAAATT<data>CC" in hexadecimal. Each record goes out as
    // address high, address low, data count, data. The file's last record (its end record) is
    // never sent. A call takes about half of the records still left and stops before a record
    // once the output holds more than 2000 bytes. A download must start at position 0, which
    // counts the records; calls for two program files must not be interleaved.
    int ReadHexRecords(const ByteArray& file, ByteArray& output, int position);

    // Any file, in 256-byte pages, each preceded by its number (position / 256, two bytes high
    // first); up to 8 pages a call. A short last page is filled up with 0x00.
    int ReadPages(const ByteArray& file, ByteArray& output, int position);

    // List files: the bytes go out unchanged, at position 0 the marker and up to 640 entries,
    // later up to 704.
    int ReadListChunk(const ByteArray& file, ByteArray& output, int position);

  private:
    int m_nMaxChunk = 2000; // no record or page is added once the output holds more
    int m_nHexLeft = 0;     // records of the current program file not yet read
};

// The value of a list entry's 10 BCD digits, most significant first; a nibble above 9 counts
// with its own value.
uint64_t ListNumber(const uint8_t* entry);

} // namespace qarn
