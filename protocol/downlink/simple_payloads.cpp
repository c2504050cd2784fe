#include "protocol/downlink/payload_encoders.h"
#include "protocol/downlink/payload_fields.h"

namespace qarn {

bool EncodeFirstValueByte(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    payload.push_back(static_cast<uint8_t>(GetHostInt32(params, 0)));
    return true;
}

bool EncodeRecordsTaken(const PayloadContext&, const uint8_t*, ByteArray& payload) {
    payload.push_back(0x08);
    return true;
}

bool EncodeTestPattern(const PayloadContext&, const uint8_t* params, ByteArray& payload) {
    int count = GetHostInt32(params, 0);
    if (count > kLargestPayloadSize) return false;
    for (int i = 0; i < count; ++i)
        payload.push_back(static_cast<uint8_t>(i));
    return true;
}

bool EncodeZeroByte(const PayloadContext&, const uint8_t*, ByteArray& payload) {
    payload.push_back(0x00);
    return true;
}

} // namespace qarn
