
#include <cmath>
#include <functional>
#include <set>
#include <thread>

#include "ImagingFixtures.h"

namespace pixavant::imaging {
namespace {

using testing::makeRaster;
using testing::rgbAt;

Raster grayField(int width, int height, uint8_t level) {
    return makeRaster(width, height, PixelFormat::Gray8, level);
}

TEST(PixelOpsDepth, DitherGivesOnlyBlackAndWhiteAndKeepsTheMeanLevel) {
    Raster red = makeRaster(32, 32, PixelFormat::Rgb8);
    for (size_t i = 0; i < red.pixels.size(); i += 3)
        red.pixels[i] = 255;
    const std::pair<Raster, double> cases[] = {
        {grayField(64, 64, 32), 32},
        {grayField(64, 64, 128), 128},
        {grayField(64, 64, 200), 200},
        {red, 76},  // colour goes through its luma
    };
    for (const auto& [source, level] : cases) {
        Raster out;
        ASSERT_EQ(convertDepth(source, 1, out), kSuccess);
        EXPECT_EQ(out.format, PixelFormat::Bilevel);
        EXPECT_TRUE(std::all_of(out.pixels.begin(), out.pixels.end(),
                                [](uint8_t v) { return v == 0 || v == 255; }));
        const auto black = std::count(out.pixels.begin(), out.pixels.end(), 0);
        EXPECT_NEAR(double(black) / double(out.pixels.size()), 1.0 - level / 255.0, 0.04) << level;
    }
}

// At 8 bits a few colours keep their exact values; a photo gets an optimised palette close to it.
TEST(PixelOpsDepth, EightBitsIsAPaletteExactForFewColoursAndCloseForPhotos) {
    Raster few = makeRaster(9, 5, PixelFormat::Rgb8);
    const std::array<uint8_t, 9> colours{255, 0, 0, 12, 200, 77, 1, 2, 3};
    for (size_t i = 0; i < few.pixels.size(); ++i)
        few.pixels[i] = colours[(i / 3 + i / 27) % 3 * 3 + i % 3];
    for (const auto& [source, paletteSize, meanError] :
         {std::tuple{few, 3u, 0.0}, std::tuple{testing::makePhotoLike(96, 64), 256u, 8.0}}) {
        Raster out;
        ASSERT_EQ(convertDepth(source, 8, out), kSuccess);
        ASSERT_EQ(out.format, PixelFormat::Indexed8);
        EXPECT_LE(out.palette.size(), paletteSize);
        EXPECT_GT(out.palette.size(), paletteSize / 4);
        double error = 0;
        for (int y = 0; y < source.height; ++y)
            for (int x = 0; x < source.width; ++x) {
                ASSERT_LT(out.row(y)[x], out.palette.size());
                const auto a = rgbAt(source, x, y), b = rgbAt(out, x, y);
                for (size_t c = 0; c < 3; ++c)
                    error += std::abs(int(a[c]) - int(b[c]));
            }
        EXPECT_LE(error / (source.width * source.height * 3.0), meanError);
    }
}

// Conversions that lose nothing: gray stays gray at 8 bits, palette and gray expand at 24, depth 0
// keeps the image as it is; other depths and no image are refused.
TEST(PixelOpsDepth, LosslessConversionsKeepEveryValueAndOtherDepthsAreRefused) {
    Raster bilevel = makeRaster(4, 4, PixelFormat::Bilevel);
    bilevel.pixels[5] = 255;
    Raster indexed = makeRaster(2, 1, PixelFormat::Indexed8);
    indexed.palette = {{10, 20, 30}, {200, 100, 0}};
    indexed.pixels = {1, 0};
    const struct {
        Raster source;
        int depth;
        int status;
        PixelFormat format;
        std::vector<uint8_t> pixels;
    } cases[] = {
        {grayField(4, 4, 77), 8, kSuccess, PixelFormat::Gray8, grayField(4, 4, 77).pixels},
        {bilevel, 8, kSuccess, PixelFormat::Gray8, bilevel.pixels},
        {indexed, 24, kSuccess, PixelFormat::Rgb8, {200, 100, 0, 10, 20, 30}},
        {grayField(1, 1, 9), 24, kSuccess, PixelFormat::Rgb8, {9, 9, 9}},
        {indexed, 0, kSuccess, PixelFormat::Indexed8, {1, 0}},
        {Raster{}, 8, kErrNoImage, {}, {}},
        {indexed, -1, kErrInvalidArgument, {}, {}},
        {indexed, 2, kErrInvalidArgument, {}, {}},
        {indexed, 4, kErrInvalidArgument, {}, {}},
        {indexed, 12, kErrInvalidArgument, {}, {}},
        {indexed, 32, kErrInvalidArgument, {}, {}},
    };
    for (const auto& c : cases) {
        Raster out;
        ASSERT_EQ(convertDepth(c.source, c.depth, out), c.status) << c.depth;
        if (c.status == kSuccess) {
            EXPECT_EQ(std::tie(out.format, out.pixels), std::tie(c.format, c.pixels)) << c.depth;
        }
    }
}

TEST(PixelOpsDepth, SixteenBitsGivesThirtyTwoLevelsPerChannel) {
    Raster ramp = makeRaster(256, 1, PixelFormat::Rgb8);
    for (size_t i = 0; i < ramp.pixels.size(); ++i)
        ramp.pixels[i] = uint8_t(i / 3);
    Raster out;
    ASSERT_EQ(convertDepth(ramp, 16, out), kSuccess);
    EXPECT_EQ(std::tuple(out.format, out.significantBits), std::tuple(PixelFormat::Rgb8, 5));
    const std::set<uint8_t> levels(out.pixels.begin(), out.pixels.end());
    EXPECT_EQ(std::tuple(levels.size(), *levels.begin(), *levels.rbegin()),
              std::tuple(32u, 0, 255));
    for (size_t i = 0; i < out.pixels.size(); ++i)
        EXPECT_LE(std::abs(int(out.pixels[i]) - int(i / 3)), 4);
}

TEST(PixelOpsGray, LumaIsRec601Rounded) {
    Raster r = makeRaster(4, 1, PixelFormat::Rgb8);
    r.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 100, 150, 200};
    ASSERT_EQ(convertToGray(r), kSuccess);
    EXPECT_EQ(r.format, PixelFormat::Gray8);
    // 0.299 * 255 = 76.2, 0.587 * 255 = 149.7, 0.114 * 255 = 29.1, 29.9 + 88.05 + 22.8 = 140.75
    EXPECT_EQ(r.pixels, (std::vector<uint8_t>{76, 150, 29, 141}));
}

// Orientation of a 3 x 2 image with pixel values 1..6 (rows: 1 2 3 / 4 5 6).
TEST(PixelOpsOrientation, EveryExifOrientation) {
    struct Case {
        int orientation;
        int width, height;
        std::vector<uint8_t> pixels;
    };
    const Case cases[] = {
        {1, 3, 2, {1, 2, 3, 4, 5, 6}}, {2, 3, 2, {3, 2, 1, 6, 5, 4}}, {3, 3, 2, {6, 5, 4, 3, 2, 1}},
        {4, 3, 2, {4, 5, 6, 1, 2, 3}}, {5, 2, 3, {1, 4, 2, 5, 3, 6}}, {6, 2, 3, {4, 1, 5, 2, 6, 3}},
        {7, 2, 3, {6, 3, 5, 2, 4, 1}}, {8, 2, 3, {3, 6, 2, 5, 1, 4}}, {0, 3, 2, {1, 2, 3, 4, 5, 6}},
        {9, 3, 2, {1, 2, 3, 4, 5, 6}},
    };
    for (const Case& c : cases) {
        Raster r = makeRaster(3, 2, PixelFormat::Gray8);
        r.pixels = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ(applyOrientation(r, c.orientation), kSuccess);
        EXPECT_EQ(std::tie(r.width, r.height, r.pixels), std::tie(c.width, c.height, c.pixels))
            << c.orientation;
    }
}

// Any size, each format (palette as colour); a failure leaves the raster as it was.
TEST(PixelOpsResample, SizesAndFormats) {
    Raster gray = grayField(40, 30, 100);
    ASSERT_EQ(resample(gray, 17, 61), kSuccess);
    EXPECT_EQ(std::tuple(gray.format, gray.width, gray.height, gray.pixels.size()),
              std::tuple(PixelFormat::Gray8, 17, 61, 17u * 61u));
    EXPECT_TRUE(std::all_of(gray.pixels.begin(), gray.pixels.end(),
                            [](uint8_t v) { return std::abs(v - 100) <= 1; }));
    const Raster photo = testing::makePhotoLike(50, 40);
    Raster colour = photo;
    ASSERT_EQ(resample(colour, 100, 80), kSuccess);
    EXPECT_EQ(std::tuple(colour.format, colour.pixels.size()),
              std::tuple(PixelFormat::Rgb8, 100u * 80u * 3u));
    // Corner to corner: nothing shifted.
    EXPECT_TRUE(testing::colourNear(rgbAt(colour, 99, 79), rgbAt(photo, 49, 39), 16));
    EXPECT_TRUE(testing::colourNear(rgbAt(colour, 0, 0), rgbAt(photo, 0, 0), 16));
    Raster indexed = makeRaster(4, 4, PixelFormat::Indexed8);
    indexed.palette = {{0, 0, 255}};
    ASSERT_EQ(resample(indexed, 8, 8), kSuccess);
    EXPECT_EQ(indexed.format, PixelFormat::Rgb8);
    EXPECT_EQ(rgbAt(indexed, 3, 3), (std::array<int, 3>{0, 0, 255}));

    EXPECT_EQ(resample(gray, 0, 5), kErrInvalidArgument);
    EXPECT_EQ(resample(gray, 1 << 15, 1 << 15), kErrNoMemory);
    EXPECT_EQ(gray.width, 17);
    Raster empty;
    EXPECT_EQ(resample(empty, 5, 5), kErrNoImage);
}

// Every long conversion reports rising progress, only ever on the caller's thread (the resize
// runs GraphicsMagick's threads), and stops with nothing changed when the listener says so.
TEST(PixelOpsProgress, LongConversionsReportAndStopWhenAsked) {
    const Raster photo = testing::makePhotoLike(300, 200);
    Raster indexed = makeRaster(300, 200, PixelFormat::Indexed8);
    indexed.palette = {{0, 0, 0}, {255, 0, 0}};
    struct Case {
        const char* name;
        std::function<int(Progress&)> run;
    };
    Raster out;
    Raster resized = photo;
    const Case cases[] = {
        {"bilevel", [&](Progress& p) { return convertDepth(photo, 1, out, &p); }},
        {"palette", [&](Progress& p) { return convertDepth(photo, 8, out, &p); }},
        {"16-bit", [&](Progress& p) { return convertDepth(photo, 16, out, &p); }},
        {"24-bit", [&](Progress& p) { return convertDepth(indexed, 24, out, &p); }},
        {"resample", [&](Progress& p) { return resample(resized, 900, 600, &p); }},
    };
    const std::thread::id caller = std::this_thread::get_id();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> seen;
        bool elsewhere = false;
        Progress all([&](int percent) {
            seen.push_back(percent);
            elsewhere = elsewhere || std::this_thread::get_id() != caller;
            return true;
        });
        ASSERT_EQ(c.run(all), kSuccess) << c.name;
        testing::expectRisingProgress(seen);
        EXPECT_GE(seen.back(), 90) << c.name;
        EXPECT_FALSE(elsewhere) << c.name;

        resized = photo;
        out = Raster{};
        Progress stop([&](int) { return false; });
        EXPECT_EQ(c.run(stop), kErrCancelled) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
        EXPECT_EQ(resized.width, photo.width) << c.name;
        EXPECT_EQ(resized.pixels, photo.pixels) << c.name;
    }
}

// A report is passed on when it rises, clamped to 0..100; a part maps its 0..100 into its share
// of the whole; a listener's "stop" cancels the part and the whole.
TEST(ProgressTest, ReportsRiseWithinBoundsAndPartsMapIntoTheirShare) {
    std::vector<int> seen;
    Progress whole([&](int percent) {
        seen.push_back(percent);
        return percent < 90;
    });
    EXPECT_TRUE(whole.report(-5));
    EXPECT_TRUE(whole.report(30));
    Progress part = whole.part(40, 80);
    EXPECT_TRUE(part.report(50));
    EXPECT_TRUE(part.report(250LL, 100LL));
    EXPECT_FALSE(whole.report(999LL, 1000LL));
    EXPECT_EQ(seen, (std::vector<int>{0, 30, 60, 80, 99}));
    EXPECT_TRUE(whole.cancelled());
    EXPECT_FALSE(whole.part(0, 10).report(5));
}

}  // namespace
}  // namespace pixavant::imaging
