// Byte layouts: frames, payloads and data buffers are built and read with these helpers only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace qarn {

using ByteArray = std::vector<uint8_t>;

inline void AppendBigEndian16(ByteArray& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

inline void AppendBigEndian32(ByteArray& out, uint32_t value) {
    AppendBigEndian16(out, value >> 16);
    AppendBigEndian16(out, value);
}

inline void PutBigEndian16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

inline void PutBigEndian32(uint8_t* at, uint32_t value) {
    PutBigEndian16(at, value >> 16);
    PutBigEndian16(at + 2, value);
}

inline uint32_t GetBigEndian16(const uint8_t* at) {
    return static_cast<uint32_t>(at[0]) << 8 | at[1];
}

inline uint32_t GetBigEndian32(const uint8_t* at) {
    return GetBigEndian16(at) << 16 | GetBigEndian16(at + 2);
}

// Parameter blocks and data buffers hold 32-bit integers in the host's byte order.
inline int32_t GetHostInt32(const void* block, size_t offset) {
    int32_t value;
    std::memcpy(&value, static_cast<const uint8_t*>(block) + offset, sizeof value);
    return value;
}

inline void PutHostInt32(void* block, size_t offset, int32_t value) {
    std::memcpy(static_cast<uint8_t*>(block) + offset, &value, sizeof value);
}

inline void AppendHostInt32(ByteArray& out, int32_t value) {
    size_t at = out.size();
    out.resize(at + sizeof value);
    PutHostInt32(out.data(), at, value);
}

inline uint8_t XorSum(const uint8_t* bytes, size_t count) {
    uint8_t sum = 0;
    for (size_t i = 0; i < count; ++i) sum ^= bytes[i];
    return sum;
}

} // namespace qarn
