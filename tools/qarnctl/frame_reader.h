// Cuts the bytes heard on the line into frames (start bytes AB AB, destination, source, length,
// data, XOR check byte) and says what a frame means where its code tells.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qarnctl {

struct HeardFrame {
    bool toHost = false; // an uplink frame: addressed to this host
    int destination = 0;
    int source = 0;
    bool goodCheck = true;
    int code = -1;                // -1: no data
    std::vector<uint8_t> key;     // downlink: the 8 key bytes before the code
    std::vector<uint8_t> payload; // after the code
    std::string meaning;
};

// A frame from its data (what follows the length field): a downlink frame's key, its code
// and payload, and their meaning.
HeardFrame ReadFrameData(int destination, int source, bool toHost,
                         const std::vector<uint8_t>& data);

class FrameReader {
  public:
    explicit FrameReader(int host) : host_(host) {}
    // Adds heard bytes; returns the frames they completed.
    std::vector<HeardFrame> Add(const std::vector<uint8_t>& bytes);

  private:
    int host_;
    std::vector<uint8_t> pending_;
};

// What the code and payload of a frame say: "clock 2026-01-02T10:00:00", "status 8
// (acknowledged)", ... ; empty when nothing is known.
std::string Meaning(bool uplink, int code, const std::vector<uint8_t>& payload);

} // namespace qarnctl
