#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "device/action.h"
#include "device/device.h"
#include "protocol/downlink/builder.h"
#include "test_files.h"

namespace qarn {
namespace {

using test::WriteFile;

constexpr int kWaitTime = 700;
constexpr size_t kHeader = 13; // destination, source, key, code
const ByteArray kAddresses = {0x12, 0x34, 0x00, 0x01};

struct Sent {
    ByteArray frame;
    int expectReply, sendsLeft, pause, timeOut, listFlag;
};

// Plays the engine for a download whose every frame the terminal acknowledges.
class Download : public ::testing::Test {
  protected:
    Download() {
        device_.MyAddress = 0x0001;
        device_.WaitTime = kWaitTime;
    }
    int Start(int code, const char* path) {
        action_ = CQARNAction();
        action_.Code = code;
        action_.Address = 0x1234;
        action_.Params = reinterpret_cast<const uint8_t*>(path);
        return BuildFrame(device_, action_);
    }
    std::vector<Sent> Run(int code, const char* path) {
        std::vector<Sent> sent;
        if (!Start(code, path) || action_.State == DONE) return sent;
        while (sent.size() < 100) {
            const CQARNAction& a = action_;
            sent.push_back(
                {a.Frame, a.ExpectReply, a.SendsLeft, a.Pause, a.TimeOut, device_.ListFlag});
            if (!a.ListPending && !a.BlockPending) break;
            action_.Outcome = kOutcomeSuccess;
            if (!BuildFrame(device_, action_)) break;
        }
        return sent;
    }
    ByteArray Body(const ByteArray& frame) { return ByteArray(frame.begin() + 4, frame.end()); }

    test::ScratchDir dir_;
    CQARNCommand device_;
    CQARNAction action_;
};

// A list file from decimal card numbers of up to ten digits.
std::string ListFile(char marker, const std::vector<uint64_t>& numbers) {
    std::string file(1, marker);
    for (uint64_t number : numbers) {
        std::string digits = std::to_string(number + 10000000000).substr(1);
        for (int i = 0; i < 10; i += 2)
            file += static_cast<char>((digits[i] - '0') << 4 | (digits[i + 1] - '0'));
    }
    return file;
}

// The blocks of a list frame: numbers, and all values in order.
std::pair<std::vector<uint32_t>, std::vector<uint32_t>> Blocks(const ByteArray& frame) {
    std::vector<uint32_t> numbers, values;
    for (size_t at = kHeader; at < frame.size();) {
        numbers.push_back(GetBigEndian16(&frame[at]));
        int count = frame[at + 2];
        EXPECT_TRUE(count == 64 || at + 3 + 4 * count == frame.size()) << "partial block last";
        for (at += 3; count-- > 0; at += 4)
            values.push_back(GetBigEndian32(&frame[at]));
    }
    return {numbers, values};
}

std::vector<uint32_t> Sorted(const std::vector<uint64_t>& numbers, size_t from, size_t to) {
    std::vector<uint32_t> values(numbers.begin() + from, numbers.begin() + to);
    std::sort(values.begin(), values.end());
    return values;
}

TEST_F(Download, ListsGoSortedFrameByFrameInBlocksNumberedFromTheMarkersBase) {
    // Count, marker, first block; then per data frame its payload size and entries.
    using Frames = std::vector<std::pair<size_t, size_t>>;
    const std::tuple<size_t, char, uint32_t, Frames> cases[] = {
        {100, '\xBB', 0x0000, {{406, 100}}},
        {100, '\xAA', 0x00C4, {{406, 100}}},
        {700, '\xBB', 0x0000, {{2590, 640}, {243, 60}}},
        {1400, '\xBB', 0x0000, {{2590, 640}, {2849, 704}, {227, 56}}}};
    for (const auto& [count, marker, base, frames] : cases) {
        std::vector<uint64_t> numbers;
        for (uint64_t i = 0; i < count; ++i)
            numbers.push_back(4294967295 - i * 3000001);
        WriteFile("list.bin", ListFile(marker, numbers));
        std::vector<Sent> sent = Run(0xA2, "list.bin");
        ASSERT_EQ(sent.size(), frames.size() + 1) << count;
        uint32_t block = base;
        size_t entry = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            EXPECT_EQ(sent[f].frame.size() - kHeader, frames[f].first);
            EXPECT_EQ(sent[f].sendsLeft, 3);
            EXPECT_EQ(sent[f].listFlag, 0);
            auto [blocks, values] = Blocks(sent[f].frame);
            for (uint32_t number : blocks)
                EXPECT_EQ(number, block++) << count << " frame " << f;
            EXPECT_EQ(values, Sorted(numbers, entry, entry + frames[f].second));
            entry += frames[f].second;
        }
        ByteArray closing = kAddresses;
        closing.insert(closing.end(), device_.CommKey.begin(), device_.CommKey.end());
        closing.push_back(0xA2);
        EXPECT_EQ(sent.back().frame, closing);
        EXPECT_EQ(sent.back().listFlag, 1) << "the closing frame's acknowledgement ends the list";
        EXPECT_EQ(action_.ListKind, marker == '\xAA' ? 1 : 0);
        EXPECT_EQ(action_.Result, kResultAcknowledged);
    }
}

TEST_F(Download, CardNumbersKeepDuplicates) {
    WriteFile("list.bin", std::string("\xBB\x42\x94\x96\x72\x95\x00\x00\x01\x23\x45\x00\x00\x00"
                                      "\x00\x0A\x00\x00\x00\x00\x05\x00\x00\x00\x00\x05",
                                      26));
    std::vector<Sent> sent = Run(0xA2, "list.bin");
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(Blocks(sent[0].frame).second, (std::vector<uint32_t>{5, 5, 10, 12345, 0xFFFFFFFF}));
}

// The white list's blocks end where the black list's begin; the black list's at block 0xFFFF.
TEST_F(Download, ListsFillTheirBlocksAndNoMore) {
    const std::tuple<char, size_t, bool> cases[] = {{'\xBB', 12544, true},
                                                    {'\xBB', 12545, false},
                                                    {'\xAA', 4181760, true},
                                                    {'\xAA', 4181761, false}};
    for (const auto& [marker, count, fits] : cases) {
        std::string file = ListFile(marker, {});
        file.append(count * 5, '\x01');
        WriteFile("list.bin", file);
        EXPECT_EQ(Start(0xA2, "list.bin"), fits ? 1 : 0) << count;
        if (!fits) continue;
        action_.FilePos = static_cast<int>(file.size() - 5 * 64); // the last block
        action_.Outcome = kOutcomeSuccess;
        ASSERT_EQ(BuildFrame(device_, action_), 1);
        EXPECT_EQ(Blocks(action_.Frame).first.back(), marker == '\xBB' ? 195u : 0xFFFFu) << count;
    }
}
TEST_F(Download, ListFilesThatCannotBeSentFailTheBuild) {
    for (const std::string& file :
         {std::string(502, '\xBB'), ListFile('\xCC', {1, 2}), std::string(),
          ListFile('\xBB', {1, 4294967296, 2}), ListFile('\xAA', {6200000001})}) {
        WriteFile("list.bin", file);
        EXPECT_EQ(Start(0xA2, "list.bin"), 0);
        EXPECT_EQ(std::tie(action_.State, action_.Result, action_.SendsLeft),
                  std::make_tuple(DONE, 9, 0));
        EXPECT_EQ(action_.ListKind, 2);
    }
    EXPECT_EQ(Start(0xA2, "missing.bin"), 0);

    WriteFile("list.bin", "\xAA");
    std::vector<Sent> sent = Run(0xA2, "list.bin");
    ASSERT_EQ(sent.size(), 2u) << "a marker alone: an empty data frame, then the closing one";
    EXPECT_EQ(sent[0].frame.size(), kHeader);
}

// The frames come from the file as it was when the command started.
TEST_F(Download, FilesAreReadWholeWhenTheCommandStarts) {
    std::vector<uint64_t> numbers(700, 7);
    WriteFile("list.bin", ListFile('\xBB', numbers));
    ASSERT_EQ(Start(0xA2, "list.bin"), 1);
    WriteFile("list.bin", std::string(4000, '\xBB'));
    std::remove("list.bin");
    action_.Outcome = kOutcomeSuccess;
    ASSERT_EQ(BuildFrame(device_, action_), 1);
    EXPECT_EQ(Blocks(action_.Frame).second, std::vector<uint32_t>(60, 7));

    WriteFile("program.hex", test::ProgramFile(11, 16));
    ASSERT_EQ(Start(0xC0, "program.hex"), 1);
    std::remove("program.hex");
    std::vector<Sent> sent;
    while (action_.BlockPending && BuildFrame(device_, action_) && sent.size() < 10)
        sent.push_back({action_.Frame, 0, 0, 0, 0, 0});
    EXPECT_EQ(sent.size(), 5u) << "the lead-in's second step, three record frames, the close";
    EXPECT_EQ(action_.Result, kResultAcknowledged);
}
TEST_F(Download, ProgramGoesInFourStepsWithoutKeyAfterTheFirst) {
    WriteFile("program.hex", test::ProgramFile(11, 16));
    std::vector<Sent> sent = Run(0xC0, "program.hex");
    ASSERT_EQ(sent.size(), 6u);
    ByteArray leadIn = device_.CommKey;
    leadIn.insert(leadIn.end(), {0x80, 0xC1});
    EXPECT_EQ(Body(sent[0].frame), leadIn);
    EXPECT_EQ(Body(sent[1].frame), (ByteArray{0x80, 0xC2, 0x00}));
    EXPECT_EQ(Body(sent[5].frame), (ByteArray{0x80, 0xC4}));
    ByteArray first = {0x80, 0xC3, 0x01, 0x00, 0x10};
    for (int j = 0; j < 16; ++j)
        first.push_back(static_cast<uint8_t>(j));
    EXPECT_EQ(Body(sent[2].frame).size(), 2 + 6 * 19u);
    EXPECT_EQ(ByteArray(sent[2].frame.begin() + 4, sent[2].frame.begin() + 25), first);
    EXPECT_EQ(Body(sent[3].frame).size(), 2 + 3 * 19u);
    EXPECT_EQ(Body(sent[4].frame).size(), 2 + 19u);
    // Expect reply, sends, pause, time-out of each frame.
    const int timing[6][4] = {{0, 1, 200, 200},       {0, 1, 200, 200},
                              {1, 3, 200, kWaitTime}, {1, 3, 200, kWaitTime},
                              {1, 3, 200, kWaitTime}, {0, 1, 0, kWaitTime}};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(ByteArray(sent[i].frame.begin(), sent[i].frame.begin() + 4), kAddresses);
        const Sent& s = sent[i];
        EXPECT_EQ(std::vector<int>({s.expectReply, s.sendsLeft, s.pause, s.timeOut}),
                  std::vector<int>(timing[i], timing[i] + 4))
            << i;
    }
    EXPECT_EQ(action_.Result, kResultAcknowledged);

    for (const std::string& bad : {std::string(), test::ProgramFile(3, 16).substr(0, 60)}) {
        WriteFile("bad.hex", bad);
        EXPECT_EQ(Start(0xC0, "bad.hex"), 0) << "no record, or one cut short";
    }
    EXPECT_EQ(Start(0xC0, "missing.hex"), 0) << "no lead-in frame without the file";
    EXPECT_EQ(std::tie(action_.State, action_.Result, action_.SubCode),
              std::make_tuple(DONE, 9, 0xC1));
    WriteFile("program.hex", test::ProgramFile(1, 16));
    EXPECT_EQ(Run(0xC0, "program.hex").size(), 3u) << "only the end record: straight to 0xC4";
}

TEST_F(Download, PagesGoEightAFrameThenTheClosingFrame) {
    std::string content;
    for (int i = 0; i < 5000; ++i)
        content += static_cast<char>(i % 251 + 1);
    const std::pair<size_t, std::vector<size_t>> cases[] = {{600, {3}}, {5000, {8, 8, 4}}};
    for (const auto& [size, frames] : cases) {
        WriteFile("pages.bin", content.substr(0, size));
        std::vector<Sent> sent = Run(0xC5, "pages.bin");
        ASSERT_EQ(sent.size(), frames.size() + 1);
        size_t page = 0;
        for (size_t f = 0; f < frames.size(); ++f) {
            const ByteArray& frame = sent[f].frame;
            ASSERT_EQ(frame.size(), kHeader + 1 + 258 * frames[f]);
            EXPECT_EQ(std::tie(frame[12], frame[13], sent[f].sendsLeft),
                      std::make_tuple(0x80, 0xC6, 3));
            for (size_t p = 0; p < frames[f]; ++p, ++page) {
                const uint8_t* at = &frame[14 + 258 * p];
                EXPECT_EQ(GetBigEndian16(at), page);
                std::string expected =
                    content.substr(page * 256, std::min<size_t>(256, size - page * 256));
                expected.resize(256, '\0');
                EXPECT_EQ(std::string(at + 2, at + 258), expected) << size << " page " << page;
            }
        }
        EXPECT_EQ(Body(sent.back().frame).size(), 10u) << "key, 0x80, 0xC6";
        EXPECT_EQ(std::tie(action_.State, action_.Result, action_.BlockPending),
                  std::make_tuple(DONE, 8, 0));
    }
    WriteFile("pages.bin", "");
    EXPECT_TRUE(Run(0xC5, "pages.bin").empty());
    EXPECT_EQ(action_.Result, kResultAcknowledged);
    EXPECT_EQ(Start(0xC5, "missing.bin"), 0);
}

} // namespace
} // namespace qarn
