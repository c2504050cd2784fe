// Card data and money payloads, chosen by the sub-code at the start of the parameter block.
#include "platform/clock.h"
#include "protocol/downlink/card_fields.h"
#include "protocol/downlink/payload_encoders.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

namespace {

using LayoutEncoder = void (*)(const PayloadContext&, const uint8_t* params, ByteArray& payload);

struct CardLayout {
    int32_t subCode;
    LayoutEncoder encode;
};

void AppendToday(ByteArray& payload) {
    platform::LocalTime today = platform::GetLocalTime();
    payload.push_back(YearSince2000(today.year));
    payload.push_back(LowByte(today.month));
    payload.push_back(LowByte(today.day));
}

void AppendDate(ByteArray& payload, const uint8_t* params, size_t at) {
    payload.push_back(YearSince2000(GetHostInt32(params, at)));
    payload.push_back(LowByte(GetHostInt32(params, at + 4)));
    payload.push_back(LowByte(GetHostInt32(params, at + 8)));
}

void AppendZeros(ByteArray& payload, size_t count) {
    payload.insert(payload.end(), count, 0x00);
}

// Payload bytes 1 to 23, common to layouts 1 and 2; only layout 1 masks the password.
void AppendLayout1Or2Fields(const PayloadContext& context, const uint8_t* params,
                            uint16_t passwordMask, ByteArray& payload) {
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    AppendRecordCode(payload, params + 8);
    payload.push_back(LowByte(GetHostInt32(params, 16)));
    payload.push_back(LowByte(GetHostInt32(params, 20)));
    AppendCardPassword(payload, params + 24, passwordMask);
    AppendCardName(payload, params + 28, context.innerCode);
    AppendDate(payload, params, 36);
}

void EncodeLayout1(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(0x01);
    const uint16_t mask = static_cast<uint16_t>(context.keyTable[0] << 8 | context.keyTable[1]);
    AppendLayout1Or2Fields(context, params, mask, payload);
    payload.insert(payload.end(), {0x01, 0x00, 0x00, 0x03, 0xAA});
}

void EncodeLayout2(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(0x02);
    AppendLayout1Or2Fields(context, params, 0, payload);
    payload.push_back(0x00);
    AppendToday(payload);
    AppendZeros(payload, 14);
}

void EncodeLayout3(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    payload.push_back(0x03);
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    AppendRecordCode(payload, params + 8);
    AppendCardPassword(payload, params + 15, 0);
    AppendCardName(payload, params + 19, context.innerCode);
    AppendDate(payload, params, 28);
    payload.push_back(LowByte(GetHostInt32(params, 40)));
    payload.push_back(LowByte(GetHostInt32(params, 44)));
}

void EncodeLayout254(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    const size_t at = payload.size();
    payload.push_back(0xFE);
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    AppendZeros(payload, 11);
    payload.insert(payload.end(), {payload[at + 2], payload[at + 3], payload[at + 4]});
    AppendZeros(payload, 3);
    AppendTimeStamp(payload, platform::GetLocalTime());
}

void EncodeMoney(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(0x02);
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    payload.push_back(LowByte(GetHostInt32(params, 8)));
    AppendToday(payload);
    AppendZeros(payload, 2);
}

const CardLayout kWriteLayouts[] = {
    {1, EncodeLayout1}, {2, EncodeLayout2}, {3, EncodeLayout3}, {254, EncodeLayout254}};
const CardLayout kUpdateLayouts[] = {{1, EncodeLayout1}};
const CardLayout kMoneyLayouts[] = {{2, EncodeMoney}};

// A sub-code without a layout sends the frame with no payload; the terminal's reply decides.
template <size_t N>
bool EncodeBySubCode(const CardLayout (&layouts)[N], const PayloadContext& context,
                     const uint8_t* params, ByteArray& payload) {
    const int32_t subCode = GetHostInt32(params, 0);
    for (const CardLayout& layout : layouts)
        if (layout.subCode == subCode) layout.encode(context, params, payload);
    return true;
}

} // namespace

bool EncodeCardWrite(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    return EncodeBySubCode(kWriteLayouts, context, params, payload);
}

bool EncodeCardUpdate(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    return EncodeBySubCode(kUpdateLayouts, context, params, payload);
}

bool EncodeMoneyChange(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    return EncodeBySubCode(kMoneyLayouts, context, params, payload);
}

} // namespace qarn
