// Collecting a terminal's records: the index range of the dates asked, then the records by
// number in batches, until the range ends or the terminal has no more.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <memory>

#include "arguments.h"
#include "context.h"
#include "progress.h"
#include "qarn.h"
#include "qarn_layouts.h"

namespace qarnctl {

namespace {

constexpr int kRecordRange = 0x11;
constexpr int kRecords = 0x10;
constexpr int kMostPerRequest = 255;

struct RecordOptions {
    std::string terminal;
    std::string from, to;
    std::string csv;
    int batch = 16;
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

struct Collected {
    Report report;
    nlohmann::json list = nlohmann::json::array();
    std::vector<std::vector<std::string>> csv;
};

// One record of either form: its own fields (as JSON, and as texts for the table and the CSV)
// after its number, then the time stamp, the flags and the terminal that both forms end in.
template <class Entry>
void AddRecord(Collected& out, int number, const Entry& r, nlohmann::json fields,
               const std::vector<std::string>& texts) {
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
    std::vector<std::string> csv = row;
    row.insert(row.end(), {time, Flags(r.flag_a, r.flag_b), Address(r.terminal)});
    csv.insert(csv.end(), {time, std::to_string(r.flag_a), std::to_string(r.flag_b),
                           std::to_string(r.terminal)});
    out.report.rows.push_back(row);
    out.csv.push_back(csv);
}

void AddShort(Collected& out, int number, const QarnRecord& r) {
    uint32_t identifier = static_cast<uint32_t>(r.identifier);
    AddRecord(out, number, r, {{"identifier", identifier}}, {std::to_string(identifier)});
}

void AddLong(Collected& out, int number, const QarnLongRecord& r) {
    std::string code = FieldText(r.code, sizeof r.code);
    AddRecord(out, number, r,
              {{"code", code},
               {"value24", r.value24},
               {"value32", r.value32},
               {"value16", r.value16},
               {"value8", r.value8}},
              {code, std::to_string(r.value24), std::to_string(r.value32),
               std::to_string(r.value16), std::to_string(r.value8)});
}

// Adds the entries of one reply; returns how many.
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

bool WriteCsv(const std::string& path, Form form, const Collected& out) {
    std::ofstream file(path, std::ios::trunc);
    if (form == Form::kLong)
        file << "number,code,value24,value32,value16,value8,time,flag_a,flag_b,terminal\n";
    else
        file << "number,identifier,time,flag_a,flag_b,terminal\n";
    for (const auto& row : out.csv) {
        for (size_t i = 0; i < row.size(); ++i)
            file << (i ? "," : "") << CsvField(row[i]);
        file << "\n";
    }
    return static_cast<bool>(file);
}

int Collect(Context& context, const RecordOptions& options) {
    if (!options.csv.empty() && !std::ofstream(options.csv, std::ios::app)) {
        context.err << "qarnctl: --csv: cannot write " << options.csv << "\n";
        return kExitUsage;
    }
    Date from{2000, 1, 1}, to{2255, 12, 31};
    if (!options.from.empty()) ParseDate(options.from, from);
    if (!options.to.empty()) ParseDate(options.to, to);
    if (!context.OpenLine()) return kExitFailure;
    int terminal = TerminalOf(options.terminal);
    QarnRecordRangeRequest request = {!options.from.empty() || !options.to.empty(),
                                      from.year,
                                      from.month,
                                      from.day,
                                      to.year,
                                      to.month,
                                      to.day};
    CommandReply range = context.Line().Run(terminal, kRecordRange, &request);
    Collected out;
    Report& report = out.report;
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.Field("terminal", Address(terminal));
    if (request.use_dates) {
        report.json["from"] = IsoDate(from.year, from.month, from.day);
        report.json["to"] = IsoDate(to.year, to.month, to.day);
        report.Field("dates", IsoDate(from.year, from.month, from.day) + " to " +
                                  IsoDate(to.year, to.month, to.day));
    }
    if (range.result != QARN_RESULT_DATA_READY) {
        report.SetResult(range.result);
        return context.Conclude(report, range, {QARN_RESULT_DATA_READY});
    }
    QarnRecordRange found;
    std::memcpy(&found, range.data.data(), sizeof found);
    report.json["first"] = found.first;
    report.json["count"] = found.count;

    Form form = Form::kUnknown;
    CommandReply last = range;
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
    report.json["form"] = form == Form::kLong ? "long" : "short";
    report.json["records"] = out.list;
    report.Field("records", std::to_string(collected) + " of " + std::to_string(found.count) +
                                " from number " + std::to_string(found.first));
    if (form == Form::kLong)
        report.columns = {"number", "code", "value24", "value32", "value16",
                          "value8", "time", "flags",   "terminal"};
    else
        report.columns = {"number", "identifier", "time", "flags", "terminal"};
    if (!options.csv.empty() && !WriteCsv(options.csv, form, out))
        return context.Fail("cannot write " + options.csv);
    return context.Conclude(report, last, {QARN_RESULT_DATA_READY, QARN_RESULT_NO_RECORDS});
}

} // namespace

void AddRecordCommands(CLI::App& app, Action& chosen) {
    auto options = std::make_shared<RecordOptions>();
    CLI::App* records = app.add_subcommand(
        "records", "collect a terminal's records, all of them or those of a date range");
    records->add_option("TERMINAL", options->terminal, "terminal address, 0 to 65535")
        ->required()
        ->check(AddressValidator());
    records->add_option("--from", options->from, "first day, YYYY-MM-DD")->check(DateValidator());
    records->add_option("--to", options->to, "last day, YYYY-MM-DD")->check(DateValidator());
    records->add_option("--csv", options->csv, "also write the records to this CSV file");
    records->add_option("--batch", options->batch, "records asked for at a time, 1 to 255")
        ->check(CLI::Range(1, kMostPerRequest));
    records->callback(
        [&chosen, options] { chosen = [options](Context& c) { return Collect(c, *options); }; });
}

} // namespace qarnctl
