// Conversion between UTF-8 and the terminals' text code: GB2312, or Big5.
#pragma once

#include <string>
#include <string_view>

namespace qarn::platform {

// UTF-8 text in the code; false when the text is not UTF-8 or holds a character the code has
// no form for.
bool EncodeCardText(std::string_view utf8, bool big5, std::string& bytes);

// Bytes in the code as UTF-8; what does not convert shows as U+FFFD.
void DecodeCardText(std::string_view bytes, bool big5, std::string& utf8);

} // namespace qarn::platform
