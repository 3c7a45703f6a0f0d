#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>
#include <vector>

#include "Bytes.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {
class Progress;
}

namespace pixavant::testsupport {

// Four quadrants: red top left, green top right, blue bottom left, white bottom right.
std::vector<uint8_t> quadrantPattern(int width, int height);

struct MagickWriteOptions {
    QString coder;             // GraphicsMagick coder: "GIF", "BMP", "BMP2", "PCX", "TGA", ...
    bool palette = false;      // write a palette image
    bool gray = false;         // write a grayscale image
    bool rle = false;          // ask for RLE compression
    bool alpha = false;        // make the right half fully transparent
    bool manyColours = false;  // overwrite the middle row with a gray ramp (over 16 colours)
    int frames = 1;            // frames after the first are solid blue (GIF only)
    double dpi = 0;            // stored resolution, when the format has one
    QByteArray icc{};          // ICC profile to embed
};

// Writes the RGB pixels with GraphicsMagick. Returns false on any failure.
bool writeMagickImage(const QString& path, int width, int height, const std::vector<uint8_t>& rgb,
                      const MagickWriteOptions& options);

// How bmpFile() stores its pixels.
struct BmpLayout {
    int headerSize = 40;       // 12 (OS/2 1.x), 40, 52, 56, 64 (OS/2 2.x), 108 (V4), 124 (V5)
    int bits = 24;             // 4 or 8 (a colour table of the pattern's four colours), 16, 24, 32
    uint32_t compression = 0;  // 0 BI_RGB, 3 BI_BITFIELDS, 6 BI_ALPHABITFIELDS
    std::array<uint32_t, 4> masks{};  // red, green, blue, alpha: bit fields, and V4/V5 headers
    uint8_t alpha = 255;  // every pixel's alpha, in the alpha field if there is one, else in
                          // the fourth byte of 32-bit pixels
};

// A bottom-up BMP of the quadrant pattern laid out as `layout` says. Channels of n bits hold the
// 8-bit value scaled to n bits (rounded).
QByteArray bmpFile(int width, int height, const BmpLayout& layout);

// A Windows icon (type 1) or cursor (type 2) holding one 4 x 4 32-bit image: red top half, blue
// bottom half.
QByteArray iconFile(int type);

using testing::writeBytes;

// Decodes the file through the reader registry, as the imaging control does. Returns the status.
int decodeFile(const QString& path, imaging::DecodedImage& image, imaging::Progress& progress);

}  // namespace pixavant::testsupport
