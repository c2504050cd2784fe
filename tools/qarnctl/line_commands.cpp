// The terminals on the line, their clocks, status, properties and counters, title and beep.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>

#include "arguments.h"
#include "context.h"
#include "qarn/card_text.hpp"
#include "qarn_layouts.h"
#include "whole_line.h"

namespace qarnctl {

namespace {

constexpr int kAdjustTime = 0x01;
constexpr int kSetTimeByHand = 0x0A;
constexpr int kGetStatus = 0x16;
constexpr int kSetProperty = 0x12;
constexpr int kGetProperty = 0x13;
constexpr int kSetSystemProperty = 0x14;
constexpr int kGetSystemProperty = 0x15;
constexpr int kRecordRange = 0x11;
constexpr int kListCounts = 0x17;
constexpr int kCurrentIndex = 0x1E;
constexpr int kBeep = 0x1B;
constexpr int kTitle = 0x86;

template <typename T> T EntryOf(const CommandReply& reply) {
    T entry{};
    if (!reply.data.empty())
        std::memcpy(&entry, reply.data.data(), std::min(sizeof entry, reply.data.size()));
    return entry;
}

void Begin(Report& report, Context& context, int terminal) {
    report.json["command"] = context.commandName;
    report.json["terminal"] = terminal;
    report.Field("terminal", Address(terminal));
}

std::string ClockText(const QarnStatus& status) {
    return IsoDateTime(status.year, status.month, status.day, status.hour, status.minute,
                       status.second);
}

nlohmann::json StatusJson(const QarnStatus& status) {
    return {{"year", status.year},        {"month", status.month},
            {"day", status.day},          {"weekday", status.weekday},
            {"hour", status.hour},        {"minute", status.minute},
            {"second", status.second},    {"value", status.value},
            {"clock", ClockText(status)}, {"weekday_name", WeekdayName(status.weekday)}};
}

// A search always ends through its time-out (result 5): the terminals that answered are in its
// list, and finding one is its success.
int Search(Context& context) {
    if (!context.OpenLine()) return kExitFailure;
    CommandReply reply;
    std::vector<int> found = SearchLine(context, reply);
    Report report;
    report.json["command"] = context.commandName;
    report.SetResult(reply.result);
    report.json["terminals"] = found;
    // Scripts key on these, not on the result: a search always ends on its time-out.
    report.json["found"] = found.size();
    report.json["ok"] = !found.empty();
    report.Field("found", std::to_string(found.size()) +
                              " terminal(s); a search listens until its "
                              "wait time ends, so its result is a time-out");
    report.Field("search", found.empty() ? "failed: no terminal answered"
                                         : "succeeded: the terminals listed answered");
    report.columns = {"terminal"};
    for (int address : found)
        report.rows.push_back({Address(address)});
    if (found.empty()) {
        report.Print(context.out, context.json);
        return context.Fail("no terminal answered");
    }
    report.Print(context.out, context.json);
    return kExitSuccess;
}

struct ClockSetOptions {
    std::string time;
    bool all = false;
};

int ClockSet(Context& context, const ClockSetOptions& options) {
    if (!context.OpenLine()) return kExitFailure;
    Report report;
    report.json["command"] = context.commandName;
    CommandReply reply;
    QarnClock clock{};
    if (options.time.empty()) {
        std::time_t now = std::time(nullptr);
        std::tm local = *std::localtime(&now);
        clock = {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,    local.tm_hour,
                 local.tm_min,         local.tm_sec,     local.tm_wday + 1};
        reply = context.Line().Run(0, kAdjustTime);
    } else {
        DateTime when;
        ParseDateTime(options.time, when);
        clock = {when.date.year, when.date.month, when.date.day,     when.hour,
                 when.minute,    when.second,     Weekday(when.date)};
        reply = context.Line().Run(0, kSetTimeByHand, &clock);
    }
    std::string set =
        IsoDateTime(clock.year, clock.month, clock.day, clock.hour, clock.minute, clock.second);
    report.json["clock"] = set;
    report.json["source"] = options.time.empty() ? "host" : "given";
    report.Field("clock set", set + (options.time.empty() ? " (the host's clock)" : ""));
    report.SetResult(reply.result);
    if (!options.all || !context.Succeeded(reply, {QARN_RESULT_TRANSMITTED}))
        return context.Conclude(report, reply, {QARN_RESULT_TRANSMITTED});

    // Every terminal that answers the search reads its clock back.
    CommandReply search;
    std::vector<int> found = SearchLine(context, search);
    report.json["terminals"] = nlohmann::json::array();
    report.columns = {"terminal", "clock", "result"};
    CommandReply worst = reply;
    if (found.empty()) {
        report.Print(context.out, context.json);
        return context.Fail("no terminal answered the search");
    }
    for (int terminal : found) {
        CommandReply status = context.Line().Run(terminal, kGetStatus);
        QarnStatus entry = EntryOf<QarnStatus>(status);
        bool read = status.result == QARN_RESULT_DATA_READY;
        nlohmann::json row = {{"terminal", terminal},
                              {"result", status.result},
                              {"result_name", qarn_result_text(status.result)}};
        if (read) row["status"] = StatusJson(entry);
        report.json["terminals"].push_back(row);
        report.rows.push_back(
            {Address(terminal), read ? ClockText(entry) : "-", qarn_result_text(status.result)});
        if (!read && worst.result == QARN_RESULT_TRANSMITTED) worst = status;
    }
    if (worst.result != reply.result) report.SetResult(worst.result);
    return context.Conclude(report, worst, {QARN_RESULT_TRANSMITTED});
}

Reading ReadStatus(Context& context, int terminal, bool clockOnly) {
    Reading reading;
    reading.reply = context.Line().Run(terminal, kGetStatus);
    reading.ok = reading.reply.result == QARN_RESULT_DATA_READY;
    Report& report = reading.report;
    Begin(report, context, terminal);
    report.SetResult(reading.reply.result);
    if (reading.ok) {
        QarnStatus status = EntryOf<QarnStatus>(reading.reply);
        report.json["status"] = StatusJson(status);
        report.Field("clock", ClockText(status) + " (" + WeekdayName(status.weekday) + ")");
        if (!clockOnly) report.Field("value", std::to_string(status.value));
    }
    return reading;
}

struct StatusOptions {
    Targets targets;
    double interval = 0;
};

struct SettingOptions {
    std::string terminal;
    std::string set; // ITEM=VALUE
    double interval = 0;
};

struct PropertyOptions {
    Targets targets;
    std::string set; // ITEM=VALUE
    double interval = 0;
};

std::string ParseSetting(const std::string& text, QarnSetting& setting) {
    size_t equals = text.find('=');
    if (equals == std::string::npos) return "'" + text + "' is not of the form ITEM=VALUE";
    long long item = 0, value = 0;
    std::string error = ParseNumber(text.substr(0, equals), 0, 255, item);
    if (error.empty()) error = ParseNumber(text.substr(equals + 1), 0, 0xFFFFFFFFLL, value);
    setting = {static_cast<int32_t>(item), static_cast<uint32_t>(value)};
    return error.empty() ? "" : "setting " + error;
}

int ChangeSetting(Context& context, int terminal, int code, const std::string& text) {
    if (!context.OpenLine()) return kExitFailure;
    QarnSetting setting{};
    ParseSetting(text, setting);
    CommandReply reply = context.Line().Run(terminal, code, &setting);
    Report report;
    Begin(report, context, terminal);
    report.json["item"] = setting.item;
    report.json["value"] = setting.value;
    report.Field("item", std::to_string(setting.item) + " = " + std::to_string(setting.value));
    report.SetResult(reply.result);
    return context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
}

Reading ReadProperty(Context& context, int terminal) {
    Reading reading;
    reading.reply = context.Line().Run(terminal, kGetProperty);
    reading.ok = reading.reply.result == QARN_RESULT_DATA_READY;
    Report& report = reading.report;
    Begin(report, context, terminal);
    report.SetResult(reading.reply.result);
    if (reading.ok) {
        QarnProperty p = EntryOf<QarnProperty>(reading.reply);
        const std::pair<const char*, int32_t> values[] = {
            {"bytes0_1", p.bytes0_1}, {"bytes2_3", p.bytes2_3}, {"bytes4_5", p.bytes4_5},
            {"byte6", p.byte6},       {"byte7", p.byte7},       {"byte8", p.byte8},
            {"byte9", p.byte9},       {"byte10", p.byte10},     {"byte11", p.byte11},
            {"byte12", p.byte12},     {"byte13", p.byte13},     {"byte14", p.byte14},
            {"switch15", p.switch15}, {"switch16", p.switch16}, {"switch17", p.switch17},
            {"byte18", p.byte18},     {"byte19", p.byte19}};
        nlohmann::json property = nlohmann::json::object();
        report.columns = {"item", "field", "value"};
        int item = 0;
        for (const auto& value : values) {
            property[value.first] = value.second;
            bool isSwitch = std::strncmp(value.first, "switch", 6) == 0;
            report.rows.push_back({std::to_string(item++), value.first,
                                   isSwitch ? OnOff(value.second) : std::to_string(value.second)});
        }
        report.json["property"] = property;
    }
    return reading;
}

int ShowProperty(Context& context, const PropertyOptions& options) {
    if (!options.set.empty())
        return ChangeSetting(context, TerminalOf(options.targets.terminal), kSetProperty,
                             options.set);
    return ReadTerminals(context, options.targets, ReadProperty);
}

int ShowSystemProperty(Context& context, const SettingOptions& options) {
    int terminal = TerminalOf(options.terminal);
    if (!options.set.empty())
        return ChangeSetting(context, terminal, kSetSystemProperty, options.set);
    if (!context.OpenLine()) return kExitFailure;
    CommandReply reply = context.Line().Run(terminal, kGetSystemProperty);
    Report report;
    Begin(report, context, terminal);
    report.SetResult(reply.result);
    if (reply.result == QARN_RESULT_DATA_READY) {
        QarnSystemProperty p = EntryOf<QarnSystemProperty>(reply);
        std::string version = FieldText(p.version, sizeof p.version);
        std::string text1 = FieldText(p.text1, sizeof p.text1);
        std::string text2 = FieldText(p.text2, sizeof p.text2);
        report.json["system_property"] = {
            {"version", version},   {"value", p.value},       {"line_speed", p.line_speed},
            {"switch9", p.switch9}, {"switch10", p.switch10}, {"text1", text1},
            {"text2", text2}};
        report.Field("version", version);
        report.Field("value", std::to_string(p.value));
        report.Field("line speed", std::to_string(p.line_speed) + " baud");
        report.Field("switch9", OnOff(p.switch9));
        report.Field("switch10", OnOff(p.switch10));
        report.Field("text1", "\"" + text1 + "\"");
        report.Field("text2", "\"" + text2 + "\"");
    }
    return context.Conclude(report, reply, {QARN_RESULT_DATA_READY});
}

int ShowCounters(Context& context, int terminal) {
    if (!context.OpenLine()) return kExitFailure;
    QarnRecordRangeRequest all{};
    CommandReply range = context.Line().Run(terminal, kRecordRange, &all);
    CommandReply index = context.Line().Run(terminal, kCurrentIndex);
    CommandReply lists = context.Line().Run(terminal, kListCounts);
    Report report;
    Begin(report, context, terminal);
    CommandReply decisive = range;
    for (const CommandReply* reply : {&range, &index, &lists})
        if (!context.Succeeded(*reply, {QARN_RESULT_DATA_READY})) {
            decisive = *reply;
            break;
        }
    report.SetResult(decisive.result);
    if (range.result == QARN_RESULT_DATA_READY) {
        QarnRecordRange r = EntryOf<QarnRecordRange>(range);
        report.json["records"] = {{"first", r.first}, {"count", r.count}};
        report.Field("records",
                     std::to_string(r.count) + " from number " + std::to_string(r.first));
    }
    if (index.result == QARN_RESULT_DATA_READY) {
        QarnRecordIndex i = EntryOf<QarnRecordIndex>(index);
        report.json["record_index"] = {{"index", i.index}};
        report.Field("record index", std::to_string(i.index));
    }
    if (lists.result == QARN_RESULT_DATA_READY) {
        QarnListCounts c = EntryOf<QarnListCounts>(lists);
        report.json["lists"] = {{"white", c.white}, {"black", c.black}};
        report.Field("white list", std::to_string(c.white) + " card(s)");
        report.Field("black list", std::to_string(c.black) + " card(s)");
    }
    return context.Conclude(report, decisive, {QARN_RESULT_DATA_READY});
}

// TEXT, UTF-8, in up to three lines of 16 bytes of GB2312: '|' or a newline starts a line, and
// a line longer than 16 bytes goes on in the next, never splitting a two-byte character.
std::string LayOutTitle(const std::string& text, QarnTitle& title) {
    std::memset(&title, ' ', sizeof title);
    auto bytes = qarn::encode_text(text, qarn::TextCode::gb2312);
    if (!bytes) return "the title '" + text + "' has a character with no form in GB2312";
    size_t line = 0, column = 0;
    for (size_t at = 0; at < bytes->size(); ++at) {
        char c = (*bytes)[at];
        if (c == '|' || c == '\n') {
            ++line;
            column = 0;
            continue;
        }
        size_t width = static_cast<unsigned char>(c) >= 0x80 ? 2 : 1;
        if (column + width > QARN_TITLE_WIDTH) {
            ++line;
            column = 0;
        }
        if (line >= QARN_TITLE_LINES)
            return "the title does not fit in 3 lines of 16 bytes (8 Chinese characters)";
        std::memcpy(&title.line[line][column], &(*bytes)[at], width);
        column += width;
        at += width - 1;
    }
    return "";
}

int Title(Context& context, int terminal, const std::string& text) {
    if (!context.OpenLine()) return kExitFailure;
    QarnTitle title;
    LayOutTitle(text, title);
    CommandReply reply = context.Line().Run(terminal, kTitle, &title);
    Report report;
    Begin(report, context, terminal);
    nlohmann::json lines = nlohmann::json::array();
    for (const auto& line : title.line) {
        std::string shown = qarn::decode_text({line, QARN_TITLE_WIDTH}, qarn::TextCode::gb2312);
        lines.push_back(shown);
        report.Field("line", "\"" + shown + "\"");
    }
    report.json["lines"] = lines;
    report.SetResult(reply.result);
    return context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
}

int Beep(Context& context, int terminal, int times) {
    if (!context.OpenLine()) return kExitFailure;
    QarnValue value = {times};
    CommandReply reply = context.Line().Run(terminal, kBeep, &value);
    Report report;
    Begin(report, context, terminal);
    report.json["times"] = times;
    report.SetResult(reply.result);
    return context.Conclude(report, reply, {QARN_RESULT_ACKNOWLEDGED});
}

CLI::Option* AddTerminal(CLI::App* command, std::string& terminal) {
    return command->add_option("TERMINAL", terminal, "terminal address, 0 to 65535 (0x.. hex)")
        ->required()
        ->check(AddressValidator());
}

// A status read, of the clock alone or with the status value.
void AddStatusCommand(CLI::App* command, Action& chosen, bool clockOnly) {
    auto options = std::make_shared<StatusOptions>();
    AddTargets(command, options->targets);
    AddInterval(command, options->interval);
    command->callback([&chosen, options, clockOnly] {
        chosen = Repeated(options->interval, [options, clockOnly](Context& c) {
            return ReadTerminals(c, options->targets, [clockOnly](Context& c, int terminal) {
                return ReadStatus(c, terminal, clockOnly);
            });
        });
    });
}

} // namespace

void AddLineCommands(CLI::App& app, Action& chosen) {
    auto searchInterval = std::make_shared<double>(0);
    CLI::App* search = app.add_subcommand("search", "list the terminals that answer on the line");
    AddInterval(search, *searchInterval);
    search->callback([&chosen, searchInterval] { chosen = Repeated(*searchInterval, Search); });

    CLI::App* clock = app.add_subcommand("clock", "set or show the terminals' clocks");
    clock->require_subcommand(1);
    auto set = std::make_shared<ClockSetOptions>();
    CLI::App* clockSet = clock->add_subcommand(
        "set", "set every terminal's clock (a broadcast) to the host's clock or to --time");
    clockSet->add_option("--time", set->time, "YYYY-MM-DDTHH:MM[:SS] instead of the host's clock")
        ->check(DateTimeValidator());
    clockSet->add_flag("--all", set->all,
                       "then search the line and read every terminal's clock back");
    clockSet->callback(
        [&chosen, set] { chosen = [set](Context& c) { return ClockSet(c, *set); }; });
    AddStatusCommand(clock->add_subcommand("show", "show the clocks of terminals"), chosen, true);
    AddStatusCommand(app.add_subcommand("status", "the terminals' clocks and status values"),
                     chosen, false);

    auto settingCheck = CLI::Validator(
        [](std::string& text) {
            QarnSetting setting;
            return ParseSetting(text, setting);
        },
        "ITEM=VALUE");
    auto property = std::make_shared<PropertyOptions>();
    CLI::App* propertyCommand =
        app.add_subcommand("property", "the terminals' property blocks (or set one item)");
    AddTargets(propertyCommand, property->targets);
    propertyCommand
        ->add_option("--set", property->set, "set item ITEM (0 to 16) to VALUE on one TERMINAL")
        ->check(settingCheck);
    AddInterval(propertyCommand, property->interval);
    propertyCommand->callback([&chosen, property] {
        bool many = property->targets.all || !property->targets.list.empty();
        if (!property->set.empty() && (many || property->interval > 0))
            throw CLI::ValidationError("--set", "sets one TERMINAL's item, once");
        chosen = Repeated(property->interval,
                          [property](Context& c) { return ShowProperty(c, *property); });
    });
    auto system = std::make_shared<SettingOptions>();
    CLI::App* systemCommand = app.add_subcommand(
        "system-property", "a terminal's version, line speed and texts (or set one item)");
    AddTerminal(systemCommand, system->terminal);
    CLI::Option* systemSet =
        systemCommand->add_option("--set", system->set, "set item ITEM (0 to 5) to VALUE")
            ->check(settingCheck);
    AddInterval(systemCommand, system->interval);
    systemCommand->get_option("--interval")->excludes(systemSet);
    systemCommand->callback([&chosen, system] {
        chosen = Repeated(system->interval,
                          [system](Context& c) { return ShowSystemProperty(c, *system); });
    });

    auto counters = std::make_shared<std::pair<std::string, double>>("", 0);
    CLI::App* countersCommand =
        app.add_subcommand("counters", "record count and index, white and black list sizes");
    AddTerminal(countersCommand, counters->first);
    AddInterval(countersCommand, counters->second);
    countersCommand->callback([&chosen, counters] {
        chosen = Repeated(counters->second, [counters](Context& c) {
            return ShowCounters(c, TerminalOf(counters->first));
        });
    });

    auto title = std::make_shared<std::pair<std::string, std::string>>();
    CLI::App* titleCommand = app.add_subcommand(
        "title", "put TEXT on the terminal's display: 3 lines of 16 bytes, '|' starts a line");
    AddTerminal(titleCommand, title->first);
    titleCommand->add_option("TEXT", title->second, "the title text")
        ->required()
        ->check(CLI::Validator(
            [](std::string& text) {
                QarnTitle layout;
                return LayOutTitle(text, layout);
            },
            "TEXT"));
    titleCommand->callback([&chosen, title] {
        chosen = [title](Context& c) { return Title(c, TerminalOf(title->first), title->second); };
    });

    auto beep = std::make_shared<std::pair<std::string, int>>("", 1);
    CLI::App* beepCommand = app.add_subcommand("beep", "make the terminal beep");
    AddTerminal(beepCommand, beep->first);
    beepCommand->add_option("--times", beep->second, "how many beeps, 1 to 255 (default 1)")
        ->check(CLI::Range(1, 255));
    beepCommand->callback([&chosen, beep] {
        chosen = [beep](Context& c) { return Beep(c, TerminalOf(beep->first), beep->second); };
    });
}

} // namespace qarnctl
