#include <gtest/gtest.h>

#include "inspect/RasterImage.h"

namespace pixavant {
namespace {

using imaging::PixelFormat;
using imaging::Raster;

// A 3 x 2 raster (odd width: QImage rows are padded, the raster's are not).
Raster raster(PixelFormat format, std::vector<uint8_t> pixels) {
    Raster r;
    r.width = 3;
    r.height = 2;
    r.format = format;
    r.pixels = std::move(pixels);
    return r;
}

// The pixels at (2, 0), (0, 1) and (2, 1) of a converted image.
QList<QRgb> samples(const QImage& image) {
    return {image.pixel(2, 0), image.pixel(0, 1), image.pixel(2, 1)};
}

TEST(RasterImageTest, ConvertsEveryPixelFormat) {
    EXPECT_EQ(samples(toQImage(raster(PixelFormat::Rgb8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13,
                                                          14, 15, 16, 17, 18}))),
              QList<QRgb>({qRgb(7, 8, 9), qRgb(10, 11, 12), qRgb(16, 17, 18)}));
    for (PixelFormat format : {PixelFormat::Gray8, PixelFormat::Bilevel})
        EXPECT_EQ(samples(toQImage(raster(format, {0, 255, 0, 255, 0, 255}))),
                  QList<QRgb>({qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255)}));
    Raster indexed = raster(PixelFormat::Indexed8, {0, 1, 2, 2, 1, 0});
    indexed.palette = {{255, 0, 0}, {0, 255, 0}};  // index 2 lies outside the palette
    EXPECT_EQ(samples(toQImage(indexed)),
              QList<QRgb>({qRgb(0, 0, 0), qRgb(0, 0, 0), qRgb(255, 0, 0)}));
}

TEST(RasterImageTest, AnEmptyOrShortRasterGivesNoImage) {
    EXPECT_TRUE(toQImage(Raster{}).isNull());
    EXPECT_TRUE(toQImage(raster(PixelFormat::Rgb8, {1, 2, 3})).isNull());
}

}  // namespace
}  // namespace pixavant
