// The terminals' text code with iconv (GB2312, BIG5).
#include "platform/card_text.h"

#include <cerrno>
#include <iconv.h>

namespace qarn::platform {

namespace {

const char* CodeName(bool big5) {
    return big5 ? "BIG5" : "GB2312";
}

// Runs iconv over the input. With lenient set, a byte that does not convert becomes U+FFFD and
// the rest goes on; otherwise the conversion fails at it.
bool Iconv(const char* to, const char* from, std::string_view input, std::string& output,
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

} // namespace

bool EncodeCardText(std::string_view utf8, bool big5, std::string& bytes) {
    return Iconv(CodeName(big5), "UTF-8", utf8, bytes, false);
}

void DecodeCardText(std::string_view bytes, bool big5, std::string& utf8) {
    Iconv("UTF-8", CodeName(big5), bytes, utf8, true);
}

} // namespace qarn::platform
