#pragma once

// What the imaging tests share: the fixture writers, the imaging headers, a folder per test.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>
#include <vector>

#include "JpegFixtures.h"
#include "MagickFixtures.h"
#include "TiffFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"
#include "imaging/Progress.h"

namespace pixavant::testing {

// Decodes the file through the reader registry, deep samples kept.
inline int decodeDeep(const QString& path, imaging::DecodedImage& image) {
    imaging::Progress progress;
    return testsupport::decodeFile(path, image, progress);
}

// Decodes the file through the reader registry, as the control loads it at every depth but the
// 48-bit one: deep samples reduced to 8 bits.
inline int decode(const QString& path, imaging::DecodedImage& image) {
    const int status = decodeDeep(path, image);
    if (status == imaging::kSuccess && image.raster.isDeep()) {
        imaging::Raster eightBit;
        if (const int reduced = imaging::reduceToEightBit(image.raster, eightBit);
            reduced != imaging::kSuccess)
            return reduced;
        image.raster = std::move(eightBit);
    }
    return status;
}

// The file's information; a failure to read it fails the test.
inline imaging::FileInfoRecord infoOf(const QString& path) {
    imaging::FileInfoRecord record;
    EXPECT_EQ(imaging::readFileInfo(path, record), imaging::kSuccess) << path.toStdString();
    return record;
}

// A raster of the size and format, every sample `fill`.
inline imaging::Raster makeRaster(int width, int height, imaging::PixelFormat format,
                                  uint8_t fill = 0) {
    imaging::Raster r;
    r.width = width;
    r.height = height;
    r.format = format;
    EXPECT_TRUE(r.allocate());
    std::fill(r.pixels.begin(), r.pixels.end(), fill);
    return r;
}

// The photograph-like image made gray by its luma, as a gray JPEG or scan holds it.
inline imaging::Raster makeGrayPhoto(int width, int height, uint32_t seed = 1) {
    imaging::Raster r = makePhotoLike(width, height, seed);
    EXPECT_EQ(imaging::convertToGray(r), imaging::kSuccess);
    return r;
}

// The quadrant pattern (testsupport::quadrantPattern) as an RGB raster.
inline imaging::Raster makeQuadrants(int width, int height) {
    imaging::Raster r = makeRaster(width, height, imaging::PixelFormat::Rgb8);
    r.pixels = testsupport::quadrantPattern(width, height);
    return r;
}

// The colour a pixel of an 8-bit raster stands for: gray repeated, a palette entry looked up.
inline std::array<int, 3> rgbAt(const imaging::Raster& r, int x, int y) {
    if (r.format == imaging::PixelFormat::Indexed8) {
        const auto& entry = r.palette.at(r.row(y)[x]);
        return {entry[0], entry[1], entry[2]};
    }
    const uint8_t* p = r.row(y) + x * r.channels();
    return r.channels() == 1 ? std::array<int, 3>{p[0], p[0], p[0]}
                             : std::array<int, 3>{p[0], p[1], p[2]};
}

// Every channel of `got` within `tolerance` of `want`.
inline ::testing::AssertionResult colourNear(const std::array<int, 3>& got,
                                             const std::array<int, 3>& want, int tolerance = 8) {
    for (size_t c = 0; c < 3; ++c)
        if (std::abs(got[c] - want[c]) > tolerance)
            return ::testing::AssertionFailure()
                   << got[0] << "," << got[1] << "," << got[2] << " is not " << want[0] << ","
                   << want[1] << "," << want[2];
    return ::testing::AssertionSuccess();
}

// An 8-bit raster as RGB triplets, gray repeated.
inline std::vector<uint8_t> rgbSamples(const imaging::Raster& r) {
    if (r.channels() == 3)
        return r.pixels;
    std::vector<uint8_t> out;
    for (uint8_t v : r.pixels)
        out.insert(out.end(), {v, v, v});
    return out;
}

// The samples of a 16-bit raster.
inline std::vector<uint16_t> samples16(const imaging::Raster& r) {
    std::vector<uint16_t> out(r.pixels.size() / 2);
    std::memcpy(out.data(), r.pixels.data(), out.size() * 2);
    return out;
}

// The bytes of an lcms profile, which is closed.
inline std::vector<uint8_t> savedProfile(cmsHPROFILE profile) {
    cmsUInt32Number size = 0;
    std::vector<uint8_t> icc;
    if (profile != nullptr && cmsSaveProfileToMem(profile, nullptr, &size)) {
        icc.resize(size);
        cmsSaveProfileToMem(profile, icc.data(), &size);
    }
    cmsCloseProfile(profile);
    return icc;
}

// An ICC profile as another tool makes it: the white point, the primaries (x, y pairs; none: gray)
// and an lcms parametric curve (type 1: a gamma).
inline std::vector<uint8_t> lcmsProfile(const double* primaries, int curveType,
                                        std::vector<double> curve, double whiteX = 0.3127,
                                        double whiteY = 0.3290) {
    cmsToneCurve* tone = cmsBuildParametricToneCurve(nullptr, curveType, curve.data());
    const cmsCIExyY white{whiteX, whiteY, 1};
    cmsToneCurve* curves[3] = {tone, tone, tone};
    const cmsCIExyYTRIPLE p = primaries == nullptr
                                  ? cmsCIExyYTRIPLE{}
                                  : cmsCIExyYTRIPLE{{primaries[0], primaries[1], 1},
                                                    {primaries[2], primaries[3], 1},
                                                    {primaries[4], primaries[5], 1}};
    std::vector<uint8_t> icc =
        savedProfile(primaries == nullptr ? cmsCreateGrayProfile(&white, tone)
                                          : cmsCreateRGBProfile(&white, &p, curves));
    cmsFreeToneCurve(tone);
    return icc;
}

// What a progress listener saw: some reports, never falling, within 0 to 100.
inline void expectRisingProgress(const std::vector<int>& seen) {
    ASSERT_FALSE(seen.empty());
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_GE(seen.front(), 0);
    EXPECT_LE(seen.back(), 100);
}

// A folder of its own for each test.
class ImagingTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    // Writes `bytes` into the folder as `name`; the file's path.
    QString write(const QString& name, const QByteArray& bytes) const {
        EXPECT_TRUE(writeBytes(path(name), bytes)) << name.toStdString();
        return path(name);
    }
    QTemporaryDir dir_;
};

}  // namespace pixavant::testing
