#include <gtest/gtest.h>

#include "payload_test_support.h"

namespace {

using namespace payload_test;

class KeyPayloadsAtFixedTime : public FixedHostClock {};

// Cipher texts under key table bytes 8 to 15 (133457799BBCDFF1).
const ByteArray kCipher0123{0x85, 0xE8, 0x13, 0x54, 0x0F, 0x0A, 0xB4, 0x05};
const ByteArray kCipherFEDC{0x4A, 0xB6, 0x5B, 0x3D, 0x4B, 0x06, 0x15, 0x18};
const ByteArray kCipherZero{0x94, 0x8A, 0x43, 0xF9, 0x8A, 0x83, 0x4F, 0x7E};
const ByteArray kCipherEF0F{0x19, 0xBE, 0x48, 0xE4, 0x74, 0x1D, 0xCF, 0xED};

ByteArray Joined(std::initializer_list<ByteArray> parts) {
    ByteArray joined;
    for (const ByteArray& part : parts)
        joined.insert(joined.end(), part.begin(), part.end());
    return joined;
}

TEST(KeyPayloads, CardKeysEncipheredBlockByBlock) {
    const Block block =
        Block(36).Int(0, 0x1FE).Text(4, "0123456789ABCDEF").Text(20, "0123456789abcdef");
    EXPECT_EQ(Encode(0x65, block), Joined({{0xFE}, kCipher0123, kCipher0123}));
}

TEST(KeyPayloads, SystemKeysAndTheCardKeyUpdateShareOneEncoding) {
    Block block(72);
    block.Int(0, 1).Text(4, "0123456789ABCDEF").Text(20, "fedcba9876543210");
    // ZZ counts as (16 x -1) + -1 = -17, the byte 0xEF.
    block.Text(36, "0000000000000000").Text(52, "ZZ0F000000000000").Int(68, 0x102);
    const ByteArray expected =
        Joined({{0x01}, kCipher0123, kCipherFEDC, kCipherZero, kCipherEF0F, {0x02}});
    EXPECT_EQ(Encode(0xA0, block), expected);
    EXPECT_EQ(Encode(0x68, block), expected);
}

TEST(KeyPayloads, UserKeysMaskedRawBytes) {
    Block block(20);
    block.Int(0, 3).Text(12, std::string(reinterpret_cast<const char*>(kTestKeyTable), 8));
    EXPECT_EQ(
        Encode(0xA1, block),
        Joined({{0x03}, ByteArray(kTestKeyTable, kTestKeyTable + 8), ByteArray(8, 0x00), {0xFF}}));
}

TEST(KeyPayloads, LoadSystemKeySendsTheMaskedKeyTwice) {
    // G1 gives -16 + 1 = 0xF1 and 1G gives 16 - 1 = 0x0F: non-digits are counted, not refused.
    const ByteArray masked{0xF1 ^ 0xA5, 0x0F ^ 0x5A, 0x0F, 0xF0, 0x3C, 0xC3, 0x96, 0x69};
    EXPECT_EQ(Encode(0xC9, Block(20).Int(0, 9).Text(4, "G11G000000000000")),
              Joined({{0x09}, masked, masked}));
}

TEST_F(KeyPayloadsAtFixedTime, SystemCardLayout) {
    Block block(100);
    block.Text(0, "0000000000000000").Text(16, "A55A0FF03CC39669").Text(32, "FFFFFFFFFFFFFFFF");
    block.Text(48, "0123456789ABCDEF").Int(64, 0x142);
    block.Text(68, "1111111111111111").Text(84, "2222222222222222");
    const ByteArray k5{0xB4, 0x4B, 0x1E, 0xE1, 0x2D, 0xD2, 0x87, 0x78};
    const ByteArray k6{0x87, 0x78, 0x2D, 0xD2, 0x1E, 0xE1, 0xB4, 0x4B};
    const ByteArray expected = Joined({
        ByteArray(kTestKeyTable, kTestKeyTable + 8),
        ByteArray(8, 0x00),
        {0x5A, 0xA5, 0xF0, 0x0F, 0xC3, 0x3C, 0x69, 0x96},
        {0xA4, 0x79, 0x4A, 0x97, 0xB5, 0x68, 0x5B, 0x86},
        {0x42, 0xFF, 0x00, 0x00, 0x00},
        k5,
        k6,
        {0xB4, 0x78, 0x1E, 0xD2, 0x2D, 0xE1},
        {0x09, 0x07, 0x0E, 0x13, 0x03, 0x05},
    });
    ASSERT_EQ(expected.size(), 65u);
    EXPECT_EQ(Encode(0xC8, block), expected);
}

} // namespace
