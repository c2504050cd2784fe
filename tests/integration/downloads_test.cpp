// The multi-frame downloads end to end (card lists, program files, page files) and the
// communication log written while commands run.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "line_fixture.h"

using namespace scenario;

namespace {

constexpr uint16_t kTerminal = 0x0002;
constexpr uint16_t kSilent = 0x0009; // no terminal answers at this address
constexpr uint16_t kHostAddress = 0x0001;
constexpr int kFrameTransmitted = 3429;
constexpr int kOtherStatus = 0x21;

constexpr size_t kLogHeaderSize = 254;
constexpr size_t kLogRecordSize = 89;

// A directory of its own under the system's temporary directory, removed with everything in it.
class TempDir {
  public:
    TempDir() {
        std::error_code failed;
        auto base = std::filesystem::temp_directory_path(failed);
        for (unsigned attempt = 0; !failed && path_.empty() && attempt < 100; ++attempt) {
            auto candidate = base / ("e2edl-" + std::to_string(std::random_device()() % 1000000));
            if (std::filesystem::create_directory(candidate, failed)) path_ = candidate.string();
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// Makes a directory the current one for the life of the object.
class WorkIn {
  public:
    explicit WorkIn(const std::string& directory) {
        std::error_code failed;
        saved_ = std::filesystem::current_path(failed);
        std::filesystem::current_path(directory, failed);
        EXPECT_FALSE(failed) << directory;
    }
    ~WorkIn() {
        std::error_code failed;
        if (!saved_.empty()) std::filesystem::current_path(saved_, failed);
        EXPECT_FALSE(failed);
    }

  private:
    std::filesystem::path saved_;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    WriteFile(path, Bytes(text.begin(), text.end()));
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A list file: the marker, then each number as 10 BCD digits, most significant first.
Bytes ListFile(uint8_t marker, const std::vector<uint64_t>& numbers) {
    Bytes file = {marker};
    for (uint64_t number : numbers) {
        uint8_t entry[5];
        for (int i = 4; i >= 0; --i) {
            entry[i] = static_cast<uint8_t>(number % 10 | (number / 10 % 10) << 4);
            number /= 100;
        }
        file.insert(file.end(), entry, entry + 5);
    }
    return file;
}

// Deterministic card numbers of up to 10 digits, all of them within 32 bits.
std::vector<uint64_t> CardNumbers(size_t count, uint64_t seed) {
    std::vector<uint64_t> numbers;
    for (size_t i = 0; i < count; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        numbers.push_back((seed >> 20) % 4294967296ULL);
    }
    return numbers;
}

// Ends the process when a step blocks for longer than a test can wait.
class Watchdog {
  public:
    explicit Watchdog(const char* step) : step_(step), thread_([this] { Watch(); }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }

  private:
    void Watch() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!wake_.wait_for(lock, std::chrono::seconds(20), [this] { return done_; })) {
            std::fprintf(stderr, "blocked for 20 s: %s\n", step_);
            std::abort();
        }
    }
    const char* step_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

// The numbers as the terminal stores them: per frame (640 first, then 704) sorted as 32-bit
// values, frames in file order.
std::vector<uint32_t> AsStored(const std::vector<uint64_t>& numbers) {
    std::vector<uint32_t> stored;
    for (size_t start = 0, take = 640; start < numbers.size(); start += take, take = 704) {
        size_t end = std::min(numbers.size(), start + take);
        std::vector<uint32_t> frame;
        for (size_t i = start; i < end; ++i)
            frame.push_back(static_cast<uint32_t>(numbers[i]));
        std::sort(frame.begin(), frame.end());
        stored.insert(stored.end(), frame.begin(), frame.end());
    }
    return stored;
}

int LengthField(const Bytes& wire) {
    return wire[8] << 8 | wire[9];
}

// What follows the key and the code byte of a keyed frame, check byte excluded.
Bytes KeyedPayload(const Bytes& wire) {
    return Bytes(wire.begin() + 19, wire.end() - 1);
}

struct Block {
    int number;
    std::vector<uint32_t> values;
};

std::vector<Block> Blocks(const Bytes& payload) {
    std::vector<Block> blocks;
    size_t at = 0;
    while (at + 3 <= payload.size()) {
        Block block{payload[at] << 8 | payload[at + 1], {}};
        size_t count = payload[at + 2];
        at += 3;
        for (size_t i = 0; i < count && at + 4 <= payload.size(); ++i, at += 4)
            block.values.push_back(static_cast<uint32_t>(payload[at]) << 24 |
                                   payload[at + 1] << 16 | payload[at + 2] << 8 | payload[at + 3]);
        blocks.push_back(block);
    }
    return blocks;
}

// A program file text record ":LLAAAATT<data>CC" with a correct check byte.
std::string HexRecord(int address, int type, const Bytes& data, bool lowerCase = false) {
    Bytes fields = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                    static_cast<uint8_t>(address), static_cast<uint8_t>(type)};
    fields.insert(fields.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : fields)
        sum += b;
    fields.push_back(static_cast<uint8_t>(-sum));
    std::string text = ":";
    char pair[3];
    for (uint8_t b : fields) {
        std::snprintf(pair, sizeof pair, lowerCase ? "%02x" : "%02X", b);
        text += pair;
    }
    return text + "\r\n";
}

Bytes RecordData(int index) {
    Bytes data;
    for (int i = 0; i < 16; ++i)
        data.push_back(static_cast<uint8_t>(index * 16 + i + 0xA0));
    return data;
}

int RecordAddress(int index) {
    return 0x0100 + 0x10 * index;
}

// Ten data records of 16 bytes and the end record; record 3 is written in lower case.
std::string ProgramFile(int dataRecords = 10) {
    std::string text;
    for (int i = 0; i < dataRecords; ++i)
        text += HexRecord(RecordAddress(i), 0x00, RecordData(i), i == 3);
    return text + HexRecord(0x0000, 0x01, {});
}

// The records of a program frame as they go out: address, count, data.
Bytes SentRecords(int first, int count) {
    Bytes records;
    for (int i = first; i < first + count; ++i) {
        records.push_back(static_cast<uint8_t>(RecordAddress(i) >> 8));
        records.push_back(static_cast<uint8_t>(RecordAddress(i)));
        records.push_back(16);
        Bytes data = RecordData(i);
        records.insert(records.end(), data.begin(), data.end());
    }
    return records;
}

Bytes ProgramFrame(Bytes stepAndRecords) {
    return DownlinkFrame(kTerminal, kHostAddress, {}, 0x80, stepAndRecords);
}

Bytes PageFile(size_t size) {
    Bytes file;
    for (size_t i = 0; i < size; ++i)
        file.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    return file;
}

// A page frame for pages first..first+count-1 of a file: numbers and 256 bytes, zero filled.
Bytes PageFrame(const Bytes& file, int first, int count) {
    Bytes payload = {0xC6};
    for (int page = first; page < first + count; ++page) {
        payload.push_back(static_cast<uint8_t>(page >> 8));
        payload.push_back(static_cast<uint8_t>(page));
        for (size_t i = page * 256u; i < page * 256u + 256; ++i)
            payload.push_back(i < file.size() ? file[i] : 0x00);
    }
    return DownlinkFrame(kTerminal, kHostAddress, ExpectedKey(), 0x80, payload);
}

Bytes ClosingPageFrame() {
    return DownlinkFrame(kTerminal, kHostAddress, ExpectedKey(), 0x80, {0xC6});
}

Bytes ClosingListFrame() {
    return DownlinkFrame(kTerminal, kHostAddress, ExpectedKey(), 0xA2, {});
}

std::string Field(const Bytes& record, size_t at, size_t size) {
    std::string text(record.begin() + at, record.begin() + at + size);
    return text.substr(0, text.find('\0'));
}

bool AllZero(const Bytes& bytes, size_t at, size_t size) {
    return std::all_of(bytes.begin() + at, bytes.begin() + at + size,
                       [](uint8_t b) { return b == 0; });
}

std::vector<Bytes> LogRecords(const Bytes& log) {
    std::vector<Bytes> records;
    for (size_t at = kLogHeaderSize; at + kLogRecordSize <= log.size(); at += kLogRecordSize)
        records.emplace_back(log.begin() + at, log.begin() + at + kLogRecordSize);
    return records;
}

std::vector<std::string> EventNames(const std::vector<Bytes>& records) {
    std::vector<std::string> names;
    for (const Bytes& record : records)
        names.push_back(Field(record, 35, 16));
    return names;
}

// Checks that the log holds one command of `frames` frames: each frame's four steps, coded
// first, then sent and received, the reply decoded right after it is received (on a pty the
// reply can be read before the end of the transmission is seen, so sent and received may
// swap), and the command's end last.
void ExpectCommandSteps(const std::vector<std::string>& names, size_t frames) {
    ASSERT_EQ(names.size(), 4 * frames + 1);
    for (size_t at = 0; at < 4 * frames; at += 4) {
        EXPECT_EQ(names[at], "Code Down_Frm") << at;
        std::vector<std::string> rest(names.begin() + at + 1, names.begin() + at + 4);
        auto received = std::find(rest.begin(), rest.end(), "Recv Up_Frm");
        ASSERT_NE(received, rest.end()) << at;
        ASSERT_NE(received + 1, rest.end()) << at;
        EXPECT_EQ(received[1], "Decode Up_Frm") << at;
        EXPECT_EQ(std::count(rest.begin(), rest.end(), "Send Down_Frm"), 1) << at;
    }
    EXPECT_EQ(names.back(), "Cmd Result");
}

} // namespace

class Downloads : public Line {
  protected:
    // At 921600 baud, so that list frames of some kilobytes leave the wire quickly.
    void OpenFast(int waitTime = 600) {
        ASSERT_FALSE(dir.Path().empty());
        Open({kTerminal}, waitTime, 921600);
    }

    Outcome Download(int code, const std::string& path) {
        return RunAndEnd(kTerminal, code, const_cast<char*>(path.c_str()));
    }

    dmsim::Terminal TerminalState() {
        dmsim::Terminal copy;
        EXPECT_TRUE(simulator.GetTerminal(kTerminal, copy));
        return copy;
    }

    void SetAckStatus(int status) {
        simulator.UpdateTerminal(kTerminal, [status](dmsim::Terminal& t) { t.ackStatus = status; });
    }

    void DropReplies(int count) {
        dmsim::Faults faults;
        faults.dropReplies = count;
        simulator.SetFaults(faults);
    }

    TempDir dir;
};

TEST_F(Downloads, TenThousandCardNumbersReachTheWhiteList) {
    OpenFast();
    std::vector<uint64_t> numbers = CardNumbers(10000, 17);
    WriteFile(dir / "white.lst", ListFile(0xBB, numbers));

    Outcome outcome = Download(0xA2, dir / "white.lst");
    ASSERT_NE(outcome.handle, 0);
    EXPECT_EQ(outcome.result, 8);
    EXPECT_EQ(TerminalState().WhiteList(), AsStored(numbers));
    EXPECT_TRUE(TerminalState().BlackList().empty());

    // 640 numbers, 13 frames of 704, the remaining 208, then the closing frame.
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 16u);
    int nextBlock = 0;
    for (size_t f = 0; f + 1 < frames.size(); ++f) {
        std::vector<Block> blocks = Blocks(KeyedPayload(frames[f]));
        size_t expectedBlocks = f == 0 ? 10 : f + 2 < frames.size() ? 11 : 4;
        ASSERT_EQ(blocks.size(), expectedBlocks) << "frame " << f;
        for (const Block& block : blocks) {
            EXPECT_EQ(block.number, nextBlock++);
            EXPECT_TRUE(std::is_sorted(block.values.begin(), block.values.end()));
        }
        bool last = f + 2 == frames.size();
        EXPECT_EQ(blocks.back().values.size(), last ? 10000u - 156 * 64 : 64u) << "frame " << f;
    }
    EXPECT_EQ(nextBlock, 157);
    EXPECT_EQ(Hex(frames.back()), Hex(ClosingListFrame()));
}

TEST_F(Downloads, ListFramesCarrySortedBlocksNumberedThroughTheList) {
    // At 9600 baud the first frame takes about 0.5 s on the wire, longer than the wait time:
    // the wait for the reply begins once it has left.
    Open({kTerminal}, 300, 9600);
    // 100 numbers with values that check the BCD conversion and the sorting.
    std::vector<uint64_t> numbers = CardNumbers(97, 5);
    numbers.insert(numbers.begin() + 10, {4294967295ULL, 12345ULL, 5ULL});
    std::swap(numbers[0], numbers[12]); // 5 comes first, 12345 in between
    WriteFile(dir / "short.lst", ListFile(0xBB, numbers));

    Outcome outcome = Download(0xA2, dir / "short.lst");
    EXPECT_EQ(outcome.result, 8);
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    Bytes payload = KeyedPayload(frames[0]);
    EXPECT_EQ(payload.size(), 406u);
    EXPECT_EQ(frames[0][18], 0xA2);
    std::vector<Block> blocks = Blocks(payload);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(Hex(Bytes(payload.begin(), payload.begin() + 3)), "00 00 40 ");
    EXPECT_EQ(Hex(Bytes(payload.begin() + 259, payload.begin() + 262)), "00 01 24 ");
    std::vector<uint32_t> sent = blocks[0].values;
    sent.insert(sent.end(), blocks[1].values.begin(), blocks[1].values.end());
    EXPECT_EQ(sent, AsStored(numbers));
    EXPECT_EQ(sent[0], 5u);
    EXPECT_TRUE(std::count(sent.begin(), sent.end(), 0x3039u));     // 00 00 01 23 45
    EXPECT_TRUE(std::count(sent.begin(), sent.end(), 0xFFFFFFFFu)); // 42 94 96 72 95
    EXPECT_EQ(Hex(frames[1]), Hex(ClosingListFrame()));

    // The 0xAA marker numbers the same blocks from 0x00C4, which is the black list's memory.
    simulator.ClearReceived();
    WriteFile(dir / "black.lst", ListFile(0xAA, numbers));
    outcome = Download(0xA2, dir / "black.lst");
    EXPECT_EQ(outcome.result, 8);
    frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    blocks = Blocks(KeyedPayload(frames[0]));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].number, 0xC4);
    EXPECT_EQ(blocks[1].number, 0xC5);
    EXPECT_EQ(TerminalState().BlackList(), AsStored(numbers));
}

TEST_F(Downloads, LongListSplitsIntoFramesSortedEachOnTheirOwn) {
    OpenFast();
    // Descending values: the second frame holds numbers smaller than all of the first.
    std::vector<uint64_t> numbers;
    for (uint64_t i = 0; i < 700; ++i)
        numbers.push_back(4000000000ULL - i * 1000);
    WriteFile(dir / "700.lst", ListFile(0xBB, numbers));

    Outcome outcome = Download(0xA2, dir / "700.lst");
    EXPECT_EQ(outcome.result, 8);
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(KeyedPayload(frames[0]).size(), 2590u);
    EXPECT_EQ(KeyedPayload(frames[1]).size(), 243u);
    std::vector<Block> first = Blocks(KeyedPayload(frames[0]));
    std::vector<Block> second = Blocks(KeyedPayload(frames[1]));
    ASSERT_EQ(first.size(), 10u);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(first[9].number, 9);
    EXPECT_EQ(second[0].number, 10);
    EXPECT_EQ(second[0].values.size(), 60u);
    EXPECT_LT(second[0].values.back(), first[0].values.front());
    EXPECT_EQ(TerminalState().WhiteList(), AsStored(numbers));

    // A file of only the marker sends one frame without blocks, then the closing frame.
    simulator.ClearReceived();
    WriteFile(dir / "marker.lst", {0xBB});
    outcome = Download(0xA2, dir / "marker.lst");
    EXPECT_EQ(outcome.result, 8);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(LengthField(Frames()[0]), 9);
    EXPECT_EQ(LengthField(Frames()[1]), 9);
}

TEST_F(Downloads, ProgramFileGoesOutInHalvingRecordFrames) {
    OpenFast();
    ASSERT_EQ(SetInnerCmd(device, 1), 1);
    WriteText(dir / "program.hex", ProgramFile());

    Outcome outcome = Download(0xC0, dir / "program.hex");
    EXPECT_EQ(outcome.result, 8);
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 6u);
    EXPECT_EQ(Hex(frames[0]),
              Hex(DownlinkFrame(kTerminal, kHostAddress, ExpectedKey(), 0x80, {0xC1})));
    EXPECT_EQ(Hex(frames[1]), Hex(ProgramFrame({0xC2, 0x00})));
    Bytes records = SentRecords(0, 6);
    EXPECT_EQ(records.size(), 114u);
    records.insert(records.begin(), 0xC3);
    EXPECT_EQ(Hex(frames[2]), Hex(ProgramFrame(records)));
    records = SentRecords(6, 3);
    records.insert(records.begin(), 0xC3);
    EXPECT_EQ(Hex(frames[3]), Hex(ProgramFrame(records)));
    records = SentRecords(9, 1);
    records.insert(records.begin(), 0xC3);
    EXPECT_EQ(Hex(frames[4]), Hex(ProgramFrame(records)));
    EXPECT_EQ(Hex(frames[5]), Hex(ProgramFrame({0xC4})));

    dmsim::Terminal terminal = TerminalState();
    EXPECT_EQ(terminal.programLoads, 1);
    ASSERT_EQ(terminal.programMemory.size(), 10u);
    EXPECT_EQ(Hex(terminal.programMemory[RecordAddress(3)]), Hex(RecordData(3)));

    // A file holding only its end record goes straight from the lead-in to the close.
    simulator.ClearReceived();
    WriteText(dir / "end-only.hex", ProgramFile(0));
    outcome = Download(0xC0, dir / "end-only.hex");
    EXPECT_EQ(outcome.result, 8);
    ASSERT_EQ(Frames().size(), 3u);
    EXPECT_EQ(Hex(Frames()[2]), Hex(ProgramFrame({0xC4})));
    EXPECT_EQ(TerminalState().programLoads, 2);
}

TEST_F(Downloads, PageFilesGoOutInFramesOfUpToEightPages) {
    OpenFast();
    Bytes small = PageFile(600);
    WriteFile(dir / "small.bin", small);
    Outcome outcome = Download(0xC5, dir / "small.bin");
    EXPECT_EQ(outcome.result, 8);
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(LengthField(frames[0]), 10 + 258 * 3);
    EXPECT_EQ(Hex(frames[0]), Hex(PageFrame(small, 0, 3)));
    EXPECT_EQ(Hex(frames[1]), Hex(ClosingPageFrame()));

    simulator.ClearReceived();
    Bytes large = PageFile(5000);
    WriteFile(dir / "large.bin", large);
    outcome = Download(0xC5, dir / "large.bin");
    EXPECT_EQ(outcome.result, 8);
    frames = Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(Hex(frames[0]), Hex(PageFrame(large, 0, 8)));
    EXPECT_EQ(Hex(frames[1]), Hex(PageFrame(large, 8, 8)));
    EXPECT_EQ(Hex(frames[2]), Hex(PageFrame(large, 16, 4)));
    EXPECT_EQ(Hex(frames[3]), Hex(ClosingPageFrame()));
    dmsim::Terminal terminal = TerminalState();
    EXPECT_EQ(terminal.pageLoads, 2);
    ASSERT_EQ(terminal.pages.size(), 20u);
    Bytes stored;
    for (auto& page : terminal.pages)
        stored.insert(stored.end(), page.second.begin(), page.second.end());
    large.resize(20 * 256, 0x00);
    EXPECT_EQ(stored, large);

    simulator.ClearReceived();
    WriteFile(dir / "empty.bin", {});
    outcome = Download(0xC5, dir / "empty.bin");
    EXPECT_NE(outcome.handle, 0);
    EXPECT_EQ(outcome.result, 8);
    EXPECT_TRUE(Frames().empty());
}

TEST_F(Downloads, LostAcknowledgementIsRetransmittedAndTheDownloadCompletes) {
    OpenFast(400);
    std::vector<uint64_t> numbers = CardNumbers(700, 9);
    WriteFile(dir / "700.lst", ListFile(0xBB, numbers));
    DropReplies(1);
    Outcome outcome = Download(0xA2, dir / "700.lst");
    EXPECT_EQ(outcome.result, 8);
    std::vector<Bytes> frames = Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(Hex(frames[1]), Hex(frames[0]));
    EXPECT_EQ(KeyedPayload(frames[2]).size(), 243u);
    EXPECT_EQ(TerminalState().WhiteList(), AsStored(numbers));

    ASSERT_EQ(SetInnerCmd(device, 1), 1);
    WriteText(dir / "program.hex", ProgramFile());
    simulator.ClearReceived();
    DropReplies(1);
    outcome = Download(0xC0, dir / "program.hex");
    EXPECT_EQ(outcome.result, 8);
    frames = Frames();
    ASSERT_EQ(frames.size(), 7u);
    EXPECT_EQ(Hex(frames[3]), Hex(frames[2]));
    EXPECT_EQ(TerminalState().programMemory.size(), 10u);

    Bytes pages = PageFile(600);
    WriteFile(dir / "small.bin", pages);
    simulator.ClearReceived();
    DropReplies(1);
    outcome = Download(0xC5, dir / "small.bin");
    EXPECT_EQ(outcome.result, 8);
    frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Hex(frames[1]), Hex(frames[0]));

    // Three transmissions without an answer end the download: time-out, nothing further.
    simulator.ClearReceived();
    DropReplies(3);
    outcome = Download(0xA2, dir / "700.lst");
    EXPECT_EQ(outcome.result, 5);
    frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(Hex(frames[2]), Hex(frames[0]));
}

// A rejected frame is tried again while its transmissions last; the download goes no further.
TEST_F(Downloads, StatusOtherThanAcknowledgedStopsTheDownload) {
    OpenFast();
    SetAckStatus(kOtherStatus);
    auto expectSameFrameThrice = [this](size_t from) {
        std::vector<Bytes> frames = Frames();
        ASSERT_EQ(frames.size(), from + 3);
        EXPECT_EQ(Hex(frames[from + 1]), Hex(frames[from]));
        EXPECT_EQ(Hex(frames[from + 2]), Hex(frames[from]));
    };
    WriteFile(dir / "700.lst", ListFile(0xBB, CardNumbers(700, 3)));
    Outcome outcome = Download(0xA2, dir / "700.lst");
    EXPECT_EQ(outcome.result, kOtherStatus);
    expectSameFrameThrice(0);
    EXPECT_EQ(KeyedPayload(Frames()[0]).size(), 2590u);

    simulator.ClearReceived();
    WriteFile(dir / "large.bin", PageFile(5000));
    outcome = Download(0xC5, dir / "large.bin");
    EXPECT_EQ(outcome.result, kOtherStatus);
    expectSameFrameThrice(0);
    EXPECT_EQ(TerminalState().pageLoads, 0);

    ASSERT_EQ(SetInnerCmd(device, 1), 1);
    simulator.ClearReceived();
    WriteText(dir / "program.hex", ProgramFile());
    outcome = Download(0xC0, dir / "program.hex");
    EXPECT_EQ(outcome.result, kOtherStatus);
    expectSameFrameThrice(2); // after the lead-in: the first record frame, and no close
    EXPECT_EQ(Frames()[2][11], 0xC3);
    EXPECT_EQ(TerminalState().programLoads, 0);
}

TEST_F(Downloads, UnusableListAndPageFilesAreRefusedBeforeAnythingIsSent) {
    OpenFast();
    // Ten black cards, which no white list may reach.
    std::vector<uint64_t> black = CardNumbers(10, 8);
    WriteFile(dir / "black.lst", ListFile(0xAA, black));
    ASSERT_EQ(Download(0xA2, dir / "black.lst").result, 8);
    simulator.ClearReceived();

    Bytes notWhole(502, 0x11);
    notWhole[0] = 0xBB;
    WriteFile(dir / "502.lst", notWhole);
    WriteFile(dir / "marker.lst", ListFile(0xCC, {1, 2, 3}));
    WriteFile(dir / "empty.lst", {});
    WriteFile(dir / "33-bits.lst", ListFile(0xAA, {1, 6200000001ULL, 2}));
    WriteFile(dir / "12545.lst", ListFile(0xBB, std::vector<uint64_t>(12545, 77)));
    std::vector<std::string> refused = {"missing.lst", "502.lst",     "marker.lst",
                                        "empty.lst",   "33-bits.lst", "12545.lst"};
    for (const std::string& name : refused)
        EXPECT_EQ(Download(0xA2, dir / name).handle, 0) << name;
    EXPECT_EQ(Download(0xC5, dir / "missing.bin").handle, 0);
    EXPECT_EQ(Run(kTerminal, 0xA2, nullptr), 0);
    EXPECT_EQ(Run(kTerminal, 0xC5, nullptr), 0);

    // Names that are not regular files: refused at once, never waited on.
#if defined(_WIN32)
    std::vector<std::string> devices = {"NUL", dir.Path()};
#else
    std::string fifo = dir / "fifo.lst";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::vector<std::string> devices = {"/dev/null", "/dev/zero", fifo, dir.Path()};
#endif
    for (const std::string& name : devices) {
        Watchdog watchdog(name.c_str());
        EXPECT_EQ(Download(0xA2, name).handle, 0) << name;
        EXPECT_EQ(Download(0xC5, name).handle, 0) << name;
    }

    // The device is free for the next command, and nothing of the refused ones went out.
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(TerminalState().BlackList(), AsStored(black));
    EXPECT_TRUE(TerminalState().WhiteList().empty());
    WriteFile(dir / "one.lst", ListFile(0xBB, {42}));
    Outcome outcome = Download(0xA2, dir / "one.lst");
    EXPECT_EQ(outcome.result, 8);
    ASSERT_EQ(Frames().size(), 2u);
    EXPECT_EQ(Hex(KeyedPayload(Frames()[0])), "00 00 01 00 00 00 2A ");
    EXPECT_EQ(TerminalState().WhiteList(), std::vector<uint32_t>{42});
}

// The files are read whole when the command starts: what changes on the disk afterwards does
// not reach the terminal.
TEST_F(Downloads, FilesChangedDuringTheDownloadGoOutAsTheyWereAtTheStart) {
    OpenFast();
    std::string path = dir / "2000.lst";
    std::vector<uint64_t> numbers = CardNumbers(2000, 4);
    WriteFile(path, ListFile(0xBB, numbers));
    Bytes large = PageFile(5000);
    std::string pages = dir / "pages.bin";
    WriteFile(pages, large);
    int sent = 0;
    onNotification = [&](int message) {
        if (message != kFrameTransmitted || ++sent != 1) return;
        WriteFile(path, ListFile(0xBB, {numbers.begin(), numbers.begin() + 700}));
    };
    Outcome outcome = Download(0xA2, path);
    EXPECT_EQ(outcome.result, 8);
    EXPECT_EQ(Frames().size(), 4u);
    EXPECT_EQ(TerminalState().WhiteList(), AsStored(numbers));

    // The page file is replaced by another one after the first frame.
    WriteFile(pages, large);
    simulator.ClearReceived();
    sent = 0;
    onNotification = [&](int message) {
        if (message != kFrameTransmitted || ++sent != 1) return;
        WriteFile(pages + ".new", PageFile(1000));
        std::filesystem::rename(pages + ".new", pages);
    };
    outcome = Download(0xC5, pages);
    onNotification = nullptr;
    EXPECT_EQ(outcome.result, 8);
    ASSERT_EQ(Frames().size(), 4u);
    EXPECT_EQ(Hex(Frames()[2]), Hex(PageFrame(large, 16, 4)));
}

TEST_F(Downloads, UnreadableProgramFileIsRefusedBeforeTheLeadIn) {
    OpenFast();
    ASSERT_EQ(SetInnerCmd(device, 1), 1);
    std::string badDigit = ProgramFile();
    badDigit[9] = 'G'; // inside the first record's data
    WriteText(dir / "bad-digit.hex", badDigit);
    WriteText(dir / "no-colon.hex", "10010000A0A1A2A3\r\n");
    std::string cut = ProgramFile();
    WriteText(dir / "cut.hex", cut.substr(0, cut.size() - 30)); // ends inside a record
    for (const char* name : {"missing.hex", "bad-digit.hex", "no-colon.hex", "cut.hex"})
        EXPECT_EQ(Download(0xC0, dir / name).handle, 0) << name;
    EXPECT_TRUE(Frames().empty());
    EXPECT_EQ(TerminalState().programLoads, 0);
}

TEST_F(Downloads, CommunicationLogRecordsEveryStepOfACommand) {
    OpenFast();
    {
        WorkIn inLogDirectory(dir.Path());
        ASSERT_EQ(SetAddLog(device, 1), 1);
        for (const char* name : {"CommLog.log", "CommLog1.log", "CommLog6.log"})
            EXPECT_EQ(ReadFile(name).size(), kLogHeaderSize) << name;
        EXPECT_NE(RunAndEnd(kTerminal, 0x13).handle, 0);
        EXPECT_NE(RunAndEnd(kTerminal, 0x13).handle, 0);
        // Six records are written out together; the other four when logging goes off.
        EXPECT_EQ(ReadFile("CommLog.log").size(), kLogHeaderSize + 6 * kLogRecordSize);
        ASSERT_NE(RunAndEnd(kSilent, 0x13).handle, 0);
        SetAddLog(device, 0);
    }
    Bytes log = ReadFile(dir / "CommLog.log");
    ASSERT_EQ(log.size(), kLogHeaderSize + 13 * kLogRecordSize);
    EXPECT_EQ(Field(log, 50, 40), "\r\nRV7400 System Communication Log File");
    EXPECT_EQ(Field(log, 90, 80).substr(0, 12), "\r\n\r\nCmd.Name");
    EXPECT_EQ(Field(log, 170, 84), "\r\n" + std::string(80, '_'));

    std::vector<Bytes> records = LogRecords(log);
    std::vector<std::string> names = EventNames(records);
    ExpectCommandSteps({names.begin(), names.begin() + 5}, 1);
    ExpectCommandSteps({names.begin() + 5, names.begin() + 10}, 1);
    // The silent terminal's command: coded, sent, and ended by its time-out.
    EXPECT_EQ(std::vector<std::string>(names.begin() + 10, names.end()),
              (std::vector<std::string>{"Code Down_Frm", "Send Down_Frm", "Cmd Result"}));
    if (HasFatalFailure()) return;

    // Kinds with a command name and terminal, and kinds with neither; the end of each command
    // carries its result.
    const std::string results[] = {"Result 13", "Result 13", "Result 5"};
    for (size_t i = 0, ended = 0; i < records.size(); ++i) {
        bool named =
            names[i] == "Code Down_Frm" || names[i] == "Decode Up_Frm" || names[i] == "Cmd Result";
        std::string terminal = i < 10 ? "0x0002" : "0x0009";
        EXPECT_EQ(Field(records[i], 3, 22), named ? "\r\nRecv DM_Property" : "\r\n") << i;
        EXPECT_EQ(Field(records[i], 25, 10), named ? terminal : "") << i;
        EXPECT_TRUE(named ? AllZero(records[i], 31, 4) : AllZero(records[i], 25, 10)) << i;
        EXPECT_EQ(Field(records[i], 0, 3), names[i] == "Code Down_Frm" ? "\r\n" : "") << i;
        EXPECT_EQ(Field(records[i], 51, 10),
                  names[i] == "Cmd Result" ? results[ended++] : std::string("Success"))
            << i;
    }
    const std::regex stamp(R"(\d{4}\.\d{2}\.\d{2}  \d{2}:\d{2}:\d{2}\.\d{3})");
    for (const Bytes& record : records) {
        EXPECT_TRUE(std::regex_match(Field(record, 61, 28), stamp)) << Field(record, 61, 28);
        EXPECT_TRUE(AllZero(record, 85, 4));
    }
}

TEST_F(Downloads, ListDownloadWithLoggingOnLogsEachFrame) {
    OpenFast();
    std::vector<uint64_t> numbers = CardNumbers(700, 21);
    WriteFile(dir / "700.lst", ListFile(0xBB, numbers));
    {
        WorkIn inLogDirectory(dir.Path());
        ASSERT_EQ(SetAddLog(device, 1), 1);
        Outcome outcome = Download(0xA2, dir / "700.lst");
        EXPECT_EQ(outcome.result, 8);
        SetAddLog(device, 0);
    }
    EXPECT_EQ(TerminalState().WhiteList(), AsStored(numbers));
    std::vector<Bytes> records = LogRecords(ReadFile(dir / "CommLog.log"));
    size_t frames = Frames().size();
    ASSERT_EQ(frames, 3u);
    std::vector<std::string> names = EventNames(records);
    ExpectCommandSteps(names, frames);
    EXPECT_EQ(Field(records.back(), 51, 10), "Result 8");
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(Field(records.front(), 3, 22), "\r\nAddDel White_Card");
}

TEST_F(Downloads, UnwritableLogNeverBreaksACommand) {
    OpenFast();
    // Directories in place of the log files: every open of a log file fails, even for root.
    for (const char* name : {"CommLog.log", "CommLog1.log", "CommLog2.log", "CommLog3.log",
                             "CommLog4.log", "CommLog5.log", "CommLog6.log"})
        ASSERT_TRUE(std::filesystem::create_directory(dir / name));
    WriteFile(dir / "one.lst", ListFile(0xBB, {7, 3}));
    {
        WorkIn inLogDirectory(dir.Path());
        EXPECT_EQ(SetAddLog(device, 1), 1);
        for (int i = 0; i < 3; ++i)
            EXPECT_NE(RunAndEnd(kTerminal, 0x13).handle, 0);
        EXPECT_EQ(Download(0xA2, dir / "one.lst").result, 8);
        SetAddLog(device, 0);
    }
    EXPECT_EQ(TerminalState().WhiteList(), (std::vector<uint32_t>{3, 7}));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "CommLog.log"));

    // A directory that cannot be written to, where permissions apply (not for root).
    std::string locked = dir / "locked";
    ASSERT_TRUE(std::filesystem::create_directory(locked));
    std::filesystem::permissions(locked, std::filesystem::perms::owner_read |
                                             std::filesystem::perms::owner_exec);
    if (!std::ofstream(locked + "/probe")) {
        WorkIn inLocked(locked);
        EXPECT_EQ(SetAddLog(device, 1), 1);
        EXPECT_NE(RunAndEnd(kTerminal, 0x13).handle, 0);
        SetAddLog(device, 0);
    }
}

#if !defined(_WIN32)
// A log name that is not a regular file is skipped, never waited on: at the start of logging
// and when one takes the place of the log while logging is on.
TEST_F(Downloads, LogSkipsNamesThatAreNotRegularFiles) {
    OpenFast();
    WorkIn inLogDirectory(dir.Path());
    ASSERT_EQ(mkfifo("CommLog.log", 0600), 0);
    {
        Watchdog watchdog("logging on with a FIFO as the log");
        EXPECT_EQ(SetAddLog(device, 1), 1);
        EXPECT_EQ(RunAndEnd(kTerminal, 0x13).result, 13);
        EXPECT_EQ(RunAndEnd(kTerminal, 0x13).result, 13);
        SetAddLog(device, 0);
    }
    std::filesystem::remove("CommLog.log");
    ASSERT_EQ(SetAddLog(device, 1), 1);
    std::filesystem::remove("CommLog.log");
    ASSERT_EQ(mkfifo("CommLog.log", 0600), 0);
    {
        Watchdog watchdog("a FIFO swapped in for the log");
        EXPECT_EQ(RunAndEnd(kTerminal, 0x13).result, 13);
        EXPECT_EQ(RunAndEnd(kTerminal, 0x13).result, 13);
        SetAddLog(device, 0);
    }
    EXPECT_EQ(std::filesystem::status("CommLog.log").type(), std::filesystem::file_type::fifo);
}
#endif
