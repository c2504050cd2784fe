#include "protocol/downlink/payloads.h"

#include <gtest/gtest.h>

#include "payload_test_support.h"

namespace {

using namespace payload_test;

class ClockPayloads : public FixedHostClock {};

TEST(PayloadRows, ParameterBlocksAreRequiredExceptForHostOnlyPayloads) {
    for (int code : {0x0A, 0x02, 0x10, 0x36, 0x11, 0x12, 0x14, 0x18, 0x19, 0x86, 0xA3, 0xA5,
                     0xC7, 0xCD, 0x61, 0x62, 0x63, 0x66, 0x65, 0x68, 0xA0, 0xA1, 0xC8, 0xC9}) {
        const qarn::PayloadRow* row = qarn::FindPayloadRow(code);
        ASSERT_NE(row, nullptr) << std::hex << code;
        EXPECT_TRUE(row->needsParams) << std::hex << code;
    }
    ASSERT_NE(qarn::FindPayloadRow(0x01), nullptr);
    EXPECT_FALSE(qarn::FindPayloadRow(0x01)->needsParams);
    for (int code : {0x03, 0x04, 0x13, 0x64, 0xCA})
        EXPECT_EQ(qarn::FindPayloadRow(code), nullptr);
}

TEST_F(ClockPayloads, HostAndGivenClocks) {
    EXPECT_EQ(Encode(0x01, Block(0)), (ByteArray{0x14, 0x05, 0x03, 0x13, 0x0E, 0x07, 0x09, 0x07}));
    Block given(28);
    given.Int(0, 1999).Int(4, 12).Int(8, 31).Int(12, 23).Int(16, 59).Int(20, 58).Int(24, 0x105);
    EXPECT_EQ(Encode(0x0A, given), (ByteArray{0x13, 0x63, 0x0C, 0x1F, 0x17, 0x3B, 0x3A, 0x05}));
}

TEST(TimePayloads, SlotsAndWindowsInMinutesOfTheDay) {
    Block slots(240);
    slots.Int(0, 23).Int(4, 59).Int(8, 2).Int(228, 1).Int(232, 5).Int(236, 0x1FF);
    const ByteArray slotPayload = Encode(0x18, slots);
    ASSERT_EQ(slotPayload.size(), 60u);
    EXPECT_EQ(Slice(slotPayload, 0, 3), (ByteArray{0x05, 0x9F, 0x02}));
    EXPECT_EQ(Slice(slotPayload, 57, 3), (ByteArray{0x00, 0x41, 0xFF}));

    Block windows(132);
    windows.Int(0, 9).Int(4, 8).Int(8, 30).Int(12, 17).Int(16, 0);
    windows.Int(116, 0).Int(120, -1).Int(124, 24).Int(128, 0);
    const ByteArray windowPayload = Encode(0x19, windows);
    ASSERT_EQ(windowPayload.size(), 33u);
    EXPECT_EQ(Slice(windowPayload, 0, 5), (ByteArray{0x09, 0x01, 0xFE, 0x03, 0xFC}));
    // -1 minute: quotient 0, remainder -1, sent as low bytes.
    EXPECT_EQ(Slice(windowPayload, 29, 4), (ByteArray{0x00, 0xFF, 0x05, 0xA0}));
}

TEST(SettingPayloads, AddressRecordsAndProperties) {
    EXPECT_EQ(Encode(0x02, Block(8).Int(0, 0x0A0B0C0D).Int(4, 0x12345)),
              (ByteArray{0x0A, 0x0B, 0x0C, 0x0D, 0x23, 0x45}));
    const Block range = Block(8).Int(0, 300).Int(4, 0x105);
    EXPECT_EQ(Encode(0x10, range), (ByteArray{0x01, 0x2C, 0x05}));
    EXPECT_EQ(Encode(0x36, range), (ByteArray{0x01, 0x2C, 0x05}));

    Block index(28);
    index.Int(4, 2005).Int(8, 1).Int(12, 1).Int(16, 2005).Int(20, 12).Int(24, 31);
    EXPECT_EQ(Encode(0x11, index), (ByteArray{0xFF, 0x05, 0x01, 0x01, 0x05, 0x0C, 0x1F}));
    // Years count modulo 2000: 1999 stays 1999, whose low byte is 0xCF.
    EXPECT_EQ(Encode(0x11, index.Int(0, 7).Int(16, 1999)),
              (ByteArray{0x00, 0x05, 0x01, 0x01, 0xCF, 0x0C, 0x1F}));

    const Block property = Block(8).Int(0, 3).Int(4, 0x12345678);
    EXPECT_EQ(Encode(0x12, property), (ByteArray{0x03, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(Encode(0x14, property), (ByteArray{0x03, 0x12, 0x34, 0x56, 0x78}));

    EXPECT_EQ(Encode(0xC7, Block(4).Int(0, 1000000)), (ByteArray{0x00, 0x00, 0x0F, 0x42, 0x40}));
    EXPECT_EQ(Encode(0xA3, Block(4).Text(0, "\x01\x02\x03\x04")),
              (ByteArray{0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(Encode(0xCD, Block(14).Int(0, 0x1FE).Text(4, "0123456789")),
              (ByteArray{0xFE, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'}));
}

TEST(SettingPayloads, GradesCarryExactlyTheItemsTheyAnnounce) {
    EXPECT_EQ(Encode(0xA5, Block(16).Int(0, 5).Int(4, 2).Int(8, 7).Int(12, 300)),
              (ByteArray{0x01, 0x00, 0x02, 0x07, 0x2C}));
    EXPECT_EQ(Encode(0xA5, Block(8).Int(4, 0)), (ByteArray{0x00, 0x00, 0x00}));
    EXPECT_EQ(Encode(0xA5, Block(8).Int(0, 1).Int(4, -1)), (ByteArray{0x01, 0x00, 0x00}));

    // More items than a frame's length field can count fail the build before any is read.
    ByteArray payload;
    EXPECT_FALSE(qarn::FindPayloadRow(0xA5)->encode({0, kTestKeyTable},
                                                    Block(8).Int(4, 65524).data(), payload));
}

TEST(SettingPayloads, LcdTitleConvertsEveryPairOnlyWithInnerCode) {
    Block title(48);
    title.Text(0, "\xA4\xA4 AB").Text(16, "\xB3\x6F").Text(46, "\xA4\xA4");
    const ByteArray plain = Encode(0x86, title);
    ASSERT_EQ(plain.size(), 48u);
    EXPECT_EQ(Slice(plain, 0, 5), (ByteArray{0xA4, 0xA4, ' ', 'A', 'B'}));

    const ByteArray converted = Encode(0x86, title, 1);
    ASSERT_EQ(converted.size(), 48u);
    EXPECT_EQ(Slice(converted, 0, 5), (ByteArray{0xD6, 0xD0, ' ', 'A', 'B'}));
    EXPECT_EQ(Slice(converted, 16, 2), (ByteArray{0xD5, 0xE2}));
    EXPECT_EQ(Slice(converted, 46, 2), (ByteArray{0xD6, 0xD0}));
}

} // namespace
