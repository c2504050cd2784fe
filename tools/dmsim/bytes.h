// Big-endian field helpers for the simulator's own frame and payload layouts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dmsim {

using Bytes = std::vector<uint8_t>;

inline void AppendBe16(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void AppendBe24(Bytes& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 16));
    AppendBe16(out, value);
}

inline void AppendBe32(Bytes& out, uint32_t value) {
    AppendBe16(out, value >> 16);
    AppendBe16(out, value);
}

inline uint32_t GetBe16(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 8 | at[1];
}

inline uint32_t GetBe32(const uint8_t* at) {
    return GetBe16(at) << 16 | GetBe16(at + 2);
}

inline uint8_t Xor(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum ^= bytes[i];
    return sum;
}

} // namespace dmsim
