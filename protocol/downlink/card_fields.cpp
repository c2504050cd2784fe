#include "protocol/downlink/card_fields.h"

#include <algorithm>
#include <iterator>

#include "codec/big5_gb.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

namespace {

constexpr size_t kRecordCodeLength = 7;
constexpr size_t kCardNameLength = 8;

// A character's code is its position here; characters outside the table code as 0.
constexpr char kCodeCharacters[64] = {
    ' ', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D', 'E',
    'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U',
    'V', 'W', 'X', 'Y', 'Z', '_', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j',
    'k', 'l', 'm', 'n', 'o', 'p', 'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z'};

int CharacterCode(uint8_t character) {
    const char* found =
        std::find(std::begin(kCodeCharacters), std::end(kCodeCharacters), character);
    return found == std::end(kCodeCharacters) ? 0 : static_cast<int>(found - kCodeCharacters);
}

} // namespace

void AppendRecordCode(ByteArray& payload, const uint8_t* code) {
    int c[kRecordCodeLength] = {}; // the space code pads the end
    size_t kept = 0;
    for (size_t i = 0; i < kRecordCodeLength; ++i)
        if (code[i] != ' ') c[kept++] = CharacterCode(code[i]);
    payload.push_back(static_cast<uint8_t>(c[0] * 4 + c[1] / 16));
    payload.push_back(static_cast<uint8_t>(c[1] * 16 + c[2] % 16));
    payload.push_back(static_cast<uint8_t>(c[3] * 16 + c[4] % 16));
    payload.push_back(static_cast<uint8_t>(c[5] * 16 + c[6] % 16));
}

void AppendCardPassword(ByteArray& payload, const uint8_t* text, uint16_t mask) {
    int value = 0;
    for (int i = 0; i < 4; ++i)
        value = value * 10 + HexDigitValue(text[i]);
    AppendBigEndian16(payload, (static_cast<uint32_t>(value) ^ mask) & 0xFFFF);
}

void AppendCardName(ByteArray& payload, const uint8_t* name, int innerCode) {
    uint8_t bytes[kCardNameLength];
    std::copy(name, name + kCardNameLength, bytes);
    if (innerCode) CBig5ToGB::ConvertBig5ToGb(bytes, kCardNameLength);
    std::replace(std::begin(bytes), std::end(bytes), uint8_t{' '}, uint8_t{0});
    payload.insert(payload.end(), std::begin(bytes), std::end(bytes));
}

} // namespace qarn
