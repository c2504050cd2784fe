// Downlink payloads end to end: the parameter block the application passes, the bytes on the
// wire, and what the simulated terminal stored from them.
#include <cstdio>
#include <cstring>
#include <ctime>

#include "line_fixture.h"

using namespace scenario;

namespace {

constexpr uint16_t kTerminal = 0x0002;
constexpr size_t kCodeAt = 18; // preamble, start bytes, addresses, length, key

// A parameter block: host-order int32 fields and fixed-width texts at byte offsets.
class Block {
  public:
    explicit Block(size_t size) : bytes_(size, 0) {}
    Block& Int(size_t offset, int32_t value) {
        std::memcpy(&bytes_.at(offset), &value, sizeof value);
        return *this;
    }
    Block& Text(size_t offset, const char* text) {
        return Raw(offset, Bytes(text, text + std::strlen(text)));
    }
    Block& Raw(size_t offset, const Bytes& bytes) {
        std::copy(bytes.begin(), bytes.end(), bytes_.begin() + static_cast<long>(offset));
        return *this;
    }
    void* data() { return bytes_.data(); }
    const Bytes& bytes() const { return bytes_; }

  private:
    Bytes bytes_;
};

Bytes Mask() {
    Bytes mask;
    for (int i = 0; i < 8; ++i) {
        unsigned value = 0;
        std::sscanf(QARN_KEY_TABLE_TEXT + 2 * i, "%2x", &value);
        mask.push_back(static_cast<uint8_t>(value));
    }
    return mask;
}

Bytes Xor(const Bytes& key, const Bytes& mask) {
    Bytes out(key.size());
    for (size_t i = 0; i < key.size(); ++i)
        out[i] = key[i] ^ mask[i % mask.size()];
    return out;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    if (from + count > bytes.size()) return {};
    return Bytes(bytes.begin() + static_cast<long>(from),
                 bytes.begin() + static_cast<long>(from + count));
}

Bytes KeyBytes(const dmsim::Key& key) {
    return Bytes(key.begin(), key.end());
}

// The host's local clock, read around a command so that its time stamps can be bracketed.
struct Moment {
    std::time_t when = std::time(nullptr);
    std::tm local() const { return *std::localtime(&when); } // one thread reads the clock
};

Bytes DateOf(int year, int month, int day) {
    return {static_cast<uint8_t>(year - 2000), static_cast<uint8_t>(month),
            static_cast<uint8_t>(day)};
}

Bytes DateBytes(const Moment& moment) {
    std::tm t = moment.local();
    return {static_cast<uint8_t>(t.tm_year - 100), static_cast<uint8_t>(t.tm_mon + 1),
            static_cast<uint8_t>(t.tm_mday)};
}

// The date bytes of a command are those of the moment before or after it (midnight between).
void ExpectToday(const Bytes& sent, const Moment& before, const Moment& after) {
    EXPECT_TRUE(sent == DateBytes(before) || sent == DateBytes(after)) << Hex(sent);
}

// Six bytes second, minute, hour, day, month, year modulo 100 lie between two moments.
void ExpectTimeStamp(const Bytes& sent, const Moment& before, const Moment& after) {
    ASSERT_EQ(sent.size(), 6u);
    std::tm parts{};
    parts.tm_sec = sent[0];
    parts.tm_min = sent[1];
    parts.tm_hour = sent[2];
    parts.tm_mday = sent[3];
    parts.tm_mon = sent[4] - 1;
    parts.tm_year = sent[5] + 100;
    parts.tm_isdst = -1;
    std::time_t stamp = std::mktime(&parts);
    EXPECT_GE(stamp, before.when - 1) << Hex(sent);
    EXPECT_LE(stamp, after.when + 1) << Hex(sent);
}

} // namespace

class Payloads : public Line {
  protected:
    struct Sent {
        int result = -1;
        Bytes payload;
    };

    // Runs one command and returns the payload of the single frame it put on the line, after
    // checking the frame's envelope: destination, source, key, code and length.
    Sent Send(int code, void* params, uint16_t destination = kTerminal, int wireCode = -1) {
        simulator.ClearReceived();
        Sent sent;
        Outcome outcome = RunAndEnd(kTerminal, code, params);
        EXPECT_NE(outcome.handle, 0) << "code " << code;
        EXPECT_TRUE(simulator.WaitForFrames(1, 2000));
        std::vector<Bytes> frames = Frames();
        EXPECT_EQ(frames.size(), 1u) << "code " << code;
        if (frames.size() != 1 || frames[0].size() < kCodeAt + 2) return sent;
        const Bytes& frame = frames[0];
        sent.result = outcome.result;
        sent.payload = Slice(frame, kCodeAt + 1, frame.size() - kCodeAt - 2);
        auto onWire = static_cast<uint8_t>(wireCode < 0 ? code : wireCode);
        EXPECT_EQ(Hex(frame),
                  Hex(DownlinkFrame(destination, kHost, ExpectedKey(), onWire, sent.payload)));
        return sent;
    }

    dmsim::Terminal State(uint16_t address = kTerminal) {
        dmsim::Terminal copy;
        EXPECT_TRUE(simulator.GetTerminal(address, copy)) << address;
        return copy;
    }
};

TEST_F(Payloads, ClocksAndAddressesReachTheTerminals) {
    Open({0x0002, 0x0003});

    Block given(28);
    given.Int(0, 1999).Int(4, 12).Int(8, 31).Int(12, 23).Int(16, 59).Int(20, 58).Int(24, 6);
    Sent sent = Send(0x0A, given.data(), 0xAAAA, 0x01);
    EXPECT_EQ(Hex(sent.payload), Hex({0x13, 0x63, 0x0C, 0x1F, 0x17, 0x3B, 0x3A, 0x06}));
    EXPECT_EQ(sent.result, 0);
    dmsim::Clock clock = State(0x0003).clock;
    EXPECT_EQ(clock.year, 1999);
    EXPECT_EQ(clock.month, 12);
    EXPECT_EQ(clock.day, 31);
    EXPECT_EQ(clock.second, 58);
    EXPECT_EQ(clock.weekday, 6);

    // Out-of-range fields go out as their low bytes; the weekday is not checked.
    given.Int(0, 2345).Int(4, 0x10C).Int(24, 9);
    EXPECT_EQ(Hex(Slice(Send(0x0A, given.data(), 0xAAAA, 0x01).payload, 0, 8)),
              Hex({0x17, 0x2D, 0x0C, 0x1F, 0x17, 0x3B, 0x3A, 0x09}));

    Moment before;
    sent = Send(0x01, nullptr, 0xAAAA);
    Moment after;
    ASSERT_EQ(sent.payload.size(), 8u);
    EXPECT_EQ(sent.payload[0], 20);
    const Bytes& p = sent.payload;
    ExpectTimeStamp({p[6], p[5], p[4], p[3], p[2], p[1]}, before, after);
    clock = State(0x0002).clock;
    std::tm day{};
    day.tm_year = clock.year - 1900;
    day.tm_mon = clock.month - 1;
    day.tm_mday = clock.day;
    day.tm_hour = 12;
    std::mktime(&day);
    EXPECT_EQ(clock.weekday, day.tm_wday + 1);

    // Only the terminal with the identity takes the address; its high bits beyond 16 are lost.
    simulator.UpdateTerminal(0x0002, [](dmsim::Terminal& t) { t.serialNumber = 0x11223344; });
    simulator.UpdateTerminal(0x0003, [](dmsim::Terminal& t) { t.serialNumber = 0xCAFEF00D; });
    Block address(8);
    address.Int(0, static_cast<int32_t>(0xCAFEF00D)).Int(4, 0x30105);
    sent = Send(0x02, address.data(), 0xAAAA);
    EXPECT_EQ(Hex(sent.payload), Hex({0xCA, 0xFE, 0xF0, 0x0D, 0x01, 0x05}));
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(State(0x0105).serialNumber, 0xCAFEF00Du);
    EXPECT_EQ(State(0x0002).serialNumber, 0x11223344u);
}

TEST_F(Payloads, RecordRequestsAndPropertiesCarryTheirFields) {
    Open();
    EXPECT_EQ(Hex(Send(0x10, Block(8).Int(0, 300).Int(4, 5).data()).payload),
              Hex({0x01, 0x2C, 0x05}));
    EXPECT_EQ(Hex(Send(0x36, Block(8).Int(0, 70000).Int(4, 300).data()).payload),
              Hex({0x11, 0x70, 0x2C}));

    Block index(28);
    index.Int(0, 0).Int(4, 2005).Int(8, 1).Int(12, 1).Int(16, 2005).Int(20, 12).Int(24, 31);
    EXPECT_EQ(Hex(Send(0x11, index.data()).payload),
              Hex({0xFF, 0x05, 0x01, 0x01, 0x05, 0x0C, 0x1F}));
    index.Int(0, 3).Int(4, 1999).Int(16, 2100);
    EXPECT_EQ(Hex(Send(0x11, index.data()).payload),
              Hex({0x00, 0xCF, 0x01, 0x01, 0x64, 0x0C, 0x1F}));

    Sent sent = Send(0x12, Block(8).Int(0, 3).Int(4, 0x12345678).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x03, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(sent.result, 8);
    sent = Send(0x12, Block(8).Int(0, 0x100).Int(4, 0xABCD).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x00, 0x00, 0x00, 0xAB, 0xCD}));
    sent = Send(0x14, Block(8).Int(0, 1).Int(4, static_cast<int32_t>(0xDEADBEEF)).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x01, 0xDE, 0xAD, 0xBE, 0xEF}));
    EXPECT_EQ(sent.result, 8);

    dmsim::Terminal terminal = State();
    EXPECT_EQ(terminal.property[6], 0x78);
    EXPECT_EQ(Hex(Slice(Bytes(terminal.property.begin(), terminal.property.end()), 0, 2)),
              Hex({0xAB, 0xCD}));
    EXPECT_EQ(Hex(Slice(terminal.systemProperty, 4, 4)), Hex({0xDE, 0xAD, 0xBE, 0xEF}));
}

TEST_F(Payloads, TimeSlotsAndCardTimesAreMinutesOfTheDay) {
    Open();
    Block slots(240);
    for (int k = 0; k < 20; ++k)
        slots.Int(12 * k, k).Int(12 * k + 4, 2 * k + 1).Int(12 * k + 8, k + 10);
    slots.Int(0, 23).Int(4, 59).Int(8, 2);
    slots.Int(12 * 18, 0).Int(12 * 18 + 4, -1);                           // -1 minutes
    slots.Int(12 * 19, 1100).Int(12 * 19 + 4, 0).Int(12 * 19 + 8, 0x1FF); // 66000 minutes
    Sent sent = Send(0x18, slots.data());
    ASSERT_EQ(sent.payload.size(), 60u);
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 3)), Hex({0x05, 0x9F, 0x02}));
    EXPECT_EQ(Hex(Slice(sent.payload, 3, 3)), Hex({0x00, 0x3F, 0x0B}));
    EXPECT_EQ(Hex(Slice(sent.payload, 54, 6)), Hex({0x00, 0xFF, 0x1C, 0x01, 0xD0, 0xFF}));
    dmsim::Terminal terminal = State();
    EXPECT_EQ(terminal.timeSlots[0].minuteOfDay, 1439);
    EXPECT_EQ(terminal.timeSlots[0].value, 2);
    EXPECT_EQ(terminal.timeSlots[7].minuteOfDay, 7 * 60 + 15);
    EXPECT_EQ(terminal.timeSlots[7].value, 17);
    EXPECT_EQ(terminal.timeSlots[19].minuteOfDay, 0x01D0);

    Block windows(132);
    windows.Int(0, 0x104);
    for (int k = 0; k < 8; ++k)
        windows.Int(4 + 16 * k, k)
            .Int(8 + 16 * k, 30)
            .Int(12 + 16 * k, k + 12)
            .Int(16 + 16 * k, 45);
    windows.Int(4, 8).Int(12, 17);
    sent = Send(0x19, windows.data());
    ASSERT_EQ(sent.payload.size(), 33u);
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 5)), Hex({0x04, 0x01, 0xFE, 0x04, 0x29}));
    terminal = State();
    EXPECT_EQ(terminal.cardTimeLead, 4);
    EXPECT_EQ(terminal.cardTimes[0].start, 510);
    EXPECT_EQ(terminal.cardTimes[0].end, 1065);
    EXPECT_EQ(terminal.cardTimes[7].start, 7 * 60 + 30);
    EXPECT_EQ(terminal.cardTimes[7].end, 19 * 60 + 45);
}

TEST_F(Payloads, LcdTitleGoesOutAsGivenOrConvertedToGb) {
    Open();
    Block title(48);
    title.Text(0, "Welcome, guest! ").Text(16, "Gate 3          ").Text(32, "0123456789abcdef");
    Sent sent = Send(0x86, title.data());
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(Hex(State().lcdTitle), Hex(title.bytes()));

    EXPECT_EQ(SetInnerCode(device, 1), 1);
    // Big5 "zhong" and "ren" become GB and letters pass, also where a letter puts a Big5 code
    // at an odd offset. A lead byte cut off at the end of a line stays as it is and does not
    // pull the next line out of step.
    title.Raw(0, {0xA4, 0xA4, 0xA4, 0x48, 'O', 'K'}).Raw(15, {0xA4});
    title.Raw(16, {0xA4, 0xA4, 'x', 0xA4, 0x48, ' '});
    title.Raw(32, {'x', 0xA4, 0xA4, '.'});
    Bytes expected = title.bytes();
    std::copy_n(Bytes{0xD6, 0xD0, 0xC8, 0xCB}.begin(), 4, expected.begin());
    std::copy_n(Bytes{0xD6, 0xD0, 'x', 0xC8, 0xCB}.begin(), 5, expected.begin() + 16);
    std::copy_n(Bytes{0xD6, 0xD0}.begin(), 2, expected.begin() + 33);
    sent = Send(0x86, title.data());
    EXPECT_EQ(Hex(sent.payload), Hex(expected));
    EXPECT_EQ(Hex(State().lcdTitle), Hex(expected));
}

TEST_F(Payloads, BlackCardGradesAndInnerSettings) {
    Open();
    Sent sent = Send(0xA3, Block(4).Int(0, 0x12345678).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(sent.result, 8);
    std::vector<uint32_t> black = State().BlackList();
    EXPECT_NE(std::find(black.begin(), black.end(), 0x12345678u), black.end());

    sent = Send(0xA5, Block(16).Int(0, 5).Int(4, 2).Int(8, 7).Int(12, 300).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x01, 0x00, 0x02, 0x07, 0x2C}));
    EXPECT_EQ(sent.result, 8);
    EXPECT_TRUE(State().gradeFlag);
    EXPECT_EQ(Hex(State().grades), Hex({0x07, 0x2C}));

    // A negative count sends no items and says so; the terminal takes the empty list.
    sent = Send(0xA5, Block(8).Int(0, 0).Int(4, -3).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x00, 0x00, 0x00}));
    EXPECT_EQ(sent.result, 8);
    EXPECT_FALSE(State().gradeFlag);
    EXPECT_TRUE(State().grades.empty());

    // A count the frame's length field cannot hold is refused before anything is sent.
    simulator.ClearReceived();
    Block many(8 + 4 * 70000);
    many.Int(4, 70000);
    EXPECT_EQ(Run(kTerminal, 0xA5, many.data()), 0);
    EXPECT_TRUE(Frames().empty());

    EXPECT_EQ(SetInnerCmd(device, 1), 1);
    sent = Send(0xC7, Block(4).Int(0, 1000000).data());
    EXPECT_EQ(Hex(sent.payload), Hex({0x00, 0x00, 0x0F, 0x42, 0x40}));
    EXPECT_EQ(State().serialNumber, 1000000u);
    sent = Send(0xCD, Block(14).Int(0, 0x1AB).Text(4, "0123456789").data());
    Bytes inner = {0xAB, '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(Hex(sent.payload), Hex(inner));
    EXPECT_EQ(Hex(State().innerSetting), Hex(inner));
}

TEST_F(Payloads, CardLayoutsOneAndTwoAreStoredOnTheCard) {
    Open();
    Bytes mask = Mask();
    Block card(48);
    card.Int(0, 1).Int(4, 0x01020304).Text(8, "AB12345").Int(16, 0x1FF).Int(20, 9);
    card.Text(24, "1234").Text(28, "AB      ").Int(36, 2005).Int(40, 3).Int(44, 19);
    Sent sent = Send(0x61, card.data());
    Bytes expected = {0x01,
                      0x01,
                      0x02,
                      0x03,
                      0x04,
                      0x2C,
                      0xC2,
                      0x34,
                      0x56,
                      0xFF,
                      0x09,
                      static_cast<uint8_t>(0x04 ^ mask[0]),
                      static_cast<uint8_t>(0xD2 ^ mask[1]),
                      0x41,
                      0x42,
                      0,
                      0,
                      0,
                      0,
                      0,
                      0,
                      0x05,
                      0x03,
                      0x13,
                      0x01,
                      0x00,
                      0x00,
                      0x03,
                      0xAA};
    EXPECT_EQ(Hex(sent.payload), Hex(expected));
    EXPECT_EQ(sent.result, 8);
    dmsim::Card stored = State().card;
    EXPECT_EQ(stored.number, 0x01020304u);
    EXPECT_EQ(stored.recordCode, "AB12345");
    EXPECT_EQ(stored.attribute1, 0xFF);
    EXPECT_EQ(stored.attribute2, 9);
    EXPECT_EQ(stored.password, 1234);
    EXPECT_EQ(Hex(Bytes(stored.name.begin(), stored.name.end())),
              Hex({0x41, 0x42, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(stored.year, 2005);
    EXPECT_EQ(stored.month, 3);
    EXPECT_EQ(stored.day, 19);

    // The update command uses the same layout; another sub-code leaves it without a payload.
    card.Int(4, 77).Text(24, "0042");
    sent = Send(0x66, card.data());
    EXPECT_EQ(sent.payload.size(), 29u);
    EXPECT_EQ(State().card.number, 77u);
    EXPECT_EQ(State().card.password, 42);
    EXPECT_TRUE(Send(0x66, Block(48).Int(0, 2).data()).payload.empty());

    // Layout 2: spaces inside the code are dropped, a hex letter counts at its decimal weight,
    // the password goes unmasked, and the host's date follows the card's.
    card.Int(0, 2).Text(8, "A 12 34").Text(24, "12B4").Int(36, 1999);
    Moment before;
    sent = Send(0x61, card.data());
    Moment after;
    ASSERT_EQ(sent.payload.size(), 42u);
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(Hex(Slice(sent.payload, 5, 4)), Hex({0x2C, 0x23, 0x45, 0x00}));
    EXPECT_EQ(Hex(Slice(sent.payload, 11, 2)), Hex({0x05, 0x22}));
    EXPECT_EQ(sent.payload[21], 0xFF);
    EXPECT_EQ(sent.payload[24], 0x00);
    ExpectToday(Slice(sent.payload, 25, 3), before, after);
    EXPECT_EQ(Hex(Slice(sent.payload, 28, 14)), Hex(Bytes(14, 0)));
    stored = State().card;
    EXPECT_EQ(stored.recordCode, "A1234  ");
    EXPECT_EQ(stored.password, 1314);
    ExpectToday(DateOf(stored.writtenYear, stored.writtenMonth, stored.writtenDay), before, after);
}

TEST_F(Payloads, CardLayoutsThreeAndTwoFiftyFourWithBig5Names) {
    Open();
    EXPECT_EQ(SetInnerCode(device, 1), 1);
    Block card(48);
    card.Int(0, 3).Int(4, -2).Text(8, "zz99999").Text(15, "9999").Int(28, 2010);
    card.Raw(19, {0xA4, 0xA4, 0xA4, 0x48, 'X', ' ', ' ', ' '});
    card.Int(32, 12).Int(36, 25).Int(40, 0x203).Int(44, 4);
    Sent sent = Send(0x61, card.data());
    Bytes expected = {0x03, 0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0xFA, 0xAA, 0xAA, 0x27, 0x0F, 0xD6,
                      0xD0, 0xC8, 0xCB, 0x58, 0x00, 0x00, 0x00, 0x0A, 0x0C, 0x19, 0x03, 0x04};
    EXPECT_EQ(Hex(sent.payload), Hex(expected));
    EXPECT_EQ(sent.result, 8);
    dmsim::Card stored = State().card;
    EXPECT_EQ(stored.number, 0xFFFFFFFEu);
    EXPECT_EQ(stored.recordCode, "zz99999");
    EXPECT_EQ(stored.password, 9999);
    EXPECT_EQ(Hex(Bytes(stored.name.begin(), stored.name.end())), Hex(Slice(expected, 11, 8)));
    EXPECT_EQ(stored.attribute3, 3);
    EXPECT_EQ(stored.attribute4, 4);
    EXPECT_EQ(stored.year, 2010);

    Moment before;
    sent = Send(0x61, Block(12).Int(0, 254).Int(4, 0x0A0B0C0D).data());
    Moment after;
    ASSERT_EQ(sent.payload.size(), 28u);
    EXPECT_EQ(sent.result, 8);
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 5)), Hex({0xFE, 0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(Hex(Slice(sent.payload, 5, 11)), Hex(Bytes(11, 0)));
    EXPECT_EQ(Hex(Slice(sent.payload, 16, 6)), Hex({0x0B, 0x0C, 0x0D, 0, 0, 0}));
    ExpectTimeStamp(Slice(sent.payload, 22, 6), before, after);
    EXPECT_EQ(State().card.number, 0x0A0B0C0Du);
}

TEST_F(Payloads, MoneyChangesTheBalance) {
    Open();
    simulator.UpdateTerminal(kTerminal, [](dmsim::Terminal& t) { t.card.balance = 1000; });
    Block money(28);
    money.Int(0, 2).Int(4, 250).Int(8, 0x103);
    Moment before;
    Sent sent = Send(0x62, money.data());
    Moment after;
    ASSERT_EQ(sent.payload.size(), 11u);
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 6)), Hex({0x02, 0x00, 0x00, 0x00, 0xFA, 0x03}));
    ExpectToday(Slice(sent.payload, 6, 3), before, after);
    EXPECT_EQ(Hex(Slice(sent.payload, 9, 2)), Hex({0x00, 0x00}));
    dmsim::Card card = State().card;
    EXPECT_EQ(card.balance, 1250);
    EXPECT_EQ(card.moneyAttribute, 3);
    EXPECT_EQ(card.moneyCount, 1);
    ExpectToday(DateOf(card.moneyYear, card.moneyMonth, card.moneyDay), before, after);

    money.Int(4, 50).Int(8, 1);
    sent = Send(0x63, money.data());
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 6)), Hex({0x02, 0x00, 0x00, 0x00, 0x32, 0x01}));
    EXPECT_EQ(State().card.balance, 1200);

    // A negative amount travels as two's complement; the terminal refuses it.
    money.Int(4, -5);
    sent = Send(0x62, money.data());
    EXPECT_EQ(Hex(Slice(sent.payload, 0, 5)), Hex({0x02, 0xFF, 0xFF, 0xFF, 0xFB}));
    EXPECT_EQ(State().card.balance, 1200);

    EXPECT_TRUE(Send(0x62, Block(28).Int(0, 1).Int(4, 250).data()).payload.empty());
    EXPECT_EQ(State().card.balance, 1200);
}

TEST_F(Payloads, EncipheredKeysDecipherToTheKeyTexts) {
    Open();
    const Bytes key1 = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    const Bytes key2 = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    const Bytes key3 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    const Bytes key4 = {0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    Block four(72);
    four.Int(0, 7).Text(4, "0123456789ABCDEF").Text(20, "fedcba9876543210");
    four.Text(36, "0011223344556677").Text(52, "8899aAbBcCdDeEfF").Int(68, 0x1FE);
    Sent system = Send(0xA0, four.data());
    ASSERT_EQ(system.payload.size(), 34u);
    EXPECT_EQ(system.result, 8);
    EXPECT_EQ(system.payload[0], 7);
    EXPECT_EQ(system.payload[33], 0xFE);
    EXPECT_NE(Hex(Slice(system.payload, 1, 8)), Hex(key1)); // never in the clear
    Sent update = Send(0x68, four.data());
    EXPECT_EQ(Hex(update.payload), Hex(system.payload));
    for (int code : {0xA0, 0x68}) {
        dmsim::Terminal terminal = State();
        ASSERT_EQ(terminal.keys.count(code), 1u) << code;
        const dmsim::KeySet& set = terminal.keys.at(code);
        ASSERT_EQ(set.keys.size(), 4u);
        EXPECT_EQ(Hex(KeyBytes(set.keys[0])), Hex(key1));
        EXPECT_EQ(Hex(KeyBytes(set.keys[1])), Hex(key2));
        EXPECT_EQ(Hex(KeyBytes(set.keys[2])), Hex(key3));
        EXPECT_EQ(Hex(KeyBytes(set.keys[3])), Hex(key4));
        EXPECT_EQ(set.lead, 7);
        EXPECT_EQ(set.trailing, 0xFE);
    }

    // Equal texts encipher alike: each key is a block of its own.
    Block pair(36);
    pair.Int(0, 0x102).Text(4, "0123456789abcdef").Text(20, "0123456789ABCDEF");
    Sent init = Send(0x65, pair.data());
    ASSERT_EQ(init.payload.size(), 17u);
    EXPECT_EQ(init.result, 8);
    EXPECT_EQ(init.payload[0], 2);
    EXPECT_EQ(Hex(Slice(init.payload, 1, 8)), Hex(Slice(init.payload, 9, 8)));
    EXPECT_EQ(Hex(Slice(init.payload, 1, 8)), Hex(Slice(system.payload, 1, 8)));
    const dmsim::KeySet set = State().keys.at(0x65);
    ASSERT_EQ(set.keys.size(), 2u);
    EXPECT_EQ(Hex(KeyBytes(set.keys[0])), Hex(key1));
    EXPECT_EQ(Hex(KeyBytes(set.keys[1])), Hex(key1));
}

TEST_F(Payloads, MaskedKeysUnmaskToTheGivenKeys) {
    Open();
    const Bytes mask = Mask();
    const Bytes raw1 = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
    const Bytes raw2 = {0xFF, 0x00, 0xFF, 0x00, 0x5A, 0xA5, 0x01, 0x02};
    Sent user = Send(0xA1, Block(20).Int(0, 1).Raw(4, raw1).Raw(12, raw2).data());
    Bytes expected = {0x01};
    for (const Bytes& raw : {raw1, raw2}) {
        Bytes masked = Xor(raw, mask);
        expected.insert(expected.end(), masked.begin(), masked.end());
    }
    expected.push_back(0xFF);
    EXPECT_EQ(Hex(user.payload), Hex(expected));
    EXPECT_EQ(user.result, 8);
    dmsim::KeySet set = State().keys.at(0xA1);
    ASSERT_EQ(set.keys.size(), 2u);
    EXPECT_EQ(Hex(KeyBytes(set.keys[0])), Hex(raw1));
    EXPECT_EQ(Hex(KeyBytes(set.keys[1])), Hex(raw2));

    // Characters that are not hex digits count as -1: ZZ, G1 and 1G give EF, F1 and 0F.
    const Bytes odd = {0xEF, 0xF1, 0x0F, 0x00, 0x00, 0x00, 0xAB, 0xCD};
    Sent load = Send(0xC9, Block(20).Int(0, 3).Text(4, "ZZG11G000000abcd").data());
    ASSERT_EQ(load.payload.size(), 17u);
    EXPECT_EQ(load.result, 8);
    EXPECT_EQ(load.payload[0], 3);
    EXPECT_EQ(Hex(Slice(load.payload, 1, 8)), Hex(Xor(odd, mask)));
    EXPECT_EQ(Hex(Slice(load.payload, 9, 8)), Hex(Xor(odd, mask)));
    EXPECT_EQ(Hex(KeyBytes(State().keys.at(0xC9).keys.at(0))), Hex(odd));

    const char* texts[6] = {"0102030405060708", "1112131415161718", "2122232425262728",
                            "3132333435363738", "4142434445464748", "5152535455565758"};
    Block card(100);
    for (int i = 0; i < 4; ++i)
        card.Text(16 * i, texts[i]);
    card.Int(64, 0x109).Text(68, texts[4]).Text(84, texts[5]);
    Moment before;
    Sent system = Send(0xC8, card.data());
    Moment after;
    ASSERT_EQ(system.payload.size(), 65u);
    EXPECT_EQ(system.result, 8);
    std::vector<Bytes> keys;
    for (int i = 0; i < 6; ++i) {
        Bytes key;
        for (int b = 0; b < 8; ++b)
            key.push_back(static_cast<uint8_t>(0x10 * i + b + 1));
        keys.push_back(key);
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Hex(Slice(system.payload, 8 * i, 8)), Hex(Xor(keys[i], mask))) << i;
    EXPECT_EQ(Hex(Slice(system.payload, 32, 5)), Hex({0x09, 0xFF, 0x00, 0x00, 0x00}));
    Bytes k5 = Xor(keys[4], mask);
    Bytes k6 = Xor(keys[5], mask);
    EXPECT_EQ(Hex(Slice(system.payload, 37, 8)), Hex(k5));
    EXPECT_EQ(Hex(Slice(system.payload, 45, 8)), Hex(k6));
    EXPECT_EQ(Hex(Slice(system.payload, 53, 6)), Hex({k5[0], k6[1], k5[2], k6[3], k5[4], k6[5]}));
    ExpectTimeStamp(Slice(system.payload, 59, 6), before, after);
    set = State().keys.at(0xC8);
    EXPECT_EQ(set.lead, 9);
    ASSERT_EQ(set.keys.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(Hex(KeyBytes(set.keys[i])), Hex(keys[i])) << i;
}

TEST_F(Payloads, CommandsThatNeedAParameterBlockRefuseNone) {
    Open();
    EXPECT_EQ(SetInnerCmd(device, 1), 1);
    const int codes[] = {0x0A, 0x02, 0x06, 0x10, 0x36, 0x11, 0x12, 0x14, 0x18, 0x19, 0x1A,
                         0x1B, 0x1C, 0x60, 0x61, 0x62, 0x63, 0x65, 0x66, 0x67, 0x68, 0x80,
                         0x86, 0xA0, 0xA1, 0xA3, 0xA4, 0xA5, 0xC7, 0xC8, 0xC9, 0xCD};
    for (int code : codes)
        EXPECT_EQ(Run(kTerminal, code, nullptr), 0) << "code " << code;
    EXPECT_TRUE(Frames().empty());
    // The refusals leave the device free for the next command.
    Sent sent = Send(0x81, nullptr);
    EXPECT_EQ(Hex(sent.payload), Hex({0x00}));
    EXPECT_EQ(sent.result, 8);
}
