#include "files/down_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "test_files.h"

namespace qarn {
namespace {

using test::ProgramFile;
using test::WriteFile;

TEST(HexRecords, StopOnceTheOutputHoldsMoreThan2000Bytes) {
    test::ScratchDir dir;
    WriteFile("program.hex", ProgramFile(20, 255));
    CDownFile reader;
    ByteArray out;
    int position = reader.ReadHexRecords("program.hex", out, 0);
    ASSERT_EQ(out.size(), 8u * 258) << "eight records, the last one passing the limit";
    EXPECT_EQ(GetBigEndian16(&out[258 * 7]), 0x0100u + 7 * 255);
    EXPECT_EQ(ProgramFile(20, 255).substr(position, 3), "\r\n:");
}

TEST(HexRecords, RejectFilesThatCannotBeSent) {
    test::ScratchDir dir;
    const std::string end = ":00000001FF\r\n";
    const std::pair<std::string, int> cases[] = {
        {":0201000011G2AA\r\n" + end, 0},  // not hexadecimal
        {":02010 00011223A\r\n" + end, 0}, // a space inside the record
        {"no records here\r\n", 0},
        {end, -1}, // only the end record: nothing to send
    };
    CDownFile reader;
    ByteArray out;
    for (const auto& [text, result] : cases) {
        WriteFile("program.hex", text);
        EXPECT_EQ(reader.ReadHexRecords("program.hex", out, 0), result) << text;
        EXPECT_TRUE(out.empty());
    }
    EXPECT_EQ(reader.ReadHexRecords("missing.hex", out, 0), 0);
}

} // namespace
} // namespace qarn
