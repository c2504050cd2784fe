// The terminals' text code with the Win32 code pages 936 (GB2312, and GBK's characters too) and
// 950 (Big5).
#include "platform/card_text.h"

#include <windows.h>

namespace qarn::platform {

namespace {

UINT CodePage(bool big5) {
    return big5 ? 950 : 936;
}

// UTF-16 between two Win32 conversions; empty and false when the bytes do not convert.
bool Wide(UINT page, DWORD flags, std::string_view bytes, std::wstring& wide) {
    wide.clear();
    if (bytes.empty()) return true;
    int size =
        MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return false;
    wide.resize(static_cast<size_t>(size));
    return MultiByteToWideChar(page, flags, bytes.data(), static_cast<int>(bytes.size()),
                               wide.data(), size) == size;
}

bool Narrow(UINT page, const std::wstring& wide, std::string& bytes, bool exact) {
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

} // namespace

bool EncodeCardText(std::string_view utf8, bool big5, std::string& bytes) {
    std::wstring wide;
    return Wide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, wide) &&
           Narrow(CodePage(big5), wide, bytes, true);
}

void DecodeCardText(std::string_view bytes, bool big5, std::string& utf8) {
    std::wstring wide;
    Wide(CodePage(big5), 0, bytes, wide);
    Narrow(CP_UTF8, wide, utf8, false);
}

} // namespace qarn::platform
