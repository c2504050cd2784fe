// What a command found, in two views: the JSON document of --json, and the readable table.
#pragma once

#include <nlohmann/json.hpp>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace qarnctl {

struct Report {
    nlohmann::json json = nlohmann::json::object();
    // The table view: labelled lines first, then rows under column headings.
    std::vector<std::pair<std::string, std::string>> fields;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;

    // The command's result code, its name, in both views.
    void SetResult(int result);
    void Field(const std::string& label, const std::string& text) {
        fields.emplace_back(label, text);
    }

    void Print(std::ostream& out, bool asJson) const;
};

// Text of the views.
std::string IsoDate(int year, int month, int day);
std::string IsoDateTime(int year, int month, int day, int hour, int minute, int second);
std::string Money(int64_t hundredths);
std::string Hex(const uint8_t* bytes, size_t count, const char* separator = " ");
std::string Address(int address); // 0x0002
std::string OnOff(int value);
const char* WeekdayName(int weekday); // 1 Sunday to 7 Saturday
// A fixed-width text field without terminator, trailing NULs dropped.
std::string FieldText(const char* field, size_t size);

} // namespace qarnctl
