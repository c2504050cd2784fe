// The server's Telnet stream taken apart by the codec: the same line bytes and answers whatever
// the pieces it arrives in (the first input byte sets their size), and escaped data taken back
// as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "transport/telnet_codec.h"

using namespace qarn;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    size_t piece = data[0] % 16 + 1;
    const uint8_t* stream = data + 1;
    size_t length = size - 1;

    TelnetCodec whole, pieces;
    whole.Opening();
    pieces.Opening();
    ByteArray wholeData, wholeAnswers, pieceData, pieceAnswers;
    whole.Take(stream, length, wholeData, wholeAnswers);
    for (size_t at = 0; at < length; at += piece)
        pieces.Take(stream + at, length - at < piece ? length - at : piece, pieceData,
                    pieceAnswers);
    if (wholeData != pieceData || wholeAnswers != pieceAnswers ||
        whole.ComPortState() != pieces.ComPortState())
        std::abort();

    ByteArray escaped, back, answers;
    TelnetCodec::Escape(stream, length, escaped);
    TelnetCodec().Take(escaped.data(), escaped.size(), back, answers);
    if (back != ByteArray(stream, stream + length) || !answers.empty()) std::abort();
    return 0;
}
