#include "protocol/downlink/payload_fields.h"

namespace qarn {

int HexDigitValue(uint8_t character) {
    if (character >= '0' && character <= '9') return character - '0';
    if (character >= 'a' && character <= 'f') return character - 'a' + 10;
    if (character >= 'A' && character <= 'F') return character - 'A' + 10;
    return -1;
}

void DecodeHexKey(const uint8_t* text, uint8_t key[8]) {
    for (int i = 0; i < 8; ++i)
        key[i] = LowByte(16 * HexDigitValue(text[2 * i]) + HexDigitValue(text[2 * i + 1]));
}

void AppendQuotientAndRemainder(ByteArray& payload, int32_t value) {
    payload.push_back(LowByte(value / 256));
    payload.push_back(LowByte(value % 256));
}

void AppendTimeStamp(ByteArray& payload, const platform::LocalTime& time) {
    const int fields[] = {time.second, time.minute, time.hour,
                          time.day,    time.month,  time.year % 100};
    for (int field : fields)
        payload.push_back(LowByte(field));
}

} // namespace qarn
