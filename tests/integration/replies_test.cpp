// Replies decoded end to end: a simulated terminal answers from its state (or a hand-made
// uplink frame stands in for an odd terminal), and the data the application reads back is
// compared with the entry layouts field by field, host-order integers and fixed-width texts.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "dmsim/bytes.h"
#include "line_fixture.h"

using namespace scenario;

namespace {

// An expected data buffer. Only the bytes of the fields set here are compared; the bytes that
// belong to no field show as "??" on both sides.
class Expected {
  public:
    explicit Expected(size_t size) : bytes_(size, 0), defined_(size, false) {}

    Expected& Int(size_t at, int64_t value) {
        auto host = static_cast<int32_t>(static_cast<uint32_t>(value));
        uint8_t raw[sizeof host];
        std::memcpy(raw, &host, sizeof host);
        return Put(at, Bytes(raw, raw + sizeof raw));
    }
    Expected& Text(size_t at, const std::string& text) {
        return Put(at, Bytes(text.begin(), text.end()));
    }
    Expected& Put(size_t at, const Bytes& raw) {
        for (size_t i = 0; i < raw.size(); ++i) {
            bytes_.at(at + i) = raw[i];
            defined_.at(at + i) = true;
        }
        return *this;
    }

    std::string Show() const { return Show(bytes_); }
    // The data as this layout sees it; a buffer of another size shows in full and so differs.
    std::string Show(const Bytes& data) const {
        if (data.size() != bytes_.size())
            return std::to_string(data.size()) + " bytes: " + Hex(data);
        std::string text;
        for (size_t i = 0; i < data.size(); ++i)
            text += defined_[i] ? Hex({data[i]}) : "?? ";
        return text;
    }

  private:
    Bytes bytes_;
    std::vector<bool> defined_;
};

Bytes Entry(const Bytes& data, size_t index, size_t size) {
    if ((index + 1) * size > data.size()) return {};
    return Bytes(data.begin() + static_cast<long>(index * size),
                 data.begin() + static_cast<long>((index + 1) * size));
}

// The fields every record entry ends with, from at: the time stamp, the two flags and the
// replying terminal's address.
Expected& StampAndTerminal(Expected& entry, size_t at, const dmsim::Record& record, int terminal) {
    return entry.Int(at, record.year)
        .Int(at + 4, record.month)
        .Int(at + 8, record.day)
        .Int(at + 12, record.hour)
        .Int(at + 16, record.minute)
        .Int(at + 20, record.second)
        .Int(at + 24, record.flagA ? 1 : 0)
        .Int(at + 28, record.flagB ? 1 : 0)
        .Int(at + 32, terminal);
}

// Record i of a set with valid time stamps, every field varying.
dmsim::Record VariedRecord(int i) {
    dmsim::Record record;
    record.identifier = static_cast<uint32_t>(100000 + 7919 * i);
    record.code = std::string{char('a' + i % 26), char('A' + i % 26)} + "12345";
    record.year = 2001 + i % 30;
    record.month = 1 + i % 12;
    record.day = 1 + (3 * i) % 28;
    record.hour = (5 * i) % 24;
    record.minute = (7 * i) % 60;
    record.second = (11 * i) % 60;
    record.flagA = i % 2 == 1;
    record.flagB = i % 3 == 0;
    record.value24 = (i % 2 ? -1 : 1) * (1000 * i + 17);
    record.value32 = (i % 3 ? 1 : -1) * (100000 * i + 3);
    record.value16 = static_cast<uint16_t>(60000 - 13 * i);
    record.value8 = static_cast<uint8_t>(200 - i);
    return record;
}

Bytes Reply(uint8_t code, const Bytes& payload) {
    Bytes reply(payload.size() + 1, code);
    std::copy(payload.begin(), payload.end(), reply.begin() + 1);
    return reply;
}

// Name bytes of a card as the terminal stores them: two GB2312 characters and four letters.
const Bytes kCardName = {0xD6, 0xD0, 0xCE, 0xC4, 0x41, 0x42, 0x43, 0x44};

} // namespace

class Replies : public Line {
  protected:
    static constexpr uint16_t kTerminal = 0x0002;
    static constexpr size_t kShortEntry = 40;
    static constexpr size_t kLongEntry = 60;

    // Runs a command to `to` that the simulated terminals leave unanswered; the given replies go
    // out from `from` as soon as the frame has left the host.
    Outcome RunAnswered(int code, void* params, const std::vector<Bytes>& replies,
                        uint16_t from = kTerminal, uint16_t to = kTerminal) {
        dmsim::Faults faults;
        faults.silent = true;
        simulator.SetFaults(faults);
        bool sent = false;
        onNotification = [this, &sent, &replies, from](int message) {
            if (message != WM_HDLC_SENT || sent) return;
            sent = true;
            for (const Bytes& reply : replies)
                simulator.SendUplink(from, kHost, reply);
        };
        Outcome outcome = RunAndEnd(to, code, params);
        onNotification = nullptr;
        simulator.SetFaults(dmsim::Faults());
        return outcome;
    }

    // Pumps the application's messages until the command's result is `wanted` or 3 s passed.
    int PumpForResult(int handle, int wanted) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (GetCmdResult(handle) != wanted && std::chrono::steady_clock::now() < deadline)
            Pump(20);
        return GetCmdResult(handle);
    }

    Bytes ReadData(int handle) {
        Bytes data(static_cast<size_t>(GetSizeOfData(handle)));
        EXPECT_EQ(GetData(handle, data.data(), static_cast<int>(data.size())), 1);
        return data;
    }

    void Change(const std::function<void(dmsim::Terminal&)>& change) {
        ASSERT_TRUE(simulator.UpdateTerminal(kTerminal, change));
    }

    dmsim::Terminal State() {
        dmsim::Terminal copy;
        EXPECT_TRUE(simulator.GetTerminal(kTerminal, copy));
        return copy;
    }
};

// A 171-byte payload divides by 19 as well, and still reads as 19 short records.
TEST_F(Replies, NineteenShortRecordsFillNineteenEntries) {
    Open();
    std::vector<dmsim::Record> records(19);
    for (int i = 0; i < 19; ++i) {
        dmsim::Record& record = records[static_cast<size_t>(i)];
        record.identifier =
            i == 0 ? 0xFEDCBA98u : 0x01000000u + 0x10101u * static_cast<uint32_t>(i);
        record.year = 2000 + 13 * i;
        record.month = i == 1 ? 15 : i % 13;
        record.day = (i * 5) % 32;
        record.hour = (i * 3) % 32;
        record.minute = (i * 7) % 64;
        record.second = (i * 11) % 64;
        record.flagA = i % 2 == 1;
        record.flagB = i % 3 == 0;
    }
    Change([&](dmsim::Terminal& terminal) { terminal.records = records; });
    int range[2] = {0, 19};
    Outcome outcome = RunAndEnd(kTerminal, 0x10, range);
    EXPECT_EQ(outcome.result, 13);
    ASSERT_EQ(outcome.data.size(), 19 * kShortEntry);
    for (size_t i = 0; i < records.size(); ++i) {
        const dmsim::Record& record = records[i];
        Expected entry(kShortEntry);
        StampAndTerminal(entry.Int(0, record.identifier), 4, record, kTerminal);
        EXPECT_EQ(entry.Show(Entry(outcome.data, i, kShortEntry)), entry.Show()) << "record " << i;
    }

    // A range past the stored records: the terminal answers with no records.
    int beyond[2] = {40, 5};
    outcome = RunAndEnd(kTerminal, 0x10, beyond);
    EXPECT_EQ(outcome.result, 14);
    EXPECT_TRUE(outcome.data.empty());
}

// 9, 18 and 41 long records: 171 and 342 payload bytes divide by 9 as well, yet stay long records,
// told by the count asked for where it is below the short reading's, else by the time stamps
// (always so for the realtime query, which asks for no count). Short records stay short.
TEST_F(Replies, LongRecordsStayLongWhereNineDividesTheirLength) {
    Open();
    auto longEntry = [](const dmsim::Record& record) {
        Expected entry(kLongEntry);
        entry.Text(0, record.code).Int(8, record.value24).Int(12, record.value32);
        return StampAndTerminal(entry.Int(16, record.value16).Int(20, record.value8), 24, record,
                                kTerminal);
    };
    // Asks for the records `batch` at a time; every reply must hold long records.
    auto collect = [this](int code, int count, int batch) {
        Bytes all;
        for (int first = 0; first < count; first += batch) {
            int range[2] = {first, batch};
            int handle = Run(kTerminal, code, range);
            EXPECT_EQ(GetCmdResult(handle), 13);
            EXPECT_EQ(GetRecordForm(handle), QARN_RECORDS_LONG) << count << " by " << batch;
            Bytes data = ReadData(handle);
            all.insert(all.end(), data.begin(), data.end());
            EndQARNCommand(handle);
        }
        return all;
    };
    for (int count : {9, 18, 41}) {
        SCOPED_TRACE(count);
        std::vector<dmsim::Record> records;
        for (int i = 0; i < count; ++i)
            records.push_back(VariedRecord(i));
        Change([&](dmsim::Terminal& terminal) {
            terminal.longRecords = true;
            terminal.records = terminal.backupRecords = terminal.realtimeRecords = records;
        });
        int all[1] = {0};
        int realtime = Run(kTerminal, 0x06, all);
        EXPECT_EQ(GetRecordForm(realtime), QARN_RECORDS_LONG);
        Bytes realtimeData = ReadData(realtime);
        EndQARNCommand(realtime);
        for (const Bytes& data :
             {collect(0x10, count, count), collect(0x36, count, 32), realtimeData}) {
            ASSERT_EQ(data.size(), static_cast<size_t>(count) * kLongEntry);
            for (size_t i = 0; i < records.size(); ++i) {
                Expected entry = longEntry(records[i]);
                ASSERT_EQ(entry.Show(Entry(data, i, kLongEntry)), entry.Show()) << "record " << i;
            }
        }
    }

    // Time stamps that tell nothing (a clock never set): the count asked for still tells.
    std::vector<dmsim::Record> unset(9, VariedRecord(1));
    for (dmsim::Record& record : unset)
        record.month = 0;
    Change([&](dmsim::Terminal& terminal) { terminal.records = unset; });
    Bytes data = collect(0x10, 9, 9);
    ASSERT_EQ(data.size(), 9 * kLongEntry);
    Expected entry = longEntry(unset[8]);
    EXPECT_EQ(entry.Show(Entry(data, 8, kLongEntry)), entry.Show());

    std::vector<dmsim::Record> shortRecords;
    for (int i = 0; i < 19; ++i)
        shortRecords.push_back(VariedRecord(i));
    Change([&](dmsim::Terminal& terminal) {
        terminal.longRecords = false;
        terminal.records = shortRecords;
    });
    int range[2] = {0, 32};
    int handle = Run(kTerminal, 0x10, range);
    EXPECT_EQ(GetRecordForm(handle), QARN_RECORDS_SHORT);
    data = ReadData(handle);
    EndQARNCommand(handle);
    ASSERT_EQ(data.size(), 19 * kShortEntry);
    for (size_t i = 0; i < shortRecords.size(); ++i) {
        Expected entry(kShortEntry);
        StampAndTerminal(entry.Int(0, shortRecords[i].identifier), 4, shortRecords[i], kTerminal);
        EXPECT_EQ(entry.Show(Entry(data, i, kShortEntry)), entry.Show()) << "record " << i;
    }
    // No records, other data, and a released handle: no form.
    int beyond[2] = {40, 5};
    handle = Run(kTerminal, 0x10, beyond);
    EXPECT_EQ(GetCmdResult(handle), 14);
    EXPECT_EQ(GetRecordForm(handle), 0);
    EndQARNCommand(handle);
    EXPECT_EQ(GetRecordForm(handle), 0);
    handle = Run(kTerminal, 0x16);
    EXPECT_EQ(GetCmdResult(handle), 13);
    EXPECT_EQ(GetRecordForm(handle), 0);
    EndQARNCommand(handle);
}

TEST_F(Replies, LongRecordsKeepSignsAndCloseUpTheirCodes) {
    Open();
    dmsim::Record first;
    first.code = "A B    "; // a space between the letters: shown closed up, right-aligned
    first.year = 2024;
    first.month = 2;
    first.day = 29;
    first.hour = 23;
    first.minute = 59;
    first.second = 58;
    first.flagA = true;
    first.value24 = -1;
    first.value32 = -5;
    first.value16 = 0xFFFF;
    first.value8 = 0xFF;
    dmsim::Record second;
    second.code = "z_12345";
    second.year = 2255;
    second.month = 15;
    second.day = 31;
    second.flagB = true;
    second.value24 = 8388607;
    second.value32 = 0x7FFFFFFF;
    second.value16 = 0x1234;
    second.value8 = 7;
    dmsim::Record blank; // a code of spaces only
    blank.value24 = -8388607;
    blank.value32 = -2147483647;
    Change([&](dmsim::Terminal& terminal) {
        terminal.longRecords = true;
        terminal.backupRecords = {first, second};
        terminal.realtimeRecords = {blank};
    });

    auto expected = [](const dmsim::Record& record, const std::string& code) {
        Expected entry(kLongEntry);
        entry.Text(0, code)
            .Int(8, record.value24)
            .Int(12, record.value32)
            .Int(16, record.value16)
            .Int(20, record.value8);
        StampAndTerminal(entry, 24, record, kTerminal);
        return entry;
    };

    int range[2] = {0, 2};
    Outcome outcome = RunAndEnd(kTerminal, 0x36, range); // 38 payload bytes
    EXPECT_EQ(outcome.result, 13);
    ASSERT_EQ(outcome.data.size(), 2 * kLongEntry);
    Expected one = expected(first, "     AB");
    Expected two = expected(second, "z_12345");
    EXPECT_EQ(one.Show(Entry(outcome.data, 0, kLongEntry)), one.Show());
    EXPECT_EQ(two.Show(Entry(outcome.data, 1, kLongEntry)), two.Show());

    int all[1] = {0};
    outcome = RunAndEnd(kTerminal, 0x06, all);
    EXPECT_EQ(outcome.result, 13);
    Expected spaces = expected(blank, "       ");
    EXPECT_EQ(spaces.Show(outcome.data), spaces.Show());

    Change([](dmsim::Terminal& terminal) { terminal.realtimeRecords.clear(); });
    outcome = RunAndEnd(kTerminal, 0x06, all);
    EXPECT_EQ(outcome.result, 14);
    EXPECT_TRUE(outcome.data.empty());
}

// Record payloads the simulator does not make: a length neither size divides, records from
// another terminal than the one asked, and the sign bit over a zero magnitude.
TEST_F(Replies, OddRecordRepliesFromTheLine) {
    Open();
    int range[2] = {0, 2};
    Outcome outcome = RunAnswered(0x10, range, {Reply(0x10, Bytes(40, 0x11))});
    EXPECT_EQ(outcome.result, 12);
    EXPECT_TRUE(outcome.data.empty());

    // Identifier 7, 2010, then 1 Dec 10:20:30 with flag A.
    Bytes shortRecord = {0x00, 0x00, 0x00, 0x07, 10};
    dmsim::AppendBe32(shortRecord,
                      12u << 28 | 1u << 23 | 10u << 18 | 20u << 12 | 30u << 6 | 1u << 5);
    outcome = RunAnswered(0x10, range, {Reply(0x10, shortRecord)}, 0x0009, 0x0009);
    EXPECT_EQ(outcome.result, 13);
    Expected entry(kShortEntry);
    entry.Int(0, 7).Int(4, 2010).Int(8, 12).Int(12, 1).Int(16, 10).Int(20, 20).Int(24, 30);
    entry.Int(28, 1).Int(32, 0).Int(36, 0x0009);
    EXPECT_EQ(entry.Show(outcome.data), entry.Show());

    Bytes longRecord = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80,
                        0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    outcome = RunAnswered(0x36, range, {Reply(0x36, longRecord)});
    EXPECT_EQ(outcome.result, 13);
    ASSERT_EQ(outcome.data.size(), kLongEntry);
    Expected zeros(kLongEntry);
    zeros.Text(0, "       ").Int(8, 0).Int(12, 0);
    EXPECT_EQ(zeros.Show(outcome.data), zeros.Show());
}

TEST_F(Replies, CountersArriveAsPairsAndSingles) {
    Open();
    Change([](dmsim::Terminal& terminal) {
        for (int day = 1; day <= 5; ++day) {
            dmsim::Record record;
            record.year = 2024;
            record.month = 1;
            record.day = day;
            terminal.records.push_back(record);
        }
        terminal.whiteBlocks[0] = std::vector<uint32_t>(5, 0x1234);
        terminal.blackBlocks[196] = std::vector<uint32_t>(256, 0x5678);
        terminal.recordIndex = 0x89ABCDEF;
    });

    int days[7] = {1, 2024, 1, 2, 2024, 1, 4};
    Outcome outcome = RunAndEnd(kTerminal, 0x11, days);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(8).Int(0, 1).Int(4, 3).Show(outcome.data),
              Expected(8).Int(0, 1).Int(4, 3).Show());
    int every[7] = {0};
    outcome = RunAndEnd(kTerminal, 0x11, every);
    EXPECT_EQ(Expected(8).Int(0, 0).Int(4, 5).Show(outcome.data),
              Expected(8).Int(0, 0).Int(4, 5).Show());

    outcome = RunAndEnd(kTerminal, 0x17); // white cards first
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(8).Int(0, 5).Int(4, 256).Show(outcome.data),
              Expected(8).Int(0, 5).Int(4, 256).Show());

    outcome = RunAndEnd(kTerminal, 0x1E);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(4).Int(0, 0x89ABCDEF).Show(outcome.data),
              Expected(4).Int(0, 0x89ABCDEF).Show());
}

TEST_F(Replies, PropertyAndStatus) {
    Open();
    Change([](dmsim::Terminal& terminal) {
        terminal.property = {0xFF, 0xFE, 0x12, 0x34, 0x00, 0x05, 0x80, 0x81, 0x82, 0x83,
                             0x84, 0x85, 0x86, 0x87, 0xFF, 0x00, 0x02, 0xFF, 0xAB, 0xCD};
        terminal.clock = {2005, 3, 7, 14, 30, 45, 2};
        terminal.statusValue = 256;
    });
    Outcome outcome = RunAndEnd(kTerminal, 0x13);
    EXPECT_EQ(outcome.result, 13);
    Expected property(68);
    property.Int(0, 0xFFFE).Int(4, 0x1234).Int(8, 5);
    for (int i = 0; i < 9; ++i)
        property.Int(12 + 4 * static_cast<size_t>(i), i == 8 ? 0xFF : 0x80 + i);
    property.Int(48, 0).Int(52, 1).Int(56, 1).Int(60, 0xAB).Int(64, 0xCD);
    EXPECT_EQ(property.Show(outcome.data), property.Show());

    outcome = RunAndEnd(kTerminal, 0x16);
    EXPECT_EQ(outcome.result, 13);
    Expected status(32);
    status.Int(0, 2005).Int(4, 3).Int(8, 7).Int(12, 2).Int(16, 14).Int(20, 30).Int(24, 45);
    status.Int(28, 256);
    EXPECT_EQ(status.Show(outcome.data), status.Show());
}

TEST_F(Replies, SystemPropertyInBothLengths) {
    Open();
    Bytes full = {0x12, 0x34, 0x56, 0x78, 0x80, 0x00, 0x00, 0x01, 0xFD, 0x00, 0x05, 0x77};
    std::string model = "MODEL-0042";
    std::string maker = "MAKER NAME 1234";
    full.insert(full.end(), model.begin(), model.end());
    full.insert(full.end(), maker.begin(), maker.end());
    Change([&](dmsim::Terminal& terminal) { terminal.systemProperty = full; });
    Outcome outcome = RunAndEnd(kTerminal, 0x15);
    EXPECT_EQ(outcome.result, 13);
    Expected entry(56);
    entry.Text(0, "12.34.5678").Int(12, 0x80000001).Int(16, 38400).Int(20, 1).Int(24, 0);
    entry.Text(28, model).Text(38, maker);
    EXPECT_EQ(entry.Show(outcome.data), entry.Show());

    // The older kind: 32 bytes, the last text cut to ten. A digit above 9 takes two places.
    Bytes shorter = {0xA1, 0x23, 0x45, 0x67, 0, 0, 1, 0, 0xF8, 0x05, 0x00, 0};
    std::string text = "0123456789";
    shorter.insert(shorter.end(), model.begin(), model.end());
    shorter.insert(shorter.end(), text.begin(), text.end());
    Change([&](dmsim::Terminal& terminal) { terminal.systemProperty = shorter; });
    outcome = RunAndEnd(kTerminal, 0x15);
    EXPECT_EQ(outcome.result, 13);
    Expected older(56);
    older.Text(0, "101.23.456").Int(12, 256).Int(16, 14400).Int(20, 0).Int(24, 1);
    older.Text(28, model).Text(38, text).Put(48, Bytes(5, 0));
    EXPECT_EQ(older.Show(outcome.data), older.Show());

    const struct {
        uint8_t code;
        int baud;
    } speeds[] = {{0xF4, 9600}, {0xFA, 19200}, {0xFC, 28800}, {0xFE, 57600}, {0x00, 38400}};
    for (const auto& speed : speeds) {
        Change([&](dmsim::Terminal& terminal) { terminal.systemProperty[8] = speed.code; });
        outcome = RunAndEnd(kTerminal, 0x15);
        EXPECT_EQ(Expected(56).Int(16, speed.baud).Show(outcome.data),
                  Expected(56).Int(16, speed.baud).Show())
            << int(speed.code);
    }
}

TEST_F(Replies, CardLayoutsPlaceEveryField) {
    Open();
    Change([](dmsim::Terminal& terminal) {
        dmsim::Card& card = terminal.card;
        card.number = 0x80000001;
        card.recordCode = "AB 12C "; // kept in place on cards, spaces included
        card.attribute1 = 7;
        card.attribute2 = 200;
        card.attribute3 = 3;
        card.attribute4 = 250;
        card.password = 1234;
        std::copy(kCardName.begin(), kCardName.end(), card.name.begin());
        card.year = 2026;
        card.month = 12;
        card.day = 31;
        card.value16 = 0xBEEF;
    });
    auto firstLayouts = [](int subCode) {
        Expected entry(subCode == 1 ? 48 : 52);
        entry.Int(0, subCode).Int(4, 0x80000001).Text(8, "AB 12C ").Int(16, 7).Int(20, 200);
        entry.Text(24, "1234").Put(28, kCardName).Int(36, 2026).Int(40, 12).Int(44, 31);
        return entry;
    };

    int subCode[16] = {1}; // the password travels masked with the key table
    Outcome outcome = RunAndEnd(kTerminal, 0x60, subCode);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(firstLayouts(1).Show(outcome.data), firstLayouts(1).Show());

    subCode[0] = 2; // the same password in plain bytes
    outcome = RunAndEnd(kTerminal, 0x60, subCode);
    EXPECT_EQ(outcome.result, 13);
    Expected second = firstLayouts(2);
    second.Int(48, 0xBEEF);
    EXPECT_EQ(second.Show(outcome.data), second.Show());

    // With the inner-code setting the GB2312 characters come back in Big5; letters stay.
    Change([](dmsim::Terminal& terminal) { terminal.card.password = 0; });
    SetInnerCode(device, 1);
    subCode[0] = 3;
    outcome = RunAndEnd(kTerminal, 0x60, subCode);
    EXPECT_EQ(outcome.result, 13);
    Expected third(48);
    third.Int(0, 3).Int(4, 0x80000001).Text(8, "AB 12C ").Text(15, "0000");
    third.Put(19, {0xA4, 0xA4, 0xA4, 0xE5, 0x41, 0x42, 0x43, 0x44});
    third.Int(28, 2026).Int(32, 12).Int(36, 31).Int(40, 3).Int(44, 250);
    EXPECT_EQ(third.Show(outcome.data), third.Show());
    SetInnerCode(device, 0);

    // Five decimal digits: the first character runs past '9'.
    Change([](dmsim::Terminal& terminal) { terminal.card.password = 12345; });
    subCode[0] = 254;
    outcome = RunAndEnd(kTerminal, 0x60, subCode);
    EXPECT_EQ(outcome.result, 13);
    Expected brief(12);
    brief.Int(0, 254).Int(4, 0x80000001).Text(8, std::string(1, '0' + 12) + "345");
    EXPECT_EQ(brief.Show(outcome.data), brief.Show());

    // No card in the reader: the terminal refuses with a status byte, which no layout fits.
    Change([](dmsim::Terminal& terminal) { terminal.card.present = false; });
    subCode[0] = 1;
    outcome = RunAndEnd(kTerminal, 0x60, subCode);
    EXPECT_EQ(outcome.result, 12);
    EXPECT_TRUE(outcome.data.empty());
}

TEST_F(Replies, CardRepliesThatDoNotMatchTheSubCode) {
    Open();
    // Layout 3's length, but the payload starts with sub-code 1: rejected, buffer kept sized.
    int subCode[16] = {3};
    Bytes payload(24, 0x33);
    payload[0] = 0x01;
    Outcome outcome = RunAnswered(0x60, subCode, {Reply(0x60, payload)});
    EXPECT_EQ(outcome.result, 12);
    EXPECT_EQ(outcome.data.size(), 48u);

    // Layout 254's length while layout 1 was asked for.
    subCode[0] = 1;
    payload.assign(28, 0);
    payload[0] = 0xFE;
    outcome = RunAnswered(0x60, subCode, {Reply(0x60, payload)});
    EXPECT_EQ(outcome.result, 12);
    EXPECT_TRUE(outcome.data.empty());

    // A well-formed money reply while the command's sub-code is not 2.
    Bytes money = {0x02, 0x00, 0x00, 0x00, 0x64, 0x01, 26, 1, 2, 0x00, 0x03};
    outcome = RunAnswered(0x67, subCode, {Reply(0x67, money)});
    EXPECT_EQ(outcome.result, 12);
    EXPECT_TRUE(outcome.data.empty());

    // Sub-code 2 with a money payload whose first byte is not 2.
    subCode[0] = 2;
    money[0] = 0x03;
    outcome = RunAnswered(0x67, subCode, {Reply(0x67, money)});
    EXPECT_EQ(outcome.result, 12);
}

TEST_F(Replies, MoneyAndCardIdentifier) {
    Open();
    Change([](dmsim::Terminal& terminal) {
        dmsim::Card& card = terminal.card;
        card.balance = -1000;
        card.moneyAttribute = 4;
        card.moneyYear = 2025;
        card.moneyMonth = 6;
        card.moneyDay = 30;
        card.moneyCount = 0xFFFF;
        card.idType = 0x81;
        card.id = 0xCAFEBABE;
    });
    auto money = [](const dmsim::Card& card) {
        Expected entry(28);
        entry.Int(0, 2).Int(4, card.balance).Int(8, card.moneyAttribute).Int(12, card.moneyYear);
        entry.Int(16, card.moneyMonth).Int(20, card.moneyDay).Int(24, card.moneyCount);
        return entry;
    };

    int read[1] = {2};
    Outcome outcome = RunAndEnd(kTerminal, 0x67, read);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(money(State().card).Show(outcome.data), money(State().card).Show());
    EXPECT_EQ(Expected(28).Int(4, -1000).Show(outcome.data), Expected(28).Int(4, -1000).Show());

    Change([](dmsim::Terminal& terminal) { terminal.card.balance = 500; });
    int add[7] = {2, 250, 9};
    outcome = RunAndEnd(kTerminal, 0x62, add);
    EXPECT_EQ(outcome.result, 13);
    dmsim::Card card = State().card;
    EXPECT_EQ(card.balance, 750);
    EXPECT_EQ(money(card).Show(outcome.data), money(card).Show());

    int take[7] = {2, 100, 3};
    outcome = RunAndEnd(kTerminal, 0x63, take);
    EXPECT_EQ(outcome.result, 13);
    card = State().card;
    EXPECT_EQ(card.balance, 650);
    EXPECT_EQ(money(card).Show(outcome.data), money(card).Show());

    outcome = RunAndEnd(kTerminal, 0x64);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(8).Int(0, 0x81).Int(4, 0xCAFEBABE).Show(outcome.data),
              Expected(8).Int(0, 0x81).Int(4, 0xCAFEBABE).Show());
}

TEST_F(Replies, SearchesCollectTheAnsweringTerminals) {
    Open({0x0002, 0x0003, 0x0004});
    // Every answer sends the search back to waiting, so it ends with its wait time.
    Outcome outcome = RunAndEnd(kTerminal, 0x04);
    EXPECT_EQ(outcome.result, 5);
    // The list keeps its full size: a count and room for 256 addresses.
    EXPECT_EQ(outcome.data.size(), 1028u);
    Expected list(16);
    list.Int(0, 3).Int(4, 2).Int(8, 3).Int(12, 4);
    EXPECT_EQ(list.Show(Entry(outcome.data, 0, 16)), list.Show());

    // Arrival order, not address order.
    outcome = RunAnswered(
        0x04, nullptr,
        {Reply(0x05, {0x00, 0x09}), Reply(0x05, {0x00, 0x05}), Reply(0x05, {0xAB, 0xCD})});
    EXPECT_EQ(outcome.data.size(), 1028u);
    Expected arrival(16);
    arrival.Int(0, 3).Int(4, 9).Int(8, 5).Int(12, 0xABCD);
    EXPECT_EQ(arrival.Show(Entry(outcome.data, 0, 16)), arrival.Show());

    for (uint16_t address : {0x0003, 0x0004})
        simulator.UpdateTerminal(address,
                                 [](dmsim::Terminal& terminal) { terminal.online = false; });
    outcome = RunAndEnd(kTerminal, 0x03);
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(4).Int(0, 2).Show(outcome.data), Expected(4).Int(0, 2).Show());

    // Two answers: the later one is what the buffer holds.
    outcome = RunAnswered(0x03, nullptr, {Reply(0x03, {0x00, 0x05}), Reply(0x03, {0x00, 0x06})});
    EXPECT_EQ(outcome.result, 13);
    EXPECT_EQ(Expected(4).Int(0, 6).Show(outcome.data), Expected(4).Int(0, 6).Show());
}

TEST_F(Replies, StatusBytesBecomeTheResult) {
    Open();
    int item[2] = {3, 9};
    EXPECT_EQ(RunAndEnd(kTerminal, 0x12, item).result, 8);
    EXPECT_EQ(State().property[6], 9);
    Change([](dmsim::Terminal& terminal) { terminal.ackStatus = 0x21; });
    Outcome outcome = RunAndEnd(kTerminal, 0x12, item);
    EXPECT_EQ(outcome.result, 0x21);
    EXPECT_TRUE(outcome.data.empty());
    int unknown[2] = {99, 1};
    EXPECT_EQ(RunAndEnd(kTerminal, 0x12, unknown).result, 6);
    // The reply code alone carries no status.
    EXPECT_EQ(RunAnswered(0x12, item, {Bytes{0x12}}).result, 12);
}

TEST_F(Replies, LateAndUnexpectedRepliesChangeTheResult) {
    Open({kTerminal}, 200);
    dmsim::Faults faults;
    faults.silent = true;
    simulator.SetFaults(faults);
    int handle = Run(kTerminal, 0x13);
    ASSERT_NE(handle, 0);
    ASSERT_EQ(GetCmdResult(handle), 5);
    EXPECT_EQ(GetSizeOfData(handle), 0);
    // The property block arrives after the time-out, before the command is ended.
    Bytes property = {0x00, 0x07, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 1, 0, 1, 10, 11};
    simulator.SendUplink(kTerminal, kHost, Reply(0x13, property));
    EXPECT_EQ(PumpForResult(handle, 13), 13);
    Expected entry(68);
    entry.Int(0, 7).Int(4, 0).Int(8, 0);
    for (int i = 0; i < 9; ++i)
        entry.Int(12 + 4 * static_cast<size_t>(i), i + 1);
    entry.Int(48, 1).Int(52, 0).Int(56, 1).Int(60, 10).Int(64, 11);
    EXPECT_EQ(entry.Show(ReadData(handle)), entry.Show());
    EXPECT_EQ(EndQARNCommand(handle), 0);

    // The clock command expects no reply; one that comes anyway is not decoded.
    handle = Run(kTerminal, 0x01);
    ASSERT_NE(handle, 0);
    EXPECT_EQ(GetCmdResult(handle), 0);
    simulator.SendUplink(kTerminal, kHost, Reply(0x13, property));
    EXPECT_EQ(PumpForResult(handle, 2), 2);
    EXPECT_EQ(GetSizeOfData(handle), 0);
    EXPECT_EQ(EndQARNCommand(handle), 0);
}

TEST_F(Replies, RepliesThatDoNotAnswerTheCommandAreRefused) {
    Open({kTerminal}, 200);
    // Another terminal's reply is not this command's: it times out with nothing stored, and the
    // frame is still there for the line monitor.
    Bytes property(20, 0x01);
    Outcome outcome = RunAnswered(0x13, nullptr, {Reply(0x13, property)}, 0x0003, kTerminal);
    EXPECT_EQ(outcome.result, 5);
    EXPECT_TRUE(outcome.data.empty());
    char text[80] = {};
    EXPECT_EQ(RecvHDLC(device, text), 1);
    EXPECT_EQ(std::string(text, 6), "13 01 ");

    // A status block answering a property reset, an acknowledgement answering a status query.
    outcome = RunAnswered(0x83, nullptr, {Reply(0x16, Bytes(12, 0x01))});
    EXPECT_EQ(outcome.result, 12);
    EXPECT_TRUE(outcome.data.empty());
    outcome = RunAnswered(0x16, nullptr, {Reply(0x83, {0x08})});
    EXPECT_EQ(outcome.result, 12);

    // A broadcast takes any terminal's answer; the realtime query its own rejection.
    outcome = RunAnswered(0x03, nullptr, {Reply(0x03, {0x00, 0x03})}, 0x0003, kTerminal);
    EXPECT_EQ(outcome.result, 13);
    int count = 1;
    EXPECT_EQ(RunAnswered(0x06, &count, {Reply(0x06, {0x06})}).result, 6);
}
