#include "imaging/PixavantEncoding.h"

#include <algorithm>
#include <array>

#include "imaging/FormatCodes.h"

namespace pixavant::imaging {

namespace {

// JPEG XL distance per quality level, -1 (visually lossless) to -9. Each level strictly larger.
constexpr std::array<float, 9> kLossyDistance = {1.0f, 1.5f, 2.0f, 2.7f, 3.5f,
                                                 4.5f, 6.0f, 8.0f, 11.0f};
// Encoder efforts, from the tables of bench/bench_effort.py (bytes and one core's time per effort).
// Lossy, per level: the lowest effort at which the level is a third smaller than an optimised
// JPEG of equal butteraugli distance, and 7 where no effort up to 7 gets there. On the Kodak
// photos effort 7 is 20 to 30 % smaller at levels 0 to 7; on 1-megapixel crops of camera
// photos 30 % at level 0 and 38 to 49 % above. Level 8 gets there at effort 6 (37 % on Kodak,
// 55 % on the crops, in half the time of 7 on the crops), not at 5 (31 % on Kodak). Other distances
// per level and EPF settings gain nothing at the middle levels, where JPEG is at its best; libjxl's
// memory grows steeply above 7. Lossless: effort 7 is 8 % smaller than 3 on photos at 6 times the
// time, and less than 1 % on scanned pages; 3 stays. Black and white: effort 7 finds repeated
// glyphs (a quarter of the size of effort 4 on fax and text pages); 6 is no faster.
constexpr std::array<int, 9> kLossyEffort = {7, 7, 7, 7, 7, 7, 7, 7, 6};
constexpr int kLosslessEffort = 3;
constexpr int kBilevelEffort = 7;

// CPU time per pixel by effort 1 to 9, in nanoseconds (measured up to 7 for lossless and
// black and white files, above that estimated).
constexpr std::array<double, 9> kLossyNanoseconds = {250, 270, 250, 250, 360, 400, 410, 3400, 5500};
constexpr std::array<double, 9> kLosslessNanoseconds = {370,  390,  470,   1570, 1900,
                                                        2000, 3000, 10000, 30000};
constexpr std::array<double, 9> kBilevelNanoseconds = {190, 190, 190,  260, 1200,
                                                       680, 640, 2000, 7500};

size_t levelIndex(int qualityFactor) {
    return size_t(std::clamp(-qualityFactor, 1, 9) - 1);
}

}  // namespace

int defaultEffort(int formatCode, int qualityFactor) {
    return formatCode == format::kPixavant       ? kLossyEffort[levelIndex(qualityFactor)]
           : formatCode == format::kPixavant1Bit ? kBilevelEffort
                                                 : kLosslessEffort;
}

int effectiveEffort(int formatCode, int qualityFactor, int requested) {
    return requested >= kMinEffort && requested <= kMaxEffort
               ? requested
               : defaultEffort(formatCode, qualityFactor);
}

float lossyDistance(int qualityFactor) {
    return kLossyDistance[levelIndex(qualityFactor)];
}

double encodeSecondsPerPixel(int formatCode, int effort) {
    const auto& table = formatCode == format::kPixavant       ? kLossyNanoseconds
                        : formatCode == format::kPixavant1Bit ? kBilevelNanoseconds
                                                              : kLosslessNanoseconds;
    return table[size_t(std::clamp(effort, kMinEffort, kMaxEffort) - 1)] * 1e-9;
}

}  // namespace pixavant::imaging
