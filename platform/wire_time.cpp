#include "platform/wire_time.h"

namespace qarn::platform {

uint64_t WireMicroseconds(size_t characters, const LineSettings& line) {
    if (line.baud == 0) return 0;
    // Counted in half bits, for the one and a half stop bits.
    constexpr uint64_t kStopHalfBits[] = {2, 3, 4};
    uint64_t halfBits = 2 * (1 + uint64_t{line.dataBits} + (line.parity != 0 ? 1 : 0)) +
                        kStopHalfBits[line.stopBits < 3 ? line.stopBits : 2];
    uint64_t halfBitsPerSecond = 2 * uint64_t{line.baud};
    return (characters * halfBits * 1000000 + halfBitsPerSecond - 1) / halfBitsPerSecond;
}

} // namespace qarn::platform
