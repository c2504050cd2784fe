#include "transport/network_line.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/system_error.h"
#include "platform/wire_time.h"

namespace qarn {

namespace {

// The COM-PORT-OPTION's values for parity (none, odd, even, mark, space) and stop bits (one,
// one and a half, two).
const uint8_t kComPortParity[] = {1, 2, 3, 4, 5};
const uint8_t kComPortStopSize[] = {1, 3, 2};

bool SameValues(const ComPortValues& a, const ComPortValues& b) {
    return a.baud == b.baud && a.dataSize == b.dataSize && a.parity == b.parity &&
           a.stopSize == b.stopSize;
}

bool AllConfirmed(const ComPortValues& v) {
    return v.baud != 0 && v.dataSize != 0 && v.parity != 0 && v.stopSize != 0;
}

} // namespace

bool NetworkLine::Open(const PortSettings& settings) {
    Close();
    if (!socket_.Connect(settings.host, settings.tcpPort, kStepMilliseconds)) return false;
    line_ = {settings.baud, settings.dataBits, settings.parity, settings.stopBits, 0};
    telnet_ = settings.kind == LineKind::Rfc2217;
    codec_ = TelnetCodec();
    data_.clear();
    if (telnet_ && !Negotiate(settings)) {
        platform::SystemErrorKeeper keep;
        socket_.Close();
        return false;
    }
    return true;
}

bool NetworkLine::Negotiate(const PortSettings& settings) {
    uint64_t deadline = platform::MonotonicMicroseconds() + uint64_t{kStepMilliseconds} * 1000;
    bool heard = false;
    // Waits until done holds; false at the deadline or when the connection ends.
    auto until = [&](auto done) {
        while (!done()) {
            uint64_t now = platform::MonotonicMicroseconds();
            if (now >= deadline) {
                platform::SetNetworkError(heard ? platform::NetworkReason::OptionNotOffered
                                                : platform::NetworkReason::TimedOut);
                return false;
            }
            long got = Receive(static_cast<unsigned>((deadline - now + 999) / 1000));
            if (got < 0) return false;
            heard = heard || got > 0;
        }
        return true;
    };
    ByteArray opening = codec_.Opening();
    if (socket_.Send(opening.data(), opening.size()) == platform::IoResult::Failed) return false;
    if (!until([&] { return codec_.ComPortState() != TelnetCodec::ComPort::Asked; })) return false;
    if (codec_.ComPortState() == TelnetCodec::ComPort::Refused) {
        platform::SetNetworkError(platform::NetworkReason::OptionNotOffered);
        return false;
    }
    ComPortValues wanted;
    wanted.baud = settings.baud;
    wanted.dataSize = settings.dataBits;
    wanted.parity = kComPortParity[settings.parity];
    wanted.stopSize = kComPortStopSize[settings.stopBits];
    ByteArray request = TelnetCodec::SetLine(wanted);
    if (socket_.Send(request.data(), request.size()) == platform::IoResult::Failed) return false;
    heard = true; // the option was agreed: from here on, silence is a time-out
    if (!until([&] { return AllConfirmed(codec_.Confirmed()); })) return false;
    if (!SameValues(codec_.Confirmed(), wanted)) {
        platform::SetNetworkError(platform::NetworkReason::SettingsNotApplied);
        return false;
    }
    data_.clear(); // what the line carried before the settings held
    return true;
}

long NetworkLine::Receive(unsigned timeoutMilliseconds) {
    uint8_t chunk[4096];
    size_t got = 0;
    platform::IoResult result =
        timeoutMilliseconds != 0 ? socket_.ReadWithin(chunk, sizeof chunk, got, timeoutMilliseconds)
                                 : socket_.Read(chunk, sizeof chunk, got);
    if (result == platform::IoResult::Failed) return -1;
    if (!telnet_) {
        data_.insert(data_.end(), chunk, chunk + got);
        return static_cast<long>(got);
    }
    ByteArray answers;
    codec_.Take(chunk, got, data_, answers);
    if (!answers.empty()) socket_.Send(answers.data(), answers.size());
    return static_cast<long>(got);
}

void NetworkLine::Close() {
    socket_.Close();
    data_.clear();
}

bool NetworkLine::StartEvents(platform::WindowHandle window, unsigned message) {
    return socket_.StartEvents(window, message);
}

void NetworkLine::StopEvents() {
    socket_.StopEvents();
}

size_t NetworkLine::Pending() {
    return data_.size() + socket_.Pending();
}

platform::IoResult NetworkLine::Read(uint8_t* buffer, size_t size, size_t& got) {
    got = 0;
    if (data_.empty() && Receive(0) < 0) return platform::IoResult::Failed;
    got = std::min(size, data_.size());
    std::copy(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(got), buffer);
    data_.erase(data_.begin(), data_.begin() + static_cast<std::ptrdiff_t>(got));
    return platform::IoResult::Completed;
}

platform::IoResult NetworkLine::Write(const uint8_t* bytes, size_t size) {
    uint64_t wire = platform::WireMicroseconds(size, line_);
    if (!telnet_) return socket_.Write(bytes, size, wire);
    out_.clear();
    TelnetCodec::Escape(bytes, size, out_);
    return socket_.Write(out_.data(), out_.size(), wire);
}

void NetworkLine::Purge() {
    // Telnet commands among the bytes dropped still count: they go through the codec.
    if (telnet_)
        while (socket_.Pending() > 0 && Receive(0) > 0) {
        }
    socket_.DropInput();
    data_.clear();
}

} // namespace qarn
