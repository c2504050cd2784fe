// Card names and LCD titles as UTF-8 text. The library carries these fields as bytes in the
// terminals' code: GB2312, or Big5 when the device converts for Big5 applications
// (set_big5_terminals). These functions convert between that code and UTF-8 with the
// library's ConvertCardText: iconv on Linux, the Win32 code pages 936 and 950 on Windows (936
// also takes GBK's characters).
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "qarn.h"
#include "qarn/result.hpp"

namespace qarn {

enum class TextCode { gb2312, big5 };

inline const char* code_name(TextCode code) {
    return code == TextCode::big5 ? "Big5" : "GB2312";
}

namespace detail {

// ConvertCardText into a string: asks the size, then converts; false when it fails.
inline bool ConvertText(bool toCard, std::string_view input, TextCode code, std::string& output) {
    int big5 = code == TextCode::big5;
    int inputSize = static_cast<int>(input.size());
    int size = ConvertCardText(toCard, big5, input.data(), inputSize, nullptr, 0);
    if (size < 0) return false;
    output.assign(static_cast<size_t>(size), '\0');
    return ConvertCardText(toCard, big5, input.data(), inputSize, output.data(), size) == size;
}

} // namespace detail

// UTF-8 text in the terminals' code. An error when the text is not UTF-8 or holds a character
// that the code has no form for.
inline Result<std::string> encode_text(std::string_view utf8, TextCode code) {
    std::string bytes;
    if (!detail::ConvertText(true, utf8, code, bytes))
        return Error(Failure::argument, -1,
                     "qarn: \"" + std::string(utf8) + "\" has a character with no form in " +
                         code_name(code));
    return bytes;
}

// Bytes in the terminals' code as UTF-8; what does not convert shows as U+FFFD.
inline std::string decode_text(std::string_view bytes, TextCode code) {
    std::string utf8;
    detail::ConvertText(false, bytes, code, utf8);
    return utf8;
}

// A name or title field as UTF-8: the terminal sends the name's spaces as 0x00 bytes, which
// read as spaces here; trailing spaces are dropped.
template <size_t N> std::string field_text(const char (&field)[N], TextCode code) {
    std::string bytes(field, N);
    for (char& c : bytes)
        if (c == '\0') c = ' ';
    bytes.erase(bytes.find_last_not_of(' ') + 1);
    return decode_text(bytes, code);
}

// Fills a name or title field with UTF-8 text in the terminals' code, padded with spaces. An
// error, leaving the field as it was, when the text has no form in the code or its bytes do
// not fit the field.
template <size_t N>
Result<void> set_field_text(char (&field)[N], std::string_view utf8, TextCode code) {
    auto bytes = encode_text(utf8, code);
    if (!bytes) return bytes.error();
    if (bytes->size() > N)
        return Error(Failure::argument, -1,
                     "qarn: \"" + std::string(utf8) + "\" takes " + std::to_string(bytes->size()) +
                         " bytes in " + code_name(code) + "; the field holds " + std::to_string(N));
    std::memset(field, ' ', N);
    std::memcpy(field, bytes->data(), bytes->size());
    return {};
}

} // namespace qarn
