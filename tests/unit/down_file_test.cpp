#include "files/down_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "test_files.h"

namespace qarn {
namespace {

using test::ProgramFile;
using test::WriteFile;

ByteArray Bytes(const std::string& text) {
    return ByteArray(text.begin(), text.end());
}

TEST(HexRecords, StopOnceTheOutputHoldsMoreThan2000Bytes) {
    CDownFile reader;
    ByteArray out;
    int position = reader.ReadHexRecords(Bytes(ProgramFile(20, 255)), out, 0);
    ASSERT_EQ(out.size(), 8u * 258) << "eight records, the last one passing the limit";
    EXPECT_EQ(GetBigEndian16(&out[258 * 7]), 0x0100u + 7 * 255);
    EXPECT_EQ(ProgramFile(20, 255).substr(position, 3), "\r\n:");
}

TEST(DownloadFiles, LoadOnlyRegularFilesOfTheDownloadsLayout) {
    test::ScratchDir dir;
    const std::string end = ":00000001FF\r\n";
    const std::pair<std::string, bool> programs[] = {
        {":0201000011G2AA\r\n" + end, false},  // not hexadecimal
        {":02010 00011223A\r\n" + end, false}, // a space inside the record
        {"no records here\r\n", false},
        {ProgramFile(2, 16) + ":000000", false}, // the end record cut short
        {end, true},                             // only the end record: nothing to send
    };
    CDownFile reader;
    ByteArray copy;
    for (const auto& [text, fits] : programs) {
        WriteFile("program.hex", text);
        EXPECT_EQ(reader.Load("program.hex", DownloadKind::kProgram, copy), fits) << text;
        EXPECT_EQ(copy.empty(), !fits);
    }
    ByteArray out;
    EXPECT_EQ(reader.ReadHexRecords(copy, out, 0), -1);

    WriteFile("pages.bin", std::string(65536 * 256 + 1, 'x'));
    EXPECT_FALSE(reader.Load("pages.bin", DownloadKind::kPages, copy)) << "page numbers repeat";
    WriteFile("pages.bin", "");
    EXPECT_TRUE(reader.Load("pages.bin", DownloadKind::kPages, copy));
    WriteFile("list.bin", std::string(kMostDownloadBytes + 5, '\x11'));
    EXPECT_FALSE(reader.Load("list.bin", DownloadKind::kPages, copy)) << "longer than any list";
    for (const char* name : {"missing", ".", "/dev/null", "/dev/zero"})
        for (DownloadKind kind :
             {DownloadKind::kList, DownloadKind::kProgram, DownloadKind::kPages})
            EXPECT_FALSE(reader.Load(name, kind, copy)) << name;
}

} // namespace
} // namespace qarn
