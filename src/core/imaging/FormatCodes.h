#pragma once

namespace pixavant::imaging::format {

// File-format codes, the numbering the file information reports and the save operation takes.
inline constexpr int kUnknown = 0;
inline constexpr int kPcx = 1;
inline constexpr int kGif = 2;
inline constexpr int kTiff = 3;  // uncompressed, or a compression without a code of its own
inline constexpr int kTga = 4;
inline constexpr int kPixavant = 5;  // JPEG XL, lossy
inline constexpr int kBmp = 6;
inline constexpr int kJpeg444 = 10;  // JFIF, 4:4:4 or gray
inline constexpr int kTiffJpeg444 = 11;
inline constexpr int kOs2BmpV1 = 14;
inline constexpr int kWmf = 15;
inline constexpr int kEps = 16;
inline constexpr int kTiffLzw = 17;
inline constexpr int kJpeg420 = 21;
inline constexpr int kTiffJpeg420 = 22;
inline constexpr int kJpeg422 = 23;
inline constexpr int kTiffJpeg422 = 24;
inline constexpr int kTiffCcittRle = 25;
inline constexpr int kPixavant1Bit = 26;  // JPEG XL, lossless, 1 bit per sample
inline constexpr int kTiffG3_1D = 27;
inline constexpr int kTiffG3_2D = 28;
inline constexpr int kTiffG4 = 29;
inline constexpr int kPixavantLossless = 30;  // JPEG XL, lossless
inline constexpr int kSunRaster = 55;
inline constexpr int kPict = 56;
inline constexpr int kPhotoCd = 57;
inline constexpr int kOs2BmpV2 = 74;
inline constexpr int kPng = 75;
inline constexpr int kPsd = 76;
inline constexpr int kBmpRle = 84;
inline constexpr int kTiffCmyk = 85;
inline constexpr int kTiffCmykLzw = 86;
inline constexpr int kTiffPackBits = 87;
inline constexpr int kTiffCmykPackBits = 88;
inline constexpr int kIcon = 91;
inline constexpr int kCursor = 92;
inline constexpr int kTiffYcc = 93;
inline constexpr int kTiffYccLzw = 94;
inline constexpr int kTiffYccPackBits = 95;
inline constexpr int kExifJpeg = 98;      // EXIF without JFIF, not 4:2:0
inline constexpr int kExifJpeg420 = 101;  // EXIF without JFIF, 4:2:0
// Formats of today's cameras and the web, beyond the numbering above.
inline constexpr int kHeif = 102;  // HEIF, HEVC-coded (HEIC)
inline constexpr int kAvif = 103;  // HEIF, AV1-coded (AVIF)
inline constexpr int kWebp = 104;

// PIXAVANT's own formats: JPEG XL files.
constexpr bool isPixavant(int code) {
    return code == kPixavant || code == kPixavant1Bit || code == kPixavantLossless;
}

// Formats that hold black and white only: anything else is dithered before it is written.
constexpr bool holdsBlackAndWhiteOnly(int code) {
    return code == kPixavant1Bit || code == kTiffG3_1D || code == kTiffG3_2D || code == kTiffG4;
}

}  // namespace pixavant::imaging::format
