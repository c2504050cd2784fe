#include "transport/telnet_codec.h"

namespace qarn {

namespace {

constexpr uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250,
                  kSe = 240;
constexpr uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPortOption = 44;

// COM-PORT-OPTION commands: the client's, and the server's answer to each at 100 more.
constexpr uint8_t kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4;
constexpr uint8_t kServerOffset = 100;

void Command(ByteArray& out, uint8_t verb, uint8_t option) {
    out.insert(out.end(), {kIac, verb, option});
}

void Subnegotiation(ByteArray& out, uint8_t command, const uint8_t* value, size_t size) {
    out.insert(out.end(), {kIac, kSb, kComPortOption, command});
    TelnetCodec::Escape(value, size, out);
    out.insert(out.end(), {kIac, kSe});
}

// The options this side performs when asked, and those it asks of the server.
bool MineAllowed(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPortOption;
}
bool TheirsAllowed(uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

} // namespace

TelnetCodec::TelnetCodec() = default;

ByteArray TelnetCodec::Opening() {
    ByteArray out;
    Command(out, kWill, kComPortOption);
    Command(out, kWill, kBinary);
    Command(out, kDo, kBinary);
    mine_[kComPortOption] = mine_[kBinary] = theirs_[kBinary] = Side::Asked;
    comPort_ = ComPort::Asked;
    return out;
}

ByteArray TelnetCodec::SetLine(const ComPortValues& values) {
    ByteArray out;
    uint8_t baud[4];
    PutBigEndian32(baud, values.baud);
    Subnegotiation(out, kSetBaudRate, baud, sizeof baud);
    Subnegotiation(out, kSetDataSize, &values.dataSize, 1);
    Subnegotiation(out, kSetParity, &values.parity, 1);
    Subnegotiation(out, kSetStopSize, &values.stopSize, 1);
    return out;
}

void TelnetCodec::Escape(const uint8_t* bytes, size_t size, ByteArray& out) {
    for (size_t i = 0; i < size; ++i) {
        out.push_back(bytes[i]);
        if (bytes[i] == kIac) out.push_back(kIac);
    }
}

void TelnetCodec::Take(const uint8_t* bytes, size_t size, ByteArray& data, ByteArray& answers) {
    for (size_t i = 0; i < size; ++i) {
        uint8_t b = bytes[i];
        switch (parse_) {
        case Parse::Data:
            if (b == kIac)
                parse_ = Parse::Command;
            else
                data.push_back(b);
            break;
        case Parse::Command:
            parse_ = Parse::Data;
            if (b == kIac) {
                data.push_back(b);
            } else if (b >= kWill) {
                verb_ = b;
                parse_ = Parse::Option;
            } else if (b == kSb) {
                sub_.clear();
                parse_ = Parse::Sub;
            } // the other commands (NOP, go ahead, break, ...) carry nothing for the line
            break;
        case Parse::Option:
            OnOption(verb_, b, answers);
            parse_ = Parse::Data;
            break;
        case Parse::Sub:
            if (b == kIac)
                parse_ = Parse::SubCommand;
            else
                sub_.push_back(b);
            break;
        case Parse::SubCommand:
            if (b == kIac) {
                sub_.push_back(b);
                parse_ = Parse::Sub;
            } else {
                // IAC SE ends it; any other command ends it too, as a broken one.
                if (b == kSe) OnSubnegotiation();
                parse_ = Parse::Data;
            }
            break;
        }
    }
}

// Option negotiation without loops: an answer goes out only when it changes a side's state.
void TelnetCodec::OnOption(uint8_t verb, uint8_t option, ByteArray& answers) {
    bool enable = verb == kDo || verb == kWill;
    bool mine = verb == kDo || verb == kDont;
    Side& side = mine ? mine_[option] : theirs_[option];
    bool allowed = mine ? MineAllowed(option) : TheirsAllowed(option);
    uint8_t yes = mine ? kWill : kDo, no = mine ? kWont : kDont;
    if (enable) {
        if (!allowed)
            Command(answers, no, option);
        else if (side == Side::No)
            Command(answers, yes, option);
        if (allowed) side = Side::Yes;
    } else {
        if (side == Side::Yes) Command(answers, no, option);
        side = Side::No;
    }
    if (mine && option == kComPortOption)
        comPort_ = side == Side::Yes ? ComPort::Accepted : ComPort::Refused;
}

void TelnetCodec::OnSubnegotiation() {
    if (sub_.size() < 3 || sub_[0] != kComPortOption) return;
    const uint8_t* value = sub_.data() + 2;
    size_t size = sub_.size() - 2;
    switch (sub_[1]) {
    case kServerOffset + kSetBaudRate:
        if (size == 4) confirmed_.baud = GetBigEndian32(value);
        break;
    case kServerOffset + kSetDataSize:
        confirmed_.dataSize = value[0];
        break;
    case kServerOffset + kSetParity:
        confirmed_.parity = value[0];
        break;
    case kServerOffset + kSetStopSize:
        confirmed_.stopSize = value[0];
        break;
    default: // line and modem state notices, flow control, purges: nothing for the host
        break;
    }
}

} // namespace qarn
