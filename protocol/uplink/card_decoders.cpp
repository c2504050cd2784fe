#include "protocol/uplink/card_decoders.h"

#include <cstring>

#include "codec/big5_gb.h"
#include "codec/bytes.h"
#include "protocol/uplink/record_decoders.h"

namespace qarn {

namespace {

constexpr size_t kCardNameSize = 8;

void PutCardName(const CardContext& context, const uint8_t* name, uint8_t* at) {
    std::memcpy(at, name, kCardNameSize);
    if (context.innerCode != 0) CBig5ToGB::ConvertGbToBig5(at, kCardNameSize);
}

void PutNumber(const uint8_t* at, uint8_t* entry, size_t offset) {
    PutHostInt32(entry, offset, static_cast<int32_t>(GetBigEndian32(at)));
}

// Payload bytes 0-23 of layouts 1 and 2 into entry bytes 0-47; only the password differs.
void PutLayout12(const CardContext& context, const uint8_t* payload, uint8_t* entry,
                 uint32_t password) {
    PutHostInt32(entry, 0, payload[0]);
    PutNumber(payload + 1, entry, 4);
    UnpackRecordCode(payload + 5, reinterpret_cast<char*>(entry + 8));
    entry[15] = 0;
    PutHostInt32(entry, 16, payload[9]);
    PutHostInt32(entry, 20, payload[10]);
    PutPasswordDigits(password, entry + 24);
    PutCardName(context, payload + 13, entry + 28);
    PutHostInt32(entry, 36, payload[21] + kYearBase);
    PutHostInt32(entry, 40, payload[22]);
    PutHostInt32(entry, 44, payload[23]);
}

} // namespace

void PutPasswordDigits(uint32_t value, uint8_t* at) {
    at[0] = static_cast<uint8_t>('0' + value / 1000);
    at[1] = static_cast<uint8_t>('0' + value % 1000 / 100);
    at[2] = static_cast<uint8_t>('0' + value % 100 / 10);
    at[3] = static_cast<uint8_t>('0' + value % 10);
}

bool DecodeCardLayout1(const CardContext& context, const uint8_t* payload, uint8_t* entry) {
    if (payload[0] != 1) return false;
    uint32_t password = static_cast<uint32_t>(payload[11] ^ context.keyTable[0]) << 8 |
                        (payload[12] ^ context.keyTable[1]);
    PutLayout12(context, payload, entry, password);
    return true;
}

bool DecodeCardLayout2(const CardContext& context, const uint8_t* payload, uint8_t* entry) {
    if (payload[0] != 2) return false;
    PutLayout12(context, payload, entry, GetBigEndian16(payload + 11));
    PutHostInt32(entry, 48, static_cast<int32_t>(GetBigEndian16(payload + 36)));
    return true;
}

bool DecodeCardLayout3(const CardContext& context, const uint8_t* payload, uint8_t* entry) {
    if (payload[0] != 3) return false;
    PutHostInt32(entry, 0, payload[0]);
    PutNumber(payload + 1, entry, 4);
    UnpackRecordCode(payload + 5, reinterpret_cast<char*>(entry + 8));
    PutPasswordDigits(GetBigEndian16(payload + 9), entry + 15);
    PutCardName(context, payload + 11, entry + 19);
    entry[27] = 0;
    PutHostInt32(entry, 28, payload[19] + kYearBase);
    PutHostInt32(entry, 32, payload[20]);
    PutHostInt32(entry, 36, payload[21]);
    PutHostInt32(entry, 40, payload[22]);
    PutHostInt32(entry, 44, payload[23]);
    return true;
}

bool DecodeCardLayout254(const CardContext&, const uint8_t* payload, uint8_t* entry) {
    if (payload[0] != 254) return false;
    PutHostInt32(entry, 0, payload[0]);
    PutNumber(payload + 1, entry, 4);
    PutPasswordDigits(GetBigEndian16(payload + 5), entry + 8);
    return true;
}

bool DecodeMoney(const uint8_t* payload, uint8_t* entry) {
    if (payload[0] != kMoneySubCode) return false;
    PutHostInt32(entry, 0, payload[0]);
    PutHostInt32(entry, 4, GetSignMagnitude32(payload + 1));
    PutHostInt32(entry, 8, payload[5]);
    PutHostInt32(entry, 12, payload[6] + kYearBase);
    PutHostInt32(entry, 16, payload[7]);
    PutHostInt32(entry, 20, payload[8]);
    PutHostInt32(entry, 24, static_cast<int32_t>(GetBigEndian16(payload + 9)));
    return true;
}

void DecodeCardId(const uint8_t* payload, uint8_t* entry) {
    PutHostInt32(entry, 0, payload[0]);
    PutNumber(payload + 1, entry, 4);
}

} // namespace qarn
