// Key payloads: keys go out DES-enciphered under key table bytes 8 to 15, or XOR-ed with key
// table bytes 0 to 7, never in the clear.
#include "codec/des.h"
#include "platform/clock.h"
#include "protocol/downlink/payload_encoders.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

namespace {

constexpr size_t kKeySize = 8;
constexpr size_t kCipherKeyOffset = 8; // of the DES key in the key table

// Appends the DES encipherment of each hex key text at params + offsets[i].
template <size_t N>
void AppendEnciphered(const PayloadContext& context, const uint8_t* params,
                      const size_t (&offsets)[N], ByteArray& payload) {
    CDes cipher;
    cipher.SetKey(context.keyTable + kCipherKeyOffset);
    for (size_t offset : offsets) {
        uint8_t block[kKeySize];
        DecodeHexKey(params + offset, block);
        cipher.Encipher(block, block);
        payload.insert(payload.end(), block, block + kKeySize);
    }
}

void MaskKey(const PayloadContext& context, const uint8_t* key, uint8_t masked[kKeySize]) {
    for (size_t i = 0; i < kKeySize; ++i)
        masked[i] = key[i] ^ context.keyTable[i];
}

void AppendMasked(const uint8_t masked[kKeySize], ByteArray& payload) {
    payload.insert(payload.end(), masked, masked + kKeySize);
}

void MaskKeyText(const PayloadContext& context, const uint8_t* text, uint8_t masked[kKeySize]) {
    uint8_t key[kKeySize];
    DecodeHexKey(text, key);
    MaskKey(context, key, masked);
}

} // namespace

bool EncodeInitCardKey(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    AppendEnciphered(context, params, {4, 20}, payload);
    return true;
}

bool EncodeSysKey(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    AppendEnciphered(context, params, {4, 20, 36, 52}, payload);
    payload.push_back(LowByte(GetHostInt32(params, 68)));
    return true;
}

bool EncodeUserKey(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    const size_t rawKeys[] = {4, 12};
    for (size_t offset : rawKeys) {
        uint8_t masked[kKeySize];
        MaskKey(context, params + offset, masked);
        AppendMasked(masked, payload);
    }
    payload.push_back(0xFF);
    return true;
}

bool EncodeSystemCard(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    const size_t keyTexts[] = {0, 16, 32, 48, 68, 84};
    uint8_t keys[6][kKeySize];
    for (size_t i = 0; i < 6; ++i)
        MaskKeyText(context, params + keyTexts[i], keys[i]);
    for (size_t i = 0; i < 4; ++i)
        AppendMasked(keys[i], payload);
    payload.push_back(LowByte(GetHostInt32(params, 64)));
    payload.push_back(0xFF);
    payload.insert(payload.end(), 3, 0x00);
    AppendMasked(keys[4], payload);
    AppendMasked(keys[5], payload);
    // Bytes 0 to 5 taken alternately from keys 5 and 6.
    for (size_t i = 0; i < 6; ++i)
        payload.push_back(keys[4 + i % 2][i]);
    AppendTimeStamp(payload, platform::GetLocalTime());
    return true;
}

bool EncodeLoadSystemKey(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    uint8_t masked[kKeySize];
    MaskKeyText(context, params + 4, masked);
    AppendMasked(masked, payload); // the terminal receives the key twice
    AppendMasked(masked, payload);
    return true;
}

} // namespace qarn
