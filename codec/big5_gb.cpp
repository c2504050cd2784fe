#include "codec/big5_gb.h"

#include "codec/bytes.h"

namespace qarn {

namespace {

constexpr unsigned kBig5FirstLead = 0xA1;
constexpr unsigned kBig5FirstTrail = 0x40;
constexpr unsigned kBig5Columns = 191;
constexpr unsigned kGbFirstByte = 0xA1;
constexpr unsigned kGbColumns = 94;
// GB2312 lead bytes 0xAA..0xAF hold no characters and have no rows in the table.
constexpr unsigned kGbFirstUpperLead = 0xB0;
constexpr unsigned kGbSkippedRows = 6;
// 0xFF is neither a lead nor a trail byte in either set, and lies past the end of both tables.
constexpr unsigned kNoCodeByte = 0xFF;
constexpr uint8_t kFirstDoubleByte = 0x80;

using PairConversion = uint16_t (*)(uint16_t);

void ConvertText(uint8_t* text, size_t size, PairConversion convert) {
    if (text == nullptr) return;
    size_t at = 0;
    while (at + 1 < size) {
        if (text[at] < kFirstDoubleByte) {
            ++at;
            continue;
        }
        PutBigEndian16(text + at, convert(static_cast<uint16_t>(GetBigEndian16(text + at))));
        at += 2;
    }
}

} // namespace

uint16_t CBig5ToGB::Big5ToGb(uint16_t code) {
    unsigned lead = code >> 8;
    unsigned trail = code & 0xFF;
    if (lead < kBig5FirstLead || trail < kBig5FirstTrail) return code;
    if (lead == kNoCodeByte || trail == kNoCodeByte) return code;
    return kBig5ToGb[(lead - kBig5FirstLead) * kBig5Columns + (trail - kBig5FirstTrail)];
}

uint16_t CBig5ToGB::GbToBig5(uint16_t code) {
    unsigned lead = code >> 8;
    unsigned trail = code & 0xFF;
    if (lead < kGbFirstByte || trail < kGbFirstByte) return code;
    if (lead == kNoCodeByte || trail == kNoCodeByte) return code;
    // Lead bytes 0xAA..0xAF are not rebased, so they read the rows of 0xB0..0xB5.
    unsigned row = lead - kGbFirstByte;
    if (lead >= kGbFirstUpperLead) row -= kGbSkippedRows;
    return kGbToBig5[row * kGbColumns + (trail - kGbFirstByte)];
}

void CBig5ToGB::ConvertBig5ToGb(uint8_t* text, size_t size) {
    ConvertText(text, size, Big5ToGb);
}

void CBig5ToGB::ConvertGbToBig5(uint8_t* text, size_t size) {
    ConvertText(text, size, GbToBig5);
}

} // namespace qarn
