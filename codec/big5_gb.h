// Conversion of two-byte Chinese codes between Big5 and GB2312, through constant tables.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qarn {

class CBig5ToGB {
  public:
    static uint16_t Big5ToGb(uint16_t code);
    static uint16_t GbToBig5(uint16_t code);

    // Convert text in place, first byte high. A byte below 0x80 is a character of its own; any
    // other byte starts a two-byte code with the byte after it, so single-byte characters
    // between Chinese ones do not shift the pairs. A lone lead byte at the end is left as it is.
    static void ConvertBig5ToGb(uint8_t* text, size_t size);
    static void ConvertGbToBig5(uint8_t* text, size_t size);

  private:
    // Generated into big5_gb_tables.cpp by tools/gen_big5_gb_tables.py.
    static constexpr size_t kBig5ToGbSize = 94 * 191;
    static constexpr size_t kGbToBig5Size = 88 * 94;
    static const uint16_t kBig5ToGb[kBig5ToGbSize];
    static const uint16_t kGbToBig5[kGbToBig5Size];
};

} // namespace qarn
