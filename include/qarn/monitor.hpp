// The line monitor's pieces: the events of the notification messages, and frame bodies and
// dumps as bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qarn.h"

namespace qarn {

using Bytes = std::vector<uint8_t>;

// What a notification tells: a frame has left the port (WM_HDLC_SENT), bytes arrived on the
// line (WM_HDLC_STREAM), a frame for this host arrived and was decoded (WM_HDLC_FRAME).
enum class LineEvent { frame_sent, bytes_arrived, frame_received };

// The event of a notification message; nothing for any other message.
inline std::optional<LineEvent> line_event(int message) {
    switch (message) {
    case WM_HDLC_SENT:
        return LineEvent::frame_sent;
    case WM_HDLC_STREAM:
        return LineEvent::bytes_arrived;
    case WM_HDLC_FRAME:
        return LineEvent::frame_received;
    default:
        return std::nullopt;
    }
}

namespace detail {

// Bytes as the hexadecimal text SendFrame reads: two digits a byte.
inline std::string HexText(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * bytes.size());
    for (uint8_t byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

// The bytes of a dump that RecvStream or RecvHDLC wrote: "%02x " a byte.
inline Bytes FromDump(const std::string& text) {
    auto value = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    Bytes bytes;
    bytes.reserve(text.size() / 3);
    for (size_t at = 0; at + 1 < text.size() && text[at] != '\0'; at += 3)
        bytes.push_back(static_cast<uint8_t>(value(text[at]) << 4 | value(text[at + 1])));
    return bytes;
}

} // namespace detail
} // namespace qarn
