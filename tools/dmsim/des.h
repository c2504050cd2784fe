// DES decipherment (FIPS 46, single DES): the terminal's side of the enciphered key downloads.
#pragma once

#include <cstdint>

namespace dmsim {

class DesDecipher {
  public:
    // The low bit of each key byte is parity and is ignored.
    explicit DesDecipher(const uint8_t key[8]);
    // Input and output may be the same area.
    void Decipher(const uint8_t in[8], uint8_t out[8]) const;

  private:
    uint64_t roundKeys_[16]; // 48 bits each, round 1 first
};

} // namespace dmsim
