#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "Bytes.h"

namespace pixavant::testing {

// A TIFF image to write with libtiff for a test: the tags to set and the pixels as raw samples.
struct TiffFixture {
    uint32_t width = 4;
    uint32_t height = 4;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 1;   // PHOTOMETRIC_MINISBLACK
    uint16_t compression = 1;   // COMPRESSION_NONE
    uint16_t planar = 1;        // PLANARCONFIG_CONTIG
    uint16_t sampleFormat = 1;  // SAMPLEFORMAT_UINT
    uint16_t orientation = 1;
    uint16_t extraSample = 0;   // kind of the last sample when it is an extra one; 0: none
    uint32_t rowsPerStrip = 0;  // 0: libtiff's default
    uint32_t tileWidth = 0;     // non-zero: tiled, with tileHeight
    uint32_t tileHeight = 0;
    uint32_t group3Options = 0;
    uint16_t ycbcrHorizontal = 0;  // non-zero: YCbCrSubsampling written
    uint16_t ycbcrVertical = 0;
    bool jpegRgbInput = false;  // JPEG with YCbCr: the samples given are RGB, libtiff converts
    float xResolution = 0;      // 0: no resolution tags
    float yResolution = 0;
    uint16_t resolutionUnit = 2;       // RESUNIT_INCH
    std::vector<uint16_t> colormap{};  // 3 x 2^bits entries: red, then green, then blue
    std::vector<uint8_t> icc{};
    // Samples of the whole image, rows packed as libtiff wants them for a scanline (contiguous) or
    // plane after plane (separate). For 16-bit samples, native byte order.
    std::vector<uint8_t> data{};
    bool bigTiff = false;
    int pages = 1;  // further pages hold the first one's samples inverted
};

// Writes the fixture to `path` with libtiff. Returns false (after a gtest failure) when libtiff
// refuses it.
bool writeTiffFixture(const QString& path, const TiffFixture& fixture);

// A classic little-endian TIFF built byte by byte, for files libtiff would not write: one
// directory with one strip whose offset and byte count are given as they are (they may lie).
struct RawTiff {
    uint32_t width = 8;
    uint32_t height = 8;
    uint16_t bitsPerSample = 8;
    uint16_t samplesPerPixel = 1;
    uint16_t photometric = 1;
    uint16_t compression = 1;
    uint32_t stripOffset = 0;     // 0: right after the directory
    uint32_t stripByteCount = 0;  // 0: width x height x samples x bits / 8
    QByteArray stripData{};       // bytes placed at the end of the file
    int directories = 1;          // further directories chained after the first, all alike
    bool loop = false;            // the last directory points back at the first
};
QByteArray buildRawTiff(const RawTiff& raw);

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    return writeBytes(path, bytes);
}

}  // namespace pixavant::testing
