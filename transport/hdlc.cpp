#include "transport/hdlc.h"

#include "device/device.h"
#include "transport/comm.h"

namespace qarn {

namespace {

const uint8_t kLinkHeader[] = {0x0F, 0x0F, 0xAB, 0xAB};
constexpr uint8_t kStartByte = 0xAB;
constexpr size_t kAddressBytes = 4;
constexpr size_t kMaxLength = 0xFFFF;

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
    if (comm_) comm_->Purge();
}

int CHDLC::GetStatus() const {
    if (comm_ && comm_->LineStatus() != 0) return comm_->LineStatus();
    return status_;
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
    platform::SendToWindow(Parent(), WM_HDLC_STREAM, 0, 0);
    Assemble(received.data(), received.size());
}

void CHDLC::OnPortSent() {
    status_ = kLinkSent;
    platform::SendToWindow(Parent(), WM_HDLC_SENT, 0, 0);
}

void CHDLC::Assemble(const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        // A handler of the frame notification may have destroyed the whole device.
        if (!Alive()) return;
        uint8_t b = bytes[i];
        switch (state_) {
        case 0:
            state_ = b == kStartByte ? 1 : 0;
            break;
        case 1:
            state_ = b == kStartByte ? 2 : 0;
            checksum_ = 0;
            break;
        case 2:
        case 3: {
            int expected = state_ == 2 ? myAddress_ >> 8 : myAddress_ & 0xFF;
            if (b == expected) {
                checksum_ ^= b;
                ++state_;
            } else {
                status_ = kLinkOtherDestination;
                state_ = 0;
            }
            break;
        }
        case 4:
            sourceAddress_ = b << 8;
            checksum_ ^= b;
            state_ = 5;
            break;
        case 5:
            sourceAddress_ += b;
            checksum_ ^= b;
            state_ = 6;
            break;
        case 6:
            length_ = b << 8;
            checksum_ ^= b;
            state_ = 7;
            break;
        case 7:
            length_ += b;
            rxPayload_.clear();
            checksum_ ^= b;
            // A header declaring no data would otherwise swallow every following byte: every
            // reply holds at least its reply code, so such a header is rejected.
            state_ = length_ == 0 ? 0 : 8;
            break;
        case 8:
            rxPayload_.push_back(b);
            checksum_ ^= b;
            if (static_cast<int>(rxPayload_.size()) == length_) state_ = 9;
            break;
        case 9:
            state_ = 0;
            if (b == checksum_) {
                status_ = kLinkFrameReceived;
                OnFrameComplete();
                rxPayload_.clear();
            } else {
                status_ = kLinkBadCheck;
            }
            break;
        }
    }
}

void CHDLC::OnFrameComplete() {
    lastFrame_ = rxPayload_;
    platform::SendToWindow(Parent(), WM_HDLC_FRAME, 0, 0);
}

} // namespace qarn
