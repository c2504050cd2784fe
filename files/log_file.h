// The communication log: one fixed-size record for each step of a command, appended six at a
// time to "CommLog.log" in the current directory; the six previous logs are kept as
// "CommLog1.log" (newest) to "CommLog6.log" (oldest). Every log file starts with a 254-byte
// header block.
//
// The log never fails or stops a command: every operation returns 1. A file operation that
// fails is given up and not retried. A batch of records that cannot be appended (the file
// cannot be opened, the disk is full) is dropped whole, so the file never holds a torn record
// and the log holds at most six records in memory; a name that is not a regular file (a FIFO,
// a device) is treated as a file that cannot be opened; a log file whose header cannot be written
// is removed again, so that the next start creates it afresh; a rotation that fails part-way
// leaves the files as far as it got.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/bytes.h"
#include "platform/clock.h"

namespace qarn {

constexpr size_t kLogHeaderSize = 254;
constexpr size_t kLogRecordSize = 89;
// The kind of the record that ends each command with its result: "Cmd Result", "Result 5".
constexpr int kLogKindResult = 9;

class CLogFile {
  public:
    // Creates whichever of the seven log files is missing, each with its header, in the
    // directory given (the current directory when it is empty).
    explicit CLogFile(const std::string& directory = std::string());
    // Writes out the pending records.
    ~CLogFile();
    CLogFile(const CLogFile&) = delete;
    CLogFile& operator=(const CLogFile&) = delete;

    // Starts a fresh "CommLog.log", shifting the older logs down by one and dropping the
    // oldest, when the current one was created on another day of the month. Returns 1.
    int Rotate();

    // Adds one record: command code (its name is looked up), event kind (0 to 8) and terminal
    // address. Returns 1.
    int AddRecord(int code, int kind, int address);
    // Adds the record that ends a command: its code and terminal, and "Result N". Returns 1.
    int AddResult(int code, int address, int result);

    // Records held in memory, not yet written out.
    size_t PendingCount() const { return m_records.size() / kLogRecordSize; }

  private:
    void Append(int code, int kind, int address, const char* resultText);
    void EnsureLogFile(const char* name);
    // A log file's name within the log's directory.
    std::string Path(const char* name) const;
    void WriteOut();

    size_t m_nMaxPending = 5;   // the sixth record writes all of them out
    std::string m_strDirectory; // ends with a separator unless empty
    std::string m_strLogName;
    ByteArray m_records; // pending records, oldest first, kLogRecordSize bytes each
};

// The record's 24-character timestamp "2024.03.07  09:05:04.009", all of it from one reading
// of the local clock, so stamps never run backwards or mix two clocks.
void FormatLogTime(const platform::LocalTime& clock, char (&text)[28]);

} // namespace qarn
