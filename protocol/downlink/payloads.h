// Payload encoders: each turns a command's parameter block into the bytes that follow the
// command code in the frame body.
#pragma once

#include <cstdint>

#include "codec/bytes.h"

namespace qarn {

struct PayloadContext {
    int innerCode;           // non-zero: name and title texts are converted Big5 to GB
    const uint8_t* keyTable; // the 24-byte built-in key table
};

// params is the caller's parameter block; never null when the row says it needs one.
// Returns false when no frame can carry the payload (the build then fails).
using PayloadEncoder = bool (*)(const PayloadContext& context, const uint8_t* params,
                                ByteArray& payload);

struct PayloadRow {
    int code;
    bool needsParams; // a null parameter block makes the build fail
    PayloadEncoder encode;
};

// The payload row of a code, or null when the command's frame has no payload.
const PayloadRow* FindPayloadRow(int code);

} // namespace qarn
