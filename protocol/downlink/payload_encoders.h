// The encoders of the payload table, by family.
#pragma once

#include "protocol/downlink/payloads.h"

namespace qarn {

// One-byte and fixed payloads.
bool EncodeFirstValueByte(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeRecordsTaken(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeTestPattern(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeZeroByte(const PayloadContext&, const uint8_t* params, ByteArray& payload);

} // namespace qarn
