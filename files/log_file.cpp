#include "files/log_file.h"

#include <cstdio>
#include <cstring>

#include "platform/file.h"
#include "protocol/downlink/command_table.h"

namespace qarn {

namespace {

const char kCurrentLog[] = "CommLog.log";
// Newest first: rotation renames each into the next.
const char* const kOlderLogs[] = {"CommLog1.log", "CommLog2.log", "CommLog3.log",
                                  "CommLog4.log", "CommLog5.log", "CommLog6.log"};
constexpr int kOlderLogCount = sizeof kOlderLogs / sizeof kOlderLogs[0];

// Header block: title, column headings and rule, at fixed offsets.
const char kTitle[] = "\r\nRV7400 System Communication Log File";
const char kColumns[] = "\r\n\r\nCmd.Name            Ter.Adr.  Evt.Name        Ope.Rst.  "
                        "Exe.Data    Exe.Time";
static_assert(sizeof kColumns - 1 == 80, "the heading line fills its 80 bytes");
constexpr size_t kTitleAt = 50;
constexpr size_t kColumnsAt = 90;
constexpr size_t kRuleAt = 170;
constexpr size_t kRuleLength = 80;

// Record fields: offset and size.
struct Field {
    size_t at;
    size_t size;
};
constexpr Field kLineBreakField{0, 3};
constexpr Field kNameField{3, 22};
constexpr Field kTerminalField{25, 10};
constexpr Field kEventField{35, 16};
constexpr Field kResultField{51, 10};
constexpr Field kTimeField{61, 28};
static_assert(kTimeField.at + kTimeField.size == kLogRecordSize, "the fields fill the record");

// kRtsControlName: who switches RTS on the port just opened, by the code: 1 the driver, 0 the
// library.
enum NameKind { kNoName, kLineBreakName, kCommandName, kRtsControlName };

struct EventKind {
    const char* event;
    bool lineBreak; // "\r\n" at the start of the record
    NameKind name;
    bool terminal; // the terminal address is written
};

const EventKind kEventKinds[] = {
    {"Code Down_Frm", true, kCommandName, true},    {"Send Down_Frm", false, kLineBreakName, false},
    {"Recv Up_Frm", false, kLineBreakName, false},  {"Decode Up_Frm", false, kCommandName, true},
    {"Decode Down_Frm", false, kCommandName, true}, {"Code Up_Frm", false, kCommandName, true},
    {"Send Up_Frm", false, kLineBreakName, false},  {"\r\nRecv Down_Frm", true, kNoName, false},
    {"Port Opened", true, kRtsControlName, false},  {"Cmd Result", false, kCommandName, true},
};
const EventKind kUnknownKind = {"", false, kLineBreakName, false};

// Writes a text into a zero-filled field, leaving at least one zero byte after it.
void PutText(uint8_t* record, Field field, const char* text) {
    std::memcpy(record + field.at, text, strnlen(text, field.size - 1));
}

void FillHeader(uint8_t (&header)[kLogHeaderSize]) {
    std::memset(header, 0, sizeof header);
    std::memcpy(header + kTitleAt, kTitle, sizeof kTitle - 1);
    std::memcpy(header + kColumnsAt, kColumns, sizeof kColumns - 1);
    std::memcpy(header + kRuleAt, "\r\n", 2);
    std::memset(header + kRuleAt + 2, '_', kRuleLength);
}

} // namespace

void FormatLogTime(const platform::LocalTime& clock, char (&text)[28]) {
    std::snprintf(text, sizeof text, "%d.%02d.%02d  %02d:%02d:%02d.%03d", clock.year, clock.month,
                  clock.day, clock.hour, clock.minute, clock.second, clock.milliseconds);
}

CLogFile::CLogFile(const std::string& directory) : m_strDirectory(directory) {
    if (!m_strDirectory.empty() && m_strDirectory.back() != '/' && m_strDirectory.back() != '\\')
        m_strDirectory += '/';
    // Reserved once, so that adding and writing out records never allocates.
    m_records.reserve((m_nMaxPending + 1) * kLogRecordSize);
    for (const char* name : kOlderLogs)
        EnsureLogFile(name);
    EnsureLogFile(kCurrentLog);
}

CLogFile::~CLogFile() {
    WriteOut();
}

std::string CLogFile::Path(const char* name) const {
    return m_strDirectory + name;
}

void CLogFile::EnsureLogFile(const char* name) {
    m_strLogName = Path(name);
    platform::File file;
    if (file.Open(m_strLogName.c_str(), platform::File::kWrite)) return;
    if (!file.Open(m_strLogName.c_str(), platform::File::kCreateNew)) return;
    uint8_t header[kLogHeaderSize];
    FillHeader(header);
    if (!file.Append(header, sizeof header)) {
        file.Close();
        platform::RemoveFile(m_strLogName.c_str());
    }
}

int CLogFile::Rotate() {
    platform::LocalTime born;
    if (platform::GetFileCreationTime(m_strLogName.c_str(), born) &&
        born.day != platform::GetLocalTime().day) {
        platform::RemoveFile(Path(kOlderLogs[kOlderLogCount - 1]).c_str());
        for (int i = kOlderLogCount - 1; i > 0; --i)
            platform::RenameFile(Path(kOlderLogs[i - 1]).c_str(), Path(kOlderLogs[i]).c_str());
        platform::RenameFile(m_strLogName.c_str(), Path(kOlderLogs[0]).c_str());
        EnsureLogFile(kCurrentLog);
    }
    for (int i = kOlderLogCount - 1; i >= 0; --i)
        platform::SetFileAttribute(Path(kOlderLogs[i]).c_str(), platform::kFileHidden);
    platform::SetFileAttribute(Path(kCurrentLog).c_str(), platform::kFileSystem);
    return 1;
}

int CLogFile::AddRecord(int code, int kind, int address) {
    Append(code, kind, address, "Success");
    return 1;
}

int CLogFile::AddResult(int code, int address, int result) {
    char text[kResultField.size];
    std::snprintf(text, sizeof text, "Result %d", result);
    Append(code, kLogKindResult, address, text);
    return 1;
}

void CLogFile::Append(int code, int kind, int address, const char* resultText) {
    const size_t count = sizeof kEventKinds / sizeof kEventKinds[0];
    const EventKind& row =
        kind >= 0 && static_cast<size_t>(kind) < count ? kEventKinds[kind] : kUnknownKind;
    size_t at = m_records.size();
    m_records.resize(at + kLogRecordSize, 0);
    uint8_t* record = m_records.data() + at;

    PutText(record, kResultField, resultText);
    char time[28];
    FormatLogTime(platform::GetLocalTime(), time);
    PutText(record, kTimeField, time);

    if (row.lineBreak) PutText(record, kLineBreakField, "\r\n");
    if (row.name == kLineBreakName) PutText(record, kNameField, "\r\n");
    if (row.name == kRtsControlName) {
        const char* name = code == 1 ? "\r\nKernel RTS" : "\r\nSoftware RTS";
        std::memcpy(record + kNameField.at, name, std::strlen(name));
    }
    if (row.name == kCommandName) {
        if (const char* name = CommandName(code))
            std::memcpy(record + kNameField.at, name, kNameField.size);
    }
    if (row.terminal) {
        char terminal[kTerminalField.size];
        std::snprintf(terminal, sizeof terminal, "0x%04X", static_cast<unsigned>(address) & 0xFFFF);
        PutText(record, kTerminalField, terminal);
    }
    PutText(record, kEventField, row.event);

    if (PendingCount() > m_nMaxPending) WriteOut();
}

void CLogFile::WriteOut() {
    if (m_records.empty()) return;
    platform::File file;
    // A batch that cannot be appended whole is dropped: Append leaves no part of it behind.
    if (file.Open(m_strLogName.c_str(), platform::File::kWrite))
        file.Append(m_records.data(), m_records.size());
    m_records.clear();
}

} // namespace qarn
