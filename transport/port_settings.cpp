#include "transport/port_settings.h"

#include <cctype>
#include <cstring>

namespace qarn {

namespace {

constexpr unsigned kHighestPortNumber = 256;

enum Field { kBaud, kParity, kDataBits, kStopBits, kFieldCount };

const char* const kFieldKeys[kFieldCount] = {"baud", "parity", "data", "stop"};

struct ValueRow {
    const char* text;
    uint8_t value;
};

const ValueRow kParityTable[] = {
    {"N", 0}, {"n", 0}, {"0", 0}, {"O", 1}, {"o", 1}, {"1", 1}, {"E", 2}, {"e", 2},
    {"2", 2}, {"M", 3}, {"m", 3}, {"3", 3}, {"S", 4}, {"s", 4}, {"4", 4},
};

const ValueRow kDataBitsTable[] = {{"5", 5}, {"6", 6}, {"7", 7}, {"8", 8}};

const ValueRow kStopBitsTable[] = {{"1", 0}, {"1.0", 0}, {"1.5", 1}, {"2", 2}, {"2.0", 2}};

const ValueRow kRtsControlTable[] = {
    {"off", static_cast<uint8_t>(RtsControl::Software)},
    {"kernel", static_cast<uint8_t>(RtsControl::Kernel)},
};

template <size_t N>
bool Lookup(const ValueRow (&table)[N], const std::string& text, uint8_t& value) {
    for (const ValueRow& row : table)
        if (text == row.text) {
            value = row.value;
            return true;
        }
    return false;
}

bool SameWord(const std::string& text, const char* word) {
    if (text.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < text.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) return false;
    return true;
}

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    return true;
}

// COM1 to COM256, the letters in either case.
bool ComName(const std::string& name) {
    if (name.size() < 4 || !SameWord(name.substr(0, 3), "com")) return false;
    std::string number = name.substr(3);
    if (!AllDigits(number) || number[0] == '0' || number.size() > 3) return false;
    return std::stoul(number) <= kHighestPortNumber;
}

bool NameUsable(const std::string& name) {
    if (name.compare(0, 4, "\\\\.\\") == 0) return name.size() > 4;
    return ComName(name) || (name.size() > 1 && name[0] == '/');
}

// A decimal number from 1 to 2^32 - 1.
bool ParseBaud(const std::string& text, uint32_t& baud) {
    if (!AllDigits(text)) return false;
    uint64_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<uint64_t>(c - '0');
        if (value > UINT32_MAX) return false;
    }
    baud = static_cast<uint32_t>(value);
    return value != 0;
}

bool ApplyValue(Field field, const std::string& value, PortSettings& settings) {
    switch (field) {
    case kBaud:
        return ParseBaud(value, settings.baud);
    case kParity:
        return Lookup(kParityTable, value, settings.parity);
    case kDataBits:
        return Lookup(kDataBitsTable, value, settings.dataBits);
    case kStopBits:
        return Lookup(kStopBitsTable, value, settings.stopBits);
    default:
        return false;
    }
}

// One "key=value" (or a bare value) of the text; position counts the values before it.
bool ApplyItem(const std::string& item, size_t& position, bool (&given)[kFieldCount],
               PortSettings& settings) {
    size_t equals = item.find('=');
    std::string key = equals == std::string::npos ? std::string() : item.substr(0, equals);
    std::string value = equals == std::string::npos ? item : item.substr(equals + 1);
    if (SameWord(key, "rs485")) {
        uint8_t control = 0;
        if (!Lookup(kRtsControlTable, value, control)) return false;
        settings.rtsControl = static_cast<RtsControl>(control);
        return true;
    }
    size_t field = position++;
    for (size_t i = 0; i < kFieldCount; ++i)
        if (SameWord(key, kFieldKeys[i])) field = i;
    if (field >= kFieldCount || given[field]) return false;
    given[field] = true;
    return ApplyValue(static_cast<Field>(field), value, settings);
}

// "tcp://" or "rfc2217://", any case, then HOST:PORT: the length of the name, or 0 when the text
// is no network name or not a usable one.
size_t ParseNetworkName(const std::string& all, PortSettings& settings) {
    static const struct {
        const char* scheme;
        LineKind kind;
    } kSchemes[] = {{"tcp://", LineKind::RawTcp}, {"rfc2217://", LineKind::Rfc2217}};
    for (const auto& row : kSchemes) {
        size_t length = std::strlen(row.scheme);
        if (!SameWord(all.substr(0, length), row.scheme)) continue;
        size_t hostEnd;
        std::string host;
        if (all.compare(length, 1, "[") == 0) {
            size_t close = all.find(']', length);
            if (close == std::string::npos) return 0;
            host = all.substr(length + 1, close - length - 1);
            hostEnd = close + 1;
            if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.%") != host.npos)
                return 0;
        } else {
            hostEnd = all.find(':', length);
            if (hostEnd == std::string::npos) return 0;
            host = all.substr(length, hostEnd - length);
            if (host.empty() || host.find_first_of("[]/@ ") != host.npos) return 0;
        }
        if (all.compare(hostEnd, 1, ":") != 0) return 0;
        size_t portEnd = all.find(':', hostEnd + 1);
        std::string port = all.substr(hostEnd + 1, portEnd - hostEnd - 1);
        if (!AllDigits(port) || port.size() > 5 || std::stoul(port) == 0 ||
            std::stoul(port) > 65535)
            return 0;
        settings.kind = row.kind;
        settings.host = host;
        settings.tcpPort = static_cast<uint16_t>(std::stoul(port));
        return portEnd == std::string::npos ? all.size() : portEnd;
    }
    return 0;
}

} // namespace

bool ParseSettings(const char* text, PortSettings& settings) {
    PortSettings parsed;
    std::string all = text ? text : "";
    if (all.empty()) {
        settings = parsed;
        return true;
    }
    size_t colon = ParseNetworkName(all, parsed);
    if (parsed.kind == LineKind::Serial) {
        if (all.find("://") != std::string::npos) return false;
        colon = all.find(':');
    }
    parsed.portName = all.substr(0, colon);
    if (parsed.kind == LineKind::Serial && !NameUsable(parsed.portName)) return false;
    if (colon != std::string::npos && colon + 1 < all.size()) {
        std::string values = all.substr(colon + 1);
        bool given[kFieldCount] = {};
        size_t position = 0;
        for (size_t start = 0;;) {
            size_t comma = values.find(',', start);
            if (!ApplyItem(values.substr(start, comma - start), position, given, parsed))
                return false;
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
    }
    settings = parsed;
    return true;
}

uint32_t WriteMultiplier(uint32_t baud) {
    return baud == 0 ? 0 : 19200 / baud;
}

} // namespace qarn
