// The encoders of the payload table, by family.
#pragma once

#include "protocol/downlink/payloads.h"

namespace qarn {

// One-byte and fixed payloads.
bool EncodeFirstValueByte(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeRecordsTaken(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeTestPattern(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeZeroByte(const PayloadContext&, const uint8_t* params, ByteArray& payload);

// Clocks and times of day.
bool EncodeHostClock(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeGivenClock(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeTimeSlots(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeCardTimes(const PayloadContext&, const uint8_t* params, ByteArray& payload);

// Address, records and settings.
bool EncodeAddress(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeRecordRange(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeRecordIndex(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodePropertyItem(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeLcdTitle(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeBlackCard(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeGrades(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeSerialNumber(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeByteAndTenBytes(const PayloadContext&, const uint8_t* params, ByteArray& payload);

// Card data and money, by sub-code; a sub-code without a layout gives an empty payload.
bool EncodeCardWrite(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeCardUpdate(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeMoneyChange(const PayloadContext&, const uint8_t* params, ByteArray& payload);

// Keys.
bool EncodeInitCardKey(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeSysKey(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeUserKey(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeSystemCard(const PayloadContext&, const uint8_t* params, ByteArray& payload);
bool EncodeLoadSystemKey(const PayloadContext&, const uint8_t* params, ByteArray& payload);

} // namespace qarn
