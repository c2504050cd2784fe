// The simulator's fault knobs: how the line misbehaves when it answers.
#pragma once

#include <cstdint>
#include <vector>

namespace dmsim {

struct Faults {
    int dropReplies = 0;           // drop the next N replies (count down)
    int corruptReplies = 0;        // flip a bit in the check byte of the next N replies
    int delayMilliseconds = 0;     // wait before each reply
    int splitPieces = 1;           // write each reply in this many pieces ...
    int splitGapMilliseconds = 0;  // ... with this gap
    bool wrongDestination = false; // address replies to host address + 1
    bool echoDownlink = false;     // write every received downlink frame back to the line
    std::vector<uint8_t> noise;    // bytes written before every reply
    bool silent = false;           // answer nothing (the terminals still act on the frames)
    bool wrongSource = false;      // send replies as from terminal address + 1
    int dropPercent = 0;           // drop each reply with this chance (after dropReplies) ...
    unsigned dropSeed = 1;         // ... drawn from a generator seeded with this by SetFaults
};

} // namespace dmsim
