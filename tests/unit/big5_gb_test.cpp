#include "codec/big5_gb.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using qarn::CBig5ToGB;

TEST(Big5Gb, SingleByteAndOutOfTableCodesPassThrough) {
    for (uint16_t code : {0x4142, 0x0000, 0x7FFF, 0xA03F, 0xA43F, 0xFF40, 0xA4FF, 0xFFFF})
        EXPECT_EQ(CBig5ToGB::Big5ToGb(code), code) << std::hex << code;
    for (uint16_t code : {0x4142, 0x0000, 0xA0A1, 0xB041, 0xD6A0, 0xFFA1, 0xB0FF, 0xFFFF})
        EXPECT_EQ(CBig5ToGB::GbToBig5(code), code) << std::hex << code;
}

TEST(Big5Gb, KnownCharactersAndCounterparts) {
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xA1A1), 0xA140); // ideographic space
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xA1A2), 0xA142); // ideographic comma
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xA1A3), 0xA143); // ideographic full stop
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xB0A1), 0xB0DA);
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xD6D0), 0xA4A4);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xA4A4), 0xD6D0);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xA140), 0xA1A1);
    // Traditional and simplified forms fold into each other; of two traditional forms the
    // commoner, lower Big5 code is taken.
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xB36F), 0xD5E2);
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xD5E2), 0xB36F);
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xB7A2), 0xB56F);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xBE76), 0xB7A2);
    // Characters without a counterpart, unused trail bytes and user-defined areas give the fill.
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xD8AF), 0xA140);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xA5F9), 0xA1A1);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xA17F), 0xA1A1);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xA4A0), 0xA1A1);
    EXPECT_EQ(CBig5ToGB::Big5ToGb(0xFEFE), 0xA1A1);
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xF8A1), 0xA140);
    EXPECT_EQ(CBig5ToGB::GbToBig5(0xFEFE), 0xA140);
}

TEST(Big5Gb, EmptyGbRowsReadTheRowsAfterThem) {
    for (unsigned lead = 0xAA; lead <= 0xAF; ++lead)
        for (unsigned trail : {0xA1u, 0xC0u, 0xFEu})
            EXPECT_EQ(CBig5ToGB::GbToBig5(lead << 8 | trail),
                      CBig5ToGB::GbToBig5((lead + 6) << 8 | trail));
}

TEST(Big5Gb, TextConversionKeepsSingleBytesAligned) {
    // "A", U+4E2D, "B", U+9019, then a lone lead byte.
    uint8_t big5[] = {0x41, 0xA4, 0xA4, 0x42, 0xB3, 0x6F, 0xA4};
    CBig5ToGB::ConvertBig5ToGb(big5, sizeof big5);
    const uint8_t gb[] = {0x41, 0xD6, 0xD0, 0x42, 0xD5, 0xE2, 0xA4};
    EXPECT_EQ(0, std::memcmp(big5, gb, sizeof gb));

    uint8_t name[] = {0xD6, 0xD0, 0xB0, 0xA1, 0x20, 0x20, 0x20, 0x20};
    CBig5ToGB::ConvertGbToBig5(name, sizeof name);
    const uint8_t back[] = {0xA4, 0xA4, 0xB0, 0xDA, 0x20, 0x20, 0x20, 0x20};
    EXPECT_EQ(0, std::memcmp(name, back, sizeof back));

    CBig5ToGB::ConvertGbToBig5(nullptr, 4);
    CBig5ToGB::ConvertBig5ToGb(name, 0);
    EXPECT_EQ(name[0], 0xA4);
}

// Both character sets enumerated by Python's codecs: every character the two share must map to
// itself, and every other entry must be a valid code of the target set or its fill value.
const char kEnumerate[] = R"(
def code(raw): return raw[0] << 8 | raw[1]
for lead in range(0x81, 0xFF):
    for trail in range(0x40, 0xFF):
        raw = bytes([lead, trail])
        for source, target, kind in (("big5", "gb2312", "B"), ("gb2312", "big5", "G")):
            try:
                char = raw.decode(source)
            except UnicodeDecodeError:
                continue
            print(kind, code(raw), 0)
            try:
                print(kind + "S", code(raw), code(char.encode(target)))
            except UnicodeEncodeError:
                pass
)";

TEST(Big5Gb, TablesAgreeWithBothCharacterSets) {
    if (std::system("command -v python3 >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    // Named per process: runs of the suite side by side must not remove each other's files.
    std::string stem = testing::TempDir() + "big5_gb_enumerate." + std::to_string(getpid());
    std::string script = stem + ".py";
    std::string listing = stem + ".txt";
    std::ofstream(script) << kEnumerate;
    ASSERT_EQ(0, std::system(("python3 " + script + " > " + listing).c_str()));

    std::set<unsigned> big5Codes, gbCodes;
    size_t shared = 0;
    std::ifstream lines(listing);
    std::string kind;
    unsigned from, to;
    while (lines >> kind >> from >> to) {
        if (kind == "B") big5Codes.insert(from);
        if (kind == "G") gbCodes.insert(from);
        if (kind == "BS") {
            EXPECT_EQ(CBig5ToGB::Big5ToGb(from), to) << std::hex << from;
        } else if (kind == "GS") {
            EXPECT_EQ(CBig5ToGB::GbToBig5(from), to) << std::hex << from;
        }
        shared += kind.size() == 2;
    }
    std::remove(script.c_str());
    std::remove(listing.c_str());
    ASSERT_GT(shared, 9000u);

    for (unsigned lead = 0xA1; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            unsigned gb = CBig5ToGB::Big5ToGb(lead << 8 | trail);
            EXPECT_TRUE(gb == 0xA1A1 || gbCodes.count(gb)) << std::hex << lead << trail;
            if (trail < 0xA1) continue;
            unsigned big5 = CBig5ToGB::GbToBig5(lead << 8 | trail);
            EXPECT_TRUE(big5 == 0xA140 || big5Codes.count(big5)) << std::hex << lead << trail;
        }
    }
}

} // namespace
