#pragma once

#include <jxl/color_encoding.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace pixavant::imaging {

// The colour space that an ICC profile describes, as JPEG XL names it, when the profile is one of
// those spaces to within a fraction of an 8-bit level: sRGB (whatever the profile's own make,
// such as the compact ones cameras and web services embed), linear sRGB, Rec. 709, Display P3 and
// Rec. 2020; for gray profiles the sRGB curve, linear light and gamma 2.2. Nothing for any other
// profile (Adobe RGB among them), or one that cannot be read: it has to travel as it is.
//
// `channels` is 1 (gray) or 3 (RGB); a profile of the other kind is nothing.
std::optional<JxlColorEncoding> namedColorEncoding(const std::vector<uint8_t>& icc, int channels);

// The largest difference, in 8-bit levels, between the colours `icc` gives a grid of pixel values
// and those `encoding` gives them; a negative value when either cannot be built. For tests and
// the tolerance above.
double colorEncodingDistance(const std::vector<uint8_t>& icc, int channels,
                             const JxlColorEncoding& encoding);

// An ICC profile of `encoding` (gray or RGB; white point and primaries named or custom), matrix
// and curves as lcms builds them: for images that describe their colour by code points rather than
// a profile. Empty for what no such profile holds (PQ, HLG) or when it cannot be built.
std::vector<uint8_t> iccProfileOf(const JxlColorEncoding& encoding);

}  // namespace pixavant::imaging
