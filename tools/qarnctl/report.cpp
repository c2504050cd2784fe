#include "report.h"

#include <algorithm>
#include <cstdio>

#include "qarn_layouts.h"

namespace qarnctl {

void Report::SetResult(int result) {
    json["result"] = result;
    json["result_name"] = qarn_result_text(result);
    Field("result", std::to_string(result) + " (" + qarn_result_text(result) + ")");
}

void Report::Print(std::ostream& out, bool asJson) const {
    if (asJson) {
        out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    size_t width = 0;
    for (const auto& field : fields)
        width = std::max(width, field.first.size());
    for (const auto& field : fields)
        out << field.first << std::string(width + 2 - field.first.size(), ' ') << field.second
            << "\n";
    if (columns.empty()) return;
    std::vector<size_t> widths;
    for (const std::string& column : columns)
        widths.push_back(column.size());
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    auto printRow = [&](const std::vector<std::string>& cells) {
        std::string line;
        for (size_t i = 0; i < cells.size() && i < widths.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) line += std::string(widths[i] + 2 - cells[i].size(), ' ');
        }
        out << line << "\n";
    };
    if (!fields.empty()) out << "\n";
    printRow(columns);
    for (const auto& row : rows)
        printRow(row);
}

std::string IsoDate(int year, int month, int day) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
    return text;
}

std::string IsoDateTime(int year, int month, int day, int hour, int minute, int second) {
    char text[48];
    std::snprintf(text, sizeof text, "T%02d:%02d:%02d", hour, minute, second);
    return IsoDate(year, month, day) + text;
}

std::string Money(int64_t hundredths) {
    char text[48];
    int64_t magnitude = hundredths < 0 ? -hundredths : hundredths;
    std::snprintf(text, sizeof text, "%s%lld.%02lld", hundredths < 0 ? "-" : "",
                  static_cast<long long>(magnitude / 100), static_cast<long long>(magnitude % 100));
    return text;
}

std::string Hex(const uint8_t* bytes, size_t count, const char* separator) {
    std::string text;
    char pair[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        if (i > 0) text += separator;
        text += pair;
    }
    return text;
}

std::string Address(int address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", address & 0xFFFF);
    return text;
}

std::string OnOff(int value) {
    return value ? "on" : "off";
}

const char* WeekdayName(int weekday) {
    static const char* const kNames[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                         "Thursday", "Friday", "Saturday"};
    return weekday >= 1 && weekday <= 7 ? kNames[weekday - 1] : "no weekday";
}

std::string FieldText(const char* field, size_t size) {
    std::string text(field, size);
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    for (char& c : text)
        if (c == '\0') c = ' ';
    return text;
}

} // namespace qarnctl
