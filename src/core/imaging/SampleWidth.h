#pragma once

#include <cstdint>

namespace pixavant::imaging {

// A sample of `fromBits` bits (1 to 16) as one of `toBits` bits (1 to 16): the nearest of
// round(v x (2^toBits - 1) / (2^fromBits - 1)), halves rounded up, so that 0 and the largest value
// map onto 0 and the largest value. Values above the largest of `fromBits` count as the largest.
constexpr uint32_t rescaleSample(uint32_t value, int fromBits, int toBits) {
    const uint64_t fromMax = (uint64_t{1} << fromBits) - 1;
    const uint64_t toMax = (uint64_t{1} << toBits) - 1;
    const uint64_t v = value < fromMax ? value : fromMax;
    return uint32_t((2 * v * toMax + fromMax) / (2 * fromMax));
}

}  // namespace pixavant::imaging
