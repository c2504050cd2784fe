// The reader of download files: each call opens the file, takes the next frame's worth from
// the given position, closes the file and returns where the next call continues.
//
// Every reader empties the output first and returns 0 when the file cannot be opened or read
// as required, -1 when nothing is left, and otherwise the position for the next call.
#pragma once

#include "codec/bytes.h"

namespace qarn {

class CDownFile {
  public:
    // Program files: text records ":LLAAAATT<data>CC" in hexadecimal. Each record goes out as
    // address high, address low, data count, data. The file's last record (its end record) is
    // never sent. A call takes about half of the records still left and stops before a record
    // once the output holds more than 2000 bytes. A download must start at position 0, which
    // counts the records; calls for two program files must not be interleaved. A record with a
    // character that is not hexadecimal, or cut short by the end of the file, rejects the file.
    int ReadHexRecords(const char* path, ByteArray& output, int position);

    // Any file, in 256-byte pages, each preceded by its number (position / 256, two bytes high
    // first); up to 8 pages a call. A short last page is filled up with 0x00. Files of more
    // than 65536 pages are refused, since their page numbers would repeat.
    int ReadPages(const char* path, ByteArray& output, int position);

    // List files: one marker byte, then 5-byte entries; any other length is refused. The
    // bytes go out unchanged: at position 0 the marker and up to 640 entries, later up to 704.
    int ReadListChunk(const char* path, ByteArray& output, int position);

  private:
    int m_nMaxChunk = 2000; // no record or page is added once the output holds more
    int m_nHexLeft = 0;     // records of the current program file not yet read
};

} // namespace qarn
