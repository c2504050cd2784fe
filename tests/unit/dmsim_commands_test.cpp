#include "dmsim_host.h"

#include <gtest/gtest.h>

using dmsim::Bytes;
using dmsim::Terminal;
using dmsim_test::Line;

namespace {

Bytes Hex(const std::string& text) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < text.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
    return bytes;
}

Terminal Get(dmsim::Simulator& simulator, uint16_t address) {
    Terminal terminal;
    EXPECT_TRUE(simulator.GetTerminal(address, terminal));
    return terminal;
}

Bytes Concat(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

} // namespace

TEST(DmsimCommands, PropertiesAndAddress) {
    Line line({2, 3});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    EXPECT_EQ(host.Ask(2, 0x12, Hex("0312345678")), Hex("1208"));
    EXPECT_EQ(host.Ask(2, 0x12, Hex("0012345678")), Hex("1208"));
    EXPECT_EQ(host.Ask(2, 0x12, Hex("2800000001")), Hex("1206")) << "unknown item";
    Bytes property = host.Ask(2, 0x13);
    ASSERT_EQ(property.size(), 21u);
    EXPECT_EQ(property[1], 0x56) << "item 0 is a 16-bit field";
    EXPECT_EQ(property[2], 0x78);
    EXPECT_EQ(property[7], 0x78) << "item 3 is byte 6";

    line.simulator.UpdateTerminal(3, [](Terminal& t) { t.systemProperty.resize(32); });
    EXPECT_EQ(host.Ask(3, 0x14, Hex("02000000FA")), Hex("1408"));
    Bytes system = host.Ask(3, 0x15);
    ASSERT_EQ(system.size(), 33u);
    EXPECT_EQ(system[9], 0xFA);

    // Only the terminal with the named identity answers, from its new address.
    host.Send(0xAAAA, 0x02,
              Hex("00000003"
                  "0007"));
    std::vector<dmsim::Frame> replies = host.Receive(2, 300);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].source, 7);
    EXPECT_EQ(replies[0].data, Hex("0208"));
    Terminal moved;
    EXPECT_FALSE(line.simulator.GetTerminal(3, moved));
    EXPECT_EQ(Get(line.simulator, 7).serialNumber, 3u);
    host.Send(0xAAAA, 0x02,
              Hex("00000002"
                  "0007"));
    replies = host.Receive(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].data, Hex("0206")) << "the address is taken";
    EXPECT_EQ(Get(line.simulator, 2).address, 2);
}

TEST(DmsimCommands, RecordsIndexesAndTakenRecords) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    line.simulator.UpdateTerminal(2, [](Terminal& t) {
        for (int i = 0; i < 5; ++i) {
            dmsim::Record record;
            record.identifier = 100 + i;
            record.month = 3;
            record.day = 10 + i;
            t.records.push_back(record);
        }
        t.realtimeRecords = {t.records[4]};
    });
    Bytes reply = host.Ask(2, 0x10, Hex("000102"));
    ASSERT_EQ(reply.size(), 1u + 2 * 9);
    EXPECT_EQ(reply[0], 0x10);
    EXPECT_EQ(Bytes(reply.begin() + 1, reply.begin() + 5), Hex("00000065"));
    EXPECT_EQ(host.Ask(2, 0x10, Hex("000901")), Hex("10")) << "beyond the records";
    EXPECT_EQ(host.Ask(2, 0x36, Hex("000001")), Hex("36"));
    EXPECT_EQ(host.Ask(2, 0x06, Hex("00")).size(), 1u + 9);
    EXPECT_EQ(host.Ask(2, 0x06, Hex("00"))[0], 0x07);

    EXPECT_EQ(host.Ask(2, 0x11,
                       Hex("00"
                           "05030B"
                           "05030C")),
              Hex("11"
                  "00000001"
                  "00000002"));
    EXPECT_EQ(host.Ask(2, 0x11,
                       Hex("FF"
                           "000000"
                           "000000")),
              Hex("11"
                  "00000000"
                  "00000005"));

    line.simulator.UpdateTerminal(2, [](Terminal& t) { t.longRecords = true; });
    EXPECT_EQ(host.Ask(2, 0x10, Hex("000003")).size(), 1u + 3 * 19);

    EXPECT_EQ(host.Ask(2, 0x1C, Hex("02")), Hex("1C08"));
    host.Send(2, 0x1D, Hex("07")); // not the confirmation
    EXPECT_EQ(host.Ask(2, 0x1C, Hex("02")), Hex("1C08"));
    host.Send(2, 0x1D, Hex("08"));
    // Every frame of this test so far; the terminal has acted on a frame once it is counted.
    ASSERT_TRUE(line.simulator.WaitForFrames(12, 1000));
    EXPECT_TRUE(host.Receive(1, 100).empty());
    Terminal terminal = Get(line.simulator, 2);
    ASSERT_EQ(terminal.records.size(), 3u);
    EXPECT_EQ(terminal.records[0].identifier, 102u);

    EXPECT_EQ(host.Ask(2, 0x1A, Hex("2A")), Hex("1A08"));
    EXPECT_EQ(host.Ask(2, 0x1E), Hex("1E"
                                     "0000002A"));
}

TEST(DmsimCommands, CardDataAndMoney) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    const std::array<uint8_t, 24>& table = dmsim::kDefaultKeyTable;
    // Layout 1: number 0x01020304, code AB12345, attributes 5 and 6, password 1234 masked,
    // name "AB", 2005-03-19.
    Bytes layout1 = Hex("01"
                        "01020304"
                        "2CC23456"
                        "05"
                        "06");
    layout1.push_back(static_cast<uint8_t>(0x04 ^ table[0]));
    layout1.push_back(static_cast<uint8_t>(0xD2 ^ table[1]));
    Bytes rest = Hex("4142000000000000"
                     "050313"
                     "01000003AA");
    layout1.insert(layout1.end(), rest.begin(), rest.end());
    EXPECT_EQ(host.Ask(2, 0x61, layout1), Hex("6108"));
    Terminal terminal = Get(line.simulator, 2);
    EXPECT_EQ(terminal.card.password, 1234);
    EXPECT_EQ(terminal.card.recordCode, "AB12345");
    EXPECT_EQ(terminal.card.day, 19);

    Bytes read = host.Ask(2, 0x60, Hex("01"));
    EXPECT_EQ(read, Concat({0x60}, layout1));
    Bytes layout3 = host.Ask(2, 0x60, Hex("03"));
    EXPECT_EQ(layout3, Hex("6003"
                           "01020304"
                           "2CC23456"
                           "04D2"
                           "4142000000000000"
                           "050313"
                           "0000"));
    EXPECT_EQ(host.Ask(2, 0x60, Hex("02")).size(), 1u + 42);
    EXPECT_EQ(host.Ask(2, 0x60, Hex("FE")), Concat(Hex("60FE"
                                                       "01020304"
                                                       "04D2"),
                                                   Bytes(21, 0)));
    EXPECT_EQ(host.Ask(2, 0x60, Hex("05")), Hex("6006"));
    EXPECT_EQ(host.Ask(2, 0x61, Hex("01")), Hex("6106")) << "layout 1 needs 29 bytes";
    EXPECT_EQ(host.Ask(2, 0x66, Bytes(layout3.begin() + 1, layout3.end())), Hex("6606"))
        << "update takes layout 1 only";

    EXPECT_EQ(host.Ask(2, 0x62,
                       Hex("02"
                           "000003E8"
                           "07"
                           "050313"
                           "0000")),
              Hex("6202"
                  "000003E8"
                  "07"
                  "050313"
                  "0001"));
    EXPECT_EQ(host.Ask(2, 0x63,
                       Hex("02"
                           "0000012C"
                           "07"
                           "050314"
                           "0000")),
              Hex("6302"
                  "000002BC"
                  "07"
                  "050314"
                  "0002"));
    EXPECT_EQ(host.Ask(2, 0x63,
                       Hex("02"
                           "000003E8"
                           "07"
                           "050314"
                           "0000")),
              Hex("6306"))
        << "overdrawn";
    EXPECT_EQ(host.Ask(2, 0x62,
                       Hex("02"
                           "FFFFFFFB"
                           "07"
                           "050314"
                           "0000")),
              Hex("6206"))
        << "negative amount";
    EXPECT_EQ(host.Ask(2, 0x62, Hex("01")), Hex("6206"));
    EXPECT_EQ(host.Ask(2, 0x67, Hex("02")), Hex("6702"
                                                "000002BC"
                                                "07"
                                                "050314"
                                                "0002"));
    EXPECT_EQ(Get(line.simulator, 2).card.balance, 700);

    line.simulator.UpdateTerminal(2, [](Terminal& t) {
        t.card.balance = -5;
        t.card.id = 0xA1B2C3D4;
    });
    EXPECT_EQ(host.Ask(2, 0x67, Hex("02")).at(2), 0x80) << "sign-magnitude";
    EXPECT_EQ(host.Ask(2, 0x64), Hex("6401"
                                     "A1B2C3D4"));
    line.simulator.UpdateTerminal(2, [](Terminal& t) { t.card.present = false; });
    EXPECT_EQ(host.Ask(2, 0x64), Hex("6406"));
}

TEST(DmsimCommands, KeysArriveDecipheredOrUnmasked) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    std::array<uint8_t, 24> table{};
    Bytes desKey = Hex("133457799BBCDFF1");
    std::copy(desKey.begin(), desKey.end(), table.begin() + 8);
    for (int i = 0; i < 8; ++i)
        table[i] = static_cast<uint8_t>(0x11 * (i + 1));
    line.simulator.SetKeyTable(table);
    host.keyTable = table;

    Bytes cipher = Hex("85E813540F0AB405");
    Bytes payload = {0x07};
    for (int i = 0; i < 4; ++i)
        payload.insert(payload.end(), cipher.begin(), cipher.end());
    payload.push_back(0x09);
    EXPECT_EQ(host.Ask(2, 0xA0, payload), Hex("A008"));
    Terminal terminal = Get(line.simulator, 2);
    ASSERT_EQ(terminal.keys.count(0xA0), 1u);
    EXPECT_EQ(terminal.keys.count(0x68), 0u);
    const dmsim::KeySet& set = terminal.keys[0xA0];
    EXPECT_EQ(set.lead, 7);
    EXPECT_EQ(set.trailing, 9);
    ASSERT_EQ(set.keys.size(), 4u);
    EXPECT_EQ(Bytes(set.keys[3].begin(), set.keys[3].end()), Hex("0123456789ABCDEF"));

    Bytes masked = Hex("01"
                       "11331177113311FF"
                       "11331177113311FF");
    EXPECT_EQ(host.Ask(2, 0xC9, masked), Hex("C908"));
    terminal = Get(line.simulator, 2);
    EXPECT_EQ(Bytes(terminal.keys[0xC9].keys[0].begin(), terminal.keys[0xC9].keys[0].end()),
              Hex("0011223344556677"));
    masked.back() ^= 1;
    EXPECT_EQ(host.Ask(2, 0xC9, masked), Hex("C906")) << "the two copies differ";

    Bytes card(65, 0);
    for (int i = 0; i < 8; ++i) {
        card[37 + i] = static_cast<uint8_t>(0xA0 + i);
        card[45 + i] = static_cast<uint8_t>(0xB0 + i);
    }
    for (int i = 0; i < 6; ++i)
        card[53 + i] = i % 2 == 0 ? card[37 + i] : card[45 + i];
    card[32] = 0x42;
    EXPECT_EQ(host.Ask(2, 0xC8, card), Hex("C808"));
    EXPECT_EQ(Get(line.simulator, 2).keys[0xC8].keys.size(), 6u);
    card[54] ^= 0xFF;
    EXPECT_EQ(host.Ask(2, 0xC8, card), Hex("C806"));

    EXPECT_EQ(host.Ask(2, 0xCA), Hex("CA08"));
    EXPECT_TRUE(Get(line.simulator, 2).keys.empty());
}

TEST(DmsimCommands, ListDownloadsByBlock) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    Bytes frame = Hex("0000"
                      "02"
                      "00000003"
                      "00000009"
                      "0001"
                      "01"
                      "00000010"
                      "00C4"
                      "01"
                      "00000077");
    EXPECT_EQ(host.Ask(2, 0xA2, frame), Hex("A208"));
    EXPECT_EQ(host.Ask(2, 0xA2, frame), Hex("A208")) << "a repeated frame";
    EXPECT_EQ(host.Ask(2, 0xA2, {}), Hex("A208")) << "the closing frame";
    Terminal terminal = Get(line.simulator, 2);
    EXPECT_EQ(terminal.WhiteList(), (std::vector<uint32_t>{3, 9, 16}));
    EXPECT_EQ(terminal.BlackList(), (std::vector<uint32_t>{0x77}));

    EXPECT_EQ(host.Ask(2, 0xA2,
                       Hex("0002"
                           "02"
                           "00000001")),
              Hex("A206"))
        << "truncated block";
    EXPECT_EQ(host.Ask(2, 0xA2,
                       Hex("0002"
                           "00")),
              Hex("A206"))
        << "empty block";
    EXPECT_EQ(Get(line.simulator, 2).WhiteList().size(), 3u);

    EXPECT_EQ(host.Ask(2, 0xA3, Hex("78563412")), Hex("A308"));
    EXPECT_EQ(host.Ask(2, 0xA3, Hex("78563412")), Hex("A308"));
    EXPECT_EQ(host.Ask(2, 0x17), Hex("17"
                                     "00000003"
                                     "00000002"));
    EXPECT_EQ(Get(line.simulator, 2).BlackList().back(), 0x12345678u);

    EXPECT_EQ(host.Ask(2, 0xA2,
                       Hex("0000"
                           "01"
                           "00000005")),
              Hex("A208"));
    EXPECT_EQ(Get(line.simulator, 2).WhiteList(), std::vector<uint32_t>{5}) << "block 0 restarts";
    EXPECT_EQ(host.Ask(2, 0x82, Hex("00")), Hex("8208"));
    EXPECT_EQ(host.Ask(2, 0x17), Hex("17"
                                     "00000001"
                                     "00000000"));
}

TEST(DmsimCommands, ProgramPagesAndTestFrames) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim_test::TestHost& host = *line.host;
    EXPECT_EQ(host.Ask(2, 0x80, Hex("000102")), Hex("8008"));
    EXPECT_EQ(host.Ask(2, 0x80, Hex("000103")), Hex("8006"));

    EXPECT_TRUE(host.Ask(2, 0x80, Hex("C1"), 150).empty()) << "the host expects no reply";
    line.simulator.UpdateTerminal(2, [](Terminal& t) { t.acknowledgeLeadIn = true; });
    EXPECT_EQ(host.Ask(2, 0x80, Hex("C1")), Hex("C108"));
    host.SendData(2, Hex("80C200")); // no key
    EXPECT_EQ(host.Next(), Hex("C208"));
    host.SendData(2, Hex("80C3"
                         "010002AABB"
                         "0200"
                         "01"
                         "CC"));
    EXPECT_EQ(host.Next(), Hex("C308"));
    host.SendData(2, Hex("80C3"
                         "030005AA"));
    EXPECT_EQ(host.Next(), Hex("C306")) << "a record cut short";
    host.SendData(2, Hex("80C4"));
    EXPECT_TRUE(host.Receive(1, 150).empty());
    Terminal terminal = Get(line.simulator, 2);
    EXPECT_FALSE(terminal.programMode);
    EXPECT_EQ(terminal.programLoads, 1);
    ASSERT_EQ(terminal.programMemory.size(), 2u);
    EXPECT_EQ(terminal.programMemory[0x0100], Hex("AABB"));
    EXPECT_EQ(terminal.programMemory[0x0200], Hex("CC"));

    Bytes pages = Hex("C6"
                      "0000");
    pages.insert(pages.end(), 256, 0x11);
    pages.insert(pages.end(), {0x00, 0x01});
    pages.insert(pages.end(), 256, 0x22);
    EXPECT_EQ(host.Ask(2, 0x80, pages), Hex("C608"));
    EXPECT_EQ(host.Ask(2, 0x80,
                       Hex("C6"
                           "0002"
                           "33")),
              Hex("C606"))
        << "a short page";
    EXPECT_EQ(host.Ask(2, 0x80, Hex("C6")), Hex("C680")) << "the end of the pages";
    terminal = Get(line.simulator, 2);
    EXPECT_EQ(terminal.pageLoads, 1);
    ASSERT_EQ(terminal.pages.size(), 2u);
    EXPECT_EQ(terminal.pages[1], Bytes(256, 0x22));
}
