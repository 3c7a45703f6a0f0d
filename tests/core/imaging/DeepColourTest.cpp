#include <cstring>

#include "ImagingFixtures.h"
#include "imaging/SampleWidth.h"

namespace pixavant::imaging {
namespace {

// A 16-bit raster whose low bytes carry information (no sample is a multiple of 257).
Raster deepPattern(PixelFormat format, int width = 45, int height = 31) {
    Raster raster = testing::makeRaster(width, height, format);
    for (int y = 0; y < height; ++y)
        for (size_t i = 0; i < size_t(width * raster.channels()); ++i)
            raster.row16(y)[i] = uint16_t((i * 1031 + size_t(y) * 6007 + 3) % 65521);
    return raster;
}

class DeepColourTest : public testing::ImagingTest {
  protected:
    // A 16-bit TIFF master of the raster, as a scanner or a raw converter writes one.
    QString master(const Raster& raster) {
        const QString file = path("master.tif");
        Progress progress;
        EXPECT_EQ(
            makeTiffWriter()->write(file, raster, {}, SaveRequest{format::kTiff, 0, {}}, progress),
            kSuccess);
        return file;
    }
};

// Samples of one width scaled to another go to the nearest level: the ends stay the ends. Both the
// readers' scaling (scaleSample) and libheif's samples (rescaleSample) round so.
TEST(ScaleSample, RoundsToTheNearestLevelOfTheOtherWidth) {
    const std::tuple<uint32_t, int, int, uint32_t> cases[] = {
        {1023, 10, 16, 65535}, {512, 10, 16, 32800},  // 32799.53
        {4095, 12, 8, 255},    {2048, 12, 8, 128},    // 127.56
        {2047, 12, 8, 127},    {512, 10, 8, 128},      {2, 10, 8, 0},
        {3, 10, 8, 1},         {0, 10, 8, 0},          {0x80000000u, 32, 16, 32768},
        {255, 8, 16, 65535},   {65535, 16, 16, 65535}, {65535, 16, 8, 255},
        {1, 1, 16, 65535},
    };
    for (const auto& [value, from, to, expected] : cases) {
        EXPECT_EQ(scaleSample(value, from, to), expected) << value << " of " << from << " bits";
        EXPECT_EQ(rescaleSample(value, from, to), expected) << value << " of " << from << " bits";
    }
    // libheif's samples are clamped: a 10-bit sample over 1023 is white.
    EXPECT_EQ(rescaleSample(2000, 10, 8), 255u);
}

// Reduced to 8 bits, each sample goes to the nearest 8-bit level: v x 255 / 65535, rounded.
TEST(ReduceToEightBit, TakesTheNearestLevel) {
    Raster raster = testing::makeRaster(6, 1, PixelFormat::Gray16);
    const uint16_t levels[6] = {0, 128, 129, 32767, 65406, 65535};
    std::memcpy(raster.pixels.data(), levels, sizeof levels);
    Raster eightBit;
    ASSERT_EQ(reduceToEightBit(raster, eightBit), kSuccess);
    EXPECT_EQ(eightBit.format, PixelFormat::Gray8);
    EXPECT_EQ(eightBit.pixels, std::vector<uint8_t>({0, 0, 1, 127, 254, 255}));
}

// At 48 bits a 16-bit master (written by the TIFF writer, uncompressed) goes into TIFF and PIXAVANT
// lossless bit for bit, stated as 16 bits a sample, which the read back check confirms; at any
// other depth it is written at 8 bits.
TEST_F(DeepColourTest, SixteenBitMastersAreKeptBitForBit) {
    for (PixelFormat format : {PixelFormat::Gray16, PixelFormat::Rgb16}) {
        const Raster raster = deepPattern(format);
        const QString source = master(raster);
        for (int code : {format::kTiffLzw, format::kPixavantLossless}) {
            SCOPED_TRACE(::testing::Message() << "format " << int(format) << " code " << code);
            ImagingControl control;
            control.setVerifySaves(true);
            ASSERT_EQ(control.load(source, kDeepColourBits), kSuccess);
            const QString out = path("out");
            ASSERT_EQ(control.save(out, {int16_t(code), 0, -1}), kSuccess);
            EXPECT_EQ(control.lastVerification().method, VerifyMethod::Identical);
            EXPECT_TRUE(control.lastVerification().passed);
            const imaging::FileInfoRecord info = testing::infoOf(out);
            EXPECT_EQ(info.BitsPerPixel, 16 * raster.channels());
            DecodedImage back;
            ASSERT_EQ(testing::decodeDeep(out, back), kSuccess);
            EXPECT_EQ(back.raster.format, format);
            EXPECT_TRUE(back.raster.pixels == raster.pixels);

            ASSERT_EQ(control.load(source, 24), kSuccess);
            ASSERT_EQ(control.save(out, {int16_t(code), 0, -1}), kSuccess);
            ASSERT_EQ(testing::decodeDeep(out, back), kSuccess);
            EXPECT_EQ(back.raster.format, PixelFormat::Rgb8);
        }
    }
}

// 48 bits keeps 8-bit sources at 8 bits (gray stays gray), resizes deep pixels at 16 bits, and
// goes with the 16-bit capable formats only.
TEST_F(DeepColourTest, OtherSourcesResizingAndFormats) {
    ImagingControl control;
    const Raster gray = testing::makeGrayPhoto(40, 30);
    const QString graySource = path("gray.tif");
    Progress progress;
    ASSERT_EQ(
        makeTiffWriter()->write(graySource, gray, {}, SaveRequest{format::kTiff, 0, {}}, progress),
        kSuccess);
    ASSERT_EQ(control.load(graySource, kDeepColourBits), kSuccess);
    ASSERT_EQ(control.save(path("g.tif"), {format::kTiffLzw, 0, 0}), kSuccess);
    DecodedImage back;
    ASSERT_EQ(testing::decodeDeep(path("g.tif"), back), kSuccess);
    EXPECT_EQ(back.raster.format, PixelFormat::Gray8);
    EXPECT_EQ(back.raster.pixels, gray.pixels);

    ASSERT_EQ(control.load(master(deepPattern(PixelFormat::Rgb16)), kDeepColourBits), kSuccess);
    for (int code : {format::kJpeg444, format::kPixavant, format::kTiffG4, format::kPixavant1Bit})
        EXPECT_EQ(control.save(path("refused"), {int16_t(code), 0, 2}), kErrInvalidArgument)
            << code;
    EXPECT_FALSE(QFile::exists(path("refused")));
    // Saved at a depth of its own, the deep image is reduced first.
    ASSERT_EQ(control.save(path("j.jpg"), {format::kJpeg444, 24, 2}), kSuccess);
    EXPECT_EQ(control.displayRaster().format, PixelFormat::Rgb8);

    ASSERT_EQ(control.resize(20, 15), kSuccess);
    ASSERT_EQ(control.save(path("r.tif"), {format::kTiffLzw, 0, 0}), kSuccess);
    ASSERT_EQ(testing::decodeDeep(path("r.tif"), back), kSuccess);
    EXPECT_EQ(std::tuple(back.raster.format, back.raster.width, back.raster.height),
              std::tuple(PixelFormat::Rgb16, 20, 15));
}

}  // namespace
}  // namespace pixavant::imaging
