// Parameter blocks, a known key table and a fixed host clock for the payload encoder tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocol/downlink/payloads.h"

namespace payload_test {

using qarn::ByteArray;

// Mask bytes 0-7, then a DES key with a published known answer: 0123456789ABCDEF enciphers
// to 85E813540F0AB405 under 133457799BBCDFF1.
inline const uint8_t kTestKeyTable[24] = {0xA5, 0x5A, 0x0F, 0xF0, 0x3C, 0xC3, 0x96, 0x69,
                                          0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};

// A parameter block as the application lays it out: host-order int32 values and fixed texts.
class Block {
  public:
    explicit Block(size_t size) : bytes_(size, 0) {}
    Block& Int(size_t at, int32_t value) {
        std::memcpy(&bytes_[at], &value, sizeof value);
        return *this;
    }
    Block& Text(size_t at, const std::string& text) {
        std::memcpy(&bytes_[at], text.data(), text.size());
        return *this;
    }
    const uint8_t* data() const { return bytes_.data(); }

  private:
    std::vector<uint8_t> bytes_;
};

inline ByteArray Encode(int code, const Block& block, int innerCode = 0) {
    const qarn::PayloadRow* row = qarn::FindPayloadRow(code);
    EXPECT_NE(row, nullptr) << std::hex << code;
    ByteArray payload;
    if (row) {
        EXPECT_TRUE(row->encode({innerCode, kTestKeyTable}, block.data(), payload));
    }
    return payload;
}

inline ByteArray Slice(const ByteArray& bytes, size_t from, size_t count) {
    return ByteArray(bytes.begin() + from, bytes.begin() + from + count);
}

// The host clock at Saturday 2005-03-19 14:07:09 while a test runs.
class FixedHostClock : public ::testing::Test {
  protected:
    void SetUp() override {
        const qarn::platform::LocalTime saturday{2005, 3, 6, 19, 14, 7, 9, 0};
        qarn::platform::SetLocalTimeForTesting(&saturday);
    }
    void TearDown() override { qarn::platform::SetLocalTimeForTesting(nullptr); }
};

} // namespace payload_test
