#include "protocol/uplink/property_decoders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "codec/bytes.h"
#include "protocol/uplink/record_decoders.h"

namespace qarn {

namespace {

enum class FieldKind { kUnsigned16, kByte, kSwitch };

struct PropertyField {
    uint8_t offset; // in the payload; the entry holds one int32 per field, in this order
    FieldKind kind;
};

const PropertyField kPropertyFields[] = {
    {0, FieldKind::kUnsigned16}, {2, FieldKind::kUnsigned16}, {4, FieldKind::kUnsigned16},
    {6, FieldKind::kByte},       {7, FieldKind::kByte},       {8, FieldKind::kByte},
    {9, FieldKind::kByte},       {10, FieldKind::kByte},      {11, FieldKind::kByte},
    {12, FieldKind::kByte},      {13, FieldKind::kByte},      {14, FieldKind::kByte},
    {15, FieldKind::kSwitch},    {16, FieldKind::kSwitch},    {17, FieldKind::kSwitch},
    {18, FieldKind::kByte},      {19, FieldKind::kByte},
};

static_assert(sizeof kPropertyFields / sizeof kPropertyFields[0] * 4 == kPropertyEntrySize,
              "one int32 per property field");

int32_t ReadField(const uint8_t* payload, const PropertyField& field) {
    const uint8_t* at = payload + field.offset;
    switch (field.kind) {
    case FieldKind::kUnsigned16:
        return static_cast<int32_t>(GetBigEndian16(at));
    case FieldKind::kSwitch:
        return *at != 0 ? 1 : 0;
    case FieldKind::kByte:
        break;
    }
    return *at;
}

struct LineSpeed {
    uint8_t code;
    int baud;
};

const LineSpeed kLineSpeeds[] = {
    {0xF4, 9600}, {0xF8, 14400}, {0xFA, 19200}, {0xFC, 28800}, {0xFE, 57600},
};

constexpr int kDefaultLineSpeed = 38400;

// Payload bytes 0-3 as eight 4-bit digits "dd.dd.dddd"; a digit above 9 prints as two
// characters and pushes the rest right, so the text is formatted in full and then cut to 10.
void PutDigitText(const uint8_t* payload, uint8_t* field) {
    int digits[8];
    for (int i = 0; i < 4; ++i) {
        digits[2 * i] = payload[i] >> 4;
        digits[2 * i + 1] = payload[i] & 0x0F;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%01d%01d.%01d%01d.%01d%01d%01d%01d", digits[0], digits[1],
                  digits[2], digits[3], digits[4], digits[5], digits[6], digits[7]);
    std::memcpy(field, text, 10);
}

} // namespace

int LineSpeedFromCode(uint8_t code) {
    for (const LineSpeed& speed : kLineSpeeds)
        if (speed.code == code) return speed.baud;
    return kDefaultLineSpeed;
}

void DecodeProperty(const uint8_t* payload, uint8_t* entry) {
    size_t offset = 0;
    for (const PropertyField& field : kPropertyFields) {
        PutHostInt32(entry, offset, ReadField(payload, field));
        offset += 4;
    }
}

void DecodeSystemProperty(const uint8_t* payload, size_t size, uint8_t* entry) {
    uint8_t full[kSystemPropertySize] = {};
    std::memcpy(full, payload, std::min(size, kSystemPropertySize));
    std::memset(entry, 0, kSystemPropertyEntrySize);
    PutDigitText(full, entry);
    PutHostInt32(entry, 12, static_cast<int32_t>(GetBigEndian32(full + 4)));
    PutHostInt32(entry, 16, LineSpeedFromCode(full[8]));
    PutHostInt32(entry, 20, full[9] == 0 ? 1 : 0);  // the terminal reports these two switches
    PutHostInt32(entry, 24, full[10] == 0 ? 1 : 0); // inverted: zero means on
    std::memcpy(entry + 28, full + 12, 10);
    std::memcpy(entry + 38, full + 22, 15);
}

void DecodeStatus(const uint8_t* payload, uint8_t* entry) {
    // The clock comes as century, year, month, day, hour, minute, second, weekday; the century
    // is not read and the entry puts the weekday after the day.
    PutHostInt32(entry, 0, payload[1] + kYearBase);
    PutHostInt32(entry, 4, payload[2]);
    PutHostInt32(entry, 8, payload[3]);
    PutHostInt32(entry, 12, payload[7]);
    PutHostInt32(entry, 16, payload[4]);
    PutHostInt32(entry, 20, payload[5]);
    PutHostInt32(entry, 24, payload[6]);
    PutHostInt32(entry, 28, static_cast<int32_t>(GetBigEndian32(payload + 8)));
}

} // namespace qarn
