#include "protocol/uplink/property_decoders.h"

#include <gtest/gtest.h>

#include <string>

#include "codec/bytes.h"

namespace qarn {
namespace {

std::string Text(const uint8_t* at, size_t size) {
    return std::string(at, at + size);
}

TEST(PropertyDecoders, PropertyNumbersAndSwitches) {
    uint8_t payload[kPropertySize];
    for (size_t i = 0; i < kPropertySize; ++i)
        payload[i] = uint8_t(0xA0 + i);
    payload[15] = 2, payload[16] = 255, payload[17] = 0;
    uint8_t entry[kPropertyEntrySize];
    DecodeProperty(payload, entry);
    const int expected[] = {0xA0A1, 0xA2A3, 0xA4A5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB,
                            0xAC,   0xAD,   0xAE,   1,    1,    0,    0xB2, 0xB3};
    for (size_t i = 0; i < 17; ++i)
        EXPECT_EQ(GetHostInt32(entry, 4 * i), expected[i]) << i;
}

TEST(PropertyDecoders, SystemPropertyFullShortAndWideDigit) {
    for (size_t size : {kSystemPropertySize, kSystemPropertyShortSize}) {
        ByteArray payload(size);
        const uint8_t head[] = {0xA1, 0x34, 0x56, 0x78, 0, 1, 0, 2, 0xF4, 0x00, 0x05};
        std::copy(std::begin(head), std::end(head), payload.begin());
        for (size_t i = 11; i < size; ++i)
            payload[i] = uint8_t('A' + i - 11);
        uint8_t entry[kSystemPropertyEntrySize];
        std::fill(std::begin(entry), std::end(entry), 0xEE);
        DecodeSystemProperty(payload.data(), payload.size(), entry);
        EXPECT_EQ(Text(entry, 12), std::string("101.34.567\0\0", 12)); // digit 10 prints wide
        EXPECT_EQ(GetHostInt32(entry, 12), 65538);
        EXPECT_EQ(GetHostInt32(entry, 16), 9600);
        EXPECT_EQ(GetHostInt32(entry, 20), 1); // switch byte 0
        EXPECT_EQ(GetHostInt32(entry, 24), 0); // switch byte 5
        EXPECT_EQ(Text(entry + 28, 10), "BCDEFGHIJK");
        std::string last =
            size == kSystemPropertySize ? "LMNOPQRSTUVWXYZ" : "LMNOPQRSTU" + std::string(5, '\0');
        EXPECT_EQ(Text(entry + 38, 18), last + std::string(3, '\0'));
    }
    EXPECT_EQ(LineSpeedFromCode(0xFA), 19200);
    EXPECT_EQ(LineSpeedFromCode(0xFD), 38400);
    EXPECT_EQ(LineSpeedFromCode(0x00), 38400);
}

TEST(PropertyDecoders, StatusPutsTheWeekdayAfterTheDay) {
    const uint8_t payload[kStatusSize] = {0x20, 0x05, 0x03, 0x07, 0x0E, 0x1E,
                                          0x2D, 0x02, 0x00, 0x00, 0x01, 0x00};
    uint8_t entry[kStatusEntrySize];
    DecodeStatus(payload, entry);
    const int expected[] = {2005, 3, 7, 2, 14, 30, 45, 256};
    for (size_t i = 0; i < 8; ++i)
        EXPECT_EQ(GetHostInt32(entry, 4 * i), expected[i]) << i;
}

} // namespace
} // namespace qarn
