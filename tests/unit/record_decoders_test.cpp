#include "protocol/uplink/record_decoders.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/bytes.h"

namespace qarn {
namespace {

// Packs month, day, hour, minute, second and two flags at their bit positions.
uint32_t Stamp(int month, int day, int hour, int minute, int second, int flagA, int flagB) {
    return month << 28 | day << 23 | hour << 18 | minute << 12 | second << 6 | flagA << 5 |
           flagB << 4;
}

TEST(RecordDecoders, ShortRecordFieldsAtTheirBits) {
    const int stamps[][7] = {{15, 31, 31, 63, 63, 1, 1}, {1, 16, 2, 33, 4, 0, 1}};
    for (const auto& s : stamps) {
        uint8_t record[kShortRecordSize];
        PutBigEndian32(record, 0x89ABCDEF);
        record[4] = 7;
        PutBigEndian32(record + 5, Stamp(s[0], s[1], s[2], s[3], s[4], s[5], s[6]) | 0x0F);
        uint8_t entry[kShortEntrySize];
        DecodeShortRecord(record, entry, 0x1234);
        const int expected[] = {int(0x89ABCDEF), 2007, s[0], s[1], s[2], s[3], s[4], s[5], s[6],
                                0x1234};
        for (size_t i = 0; i < 10; ++i)
            EXPECT_EQ(GetHostInt32(entry, 4 * i), expected[i]) << i;
    }
}

TEST(RecordDecoders, LongRecordWithSignMagnitudeValues) {
    uint8_t record[kLongRecordSize];
    PutBigEndian32(record, 11u << 26 | 12u << 16); // A, space, B, four spaces: closed up
    record[4] = 24;
    PutBigEndian32(record + 5, Stamp(3, 9, 17, 45, 30, 0, 1));
    const uint8_t values[] = {0x80, 0x00, 0x01, 0x80, 0x00, 0x00, 0x05, 0xFF, 0xFE, 0xC8};
    std::copy(std::begin(values), std::end(values), record + 9);
    uint8_t entry[kLongEntrySize];
    std::fill(std::begin(entry), std::end(entry), 0xEE);
    DecodeLongRecord(record, entry, 0xAB01);
    EXPECT_EQ(std::string(entry, entry + 8), std::string("     AB\0", 8));
    const int expected[] = {-1, -5, 0xFFFE, 0xC8, 2024, 3, 9, 17, 45, 30, 0, 1, 0xAB01};
    for (size_t i = 0; i < 13; ++i)
        EXPECT_EQ(GetHostInt32(entry, 8 + 4 * i), expected[i]) << i;

    const uint8_t max24[] = {0x7F, 0xFF, 0xFF}, negativeZero32[] = {0x80, 0, 0, 0};
    EXPECT_EQ(GetSignMagnitude24(max24), 8388607);
    EXPECT_EQ(GetSignMagnitude32(negativeZero32), 0);
}

} // namespace
} // namespace qarn
