// Single DES encipherment (FIPS 46) of 8-byte blocks, electronic-codebook use.
#pragma once

#include <cstdint>

namespace qarn {

class CDes {
  public:
    // Computes the 16 round keys; the parity bit of each key byte is ignored.
    void SetKey(const uint8_t key[8]);
    // input and output may be the same area.
    void Encipher(const uint8_t input[8], uint8_t output[8]) const;

  private:
    uint8_t roundKeys_[16][6] = {};
};

} // namespace qarn
