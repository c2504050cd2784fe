// Reading the command line's values: each parser takes the text and either fills the value or
// says, in a few words, what is wrong with it. The validators hand those words to CLI11, which
// names the argument in its message.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace qarnctl {

struct Date {
    int year = 0, month = 0, day = 0;
};

struct DateTime {
    Date date;
    int hour = 0, minute = 0, second = 0;
};

// 0 to 65535, decimal or 0x-prefixed hexadecimal.
std::string ParseAddress(const std::string& text, int& address);
// A number within [low, high], decimal or 0x-prefixed.
std::string ParseNumber(const std::string& text, long long low, long long high, long long& value);
// YYYY-MM-DD of a day that exists, years 2000 to 2255 (the terminals count from 2000 in a byte).
std::string ParseDate(const std::string& text, Date& date);
// YYYY-MM-DD[THH:MM[:SS]] (a space may stand for the T).
std::string ParseDateTime(const std::string& text, DateTime& when);
// Pairs of hexadecimal digits; spaces are ignored.
std::string ParseHex(const std::string& text, std::vector<uint8_t>& bytes);
// An amount of money with at most two decimals, in hundredths.
std::string ParseMoney(const std::string& text, int32_t& hundredths);
// A file that can be opened for reading.
std::string CheckReadable(const std::string& path);

// 1 Sunday to 7 Saturday.
int Weekday(const Date& date);

// Validators for CLI11 options and positionals.
CLI::Validator AddressValidator();
CLI::Validator DateValidator();
CLI::Validator DateTimeValidator();
CLI::Validator HexValidator();
CLI::Validator MoneyValidator();
CLI::Validator ReadableValidator();

} // namespace qarnctl
