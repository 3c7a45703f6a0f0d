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

TEST(RasterImageTest, ConvertsEveryPixelFormat) {
    const QImage rgb = toQImage(
        raster(PixelFormat::Rgb8, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
    EXPECT_EQ(rgb.pixel(2, 0), qRgb(7, 8, 9));
    EXPECT_EQ(rgb.pixel(0, 1), qRgb(10, 11, 12));
    EXPECT_EQ(rgb.pixel(2, 1), qRgb(16, 17, 18));

    for (PixelFormat format : {PixelFormat::Gray8, PixelFormat::Bilevel}) {
        const QImage gray = toQImage(raster(format, {0, 255, 0, 255, 0, 255}));
        EXPECT_EQ(gray.pixel(1, 0), qRgb(255, 255, 255));
        EXPECT_EQ(gray.pixel(1, 1), qRgb(0, 0, 0));
        EXPECT_EQ(gray.pixel(2, 1), qRgb(255, 255, 255));
    }

    Raster indexed = raster(PixelFormat::Indexed8, {0, 1, 2, 2, 1, 0});
    indexed.palette = {{255, 0, 0}, {0, 255, 0}};  // index 2 lies outside the palette
    const QImage image = toQImage(indexed);
    EXPECT_EQ(image.pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(2, 0), qRgb(0, 0, 0));
}

TEST(RasterImageTest, AnEmptyOrShortRasterGivesNoImage) {
    EXPECT_TRUE(toQImage(Raster{}).isNull());
    EXPECT_TRUE(toQImage(raster(PixelFormat::Rgb8, {1, 2, 3})).isNull());
}

}  // namespace
}  // namespace pixavant
