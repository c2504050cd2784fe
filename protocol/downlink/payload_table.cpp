#include "protocol/downlink/payloads.h"

#include <iterator>

#include "protocol/downlink/payload_encoders.h"

namespace qarn {

namespace {

const PayloadRow kPayloadRows[] = {
    {0x06, true, EncodeFirstValueByte},  {0x1A, true, EncodeFirstValueByte},
    {0x1B, true, EncodeFirstValueByte},  {0x1C, true, EncodeFirstValueByte},
    {0xA4, true, EncodeFirstValueByte},  {0x60, true, EncodeFirstValueByte},
    {0x67, true, EncodeFirstValueByte},  {0x1D, false, EncodeRecordsTaken},
    {0x80, true, EncodeTestPattern},     {0x81, false, EncodeZeroByte},
    {0x82, false, EncodeZeroByte},
};

} // namespace

const PayloadRow* FindPayloadRow(int code) {
    for (const PayloadRow& row : kPayloadRows)
        if (row.code == code) return &row;
    return nullptr;
}

} // namespace qarn
