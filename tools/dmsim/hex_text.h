// Bytes as hexadecimal text for the control channel: two digits a byte, "-" for none. Also the
// key table a build is configured with, given as such text.
#pragma once

#include "dmsim/bytes.h"

#include <algorithm>
#include <array>
#include <string>

namespace dmsim {

inline std::string ToHex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    if (bytes.empty()) return "-";
    std::string text;
    text.reserve(2 * bytes.size());
    for (uint8_t b : bytes) {
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

inline bool FromHex(const std::string& text, Bytes& bytes) {
    bytes.clear();
    if (text == "-") return true;
    if (text.empty() || text.size() % 2 != 0) return false;
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

// The table from its 48 digits; text that is not hexadecimal leaves it zero.
inline std::array<uint8_t, 24> KeyTableFromHex(const std::string& text) {
    std::array<uint8_t, 24> table{};
    Bytes bytes;
    if (FromHex(text, bytes))
        std::copy_n(bytes.begin(), std::min(bytes.size(), table.size()), table.begin());
    return table;
}

} // namespace dmsim
