#include "frame_reader.h"

#include <algorithm>

#include "qarn_layouts.h"
#include "report.h"

namespace qarnctl {

namespace {

constexpr uint8_t kStartByte = 0xAB;
constexpr size_t kHeaderSize = 8; // start bytes, destination, source, length
constexpr size_t kKeySize = 8;
constexpr size_t kShortRecord = 9;
constexpr size_t kLongRecord = 19;

uint32_t Be(const std::vector<uint8_t>& bytes, size_t at, size_t count) {
    uint32_t value = 0;
    for (size_t i = 0; i < count; ++i)
        value = value << 8 | bytes[at + i];
    return value;
}

std::string RecordCount(const std::vector<uint8_t>& payload) {
    size_t n = payload.size();
    if (n == 0) return "no records";
    if (n % kShortRecord == 0) return std::to_string(n / kShortRecord) + " short record(s)";
    if (n % kLongRecord == 0) return std::to_string(n / kLongRecord) + " long record(s)";
    return "records of a wrong length";
}

} // namespace

std::vector<HeardFrame> FrameReader::Add(const std::vector<uint8_t>& bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    std::vector<HeardFrame> frames;
    for (;;) {
        auto start = std::search_n(pending_.begin(), pending_.end(), 2, kStartByte);
        pending_.erase(pending_.begin(), start);
        if (pending_.size() < kHeaderSize) break;
        size_t length = Be(pending_, 6, 2);
        if (pending_.size() < kHeaderSize + length + 1) break;
        std::vector<uint8_t> data(pending_.begin() + kHeaderSize,
                                  pending_.begin() + static_cast<long>(kHeaderSize + length));
        int destination = static_cast<int>(Be(pending_, 2, 2));
        HeardFrame frame = ReadFrameData(destination, static_cast<int>(Be(pending_, 4, 2)),
                                         destination == host_, data);
        uint8_t check = 0;
        for (size_t i = 2; i < kHeaderSize + length; ++i)
            check ^= pending_[i];
        frame.goodCheck = check == pending_[kHeaderSize + length];
        if (!frame.goodCheck) frame.meaning = "bad check byte";
        frames.push_back(frame);
        // A frame with a bad check byte may be a false start: look again after its start bytes.
        pending_.erase(pending_.begin(),
                       pending_.begin() +
                           static_cast<long>(frame.goodCheck ? kHeaderSize + length + 1 : 2));
    }
    return frames;
}

HeardFrame ReadFrameData(int destination, int source, bool toHost,
                         const std::vector<uint8_t>& data) {
    HeardFrame frame;
    frame.destination = destination;
    frame.source = source;
    frame.toHost = toHost;
    // A downlink frame carries the key before its code.
    size_t skip = !toHost && data.size() > kKeySize ? kKeySize : 0;
    frame.key.assign(data.begin(), data.begin() + static_cast<long>(skip));
    if (data.size() > skip) {
        frame.code = data[skip];
        frame.payload.assign(data.begin() + static_cast<long>(skip) + 1, data.end());
    }
    frame.meaning = Meaning(toHost, frame.code, frame.payload);
    return frame;
}

std::string Meaning(bool uplink, int code, const std::vector<uint8_t>& payload) {
    if (!uplink || code < 0) return "";
    size_t n = payload.size();
    switch (code) {
    case 0x03:
    case 0x05:
        if (n == 2) return "terminal " + Address(static_cast<int>(Be(payload, 0, 2))) + " answers";
        break;
    case 0x07:
    case 0x10:
    case 0x36:
        return RecordCount(payload);
    case 0x11:
        if (n == 8)
            return "records from number " + std::to_string(Be(payload, 0, 4)) + ", " +
                   std::to_string(Be(payload, 4, 4)) + " of them";
        break;
    case 0x17:
        if (n == 8)
            return "white list " + std::to_string(Be(payload, 0, 4)) + ", black list " +
                   std::to_string(Be(payload, 4, 4));
        break;
    case 0x1E:
        if (n == 4) return "record index " + std::to_string(Be(payload, 0, 4));
        break;
    case 0x13:
        if (n == 20) return "property block";
        break;
    case 0x15:
        if (n == QARN_SYSTEM_PROPERTY_PAYLOAD || n == QARN_SYSTEM_PROPERTY_SHORT_PAYLOAD)
            return "system property";
        break;
    case 0x16:
        if (n == 12)
            return "clock " +
                   IsoDateTime(2000 + payload[1], payload[2], payload[3], payload[4], payload[5],
                               payload[6]) +
                   ", value " + std::to_string(Be(payload, 8, 4));
        break;
    case 0x60:
        if (n > 0) return "card data, layout " + std::to_string(payload[0]);
        break;
    case 0x62:
    case 0x63:
    case 0x67:
        if (n == 11) {
            uint32_t word = Be(payload, 1, 4);
            int64_t amount = word & 0x7FFFFFFF;
            return "balance " + Money(word & 0x80000000u ? -amount : amount);
        }
        break;
    case 0x64:
        if (n == 5) return "card id " + std::to_string(Be(payload, 1, 4));
        break;
    default:
        break;
    }
    if (n == 1)
        return "status " + std::to_string(payload[0]) + " (" +
               (payload[0] == 0x80 && code == 0xC6 ? "download complete"
                                                   : qarn_result_text(payload[0])) +
               ")";
    return "";
}

} // namespace qarnctl
