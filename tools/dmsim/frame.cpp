#include "dmsim/frame.h"

#include <algorithm>

namespace dmsim {

namespace {

constexpr uint8_t kPreamble = 0x0F;
constexpr uint8_t kStart = 0xAB;
constexpr size_t kHeaderSize = 8; // start bytes, destination, source, length field

} // namespace

Bytes WriteFrame(uint16_t destination, uint16_t source, const Bytes& data, bool preamble) {
    Bytes wire;
    if (preamble) wire = {kPreamble, kPreamble};
    wire.push_back(kStart);
    wire.push_back(kStart);
    size_t covered = wire.size();
    AppendBe16(wire, destination);
    AppendBe16(wire, source);
    AppendBe16(wire, static_cast<uint32_t>(data.size()));
    wire.insert(wire.end(), data.begin(), data.end());
    wire.push_back(Xor(wire.data() + covered, wire.size() - covered));
    return wire;
}

std::vector<Frame> FrameReader::Feed(const uint8_t* bytes, size_t count) {
    pending_.insert(pending_.end(), bytes, bytes + count);
    return Scan(false);
}

std::vector<Frame> FrameReader::Expire() {
    return Scan(true);
}

std::vector<Frame> FrameReader::Scan(bool expire) {
    std::vector<Frame> found;
    size_t floor = 0; // end of the last frame taken: its bytes are no preamble of the next
    size_t pos = 0;
    size_t keep = 0;
    waiting_ = false;
    for (;;) {
        size_t start = pos;
        while (start + 1 < pending_.size() &&
               !(pending_[start] == kStart && pending_[start + 1] == kStart))
            ++start;
        if (start + 1 >= pending_.size()) {
            // Keep what could still begin a frame: a lone start byte and a preamble before it.
            keep = std::max(floor, pending_.size() >= 3 ? pending_.size() - 3 : size_t{0});
            break;
        }
        size_t total = pending_.size() - start;
        if (total < kHeaderSize) {
            waiting_ = true;
        } else {
            size_t length = GetBe16(&pending_[start + 6]);
            if (length == 0 || length > kMaxFrameLength) {
                pos = start + 1;
                continue;
            }
            if (total < kHeaderSize + length + 1) {
                waiting_ = true;
            } else {
                const uint8_t* covered = &pending_[start + 2];
                if (Xor(covered, kHeaderSize - 2 + length) != covered[kHeaderSize - 2 + length]) {
                    pos = start + 1;
                    continue;
                }
                bool preamble = start >= floor + 2 && pending_[start - 2] == kPreamble &&
                                pending_[start - 1] == kPreamble;
                Frame frame;
                frame.destination = static_cast<uint16_t>(GetBe16(covered));
                frame.source = static_cast<uint16_t>(GetBe16(covered + 2));
                frame.data.assign(covered + 6, covered + 6 + length);
                size_t end = start + kHeaderSize + length + 1;
                frame.wire.assign(pending_.begin() + (preamble ? start - 2 : start),
                                  pending_.begin() + end);
                found.push_back(std::move(frame));
                pos = floor = end;
                continue;
            }
        }
        if (expire) {
            waiting_ = false;
            pos = start + 1;
            continue;
        }
        keep = std::max(floor, start >= 2 ? start - 2 : size_t{0});
        break;
    }
    pending_.erase(pending_.begin(), pending_.begin() + keep);
    return found;
}

} // namespace dmsim
