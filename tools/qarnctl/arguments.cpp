#include "arguments.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace qarnctl {

namespace {

constexpr int kFirstYear = 2000;
constexpr int kLastYear = 2255;

bool IsLeap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Exactly `digits` decimal digits at text[at].
bool ReadDigits(const std::string& text, size_t at, size_t digits, int& value) {
    if (at + digits > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + digits; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

CLI::Validator Make(const std::string& name, std::function<std::string(std::string&)> check) {
    return CLI::Validator(std::move(check), name);
}

} // namespace

std::string ParseNumber(const std::string& text, long long low, long long high, long long& value) {
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])))
        return "'" + text + "' is not a number";
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || end == text.c_str()) return "'" + text + "' is not a number";
    if (value < low || value > high)
        return text + " is out of " + std::to_string(low) + " to " + std::to_string(high);
    return "";
}

std::string ParseAddress(const std::string& text, int& address) {
    long long value = 0;
    std::string error = ParseNumber(text, 0, 0xFFFF, value);
    if (!error.empty()) return "terminal address " + error;
    address = static_cast<int>(value);
    return "";
}

std::string ParseDate(const std::string& text, Date& date) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' ||
        !ReadDigits(text, 0, 4, date.year) || !ReadDigits(text, 5, 2, date.month) ||
        !ReadDigits(text, 8, 2, date.day))
        return "'" + text + "' is not a date of the form YYYY-MM-DD";
    if (date.year < kFirstYear || date.year > kLastYear)
        return "the year of " + text + " is out of " + std::to_string(kFirstYear) + " to " +
               std::to_string(kLastYear);
    if (date.month < 1 || date.month > 12 || date.day < 1 ||
        date.day > DaysInMonth(date.year, date.month))
        return "the date " + text + " does not exist";
    return "";
}

std::string ParseDateTime(const std::string& text, DateTime& when) {
    std::string error = ParseDate(text.substr(0, 10), when.date);
    if (!error.empty()) return error;
    if (text.size() == 10) return "";
    bool withSeconds = text.size() == 19;
    if ((text.size() != 16 && !withSeconds) || (text[10] != 'T' && text[10] != ' ') ||
        text[13] != ':' || !ReadDigits(text, 11, 2, when.hour) ||
        !ReadDigits(text, 14, 2, when.minute) ||
        (withSeconds && (text[16] != ':' || !ReadDigits(text, 17, 2, when.second))))
        return "'" + text + "' is not a time of the form YYYY-MM-DDTHH:MM[:SS]";
    if (when.hour > 23 || when.minute > 59 || when.second > 59)
        return "the time " + text + " does not exist";
    return "";
}

std::string ParseHex(const std::string& text, std::vector<uint8_t>& bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return "'" + std::string(1, c) + "' is not a hexadecimal digit";
        digits += c;
    }
    if (digits.size() % 2 != 0) return "odd number of hexadecimal digits";
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return "";
}

std::string ParseMoney(const std::string& text, int32_t& hundredths) {
    size_t point = text.find('.');
    std::string whole = text.substr(0, point);
    std::string cents = point == std::string::npos ? "" : text.substr(point + 1);
    bool digitsOnly =
        !whole.empty() && cents.size() <= 2 && (point == std::string::npos || !cents.empty());
    for (char c : whole + cents)
        digitsOnly = digitsOnly && std::isdigit(static_cast<unsigned char>(c));
    if (!digitsOnly || whole.size() > 8)
        return "'" + text + "' is not an amount of the form 12.34 (up to 99999999.99)";
    while (cents.size() < 2)
        cents += '0';
    hundredths = static_cast<int32_t>(std::stoll(whole) * 100 + std::stoi(cents));
    return "";
}

std::string CheckReadable(const std::string& path) {
    std::error_code failed;
    if (std::filesystem::exists(path, failed) && !std::filesystem::is_regular_file(path, failed))
        return path + " is not a regular file";
    std::ifstream file(path, std::ios::binary);
    if (!file) return "cannot read " + path + ": " + std::strerror(errno);
    return "";
}

int Weekday(const Date& date) {
    // Zeller's congruence, shifted to 1 for Sunday.
    int month = date.month < 3 ? date.month + 12 : date.month;
    int year = date.month < 3 ? date.year - 1 : date.year;
    int h = (date.day + 13 * (month + 1) / 5 + year + year / 4 - year / 100 + year / 400) % 7;
    return (h + 6) % 7 + 1;
}

CLI::Validator AddressValidator() {
    return Make("ADDRESS", [](std::string& text) {
        int address;
        return ParseAddress(text, address);
    });
}

CLI::Validator DateValidator() {
    return Make("DATE", [](std::string& text) {
        Date date;
        return ParseDate(text, date);
    });
}

CLI::Validator DateTimeValidator() {
    return Make("DATETIME", [](std::string& text) {
        DateTime when;
        return ParseDateTime(text, when);
    });
}

CLI::Validator HexValidator() {
    return Make("HEX", [](std::string& text) {
        std::vector<uint8_t> bytes;
        return ParseHex(text, bytes);
    });
}

CLI::Validator MoneyValidator() {
    return Make("AMOUNT", [](std::string& text) {
        int32_t hundredths;
        return ParseMoney(text, hundredths);
    });
}

CLI::Validator ReadableValidator() {
    return Make("FILE", [](std::string& text) { return CheckReadable(text); });
}

} // namespace qarnctl
