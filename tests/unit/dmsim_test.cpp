#include "dmsim_host.h"

#include "dmsim/control.h"
#include "dmsim/des.h"
#include "dmsim/encoding.h"

#include <gtest/gtest.h>

#include <ctime>

using dmsim::Bytes;
using dmsim_test::Line;
using dmsim_test::TestHost;

namespace {

Bytes Hex(const char* text) {
    Bytes bytes;
    for (const char* at = text; at[0] != '\0' && at[1] != '\0'; at += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(at, 2), nullptr, 16)));
    return bytes;
}

std::vector<dmsim::Frame> FeedByteByByte(dmsim::FrameReader& reader, const Bytes& stream) {
    std::vector<dmsim::Frame> frames;
    for (uint8_t byte : stream)
        for (dmsim::Frame& frame : reader.Feed(&byte, 1))
            frames.push_back(frame);
    return frames;
}

} // namespace

TEST(DmsimFrame, WriterLaysOutEnvelopeAndCheckByte) {
    EXPECT_EQ(dmsim::WriteFrame(0x0001, 0x0002, {0x03, 0x00, 0x02}, false),
              Hex("ABAB000100020003030002"
                  "01"));
    Bytes empty = dmsim::WriteFrame(0x0002, 0x0001, Bytes(9, 0x11), true);
    ASSERT_EQ(empty.size(), 20u);
    EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 4), Hex("0F0FABAB"));
    EXPECT_EQ(empty[8], 0x00);
    EXPECT_EQ(empty[9], 0x09);
}

TEST(DmsimFrame, ReaderFindsFramesBetweenNoiseInAnyPieces) {
    Bytes first = dmsim::WriteFrame(0x0003, 0x0001, {0x10, 0x20, 0x30}, true);
    Bytes second = dmsim::WriteFrame(0xAAAA, 0x0001, {0x03}, false);
    Bytes bad = dmsim::WriteFrame(0x0004, 0x0001, {0x01, 0x02}, false);
    bad.back() ^= 0xFF;
    Bytes stream = {0x00, 0xAB, 0x12, 0x0F};
    for (const Bytes* part : {&bad, &first, &second})
        stream.insert(stream.end(), part->begin(), part->end());

    for (bool byteByByte : {true, false}) {
        dmsim::FrameReader reader;
        std::vector<dmsim::Frame> frames =
            byteByByte ? FeedByteByByte(reader, stream) : reader.Feed(stream.data(), stream.size());
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_EQ(frames[0].wire, first);
        EXPECT_EQ(frames[0].destination, 0x0003);
        EXPECT_EQ(frames[0].source, 0x0001);
        EXPECT_EQ(frames[0].data, Hex("102030"));
        EXPECT_EQ(frames[1].wire, second);
        EXPECT_FALSE(reader.Waiting());
    }
}

TEST(DmsimFrame, ReaderGivesUpStalledHeaderAndFindsFrameInside) {
    // A stray header announces 200 bytes; the real frame follows inside them.
    Bytes frame = dmsim::WriteFrame(0x0002, 0x0001, Bytes(9, 0x33), true);
    Bytes stream = Hex("ABAB0002000100C8");
    stream.insert(stream.end(), frame.begin(), frame.end());
    dmsim::FrameReader reader;
    EXPECT_TRUE(reader.Feed(stream.data(), stream.size()).empty());
    EXPECT_TRUE(reader.Waiting());
    std::vector<dmsim::Frame> found = reader.Expire();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].wire, frame);

    Bytes huge = Hex("ABAB000200011001");
    dmsim::FrameReader other;
    other.Feed(huge.data(), huge.size());
    EXPECT_FALSE(other.Waiting()) << "a length beyond any frame is noise, not a wait";
}

TEST(DmsimEncoding, RecordCodesTimeStampsAndSignMagnitude) {
    Bytes packed;
    dmsim::AppendRecordCode(packed, "AB12345");
    dmsim::AppendRecordCode(packed, "zz99999");
    EXPECT_EQ(packed, Hex("2CC23456"
                          "FFFAAAAA"));
    EXPECT_EQ(dmsim::ReadRecordCode(packed.data()), "AB12345");

    EXPECT_EQ(dmsim::SignMagnitude(-1, 24), 0x800001u);
    EXPECT_EQ(dmsim::SignMagnitude(8388607, 24), 0x7FFFFFu);
    EXPECT_EQ(dmsim::SignMagnitude(-1000, 32), 0x800003E8u);

    dmsim::Record record;
    record.identifier = 0x01020304;
    record.year = 2005;
    record.month = 15;
    record.day = 31;
    record.hour = 23;
    record.minute = 59;
    record.second = 58;
    record.flagA = true;
    Bytes out;
    dmsim::AppendRecord(out, record, false);
    // month 1111, day 11111, hour 10111, minute 111011, second 111010, A 1, B 0, 0000
    EXPECT_EQ(out, Hex("01020304"
                       "05"
                       "FFDFBEA0"));
    record.value24 = -1;
    record.value32 = -5;
    record.value16 = 0x1234;
    record.value8 = 0x56;
    out.clear();
    dmsim::AppendRecord(out, record, true);
    ASSERT_EQ(out.size(), 19u);
    EXPECT_EQ(Bytes(out.begin() + 9, out.end()), Hex("800001"
                                                     "80000005"
                                                     "1234"
                                                     "56"));
}

TEST(DmsimDes, DeciphersKnownAnswers) {
    struct Vector {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Vector vectors[] = {
        {"133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
        {"0E329232EA6D0D73", "8787878787878787", "0000000000000000"},
        {"0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    };
    for (const Vector& vector : vectors) {
        Bytes key = Hex(vector.key);
        Bytes cipher = Hex(vector.cipher);
        dmsim::DesDecipher des(key.data());
        des.Decipher(cipher.data(), cipher.data()); // in place
        EXPECT_EQ(cipher, Hex(vector.plain)) << vector.key;
    }
    // The parity bits do not count: the same key with every low bit flipped.
    Bytes key = Hex("123456789ABCDEF0");
    Bytes flipped = Hex("133557799BBDDFF1");
    Bytes block = Hex("0123456789ABCDEF");
    uint8_t plain[8], again[8];
    dmsim::DesDecipher(key.data()).Decipher(block.data(), plain);
    dmsim::DesDecipher(flipped.data()).Decipher(block.data(), again);
    EXPECT_EQ(Bytes(plain, plain + 8), Bytes(again, again + 8));
}

TEST(DmsimLine, BroadcastSearchAnsweredInAddressOrderWithGaps) {
    Line line({4, 2, 3});
    ASSERT_TRUE(line.ok);
    line.simulator.UpdateTerminal(3, [](dmsim::Terminal& t) { t.online = false; });
    auto start = std::chrono::steady_clock::now();
    line.host->Send(0xAAAA, 0x03);
    std::vector<dmsim::Frame> replies = line.host->Receive(2);
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].data, Hex("030002"));
    EXPECT_EQ(replies[0].destination, dmsim_test::kHost);
    EXPECT_EQ(replies[0].source, 2);
    EXPECT_EQ(replies[1].data, Hex("030004"));
    EXPECT_GE(elapsed, std::chrono::milliseconds(dmsim::kBroadcastGapMilliseconds));
    EXPECT_TRUE(line.host->Receive(1, 100).empty()) << "offline terminal 3 answered";

    line.host->Send(0xAAAA, 0x04);
    replies = line.host->Receive(2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].data, Hex("050002"));
}

TEST(DmsimLine, AcknowledgesAndStaysQuietWhereNoReplyIsDue) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    EXPECT_EQ(line.host->Ask(2, 0x1B, {0x03}), Hex("1B08"));
    line.simulator.UpdateTerminal(2, [](dmsim::Terminal& t) { t.ackStatus = 0x21; });
    EXPECT_EQ(line.host->Ask(2, 0xA4, {0x01}), Hex("A421"));
    EXPECT_EQ(line.host->Ask(2, 0xA4, {0x01, 0x02}), Hex("A406")) << "wrong length";

    line.host->Send(0xAAAA, 0x01, Hex("1405031300070907")); // also "Set Time_Hand(B)"
    line.host->Send(2, 0x1D, {0x08});
    EXPECT_TRUE(line.host->Receive(1, 150).empty());
    EXPECT_EQ(line.host->Ask(2, 0x16), Hex("16"
                                           "1405031300070907"
                                           "00000000"));

    line.host->Send(5, 0x16); // no such terminal
    EXPECT_TRUE(line.host->Receive(1, 150).empty());
}

TEST(DmsimLine, KeyCheckHostClockAndBoundedControlLines) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    ASSERT_TRUE(line.simulator.SetCommKey(2, "ABCDEFGH"));
    EXPECT_TRUE(line.host->Ask(2, 0x1B, {0x01}, 150).empty()) << "a frame with another key";
    ASSERT_TRUE(line.simulator.SetCommKey(2, "58213094"));
    EXPECT_EQ(line.host->Ask(2, 0x1B, {0x01}), Hex("1B08"));
    EXPECT_FALSE(line.simulator.SetCommKey(7, "58213094"));

    // The clock shows the host's until the host sets it.
    line.simulator.SetClockFollowsHost(true);
    std::time_t now = std::time(nullptr);
    Bytes status = line.host->Ask(2, 0x16);
    ASSERT_EQ(status.size(), 13u);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_EQ(status[2], local.tm_year % 100);
    line.host->Send(0xAAAA, 0x01, Hex("1405031300070907"));
    EXPECT_EQ(line.host->Ask(2, 0x16), Hex("16"
                                           "1405031300070907"
                                           "00000000"));

    // A control input that never ends a line: one answer, then the next line as usual.
    dmsim::LineSplitter splitter;
    std::string zeros(65536, '\0');
    size_t tooLong = 0;
    for (int i = 0; i < 64; ++i)
        for (const dmsim::LineSplitter::Line& cut : splitter.Add(zeros.data(), zeros.size()))
            tooLong += cut.tooLong ? 1 : 100;
    EXPECT_EQ(tooLong, 1u);
    std::vector<dmsim::LineSplitter::Line> lines = splitter.Add("\nshow 2\r\n", 10);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FALSE(lines[0].tooLong);
    EXPECT_EQ(lines[0].text, "show 2");
}

TEST(DmsimLine, RecordsGoodDownlinkFramesAndIgnoresBadOnes) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    Bytes data = TestHost::KeyBytes();
    data.push_back(0x13);
    Bytes good = TestHost::Frame(2, data);
    Bytes bad = good;
    bad.back() ^= 0x40;
    line.host->Write(bad);
    EXPECT_TRUE(line.host->Receive(1, 150).empty());
    line.host->Write(good);
    ASSERT_TRUE(line.simulator.WaitForFrames(1, 1000));
    EXPECT_EQ(line.host->Receive(1).size(), 1u);
    EXPECT_EQ(line.simulator.ReceivedFrames(), std::vector<Bytes>{good});
    Bytes bytes = line.simulator.ReceivedBytes();
    EXPECT_EQ(bytes.size(), bad.size() + good.size());
    line.simulator.ClearReceived();
    EXPECT_TRUE(line.simulator.ReceivedFrames().empty());
    EXPECT_FALSE(line.simulator.WaitForFrames(1, 50));
}

TEST(DmsimFaults, DropCorruptAndMisaddressReplies) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim::Faults faults;
    faults.dropReplies = 1;
    faults.corruptReplies = 1;
    line.simulator.SetFaults(faults);
    EXPECT_TRUE(line.host->Ask(2, 0x03, {}, 200).empty()) << "the first reply is dropped";
    size_t before = line.host->Raw().size();
    EXPECT_TRUE(line.host->Ask(2, 0x03, {}, 200).empty()) << "the second has a bad check byte";
    Bytes corrupt(line.host->Raw().begin() + before, line.host->Raw().end());
    Bytes expected = dmsim::WriteFrame(1, 2, Hex("030002"), true);
    ASSERT_EQ(corrupt.size(), expected.size());
    EXPECT_EQ(corrupt.back(), expected.back() ^ 0x01);
    EXPECT_EQ(line.host->Ask(2, 0x03), Hex("030002"));
    EXPECT_EQ(line.simulator.GetFaults().dropReplies, 0);
    EXPECT_EQ(line.simulator.GetFaults().corruptReplies, 0);

    faults = {};
    faults.wrongDestination = true;
    line.simulator.SetFaults(faults);
    line.host->Send(2, 0x03);
    std::vector<dmsim::Frame> replies = line.host->Receive(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].destination, dmsim_test::kHost + 1);

    faults = {};
    faults.wrongSource = true;
    faults.dropPercent = 50;
    line.simulator.SetFaults(faults);
    int answered = 0;
    for (int i = 0; i < 20; ++i) {
        line.host->Send(2, 0x03);
        std::vector<dmsim::Frame> reply = line.host->Receive(1, 100);
        if (reply.empty()) continue;
        ++answered;
        EXPECT_EQ(reply[0].source, 3);
    }
    EXPECT_GT(answered, 2);
    EXPECT_LT(answered, 18);

    faults = {};
    faults.silent = true;
    line.simulator.SetFaults(faults);
    EXPECT_TRUE(line.host->Ask(2, 0x1B, {0x01}, 200).empty());
    dmsim::Terminal terminal;
    ASSERT_TRUE(line.simulator.GetTerminal(2, terminal));
    EXPECT_EQ(terminal.beeps, 1) << "a silent terminal still acts";
}

TEST(DmsimFaults, NoiseSplitDelayAndEcho) {
    Line line({2});
    ASSERT_TRUE(line.ok);
    dmsim::Faults faults;
    faults.noise = {0x0F, 0x55, 0xAB};
    faults.splitPieces = 4;
    faults.splitGapMilliseconds = 30;
    faults.delayMilliseconds = 60;
    faults.echoDownlink = true;
    line.simulator.SetFaults(faults);
    auto start = std::chrono::steady_clock::now();
    line.host->Send(2, 0x03);
    std::vector<dmsim::Frame> frames = line.host->Receive(2);
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].destination, 2) << "the echo comes first";
    EXPECT_EQ(frames[1].data, Hex("030002"));
    EXPECT_GE(elapsed, std::chrono::milliseconds(60 + 3 * 30));
    Bytes echo = frames[0].wire;
    Bytes raw = line.host->Raw();
    ASSERT_GT(raw.size(), echo.size() + 3);
    EXPECT_EQ(Bytes(raw.begin() + echo.size(), raw.begin() + echo.size() + 3), faults.noise);
}

TEST(DmsimSimulator, TerminalsAndLineRefuseBadRequests) {
    dmsim::Simulator simulator;
    EXPECT_FALSE(simulator.Start()) << "no line";
    EXPECT_TRUE(simulator.AddTerminal(2));
    EXPECT_FALSE(simulator.AddTerminal(2));
    EXPECT_FALSE(simulator.AddTerminal(0xAAAA));
    EXPECT_TRUE(simulator.AddTerminal(3));
    EXPECT_FALSE(simulator.UpdateTerminal(2, [](dmsim::Terminal& t) { t.address = 3; }));
    EXPECT_FALSE(simulator.UpdateTerminal(9, [](dmsim::Terminal&) {}));
    dmsim::Terminal copy;
    EXPECT_FALSE(simulator.GetTerminal(9, copy));
    EXPECT_TRUE(simulator.GetTerminal(2, copy));
    EXPECT_FALSE(simulator.OpenDevice("/nonexistent/tty", 9600));
    ASSERT_TRUE(simulator.OpenPty());
    EXPECT_FALSE(simulator.OpenPty());
    EXPECT_EQ(simulator.PortName().rfind("/dev/pts/", 0), 0u);
    EXPECT_TRUE(simulator.Start());
    simulator.Stop();
    EXPECT_TRUE(simulator.Start()) << "restartable";
}
