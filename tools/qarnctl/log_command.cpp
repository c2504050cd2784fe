// The communication log files as a table: a 254-byte header, then 89-byte records of command
// name, terminal, event, result and time stamp.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>

#include "arguments.h"
#include "context.h"
#include "qarn_layouts.h"

namespace qarnctl {

namespace {

constexpr size_t kHeaderSize = 254;
constexpr size_t kRecordSize = 89;
constexpr size_t kTitleOffset = 50;
constexpr char kTitleMark[] = "System Communication Log File";

struct FieldSpan {
    size_t offset, size;
};
constexpr FieldSpan kName = {3, 22};
constexpr FieldSpan kTerminal = {25, 10};
constexpr FieldSpan kEvent = {35, 16};
constexpr FieldSpan kResult = {51, 10};
constexpr FieldSpan kTime = {61, 28};

struct EventKind {
    int kind;
    const char* event; // as the record holds it
    const char* name;
};

const EventKind kKinds[] = {
    {0, "Code Down_Frm", "frame coded"},
    {1, "Send Down_Frm", "frame sent"},
    {2, "Recv Up_Frm", "reply received"},
    {3, "Decode Up_Frm", "reply decoded"},
    {4, "Decode Down_Frm", "downlink decoded"},
    {5, "Code Up_Frm", "uplink coded"},
    {6, "Send Up_Frm", "frame sent, no command yet"},
    {7, "\r\nRecv Down_Frm", "downlink received"},
    {8, "Port Opened", "port opened"},  // its name field tells who switches RTS
    {9, "Cmd Result", "command ended"}, // its result field holds "Result N"
};

// A text field up to its first zero byte, without line breaks and surrounding spaces.
std::string Text(const std::string& record, FieldSpan span) {
    std::string field = record.substr(span.offset, span.size);
    field = field.substr(0, field.find('\0'));
    std::string clean;
    for (char c : field)
        if (c != '\r' && c != '\n') clean += c;
    size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

// "2026.12.09  16:46:35.530", as the log writes its local time, in ISO 8601:
// "2026-12-09T16:46:35.530"; a time stamp of another form as it stands.
std::string IsoTime(const std::string& stamp) {
    int year, month, day, hour, minute, second, milliseconds;
    char end;
    if (std::sscanf(stamp.c_str(), "%d.%d.%d %d:%d:%d.%d%c", &year, &month, &day, &hour, &minute,
                    &second, &milliseconds, &end) != 7)
        return stamp;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", year, month, day, hour,
                  minute, second, milliseconds);
    return text;
}

const EventKind* KindOf(const std::string& record) {
    std::string event = record.substr(kEvent.offset, kEvent.size);
    event = event.substr(0, event.find('\0'));
    for (const EventKind& kind : kKinds)
        if (event == kind.event) return &kind;
    return nullptr;
}

int ShowLog(Context& context, const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string bytes(std::istreambuf_iterator<char>(file), {});
    if (bytes.size() < kHeaderSize || bytes.compare(kTitleOffset, 40, std::string(40, '\0')) == 0 ||
        bytes.substr(kTitleOffset, 40).find(kTitleMark) == std::string::npos) {
        context.err << "qarnctl: FILE: " << path << " is not a communication log\n";
        return kExitUsage;
    }
    Report report;
    report.json["command"] = context.commandName;
    report.json["file"] = path;
    nlohmann::json records = nlohmann::json::array();
    size_t count = (bytes.size() - kHeaderSize) / kRecordSize;
    size_t trailing = (bytes.size() - kHeaderSize) % kRecordSize;
    for (size_t i = 0; i < count; ++i) {
        std::string record = bytes.substr(kHeaderSize + i * kRecordSize, kRecordSize);
        const EventKind* kind = KindOf(record);
        std::string event = Text(record, kEvent);
        std::string result = Text(record, kResult);
        std::string time = Text(record, kTime);
        nlohmann::json entry = {{"time", IsoTime(time)},
                                {"kind", kind ? kind->kind : -1},
                                {"kind_name", kind ? kind->name : "unknown"},
                                {"event", event},
                                {"command", Text(record, kName)},
                                {"terminal", Text(record, kTerminal)},
                                {"result", result}};
        int code = 0;
        if (kind && kind->kind == 9 && std::sscanf(result.c_str(), "Result %d", &code) == 1) {
            result += std::string(" (") + qarn_result_text(code) + ")";
            entry["result_code"] = code;
            entry["result_name"] = qarn_result_text(code);
        }
        records.push_back(entry);
        report.rows.push_back(
            {time, entry["kind_name"], entry["command"], entry["terminal"], result});
    }
    report.json["records"] = records;
    report.json["trailing_bytes"] = trailing;
    report.Field("file", path);
    report.Field("records",
                 std::to_string(count) + (trailing ? " (and " + std::to_string(trailing) +
                                                         " bytes of an unfinished record)"
                                                   : ""));
    report.columns = {"time", "kind", "command", "terminal", "result"};
    report.Print(context.out, context.json);
    return kExitSuccess;
}

} // namespace

void AddLogCommands(CLI::App& app, Action& chosen) {
    auto path = std::make_shared<std::string>();
    CLI::App* show = app.add_subcommand("log", "communication log files")
                         ->require_subcommand(1)
                         ->add_subcommand("show", "show a CommLog file as a table");
    show->add_option("FILE", *path, "a CommLog*.log file")->required()->check(ReadableValidator());
    show->callback([&chosen, path] { chosen = [path](Context& c) { return ShowLog(c, *path); }; });
}

} // namespace qarnctl
