#include "protocol/uplink/card_decoders.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/big5_gb.h"
#include "codec/bytes.h"

namespace qarn {
namespace {

const uint8_t kKeyTable[24] = {0x5A, 0x3C};
const uint8_t kName[8] = {0xD6, 0xD0, 0xCE, 0xC4, 0x41, 0x42, 0x43, 0x44};
const uint32_t kPackedCode = 11u << 26 | 12u << 16; // "A B    " on cards: kept in place

std::string Text(const uint8_t* at, size_t size) {
    return std::string(at, at + size);
}

ByteArray Layout12(uint8_t subCode, size_t size, uint8_t passwordHigh, uint8_t passwordLow) {
    ByteArray payload(size, 0x77);
    payload[0] = subCode;
    PutBigEndian32(&payload[1], 0x12345);
    PutBigEndian32(&payload[5], kPackedCode);
    payload[11] = passwordHigh, payload[12] = passwordLow;
    std::copy(std::begin(kName), std::end(kName), payload.begin() + 13);
    payload[21] = 9;
    return payload;
}

TEST(CardDecoders, MaskedAndPlainPasswordGiveTheSameDigits) {
    // 1234 is 0x04D2; layout 1 carries it masked with key table bytes 0 and 1.
    ByteArray masked = Layout12(1, kCardLayout1Size, 0x04 ^ 0x5A, 0xD2 ^ 0x3C);
    ByteArray plain = Layout12(2, kCardLayout2Size, 0x04, 0xD2);
    PutBigEndian16(&plain[36], 0xBEEF);
    uint8_t entry1[kCardLayout1EntrySize], entry2[kCardLayout2EntrySize];
    ASSERT_TRUE(DecodeCardLayout1({0, kKeyTable}, masked.data(), entry1));
    ASSERT_TRUE(DecodeCardLayout2({0, kKeyTable}, plain.data(), entry2));
    for (const uint8_t* entry : {entry1, entry2}) {
        EXPECT_EQ(GetHostInt32(entry, 4), 0x12345);
        EXPECT_EQ(Text(entry + 8, 7), "A B    ");
        EXPECT_EQ(Text(entry + 24, 12), "1234" + Text(kName, 8));
        EXPECT_EQ(GetHostInt32(entry, 36), 2009);
    }
    EXPECT_EQ(GetHostInt32(entry2, 48), 0xBEEF);
}

TEST(CardDecoders, LayoutThreeOffsets) {
    ByteArray payload(kCardLayout3Size);
    payload[0] = 3;
    PutBigEndian32(&payload[5], kPackedCode);
    PutBigEndian16(&payload[9], 907);
    std::copy(std::begin(kName), std::end(kName), payload.begin() + 11);
    payload[19] = 30, payload[22] = 0xA5, payload[23] = 0x5A;
    uint8_t entry[kCardLayout3EntrySize];
    ASSERT_TRUE(DecodeCardLayout3({0, kKeyTable}, payload.data(), entry));
    EXPECT_EQ(Text(entry + 8, 20), "A B    0907" + Text(kName, 8) + std::string(1, '\0'));
    EXPECT_EQ(GetHostInt32(entry, 28), 2030);
    EXPECT_EQ(GetHostInt32(entry, 40), 0xA5);
    EXPECT_EQ(GetHostInt32(entry, 44), 0x5A);
}

TEST(CardDecoders, NameConvertedOnlyWithTheInnerCodeSetting) {
    ByteArray payload = Layout12(2, kCardLayout2Size, 0, 0);
    uint8_t entry[kCardLayout2EntrySize];
    ASSERT_TRUE(DecodeCardLayout2({1, kKeyTable}, payload.data(), entry));
    uint8_t expected[8] = {0, 0, 0, 0, 0x41, 0x42, 0x43, 0x44};
    PutBigEndian16(expected, CBig5ToGB::GbToBig5(0xD6D0));
    PutBigEndian16(expected + 2, CBig5ToGB::GbToBig5(0xCEC4));
    EXPECT_EQ(Text(entry + 28, 8), Text(expected, 8));
    EXPECT_NE(Text(entry + 28, 2), Text(kName, 2));
}

TEST(CardDecoders, PasswordDigitsBeyondFourDigits) {
    uint8_t digits[4];
    PutPasswordDigits(0, digits);
    EXPECT_EQ(Text(digits, 4), "0000");
    PutPasswordDigits(65535, digits);
    EXPECT_EQ(Text(digits, 4), std::string(1, '0' + 65) + "535");
}

} // namespace
} // namespace qarn
