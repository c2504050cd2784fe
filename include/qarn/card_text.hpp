// Card names and LCD titles as UTF-8 text. The library carries these fields as bytes in the
// terminals' code: GB2312, or Big5 when the device converts for Big5 applications
// (set_big5_terminals). These functions convert between that code and UTF-8: with iconv on
// Linux, with the Win32 code pages 936 and 950 on Windows (936 also takes GBK's characters).
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

#include "qarn/result.hpp"

namespace qarn {

enum class TextCode { gb2312, big5 };

inline const char* code_name(TextCode code) {
    return code == TextCode::big5 ? "Big5" : "GB2312";
}

namespace detail {

#ifdef _WIN32
inline UINT CodePage(TextCode code) {
    return code == TextCode::big5 ? 950 : 936;
}

// UTF-16 between two Win32 conversions; empty and false when the bytes do not convert.
inline bool Wide(UINT page, DWORD flags, std::string_view bytes, std::wstring& wide) {
    wide.clear();
    if (bytes.empty()) return true;
    int size =
        MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return false;
    wide.resize(static_cast<size_t>(size));
    return MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()),
                               wide.data(), size) == size;
}

inline bool Narrow(UINT page, const std::wstring& wide, std::string& bytes, bool exact) {
    bytes.clear();
    if (wide.empty()) return true;
    BOOL defaulted = FALSE;
    BOOL* check = exact ? &defaulted : nullptr;
    DWORD flags = exact ? WC_NO_BEST_FIT_CHARS : 0;
    int length = static_cast<int>(wide.size());
    int size = WideCharToMultiByte(page, flags, wide.data(), length, nullptr, 0, nullptr, check);
    if (size <= 0) return false;
    bytes.resize(static_cast<size_t>(size));
    return WideCharToMultiByte(page, flags, wide.data(), length, bytes.data(), size, nullptr,
                               check) == size &&
           !defaulted;
}
#else
// Runs iconv over the input. With lenient set, a byte that does not convert becomes U+FFFD and
// the rest goes on; otherwise the conversion fails at it.
inline bool Iconv(const char* to, const char* from, std::string_view input, std::string& output,
                  bool lenient) {
    output.clear();
    iconv_t converter = iconv_open(to, from);
    if (converter == reinterpret_cast<iconv_t>(-1)) return false;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    bool converted = true;
    while (inLeft > 0) {
        char buffer[64];
        char* out = buffer;
        size_t outLeft = sizeof buffer;
        size_t done = iconv(converter, &in, &inLeft, &out, &outLeft);
        output.append(buffer, static_cast<size_t>(out - buffer));
        if (done != static_cast<size_t>(-1) || errno == E2BIG) continue;
        if (!lenient) {
            converted = false;
            break;
        }
        output += "\xEF\xBF\xBD";
        ++in;
        --inLeft;
    }
    iconv_close(converter);
    return converted;
}

inline const char* IconvName(TextCode code) {
    return code == TextCode::big5 ? "BIG5" : "GB2312";
}
#endif

} // namespace detail

// UTF-8 text in the terminals' code. An error when the text is not UTF-8 or holds a character
// that the code has no form for.
inline Result<std::string> encode_text(std::string_view utf8, TextCode code) {
    std::string bytes;
#ifdef _WIN32
    std::wstring wide;
    bool converted = detail::Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, wide) &&
                     detail::Narrow(detail::CodePage(code), wide, bytes, true);
#else
    bool converted = detail::Iconv(detail::IconvName(code), "UTF-8", utf8, bytes, false);
#endif
    if (!converted)
        return Error(Failure::argument, -1,
                     "qarn: \"" + std::string(utf8) + "\" has a character with no form in " +
                         code_name(code));
    return bytes;
}

// Bytes in the terminals' code as UTF-8; what does not convert shows as U+FFFD.
inline std::string decode_text(std::string_view bytes, TextCode code) {
    std::string utf8;
#ifdef _WIN32
    std::wstring wide;
    detail::Wide(detail::CodePage(code), 0, bytes, wide);
    detail::Narrow(CP_UTF8, wide, utf8, false);
#else
    detail::Iconv("UTF-8", detail::IconvName(code), bytes, utf8, true);
#endif
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
