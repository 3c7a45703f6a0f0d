#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace pixavant::imaging {

// What a JPEG file's markers say that decides whether it can be carried over, and where it
// states its resolution.
struct JpegFacts {
    int components = 0;
    int orientation = 1;  // as the JPEG reader applies it
    size_t exifAt = 0;    // the TIFF header of the first EXIF block in the file; 0: none
    size_t exifSize = 0;
    size_t jfifAt = 0;  // the body of the JFIF marker; 0: none
};

// Walks the markers up to the first scan. False when the file is not a JPEG as expected.
bool readJpegFacts(const std::vector<uint8_t>& jpeg, JpegFacts& facts);

// Makes the JFIF density at `body` (JpegFacts::jfifAt) state xDpi by yDpi in place, unless it
// states no resolution (unit 0: an aspect ratio only) or that one already. False when it cannot
// hold it.
bool setJfifDensityInPlace(std::vector<uint8_t>& jpeg, size_t body, int32_t xDpi, int32_t yDpi);

}  // namespace pixavant::imaging
