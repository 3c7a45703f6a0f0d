#pragma once

// HEIF, AVIF and WebP files made with libheif's and libwebp's own encoders.
#include <QByteArray>
#include <cstdint>
#include <vector>

#include "JpegFixtures.h"
#include "imaging/Raster.h"

namespace pixavant::testing {

struct HeifFixture {
    bool av1 = false;    // AVIF (AV1) rather than HEIC (HEVC)
    int bitDepth = 8;    // 8, 10 or 12 (samples scaled from the 8-bit raster)
    bool alpha = false;  // alpha from the raster's red channel inverted: red 255 is transparent
    // The file's own transform (heif_orientation: 1 none, 6 turned 90 degrees clockwise, ...).
    int transform = 1;
    std::vector<uint8_t> exif{};  // a TIFF structure; written with HEIF's offset in front
    QByteArray xmp{};
    // An nclx colour description (primaries, transfer), or none when 0.
    int nclxPrimaries = 0;
    int nclxTransfer = 0;
    std::vector<uint8_t> icc{};
};

// An RGB raster as a HEIF file at high quality; empty on failure.
QByteArray makeHeif(const imaging::Raster& rgb, const HeifFixture& fixture = {});

struct WebpFixture {
    bool lossless = true;
    bool alpha = false;  // alpha from the raster's red channel inverted, as above
    int frames = 1;      // more than 1: an animation, each frame's colours inverted from the last
    std::vector<uint8_t> exif{};
    QByteArray xmp{};
    std::vector<uint8_t> icc{};
};

QByteArray makeWebp(const imaging::Raster& rgb, const WebpFixture& fixture = {});

}  // namespace pixavant::testing
