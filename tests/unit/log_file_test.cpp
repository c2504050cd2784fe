#include "files/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

#include "platform/clock.h"
#include "platform/file.h"
#include "test_files.h"

namespace qarn {
namespace {

using test::ReadFile;
using test::WriteFile;

const char* const kLogNames[] = {"CommLog.log",  "CommLog1.log", "CommLog2.log", "CommLog3.log",
                                 "CommLog4.log", "CommLog5.log", "CommLog6.log"};

std::string Zeros(size_t count) {
    return std::string(count, '\0');
}

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetLocalTimeForTesting(&clock_); }
    void TearDown() override { platform::SetLocalTimeForTesting(nullptr); }
    void SetClock(const platform::LocalTime& time) {
        clock_ = time;
        platform::SetLocalTimeForTesting(&clock_);
    }
    test::ScratchDir dir_;
    platform::LocalTime clock_{2024, 3, 4, 7, 9, 5, 0, 0};
};

TEST_F(LogFile, NewFilesHoldOnlyTheHeader) {
    CLogFile().Rotate();
    for (const char* name : kLogNames) {
        std::string header = ReadFile(name);
        ASSERT_EQ(header.size(), kLogHeaderSize) << name;
        EXPECT_EQ(header.substr(0, 90),
                  Zeros(50) + "\r\nRV7400 System Communication Log File" + Zeros(2));
        EXPECT_EQ(header.substr(90, 4), "\r\n\r\n");
        const std::pair<size_t, const char*> headings[] = {{0, "Cmd.Name"},  {20, "Ter.Adr."},
                                                           {30, "Evt.Name"}, {46, "Ope.Rst."},
                                                           {56, "Exe.Data"}, {68, "Exe.Time"}};
        for (const auto& [column, text] : headings)
            EXPECT_EQ(header.substr(94 + column, 8), text);
        EXPECT_EQ(header.substr(170), "\r\n" + std::string(80, '_') + Zeros(2));
    }
}

TEST_F(LogFile, RecordsGoOutSixAtATimeAndAtTheEnd) {
    {
        CLogFile log;
        for (int i = 0; i < 5; ++i)
            log.AddRecord(0x01, 0, 0x1234);
        EXPECT_EQ(ReadFile("CommLog.log").size(), kLogHeaderSize);
        log.AddRecord(0x99, 3, 0x00AB);
        EXPECT_EQ(ReadFile("CommLog.log").size(), kLogHeaderSize + 534);
        log.AddRecord(255, 1, 0xFFFF);
        log.AddRecord(255, 10, 0xFFFF);
    }
    std::string file = ReadFile("CommLog.log");
    ASSERT_EQ(file.size(), kLogHeaderSize + 8 * kLogRecordSize);
    auto record = [&](int i) { return file.substr(kLogHeaderSize + i * kLogRecordSize, 61); };
    EXPECT_EQ(record(0), "\r\n" + Zeros(1) + "\r\nAdjust Time(B)" + Zeros(6) + "0x1234" + Zeros(4) +
                             "Code Down_Frm" + Zeros(3) + "Success" + Zeros(3));
    std::string stamp = file.substr(kLogHeaderSize + 61, 28);
    EXPECT_EQ(stamp.substr(0, 18), "2024.03.07  09:05:");
    EXPECT_EQ(stamp.substr(24), Zeros(4));
    EXPECT_EQ(record(5),
              Zeros(25) + "0x00AB" + Zeros(4) + "Decode Up_Frm" + Zeros(3) + "Success" + Zeros(3));
    EXPECT_EQ(record(6),
              Zeros(3) + "\r\n" + Zeros(30) + "Send Down_Frm" + Zeros(3) + "Success" + Zeros(3));
    EXPECT_EQ(record(7), Zeros(3) + "\r\n" + Zeros(46) + "Success" + Zeros(3)) << "unknown kind";
}

TEST(LogTime, PadsEveryFieldAndTakesAllOfItFromTheClock) {
    char text[28];
    FormatLogTime({2031, 2, 0, 3, 4, 5, 6, 7}, text);
    EXPECT_EQ(std::string(text), "2031.02.03  04:05:06.007");
    FormatLogTime({2031, 12, 0, 31, 23, 59, 41, 999}, text);
    EXPECT_EQ(std::string(text), "2031.12.31  23:59:41.999");
}

// In a directory of its own, as QARN_LOG_DIR names one: nothing goes to the current directory.
TEST_F(LogFile, RotatesOnlyWhenTheLogWasCreatedOnAnotherDayOfTheMonth) {
    std::filesystem::create_directory("logs");
    auto in = [](const char* name) { return std::string("logs/") + name; };
    CLogFile("logs");
    for (const char* name : kLogNames)
        WriteFile(in(name), std::string("old ") + name);
    platform::LocalTime born;
    ASSERT_TRUE(platform::GetFileCreationTime(in("CommLog.log").c_str(), born));
    born.month = born.month % 12 + 1; // the same day of another month
    SetClock(born);
    CLogFile("logs/").Rotate();
    for (const char* name : kLogNames)
        EXPECT_EQ(ReadFile(in(name)), std::string("old ") + name);

    born.day = born.day % 28 + 1;
    SetClock(born);
    CLogFile("logs").Rotate();
    EXPECT_EQ(ReadFile(in("CommLog.log")).size(), kLogHeaderSize);
    for (int i = 1; i <= 6; ++i)
        EXPECT_EQ(ReadFile(in(kLogNames[i])), std::string("old ") + kLogNames[i - 1]);
    for (const char* name : kLogNames)
        EXPECT_FALSE(std::filesystem::exists(name)) << name;
}

TEST_F(LogFile, ALogThatCannotBeWrittenDropsItsRecords) {
    ASSERT_EQ(symlink("/dev/full", "CommLog.log"), 0); // every write fails: a full disk
    std::filesystem::create_directory("CommLog1.log"); // cannot be opened as a file at all
    platform::LocalTime born;
    ASSERT_TRUE(platform::GetFileCreationTime("CommLog.log", born));
    SetClock(born); // no rotation: the names stay where they are
    {
        CLogFile log;
        EXPECT_EQ(log.Rotate(), 1);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(log.AddRecord(0x01, 0, 1), 1);
        EXPECT_EQ(log.PendingCount(), 2u) << "written batches are gone, failed or not";
    }
    EXPECT_TRUE(std::filesystem::is_directory("CommLog1.log"));
    EXPECT_EQ(ReadFile("CommLog2.log").size(), kLogHeaderSize);
}

} // namespace
} // namespace qarn
