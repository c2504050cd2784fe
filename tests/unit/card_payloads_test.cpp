#include <gtest/gtest.h>

#include "payload_test_support.h"

namespace {

using namespace payload_test;

class CardPayloadsAtFixedTime : public FixedHostClock {};

// Layouts 1 and 2 share one parameter block layout.
Block Layout1Or2Block(int32_t subCode) {
    Block block(48);
    block.Int(0, subCode).Int(4, 0x01020304).Text(8, "AB12345").Int(16, 7).Int(20, 0x108);
    block.Text(24, "1234").Text(28, "AB      ").Int(36, 2005).Int(40, 6).Int(44, 30);
    return block;
}

Block Layout3Block(const std::string& code, const std::string& password) {
    Block block(48);
    block.Int(0, 3)
        .Int(4, -2)
        .Text(8, code)
        .Text(15, password)
        .Text(19, "\xA4\xA4"
                  "CD    ");
    block.Int(28, 1999).Int(32, 12).Int(36, 1).Int(40, 3).Int(44, 0x1FF);
    return block;
}

ByteArray RecordCodeBytes(const std::string& code) {
    return Slice(Encode(0x61, Layout3Block(code, "0000")), 5, 4);
}

ByteArray PasswordBytes(const std::string& password) {
    return Slice(Encode(0x61, Layout3Block("A      ", password)), 9, 2);
}

TEST(CardFields, RecordCodePacking) {
    EXPECT_EQ(RecordCodeBytes("AB12345"), (ByteArray{0x2C, 0xC2, 0x34, 0x56}));
    EXPECT_EQ(RecordCodeBytes("A1     "), (ByteArray{0x2C, 0x20, 0x00, 0x00}));
    EXPECT_EQ(RecordCodeBytes("zz99999"), (ByteArray{0xFF, 0xFA, 0xAA, 0xAA}));
    EXPECT_EQ(RecordCodeBytes("ABZZZZZ"), (ByteArray{0x2C, 0xC4, 0x44, 0x44}));
    // Spaces are squeezed out before packing; characters outside the table code as 0 in place.
    EXPECT_EQ(RecordCodeBytes("A 12 34"), (ByteArray{0x2C, 0x23, 0x45, 0x00}));
    EXPECT_EQ(RecordCodeBytes("#_E#F#a"), (ByteArray{0x02, 0x5F, 0x00, 0x06}));
}

TEST(CardFields, PasswordDigitsAtDecimalWeights) {
    EXPECT_EQ(PasswordBytes("12B4"), (ByteArray{0x05, 0x22})); // B adds 110
    EXPECT_EQ(PasswordBytes("12x4"), (ByteArray{0x04, 0xAA})); // x counts -1
    EXPECT_EQ(PasswordBytes("xxxx"), (ByteArray{0xFB, 0xA9})); // -1111
}

TEST_F(CardPayloadsAtFixedTime, CardLayout1MasksThePasswordAndEndsInItsConstant) {
    const ByteArray expected{0x01, 0x01, 0x02, 0x03,        0x04,        0x2C, 0xC2, 0x34,
                             0x56, 0x07, 0x08, 0x04 ^ 0xA5, 0xD2 ^ 0x5A, 'A',  'B',  0,
                             0,    0,    0,    0,           0,           0x05, 0x06, 0x1E,
                             0x01, 0x00, 0x00, 0x03,        0xAA};
    EXPECT_EQ(Encode(0x61, Layout1Or2Block(1)), expected);
    EXPECT_EQ(Encode(0x66, Layout1Or2Block(1)), expected);
}

TEST_F(CardPayloadsAtFixedTime, CardLayout2CarriesTodayAndTrailingZeros) {
    ByteArray expected{0x02, 0x01, 0x02, 0x03, 0x04, 0x2C, 0xC2, 0x34, 0x56, 0x07,
                       0x08, 0x04, 0xD2, 'A',  'B',  0,    0,    0,    0,    0,
                       0,    0x05, 0x06, 0x1E, 0x00, 0x05, 0x03, 0x13};
    expected.insert(expected.end(), 14, 0x00);
    EXPECT_EQ(Encode(0x61, Layout1Or2Block(2)), expected);
}

TEST(CardPayloads, CardLayout3ConvertsTheNameOnlyWithInnerCode) {
    const Block block = Layout3Block("A 12 34", "12B4");
    EXPECT_EQ(Encode(0x61, block, 1),
              (ByteArray{0x03, 0xFF, 0xFF, 0xFF, 0xFE, 0x2C, 0x23, 0x45, 0x00, 0x05, 0x22, 0xD6,
                         0xD0, 'C',  'D',  0,    0,    0,    0,    0xFF, 0x0C, 0x01, 0x03, 0xFF}));
    EXPECT_EQ(Slice(Encode(0x61, block), 11, 8), (ByteArray{0xA4, 0xA4, 'C', 'D', 0, 0, 0, 0}));
}

TEST_F(CardPayloadsAtFixedTime, CardLayout254CopiesTheNumberAndStampsTheTime) {
    ByteArray expected{0xFE, 0x11, 0x22, 0x33, 0x44};
    expected.insert(expected.end(), 11, 0x00);
    expected.insert(expected.end(),
                    {0x22, 0x33, 0x44, 0, 0, 0, 0x09, 0x07, 0x0E, 0x13, 0x03, 0x05});
    EXPECT_EQ(Encode(0x61, Block(12).Int(0, 254).Int(4, 0x11223344)), expected);
}

TEST_F(CardPayloadsAtFixedTime, TimeStampSendsTheYearModulo100) {
    const qarn::platform::LocalTime later{2105, 3, 4, 19, 14, 7, 9, 0};
    qarn::platform::SetLocalTimeForTesting(&later);
    EXPECT_EQ(Slice(Encode(0x61, Block(12).Int(0, 254)), 22, 6),
              (ByteArray{0x09, 0x07, 0x0E, 0x13, 0x03, 0x05}));
}

TEST_F(CardPayloadsAtFixedTime, MoneyAmountInTwosComplement) {
    const Block block = Block(28).Int(0, 2).Int(4, -5).Int(8, 0x113);
    const ByteArray expected{0x02, 0xFF, 0xFF, 0xFF, 0xFB, 0x13, 0x05, 0x03, 0x13, 0x00, 0x00};
    EXPECT_EQ(Encode(0x62, block), expected);
    EXPECT_EQ(Encode(0x63, block), expected);
}

TEST(CardPayloads, SubCodesWithoutALayoutSendNoPayload) {
    EXPECT_TRUE(Encode(0x61, Layout1Or2Block(7)).empty());
    EXPECT_TRUE(Encode(0x61, Layout1Or2Block(0x101)).empty()); // the whole value decides
    EXPECT_TRUE(Encode(0x66, Layout1Or2Block(2)).empty());
    EXPECT_TRUE(Encode(0x62, Block(28).Int(0, 1)).empty());
    EXPECT_TRUE(Encode(0x63, Block(28).Int(0, 254)).empty());
}

} // namespace
