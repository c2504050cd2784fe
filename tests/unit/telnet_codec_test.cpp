#include "transport/telnet_codec.h"

#include <gtest/gtest.h>

#include <algorithm>

using qarn::ByteArray;
using qarn::TelnetCodec;

namespace {

std::string Hex(const ByteArray& bytes) {
    std::string text;
    static const char kDigits[] = "0123456789ABCDEF";
    for (uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
        text += ' ';
    }
    return text;
}

// A server's stream with data, escaped 0xFF, negotiation, subnegotiations (one with an escaped
// 0xFF in its value) and commands that carry nothing for the line.
const ByteArray kServerStream = {
    'A',  0xFF, 0xFF, 0xFF, 0xFD, 0x2C,                               // data, 0xFF, DO COM-PORT
    0xFF, 0xFB, 0x01, 0xFF, 0xFD, 0x18, 0xFF, 0xF1,                   // WILL ECHO, DO TTYPE, NOP
    0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x03,                               // WILL BINARY, DO SGA
    0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0xFF, 0xF0, // baud 65280
    0xFF, 0xFA, 0x2C, 0x66, 0x08, 0xFF, 0xF0,                         // data size 8
    0xFF, 0xFA, 0x2C, 0x6B, 0x30, 0xFF, 0xF0,                         // modem state
    'B',  0xFF, 0xFA, 0x2C, 0x67, 0x03, 0xFF, 0xF0,                   // parity even
    0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0, 0xFF, 0xFD, 0x03,       // stop size 1, DO SGA again
    0x0D, 0x00, 0xFF};                                                // line bytes; an IAC cut off
const char kAnswers[] = "FF FE 01 FF FC 18 FF FB 03 ";

} // namespace

TEST(TelnetCodec, TakesTheServersStreamApartWhateverItsPieces) {
    TelnetCodec opened;
    EXPECT_EQ(Hex(opened.Opening()), "FF FB 2C FF FB 00 FF FD 00 ");
    // Whole, and byte by byte: the same line bytes, answers and confirmations.
    for (size_t piece : {kServerStream.size(), size_t{1}, size_t{7}}) {
        TelnetCodec codec;
        codec.Opening();
        ByteArray data, answers;
        for (size_t at = 0; at < kServerStream.size(); at += piece)
            codec.Take(kServerStream.data() + at, std::min(piece, kServerStream.size() - at), data,
                       answers);
        EXPECT_EQ(Hex(data), Hex({'A', 0xFF, 'B', 0x0D, 0x00})) << piece;
        EXPECT_EQ(Hex(answers), kAnswers) << piece;
        EXPECT_EQ(codec.ComPortState(), TelnetCodec::ComPort::Accepted);
        EXPECT_EQ(codec.Confirmed().baud, 65280u);
        EXPECT_EQ(codec.Confirmed().dataSize, 8);
        EXPECT_EQ(codec.Confirmed().parity, 3);
        EXPECT_EQ(codec.Confirmed().stopSize, 1);
        // The cut-off IAC escapes the next piece's first byte.
        data.clear();
        codec.Take(ByteArray{0xFF, 'C'}.data(), 2, data, answers);
        EXPECT_EQ(Hex(data), Hex({0xFF, 'C'}));
    }

    // A server without the option refuses it, and a refusal is not answered.
    TelnetCodec refused;
    refused.Opening();
    ByteArray data, answers;
    refused.Take(ByteArray{0xFF, 0xFE, 0x2C, 0xFF, 0xFC, 0x00}.data(), 6, data, answers);
    EXPECT_EQ(refused.ComPortState(), TelnetCodec::ComPort::Refused);
    EXPECT_TRUE(answers.empty()) << Hex(answers);

    // Host data: each 0xFF doubled, in the line settings' subnegotiations too.
    ByteArray escaped;
    TelnetCodec::Escape(ByteArray{0x01, 0xFF, 0xFF, 0x02}.data(), 4, escaped);
    EXPECT_EQ(Hex(escaped), "01 FF FF FF FF 02 ");
    EXPECT_EQ(Hex(TelnetCodec::SetLine({0x0001FF00, 7, 1, 3})),
              "FF FA 2C 01 00 01 FF FF 00 FF F0 FF FA 2C 02 07 FF F0 FF FA 2C 03 01 FF F0 "
              "FF FA 2C 04 03 FF F0 ");
}
