// Collecting terminals' records: the index range of the dates asked, then the records by number
// in batches, until the range ends or the terminal has no more; into one CSV file for them all.
#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <memory>

#include "arguments.h"
#include "context.h"
#include "progress.h"
#include "qarn.h"
#include "qarn_layouts.h"
#include "whole_line.h"

namespace qarnctl {

namespace {

constexpr int kRecordRange = 0x11;
constexpr int kRecords = 0x10;
constexpr int kMostPerRequest = 255;

struct RecordOptions {
    Targets targets;
    std::string from, to;
    std::string csv;
    int batch = 16;
    double interval = 0;
};

enum class Form { kUnknown, kShort, kLong };

// The entries' form as the library decided it: the size alone cannot tell (120 bytes are 3 short
// records or 2 long ones).
Form FormOf(int recordForm) {
    if (recordForm == QARN_RECORDS_SHORT) return Form::kShort;
    return recordForm == QARN_RECORDS_LONG ? Form::kLong : Form::kUnknown;
}

std::string Flags(int flagA, int flagB) {
    if (flagA && flagB) return "A B";
    if (flagA) return "A";
    return flagB ? "B" : "-";
}

// The CSV file's columns, one set for both forms: a record leaves the cells of the other
// form's fields empty.
const char kCsvHeader[] =
    "terminal,number,form,identifier,code,time,value24,value32,value16,value8,flag_a,flag_b";
using CsvRows = std::vector<std::vector<std::string>>;

// A record's cells of the CSV columns identifier, code, value24, value32, value16 and value8.
using FormCells = std::array<std::string, 6>;

struct Collected {
    Report& report;
    nlohmann::json list = nlohmann::json::array();
    CsvRows& csv;
};

// One record of either form: its own fields (as JSON, and as texts for the table and the CSV)
// after its number, then the time stamp, the flags and the terminal that both forms end in.
template <class Entry>
void AddRecord(Collected& out, int number, const Entry& r, nlohmann::json fields,
               const std::vector<std::string>& texts, const FormCells& cells) {
    std::string time = IsoDateTime(r.year, r.month, r.day, r.hour, r.minute, r.second);
    fields.update({{"number", number},
                   {"year", r.year},
                   {"month", r.month},
                   {"day", r.day},
                   {"hour", r.hour},
                   {"minute", r.minute},
                   {"second", r.second},
                   {"flag_a", r.flag_a},
                   {"flag_b", r.flag_b},
                   {"terminal", r.terminal},
                   {"time", time}});
    out.list.push_back(fields);
    std::vector<std::string> row = {std::to_string(number)};
    row.insert(row.end(), texts.begin(), texts.end());
    row.insert(row.end(), {time, Flags(r.flag_a, r.flag_b), Address(r.terminal)});
    out.report.rows.push_back(row);
    out.csv.push_back({std::to_string(r.terminal), std::to_string(number),
                       cells[0].empty() ? "long" : "short", cells[0], cells[1], time, cells[2],
                       cells[3], cells[4], cells[5], std::to_string(r.flag_a),
                       std::to_string(r.flag_b)});
}

void AddShort(Collected& out, int number, const QarnRecord& r) {
    std::string identifier = std::to_string(static_cast<uint32_t>(r.identifier));
    AddRecord(out, number, r, {{"identifier", static_cast<uint32_t>(r.identifier)}}, {identifier},
              {identifier, "", "", "", "", ""});
}

void AddLong(Collected& out, int number, const QarnLongRecord& r) {
    std::string code = FieldText(r.code, sizeof r.code);
    std::vector<std::string> texts = {code, std::to_string(r.value24), std::to_string(r.value32),
                                      std::to_string(r.value16), std::to_string(r.value8)};
    AddRecord(out, number, r,
              {{"code", code},
               {"value24", r.value24},
               {"value32", r.value32},
               {"value16", r.value16},
               {"value8", r.value8}},
              texts, {"", texts[0], texts[1], texts[2], texts[3], texts[4]});
}

// Adds the entries of one reply, numbered from the first asked for; returns how many.
int AddEntries(Collected& out, Form form, int number, const std::vector<uint8_t>& data) {
    size_t size = form == Form::kShort ? sizeof(QarnRecord) : sizeof(QarnLongRecord);
    int count = static_cast<int>(data.size() / size);
    for (int i = 0; i < count; ++i) {
        if (form == Form::kShort) {
            QarnRecord record;
            std::memcpy(&record, data.data() + i * size, size);
            AddShort(out, number + i, record);
        } else {
            QarnLongRecord record;
            std::memcpy(&record, data.data() + i * size, size);
            AddLong(out, number + i, record);
        }
    }
    return count;
}

std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

bool WriteCsv(const std::string& path, const CsvRows& rows) {
    std::ofstream file(path, std::ios::trunc);
    file << kCsvHeader << "\n";
    for (const auto& row : rows) {
        for (size_t i = 0; i < row.size(); ++i)
            file << (i ? "," : "") << CsvField(row[i]);
        file << "\n";
    }
    return static_cast<bool>(file);
}

// One terminal's records: the index range of the dates asked, then the records by number.
Reading CollectFrom(Context& context, const RecordOptions& options, int terminal, CsvRows& csv) {
    Date from{2000, 1, 1}, to{2255, 12, 31};
    if (!options.from.empty()) ParseDate(options.from, from);
    if (!options.to.empty()) ParseDate(options.to, to);
    QarnRecordRangeRequest request = {!options.from.empty() || !options.to.empty(),
                                      from.year,
                                      from.month,
                                      from.day,
                                      to.year,
                                      to.month,
                                      to.day};
    Reading reading;
    reading.reply = context.Line().Run(terminal, kRecordRange, &request);
    Report& report = reading.report;
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.Field("terminal", Address(terminal));
    if (request.use_dates) {
        report.json["from"] = IsoDate(from.year, from.month, from.day);
        report.json["to"] = IsoDate(to.year, to.month, to.day);
        report.Field("dates", IsoDate(from.year, from.month, from.day) + " to " +
                                  IsoDate(to.year, to.month, to.day));
    }
    if (reading.reply.result != QARN_RESULT_DATA_READY) {
        report.SetResult(reading.reply.result);
        return reading;
    }
    QarnRecordRange found;
    std::memcpy(&found, reading.reply.data.data(), sizeof found);
    report.json["first"] = found.first;
    report.json["count"] = found.count;

    Collected out{report, nlohmann::json::array(), csv};
    Form form = Form::kUnknown;
    CommandReply& last = reading.reply;
    int collected = 0;
    {
        Progress progress(context.err, context.ShowProgress() && found.count > 0, "records",
                          found.count);
        while (collected < found.count) {
            int asked = std::min({options.batch, found.count - collected, kMostPerRequest});
            QarnRecordRequest batch = {found.first + collected, asked};
            last = context.Line().Run(terminal, kRecords, &batch);
            if (last.result != QARN_RESULT_DATA_READY) break;
            form = FormOf(last.recordForm);
            int got = form == Form::kUnknown ? 0 : AddEntries(out, form, batch.first, last.data);
            if (got == 0) {
                last.result = QARN_RESULT_WRONG_REPLY;
                break;
            }
            collected += got;
            progress.Update(collected);
        }
    }
    report.SetResult(last.result);
    reading.ok = last.started &&
                 (last.result == QARN_RESULT_DATA_READY || last.result == QARN_RESULT_NO_RECORDS);
    report.json["form"] = form == Form::kLong ? "long" : "short";
    report.json["records"] = out.list;
    report.Field("records", std::to_string(collected) + " of " + std::to_string(found.count) +
                                " from number " + std::to_string(found.first));
    if (form == Form::kLong)
        report.columns = {"number", "code", "value24", "value32", "value16",
                          "value8", "time", "flags",   "terminal"};
    else
        report.columns = {"number", "identifier", "time", "flags", "terminal"};
    return reading;
}

int Collect(Context& context, const RecordOptions& options) {
    if (!options.csv.empty() && !std::ofstream(options.csv, std::ios::app)) {
        context.err << "qarnctl: --csv: cannot write " << options.csv << "\n";
        return kExitUsage;
    }
    CsvRows csv;
    int status = ReadTerminals(context, options.targets, [&](Context& c, int terminal) {
        return CollectFrom(c, options, terminal, csv);
    });
    if (!options.csv.empty() && context.LineOpen() && !WriteCsv(options.csv, csv))
        return context.Fail("cannot write " + options.csv);
    return status;
}

} // namespace

void AddRecordCommands(CLI::App& app, Action& chosen) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* records = app.add_subcommand(
        "records", "collect the terminals' records, all of them or those of a date range");
    AddTargets(records, options->targets);
    records->add_option("--from", options->from, "first day, YYYY-MM-DD")->check(DateValidator());
    records->add_option("--to", options->to, "last day, YYYY-MM-DD")->check(DateValidator());
    records->add_option("--csv", options->csv,
                        "also write the records, of every terminal read, to this CSV file");
    records->add_option("--batch", options->batch, "records asked for at a time, 1 to 255")
        ->check(CLI::Range(1, kMostPerRequest));
    AddInterval(records, options->interval);
    records->callback([&chosen, options] {
        chosen =
            Repeated(options->interval, [options](Context& c) { return Collect(c, *options); });
    });
}

} // namespace qarnctl
