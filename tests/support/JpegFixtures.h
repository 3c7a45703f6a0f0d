#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "Bytes.h"
#include "imaging/Raster.h"

namespace pixavant::testing {

// One entry of a TIFF directory, with one value: a SHORT (type 3) or a RATIONAL (type 5).
struct TiffEntry {
    uint16_t tag;
    uint16_t type;
    uint32_t numerator;
    uint32_t denominator = 1;
};

// An EXIF block: a TIFF structure whose one directory holds the entries. A rational's value lies
// after the directory, unless `sharedValue` points every rational at the first one's.
std::vector<uint8_t> exifBlock(const std::vector<TiffEntry>& entries, bool bigEndian = false,
                               bool sharedValue = false);

// An EXIF block of nothing but an orientation tag.
inline std::vector<uint8_t> exifWithOrientation(int orientation) {
    return exifBlock({{0x0112, 3, uint32_t(orientation)}});
}

// EXIF fields written into an APP1 "Exif" marker (IFD0 only). A value of 0 leaves the tag out.
struct ExifFields {
    int orientation = 0;
    double xResolution = 0;  // rational
    double yResolution = 0;
    int resolutionUnit = 0;  // 2 inches, 3 centimetres
};

// How a fixture JPEG is written with libjpeg.
struct JpegFixture {
    int hSamp = 1;  // luma sampling factors; chroma is 1 x 1
    int vSamp = 1;
    bool jfif = true;
    int densityUnit = 0;  // JFIF: 0 aspect only, 1 dots per inch, 2 dots per cm
    int xDensity = 1;
    int yDensity = 1;
    bool exif = false;
    ExifFields exifFields{};
    bool progressive = false;
    int quality = 90;
    std::vector<uint8_t> icc{};
};

// The JPEG file of `image` (Gray8 or Rgb8).
QByteArray makeJpeg(const imaging::Raster& image, const JpegFixture& fixture = {});

// A smooth, textured image like a photograph: gradients, soft shapes, fine detail and noise.
imaging::Raster makePhotoLike(int width, int height, uint32_t seed = 1);

// Black strokes on white (0 and 255 only), like scanned text; Gray8 or Bilevel.
imaging::Raster makeTextLike(int width, int height,
                             imaging::PixelFormat format = imaging::PixelFormat::Gray8);

// A raster of one colour.
imaging::Raster makeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b);

// An ICC profile shell with the given colour space ("RGB " or "GRAY") and total size.
std::vector<uint8_t> makeIccProfile(const char space[4], size_t size);

}  // namespace pixavant::testing
