// The public layouts read the decoded replies of simulated terminals: every field of every
// reply layout, compared with the state the terminal answered from.
#include <cstring>
#include <string>

#include "line_fixture.h"
#include "qarn_layouts.h"

using namespace scenario;

extern "C" int LayoutsCheckedInC(void);

namespace {

class Layouts : public Line {
  protected:
    // Runs the command and copies its data into an array of T; empty unless the data size is a
    // whole number of T.
    template <typename T>
    std::vector<T> Read(int terminal, int code, void* params = nullptr, int* result = nullptr) {
        Outcome outcome = RunAndEnd(terminal, code, params);
        if (result != nullptr) *result = outcome.result;
        std::vector<T> entries(outcome.data.size() / sizeof(T));
        if (entries.size() * sizeof(T) != outcome.data.size()) return {};
        if (!entries.empty()) std::memcpy(entries.data(), outcome.data.data(), outcome.data.size());
        return entries;
    }

    dmsim::Terminal State(uint16_t address) {
        dmsim::Terminal terminal;
        simulator.GetTerminal(address, terminal);
        return terminal;
    }
};

std::string Text(const char* field, size_t size) {
    return std::string(field, size);
}

TEST(LayoutsHeader, CompilesInCAndNamesResults) {
    EXPECT_EQ(LayoutsCheckedInC(), 1029);
    EXPECT_STREQ(qarn_result_text(QARN_RESULT_NO_RECORDS), "no records");
    EXPECT_STREQ(qarn_result_text(6), "terminal status");
    EXPECT_EQ(qarn_line_speed_code(57600), 0xFE);
    EXPECT_EQ(qarn_line_speed_code(38400), -1);
}

TEST_F(Layouts, RepliesReadThroughTheStructsMatchTheTerminals) {
    Open({0x0002, 0x0003});
    simulator.UpdateTerminal(0x0002, [](dmsim::Terminal& t) {
        t.clock = {2024, 2, 29, 23, 58, 7, 5};
        t.statusValue = 0x01020304;
        for (int i = 0; i < 3; ++i) {
            dmsim::Record record;
            record.identifier = 1000u + static_cast<uint32_t>(i);
            record.year = 2024;
            record.month = 3;
            record.day = 1 + i;
            record.hour = 12;
            record.minute = 30 + i;
            record.second = 59;
            record.flagA = i == 1;
            record.flagB = i == 2;
            t.records.push_back(record);
        }
        t.recordIndex = 77;
        t.whiteBlocks[0] = {1, 2, 3};
        t.blackCards = {9};
        t.card.number = 123456;
        t.card.recordCode = "AB12345";
        t.card.attribute1 = 7;
        t.card.attribute2 = 9;
        t.card.attribute3 = 11;
        t.card.attribute4 = 13;
        t.card.password = 4321;
        std::memcpy(t.card.name.data(), "ABCDEFGH", 8);
        t.card.year = 2030;
        t.card.month = 6;
        t.card.day = 15;
        t.card.value16 = 500;
        t.card.balance = 123456;
        t.card.moneyAttribute = 3;
        t.card.moneyYear = 2023;
        t.card.moneyMonth = 12;
        t.card.moneyDay = 31;
        t.card.moneyCount = 42;
        t.card.idType = 2;
        t.card.id = 0xCAFE;
        t.systemProperty[8] = 0xFE;
        t.systemProperty[9] = 1;
    });
    simulator.UpdateTerminal(0x0003, [](dmsim::Terminal& t) {
        t.longRecords = true;
        dmsim::Record record;
        record.code = "XY 9 1 ";
        record.value24 = -8388607;
        record.value32 = -5;
        record.value16 = 65535;
        record.value8 = 200;
        record.year = 2025;
        record.month = 7;
        record.day = 4;
        record.flagA = true;
        t.records.push_back(record);
    });
    dmsim::Terminal two = State(0x0002);

    auto status = Read<QarnStatus>(0x0002, 0x16);
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(status[0].year, 2024);
    EXPECT_EQ(status[0].month, 2);
    EXPECT_EQ(status[0].day, 29);
    EXPECT_EQ(status[0].weekday, 5);
    EXPECT_EQ(status[0].hour, 23);
    EXPECT_EQ(status[0].minute, 58);
    EXPECT_EQ(status[0].second, 7);
    EXPECT_EQ(status[0].value, 0x01020304);

    auto property = Read<QarnProperty>(0x0002, 0x13);
    ASSERT_EQ(property.size(), 1u);
    EXPECT_EQ(property[0].bytes0_1, two.property[0] << 8 | two.property[1]);
    EXPECT_EQ(property[0].bytes4_5, two.property[4] << 8 | two.property[5]);
    EXPECT_EQ(property[0].byte6, two.property[6]);
    EXPECT_EQ(property[0].byte14, two.property[14]);
    EXPECT_EQ(property[0].switch16, two.property[16] != 0 ? 1 : 0);
    EXPECT_EQ(property[0].byte19, two.property[19]);

    auto system = Read<QarnSystemProperty>(0x0002, 0x15);
    ASSERT_EQ(system.size(), 1u);
    EXPECT_EQ(Text(system[0].version, 10), "01.02.0304");
    EXPECT_EQ(system[0].line_speed, 57600);
    EXPECT_EQ(system[0].switch9, 0);
    EXPECT_EQ(system[0].switch10, 1);
    EXPECT_EQ(Text(system[0].text1, 10), "DM-SIM    ");
    EXPECT_EQ(Text(system[0].text2, 15), "SIMULATED LINE ");

    QarnRecordRequest request = {0, 10};
    auto records = Read<QarnRecord>(0x0002, 0x10, &request);
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < records.size(); ++i) {
        const dmsim::Record& expected = two.records[i];
        EXPECT_EQ(static_cast<uint32_t>(records[i].identifier), expected.identifier);
        EXPECT_EQ(records[i].year, expected.year);
        EXPECT_EQ(records[i].month, expected.month);
        EXPECT_EQ(records[i].day, expected.day);
        EXPECT_EQ(records[i].hour, expected.hour);
        EXPECT_EQ(records[i].minute, expected.minute);
        EXPECT_EQ(records[i].second, expected.second);
        EXPECT_EQ(records[i].flag_a, expected.flagA ? 1 : 0);
        EXPECT_EQ(records[i].flag_b, expected.flagB ? 1 : 0);
        EXPECT_EQ(records[i].terminal, 2);
    }
    auto longRecords = Read<QarnLongRecord>(0x0003, 0x10, &request);
    ASSERT_EQ(longRecords.size(), 1u);
    EXPECT_EQ(Text(longRecords[0].code, 7), "   XY91");
    EXPECT_EQ(longRecords[0].value24, -8388607);
    EXPECT_EQ(longRecords[0].value32, -5);
    EXPECT_EQ(longRecords[0].value16, 65535);
    EXPECT_EQ(longRecords[0].value8, 200);
    EXPECT_EQ(longRecords[0].year, 2025);
    EXPECT_EQ(longRecords[0].day, 4);
    EXPECT_EQ(longRecords[0].flag_a, 1);
    EXPECT_EQ(longRecords[0].terminal, 3);

    QarnRecordRangeRequest range = {1, 2024, 3, 2, 2024, 3, 31};
    auto found = Read<QarnRecordRange>(0x0002, 0x11, &range);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].first, 1);
    EXPECT_EQ(found[0].count, 2);
    auto index = Read<QarnRecordIndex>(0x0002, 0x1E);
    ASSERT_EQ(index.size(), 1u);
    EXPECT_EQ(index[0].index, 77);
    auto counts = Read<QarnListCounts>(0x0002, 0x17);
    ASSERT_EQ(counts.size(), 1u);
    EXPECT_EQ(counts[0].white, 3);
    EXPECT_EQ(counts[0].black, 1);

    auto search = Read<QarnSearchList>(0x0002, 0x04);
    ASSERT_EQ(search.size(), 1u);
    ASSERT_EQ(search[0].count, 2);
    EXPECT_EQ(search[0].address[0] + search[0].address[1], 5);

    QarnValue layout = {QARN_CARD_LAYOUT_1};
    auto card1 = Read<QarnCardLayout1>(0x0002, 0x60, &layout);
    ASSERT_EQ(card1.size(), 1u);
    EXPECT_EQ(card1[0].sub_code, 1);
    EXPECT_EQ(card1[0].number, 123456);
    EXPECT_EQ(Text(card1[0].record_code, 7), "AB12345");
    EXPECT_EQ(card1[0].attribute1, 7);
    EXPECT_EQ(card1[0].attribute2, 9);
    EXPECT_EQ(Text(card1[0].password, 4), "4321");
    EXPECT_EQ(Text(card1[0].name, 8), "ABCDEFGH");
    EXPECT_EQ(card1[0].year, 2030);
    EXPECT_EQ(card1[0].month, 6);
    EXPECT_EQ(card1[0].day, 15);
    layout.value = QARN_CARD_LAYOUT_2;
    auto card2 = Read<QarnCardLayout2>(0x0002, 0x60, &layout);
    ASSERT_EQ(card2.size(), 1u);
    EXPECT_EQ(Text(card2[0].password, 4), "4321");
    EXPECT_EQ(card2[0].day, 15);
    EXPECT_EQ(card2[0].value16, 500);
    layout.value = QARN_CARD_LAYOUT_3;
    auto card3 = Read<QarnCardLayout3>(0x0002, 0x60, &layout);
    ASSERT_EQ(card3.size(), 1u);
    EXPECT_EQ(Text(card3[0].record_code, 7), "AB12345");
    EXPECT_EQ(Text(card3[0].password, 4), "4321");
    EXPECT_EQ(Text(card3[0].name, 8), "ABCDEFGH");
    EXPECT_EQ(card3[0].year, 2030);
    EXPECT_EQ(card3[0].attribute3, 11);
    EXPECT_EQ(card3[0].attribute4, 13);
    layout.value = QARN_CARD_LAYOUT_254;
    auto card254 = Read<QarnCardLayout254>(0x0002, 0x60, &layout);
    ASSERT_EQ(card254.size(), 1u);
    EXPECT_EQ(card254[0].number, 123456);
    EXPECT_EQ(Text(card254[0].password, 4), "4321");

    layout.value = QARN_MONEY_SUB_CODE;
    auto money = Read<QarnMoney>(0x0002, 0x67, &layout);
    ASSERT_EQ(money.size(), 1u);
    EXPECT_EQ(money[0].amount, 123456);
    EXPECT_EQ(money[0].attribute, 3);
    EXPECT_EQ(money[0].year, 2023);
    EXPECT_EQ(money[0].month, 12);
    EXPECT_EQ(money[0].day, 31);
    EXPECT_EQ(money[0].value16, 42);
    auto id = Read<QarnCardId>(0x0002, 0x64);
    ASSERT_EQ(id.size(), 1u);
    EXPECT_EQ(id[0].kind, 2);
    EXPECT_EQ(id[0].id, 0xCAFE);

    QarnRecordRequest beyond = {50, 10};
    int result = -1;
    EXPECT_TRUE(Read<QarnRecord>(0x0002, 0x10, &beyond, &result).empty());
    EXPECT_EQ(result, QARN_RESULT_NO_RECORDS);
}

} // namespace
