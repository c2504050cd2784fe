// Link frames as they travel on the line, in both directions: an optional 0F 0F preamble,
// the start bytes AB AB, destination, source, length field, the bytes it counts, check byte.
#pragma once

#include "dmsim/bytes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dmsim {

constexpr uint16_t kBroadcastAddress = 0xAAAA;

// Longer length fields are taken for noise: no frame of the protocol comes near this size, and
// waiting for tens of kilobytes after a stray header would stall the line.
constexpr size_t kMaxFrameLength = 4096;

struct Frame {
    uint16_t destination = 0;
    uint16_t source = 0;
    Bytes data; // the bytes the length field counts
    Bytes wire; // the frame as on the line, preamble (when sent) through check byte
};

// The check byte covers everything from the destination address through the last data byte.
Bytes WriteFrame(uint16_t destination, uint16_t source, const Bytes& data, bool preamble);

// Finds frames with a good check byte in a byte stream that arrives in arbitrary pieces.
// Bytes outside frames, frames with a bad check byte and implausible headers are skipped; the
// search resumes one byte after a rejected start, so a good frame hidden behind noise is found.
class FrameReader {
  public:
    std::vector<Frame> Feed(const uint8_t* bytes, size_t count);
    // Gives up a frame that stalled half-way (the line went quiet) and looks for frames after
    // its start bytes.
    std::vector<Frame> Expire();
    // True while a started frame waits for more bytes.
    bool Waiting() const { return waiting_; }

  private:
    std::vector<Frame> Scan(bool expire);

    Bytes pending_;
    bool waiting_ = false;
};

} // namespace dmsim
