#include "codec/des.h"

#include "codec/bytes.h"

namespace qarn {

namespace {

// Permutation tables hold zero-based bit positions, 0 being the most significant bit of the
// input; entry i gives the source of output bit i.
// clang-format off
constexpr uint8_t kInitialPermutation[64] = {
    57, 49, 41, 33, 25, 17,  9,  1,
    59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,
    63, 55, 47, 39, 31, 23, 15,  7,
    56, 48, 40, 32, 24, 16,  8,  0,
    58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,
    62, 54, 46, 38, 30, 22, 14,  6,
};
constexpr uint8_t kFinalPermutation[64] = {
    39,  7, 47, 15, 55, 23, 63, 31,
    38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,
    36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,
    34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25,
    32,  0, 40,  8, 48, 16, 56, 24,
};
constexpr uint8_t kExpansion[48] = {
    31,  0,  1,  2,  3,  4,
     3,  4,  5,  6,  7,  8,
     7,  8,  9, 10, 11, 12,
    11, 12, 13, 14, 15, 16,
    15, 16, 17, 18, 19, 20,
    19, 20, 21, 22, 23, 24,
    23, 24, 25, 26, 27, 28,
    27, 28, 29, 30, 31,  0,
};
constexpr uint8_t kPermutation[32] = {
    15,  6, 19, 20, 28, 11, 27, 16,
     0, 14, 22, 25,  4, 17, 30,  9,
     1,  7, 23, 13, 31, 26,  2,  8,
    18, 12, 29,  5, 21, 10,  3, 24,
};
constexpr uint8_t kPermutedChoice1[56] = {
    56, 48, 40, 32, 24, 16,  8,
     0, 57, 49, 41, 33, 25, 17,
     9,  1, 58, 50, 42, 34, 26,
    18, 10,  2, 59, 51, 43, 35,
    62, 54, 46, 38, 30, 22, 14,
     6, 61, 53, 45, 37, 29, 21,
    13,  5, 60, 52, 44, 36, 28,
    20, 12,  4, 27, 19, 11,  3,
};
constexpr uint8_t kPermutedChoice2[48] = {
    13, 16, 10, 23,  0,  4,
     2, 27, 14,  5, 20,  9,
    22, 18, 11,  3, 25,  7,
    15,  6, 26, 19, 12,  1,
    40, 51, 30, 36, 46, 54,
    29, 39, 50, 44, 32, 47,
    43, 48, 38, 55, 33, 52,
    45, 41, 49, 35, 28, 31,
};

// Left rotations of C and D before each round.
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// S1..S8; the row is chosen by the outer bits of a 6-bit group, the column by the inner four.
constexpr uint8_t kSBoxes[8][4][16] = {
    {
        {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7},
        { 0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8},
        { 4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0},
        {15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
    },
    {
        {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10},
        { 3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5},
        { 0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15},
        {13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
    },
    {
        {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8},
        {13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1},
        {13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7},
        { 1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
    },
    {
        { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15},
        {13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9},
        {10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4},
        { 3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
    },
    {
        { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9},
        {14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6},
        { 4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14},
        {11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
    },
    {
        {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11},
        {10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8},
        { 9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6},
        { 4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
    },
    {
        { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1},
        {13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6},
        { 1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2},
        { 6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
    },
    {
        {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7},
        { 1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2},
        { 7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8},
        { 2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11},
    },
};
// clang-format on

constexpr unsigned kHalfKeyBits = 28;
constexpr uint32_t kHalfKeyMask = (1u << kHalfKeyBits) - 1;
constexpr unsigned kRoundKeyBits = 48;

uint64_t Permute(uint64_t input, unsigned inputBits, const uint8_t* table, unsigned outputBits) {
    uint64_t output = 0;
    for (unsigned i = 0; i < outputBits; ++i)
        output = output << 1 | (input >> (inputBits - 1 - table[i]) & 1);
    return output;
}

uint32_t RotateHalfKey(uint32_t half, unsigned count) {
    return (half << count | half >> (kHalfKeyBits - count)) & kHalfKeyMask;
}

uint64_t GetBlock(const uint8_t* bytes) {
    return static_cast<uint64_t>(GetBigEndian32(bytes)) << 32 | GetBigEndian32(bytes + 4);
}

void PutBlock(uint8_t* bytes, uint64_t block) {
    PutBigEndian32(bytes, static_cast<uint32_t>(block >> 32));
    PutBigEndian32(bytes + 4, static_cast<uint32_t>(block));
}

uint32_t Feistel(uint32_t right, uint64_t roundKey) {
    uint64_t mixed = Permute(right, 32, kExpansion, kRoundKeyBits) ^ roundKey;
    uint32_t substituted = 0;
    for (unsigned box = 0; box < 8; ++box) {
        unsigned group = mixed >> (kRoundKeyBits - 6 * (box + 1)) & 0x3F;
        unsigned row = (group >> 4 & 2) | (group & 1);
        unsigned column = group >> 1 & 0xF;
        substituted = substituted << 4 | kSBoxes[box][row][column];
    }
    return static_cast<uint32_t>(Permute(substituted, 32, kPermutation, 32));
}

} // namespace

void CDes::SetKey(const uint8_t key[8]) {
    if (key == nullptr) return;
    uint64_t choice = Permute(GetBlock(key), 64, kPermutedChoice1, 2 * kHalfKeyBits);
    uint32_t c = static_cast<uint32_t>(choice >> kHalfKeyBits);
    uint32_t d = static_cast<uint32_t>(choice) & kHalfKeyMask;
    for (unsigned round = 0; round < 16; ++round) {
        c = RotateHalfKey(c, kShifts[round]);
        d = RotateHalfKey(d, kShifts[round]);
        uint64_t joined = static_cast<uint64_t>(c) << kHalfKeyBits | d;
        uint64_t roundKey = Permute(joined, 2 * kHalfKeyBits, kPermutedChoice2, kRoundKeyBits);
        PutBigEndian16(roundKeys_[round], static_cast<uint32_t>(roundKey >> 32));
        PutBigEndian32(roundKeys_[round] + 2, static_cast<uint32_t>(roundKey));
    }
}

void CDes::Encipher(const uint8_t input[8], uint8_t output[8]) const {
    if (input == nullptr || output == nullptr) return;
    uint64_t block = Permute(GetBlock(input), 64, kInitialPermutation, 64);
    uint32_t left = static_cast<uint32_t>(block >> 32);
    uint32_t right = static_cast<uint32_t>(block);
    for (const auto& stored : roundKeys_) {
        uint64_t roundKey =
            static_cast<uint64_t>(GetBigEndian16(stored)) << 32 | GetBigEndian32(stored + 2);
        uint32_t next = left ^ Feistel(right, roundKey);
        left = right;
        right = next;
    }
    // The halves are not swapped back after the last round.
    uint64_t preOutput = static_cast<uint64_t>(right) << 32 | left;
    PutBlock(output, Permute(preOutput, 64, kFinalPermutation, 64));
}

} // namespace qarn
