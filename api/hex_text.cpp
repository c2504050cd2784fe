#include "api/hex_text.h"

#include <string>

namespace qarn {

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

ByteArray HexTextToBytes(const char* text) {
    std::string digits;
    for (const char* c = text; c && *c; ++c)
        if (*c != ' ') digits.push_back(*c);
    ByteArray bytes;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(16 * HexValue(digits[i]) + HexValue(digits[i + 1])));
    return bytes;
}

bool ParseHexText(const char* text, ByteArray& bytes) {
    bytes.clear();
    int high = -1;
    for (const char* c = text; c && *c; ++c) {
        if (*c == ' ') continue;
        int value = HexValue(*c);
        if (value < 0) {
            bytes.clear();
            return false;
        }
        if (high < 0) {
            high = value;
            continue;
        }
        bytes.push_back(static_cast<uint8_t>(16 * high + value));
        high = -1;
    }
    if (high >= 0) bytes.clear();
    return high < 0;
}

void WriteHexDump(const ByteArray& bytes, char* text) {
    static const char kDigits[] = "0123456789abcdef";
    if (bytes.empty()) return;
    for (uint8_t b : bytes) {
        *text++ = kDigits[b >> 4];
        *text++ = kDigits[b & 0x0F];
        *text++ = ' ';
    }
    *text = 0;
}

} // namespace qarn
