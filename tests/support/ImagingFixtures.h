#pragma once

// What the imaging tests share: the fixture writers, the imaging headers, a folder per test.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
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
