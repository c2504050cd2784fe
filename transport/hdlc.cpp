#include "transport/hdlc.h"

#include <deque>

#include "platform/clock.h"
#include "transport/comm.h"

namespace qarn {

namespace {

const uint8_t kLinkHeader[] = {0x0F, 0x0F, 0xAB, 0xAB};
constexpr uint8_t kStartByte = 0xAB;
constexpr size_t kAddressBytes = 4;
constexpr size_t kMaxLength = 0xFFFF;
// Assembler states from the source address on: the header carried the host's address.
constexpr int kFirstHeaderState = 4;

// A frame that gets no byte for this long (and at least this many character times) has ended.
constexpr unsigned kQuietLineTimer = 1;
constexpr unsigned kQuietLineCheckMilliseconds = 10;
constexpr uint32_t kQuietLineMilliseconds = 50;
constexpr uint32_t kQuietLineCharacters = 20;
constexpr uint32_t kBitsPerCharacter = 11;

} // namespace

bool CHDLC::OnCreate() {
    auto* comm = new CComm;
    if (!comm->CreateChild(Handle())) {
        delete comm;
        return false;
    }
    comm_ = comm;
    return true;
}

void CHDLC::OnDestroy() {
    // The port's window goes with this one (children are destroyed after their parent's
    // handler); it deletes itself.
    comm_ = nullptr;
}

void CHDLC::OnFinalDestroy() {
    delete this;
}

platform::MessageParam CHDLC::OnMessage(unsigned message, platform::MessageParam wParam,
                                        platform::MessageParam lParam) {
    switch (message) {
    case WM_COMM_RXDATA:
        OnPortData();
        return 1;
    case WM_COMM_TXDONE:
        OnPortSent();
        return 1;
    case platform::kMessageTimer:
        if (wParam == kQuietLineTimer) OnQuietLineCheck();
        return 0;
    default:
        return Window::OnMessage(message, wParam, lParam);
    }
}

void CHDLC::Send(const ByteArray& body) {
    // The length field holds 16 bits: a longer body would go out with a wrapped length.
    if (body.size() < kAddressBytes || body.size() - kAddressBytes > kMaxLength || !comm_) return;
    txFrame_.assign(body.begin(), body.end());
    uint8_t length[2];
    PutBigEndian16(length, static_cast<uint16_t>(body.size() - kAddressBytes));
    txFrame_.insert(txFrame_.begin() + kAddressBytes, length, length + 2);
    txFrame_.push_back(XorSum(txFrame_.data(), txFrame_.size()));
    txFrame_.insert(txFrame_.begin(), kLinkHeader, kLinkHeader + sizeof kLinkHeader);
    comm_->Write(txFrame_);
}

void CHDLC::Reset() {
    state_ = 0;
    frameBytes_.clear();
    WatchQuietLine();
    if (comm_) comm_->Purge();
}

int CHDLC::GetStatus() const {
    if (comm_ && comm_->LineStatus() != 0) return comm_->LineStatus();
    return status_;
}

uint64_t CHDLC::TxWireMicroseconds() const {
    return comm_ ? comm_->WireMicroseconds(txFrame_.size()) : 0;
}

int CHDLC::IsTxIdle() const {
    return comm_ ? comm_->IsTxIdle() : 1;
}

int CHDLC::IsOpen() const {
    return comm_ ? comm_->IsOpen() : 0;
}

int CHDLC::OpenPort(const char* settings) {
    return comm_ ? comm_->Open(settings) : 0;
}

int CHDLC::DriverSwitchesRts() const {
    return comm_ ? comm_->DriverSwitchesRts() : 0;
}

int CHDLC::ServerSwitchesRts() const {
    return comm_ ? comm_->ServerSwitchesRts() : 0;
}

int CHDLC::DriverRtsAsked() const {
    return comm_ ? comm_->DriverRtsAsked() : 0;
}

int CHDLC::ClosePort() {
    return comm_ ? comm_->Close() : 0;
}

void CHDLC::OnPortData() {
    ByteArray received;
    comm_->TakeReceived(received);
    rawStream_.insert(rawStream_.end(), received.begin(), received.end());
    if (rawStream_.size() > kRawStreamLimit)
        rawStream_.erase(rawStream_.begin(),
                         rawStream_.end() - static_cast<std::ptrdiff_t>(kRawStreamLimit));
    platform::SendToWindow(Parent(), WM_LINK_STREAM, 0, 0);
    Assemble(received.data(), received.size());
}

void CHDLC::OnPortSent() {
    status_ = kLinkSent;
    platform::SendToWindow(Parent(), WM_LINK_SENT, 0, 0);
}

void CHDLC::Assemble(const uint8_t* bytes, size_t size) {
    // The bytes a failed frame gives back after its false start, hunted again before the rest:
    // a real frame may begin inside them.
    std::deque<uint8_t> again;
    size_t next = 0;
    // A handler of the frame notification may have destroyed the whole device.
    while (Alive()) {
        uint8_t b;
        if (!again.empty()) {
            b = again.front();
            again.pop_front();
        } else if (next < size) {
            b = bytes[next++];
        } else {
            break;
        }
        if (!Take(b)) {
            again.insert(again.begin(), frameBytes_.begin() + 1, frameBytes_.end());
            state_ = 0;
            frameBytes_.clear();
        }
    }
    if (Alive()) WatchQuietLine();
}

bool CHDLC::Take(uint8_t b) {
    if (state_ == 0) {
        if (b == kStartByte) {
            state_ = 1;
            frameBytes_.assign(1, b);
        }
        return true;
    }
    frameBytes_.push_back(b);
    switch (state_) {
    case 1:
        if (b != kStartByte) return false;
        checksum_ = 0;
        state_ = 2;
        return true;
    case 2:
    case 3: {
        int expected = state_ == 2 ? myAddress_ >> 8 : myAddress_ & 0xFF;
        if (b != expected) {
            status_ = kLinkOtherDestination;
            return false;
        }
        checksum_ ^= b;
        ++state_;
        return true;
    }
    case 4:
        sourceAddress_ = b << 8;
        break;
    case 5:
        sourceAddress_ += b;
        break;
    case 6:
        length_ = b << 8;
        break;
    case 7:
        length_ += b;
        rxPayload_.clear();
        // A header declaring no data would otherwise swallow every following byte: every
        // reply holds at least its reply code, so such a header is a false start.
        if (length_ == 0) return false;
        break;
    case 8:
        rxPayload_.push_back(b);
        checksum_ ^= b;
        if (static_cast<int>(rxPayload_.size()) == length_) state_ = 9;
        return true;
    case 9:
        if (b != checksum_) {
            status_ = kLinkBadCheck;
            return false;
        }
        state_ = 0;
        frameBytes_.clear();
        status_ = kLinkFrameReceived;
        OnFrameComplete();
        rxPayload_.clear();
        return true;
    }
    checksum_ ^= b;
    ++state_;
    return true;
}

void CHDLC::WatchQuietLine() {
    bool open = state_ >= kFirstHeaderState;
    if (open) lastByteTick_ = platform::TickCount();
    if (open && !quietTimer_) quietTimer_ = SetTimer(kQuietLineTimer, kQuietLineCheckMilliseconds);
    if (!open && quietTimer_) {
        KillTimer(kQuietLineTimer);
        quietTimer_ = false;
    }
}

uint32_t CHDLC::QuietLimit() const {
    uint32_t baud = comm_ ? comm_->Settings().baud : 0;
    uint32_t characters = baud ? kQuietLineCharacters * kBitsPerCharacter * 1000 / baud : 0;
    return characters > kQuietLineMilliseconds ? characters : kQuietLineMilliseconds;
}

void CHDLC::OnQuietLineCheck() {
    if (state_ < kFirstHeaderState || platform::TickCount() - lastByteTick_ < QuietLimit()) return;
    // The line fell quiet inside a frame: its header was a false start (noise, or the rest of
    // a cut-off frame) that took the real frame for its data. Hunt again after it.
    ByteArray again(frameBytes_.begin() + 1, frameBytes_.end());
    state_ = 0;
    frameBytes_.clear();
    Assemble(again.data(), again.size());
}

void CHDLC::OnFrameComplete() {
    lastFrame_ = rxPayload_;
    platform::SendToWindow(Parent(), WM_LINK_FRAME, sourceAddress_, 0);
}

} // namespace qarn
