#include "protocol/downlink/payloads.h"

#include <iterator>

#include "protocol/downlink/payload_encoders.h"

namespace qarn {

namespace {

const PayloadRow kPayloadRows[] = {
    {0x06, true, EncodeFirstValueByte}, {0x1A, true, EncodeFirstValueByte},
    {0x1B, true, EncodeFirstValueByte}, {0x1C, true, EncodeFirstValueByte},
    {0xA4, true, EncodeFirstValueByte}, {0x60, true, EncodeFirstValueByte},
    {0x67, true, EncodeFirstValueByte}, {0x1D, false, EncodeRecordsTaken},
    {0x80, true, EncodeTestPattern},    {0x81, false, EncodeZeroByte},
    {0x82, false, EncodeZeroByte},      {0x01, false, EncodeHostClock},
    {0x0A, true, EncodeGivenClock},     {0x18, true, EncodeTimeSlots},
    {0x19, true, EncodeCardTimes},      {0x02, true, EncodeAddress},
    {0x10, true, EncodeRecordRange},    {0x36, true, EncodeRecordRange},
    {0x11, true, EncodeRecordIndex},    {0x12, true, EncodePropertyItem},
    {0x14, true, EncodePropertyItem},   {0x86, true, EncodeLcdTitle},
    {0xA3, true, EncodeBlackCard},      {0xA5, true, EncodeGrades},
    {0xC7, true, EncodeSerialNumber},   {0xCD, true, EncodeByteAndTenBytes},
    {0x61, true, EncodeCardWrite},      {0x66, true, EncodeCardUpdate},
    {0x62, true, EncodeMoneyChange},    {0x63, true, EncodeMoneyChange},
    {0x65, true, EncodeInitCardKey},    {0xA0, true, EncodeSysKey},
    {0x68, true, EncodeSysKey},         {0xA1, true, EncodeUserKey},
    {0xC8, true, EncodeSystemCard},     {0xC9, true, EncodeLoadSystemKey},
};

} // namespace

const PayloadRow* FindPayloadRow(int code) {
    for (const PayloadRow& row : kPayloadRows)
        if (row.code == code) return &row;
    return nullptr;
}

} // namespace qarn
