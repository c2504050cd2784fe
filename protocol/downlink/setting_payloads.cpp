// Address, record, property and setting payloads.
#include "codec/big5_gb.h"
#include "protocol/downlink/payload_encoders.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

namespace {

constexpr size_t kLcdTitleSize = 48; // three lines of 16 bytes
constexpr size_t kLcdLineSize = 16;
constexpr size_t kGradesHeader = 3; // flag and count before the items

void AppendBlockBytes(ByteArray& payload, const uint8_t* params, size_t from, size_t count) {
    payload.insert(payload.end(), params + from, params + from + count);
}

} // namespace

bool EncodeAddress(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 0)));
    AppendBigEndian16(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    return true;
}

bool EncodeRecordRange(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    AppendQuotientAndRemainder(payload, GetHostInt32(params, 0));
    payload.push_back(LowByte(GetHostInt32(params, 4)));
    return true;
}

bool EncodeRecordIndex(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(GetHostInt32(params, 0) == 0 ? 0xFF : 0x00);
    for (size_t date = 4; date <= 16; date += 12) {
        payload.push_back(LowByte(GetHostInt32(params, date) % 2000));
        payload.push_back(LowByte(GetHostInt32(params, date + 4)));
        payload.push_back(LowByte(GetHostInt32(params, date + 8)));
    }
    return true;
}

bool EncodePropertyItem(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 4)));
    return true;
}

bool EncodeLcdTitle(const PayloadContext& context, const uint8_t* params, ByteArray& payload) {
    const size_t at = payload.size();
    AppendBlockBytes(payload, params, 0, kLcdTitleSize);
    // Line by line: a code cut off at the end of one line must not shift the next.
    if (context.innerCode) {
        for (size_t line = 0; line < kLcdTitleSize; line += kLcdLineSize)
            CBig5ToGB::ConvertBig5ToGb(payload.data() + at + line, kLcdLineSize);
    }
    return true;
}

bool EncodeBlackCard(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    AppendBlockBytes(payload, params, 0, 4);
    return true;
}

bool EncodeGrades(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    const int32_t count = GetHostInt32(params, 4);
    if (count > kLargestPayloadSize - static_cast<int32_t>(kGradesHeader)) return false;
    // A negative count carries no items, so the frame announces none.
    const int32_t items = count > 0 ? count : 0;
    payload.push_back(GetHostInt32(params, 0) != 0 ? 1 : 0);
    AppendBigEndian16(payload, static_cast<uint32_t>(items));
    for (int32_t i = 0; i < items; ++i)
        payload.push_back(LowByte(GetHostInt32(params, 8 + 4 * i)));
    return true;
}

bool EncodeSerialNumber(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(0x00);
    AppendBigEndian32(payload, static_cast<uint32_t>(GetHostInt32(params, 0)));
    return true;
}

bool EncodeByteAndTenBytes(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(LowByte(GetHostInt32(params, 0)));
    AppendBlockBytes(payload, params, 4, 10);
    return true;
}

} // namespace qarn
