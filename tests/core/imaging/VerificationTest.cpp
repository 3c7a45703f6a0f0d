
#include <array>
#include <cmath>

#include "ImagingFixtures.h"
#include "imaging/Verification.h"

namespace pixavant::imaging {
namespace {

class VerificationTest : public testing::ImagingTest {
  protected:
    void SetUp() override {
        ImagingTest::SetUp();
        source_ = write("source.jpg", testing::makeJpeg(testing::makePhotoLike(96, 64)));
    }
    QString source_;
};

Raster gray(int width, int height, uint8_t value) {
    return testing::makeRaster(width, height, PixelFormat::Gray8, value);
}

// Every writer at every depth asked: the file states its format code, size, depth, compression and
// the resolution asked, and reads back as written (the same pixels, or lossy within its floor).
TEST_F(VerificationTest, EveryFormatReadsBackAsWrittenAtEveryDepth) {
    constexpr int kDepths[] = {0, 16, 8, 1, -1};  // -1: made gray
    using Bits = std::array<int, 5>;              // stored, for each depth asked
    const Bits tiff{24, 24, 8, 1, 8}, fax{1, 1, 1, 1, 1}, lossy{24, 24, 24, 8, 8};
    const struct {
        int code;
        int quality;  // JPEG and PIXAVANT lossy at their best, middle and smallest levels
        const char* compression;
        Bits bits;
    } outputs[] = {
        {format::kTiff, 0, "Uncompressed", tiff},
        {format::kTiffLzw, 0, "LZW", tiff},
        {format::kTiffG3_1D, 0, "CCITT G3", fax},
        {format::kTiffG3_2D, 0, "CCITT G3", fax},
        {format::kTiffG4, 0, "CCITT G4", fax},
        {format::kPixavant1Bit, 0, "JPEG XL lossless", fax},
        {format::kPixavantLossless, 0, "JPEG XL lossless", {24, 15, 24, 8, 8}},
        {format::kJpeg444, 2, "JPEG", lossy},
        {format::kJpeg444, 122, "JPEG", lossy},
        {format::kJpeg444, 252, "JPEG", lossy},
        {format::kPixavant, -1, "JPEG XL", lossy},
        {format::kPixavant, -9, "JPEG XL", lossy},
    };
    const QString out = path(QStringLiteral("out"));
    for (const auto& o : outputs) {
        for (size_t d = 0; d < std::size(kDepths); ++d) {
            const int depth = kDepths[d];
            SCOPED_TRACE(::testing::Message() << o.code << "/" << o.quality << " at " << depth);
            ImagingControl control;
            control.setVerifySaves(true);
            ASSERT_EQ(control.load(source_, int16_t(std::max(depth, 0))), kSuccess);
            if (depth < 0) {
                ASSERT_EQ(control.convertToGray(), kSuccess);
            }
            ASSERT_EQ(control.save(out, {int16_t(o.code), 0, int16_t(o.quality), {240, 120}}),
                      kSuccess)
                << control.lastVerification().detail;
            const imaging::FileInfoRecord i = testing::infoOf(out);
            EXPECT_EQ(std::tuple(i.Format, i.Width, i.Height, i.BitsPerPixel, i.Compression,
                                 i.XResolution, i.YResolution),
                      std::tuple(o.code, 96, 64, o.bits[d], QString::fromLatin1(o.compression), 240,
                                 120));

            const Verification& v = control.lastVerification();
            const bool lossless = isLosslessFormat(o.code);
            // The JPEG source, unchanged, is carried over into a lossless PIXAVANT file.
            const bool carried = o.code == format::kPixavantLossless && depth == 0;
            EXPECT_EQ(v.method, carried    ? VerifyMethod::JpegReconstruction
                                : lossless ? VerifyMethod::Identical
                                           : VerifyMethod::Psnr);
            EXPECT_TRUE(v.passed && (lossless ? std::isinf(v.psnr) : v.psnr >= v.floor))
                << v.psnr << " dB";
            // The fax and 1-bit formats dither what is not black and white before writing it.
            EXPECT_EQ(control.savedRaster().format == PixelFormat::Bilevel,
                      o.bits[0] == 1 || depth == 1);
        }
    }
}

TEST_F(VerificationTest, OutputsThatDoNotReadBackAsWrittenFail) {
    ImagingControl control;
    ASSERT_EQ(control.load(source_, 0), kSuccess);
    const QString tiff = path(QStringLiteral("out.tif"));
    const QString jpeg = path(QStringLiteral("out.jpg"));
    ASSERT_EQ(control.save(tiff, {format::kTiffLzw, 0, 0}), kSuccess);
    ASSERT_EQ(control.save(jpeg, {format::kJpeg444, 0, 252}), kSuccess);
    Raster written = control.savedRaster();

    Raster oneSampleOff = written;
    oneSampleOff.pixels[100] ^= 1;
    Raster other = testing::makePhotoLike(96, 64, 7);
    for (uint8_t& v : other.pixels)
        v = uint8_t(255 - v);
    const QByteArray whole = testing::readBytes(tiff);
    const QString truncated = path(QStringLiteral("cut.tif"));
    ASSERT_TRUE(testing::writeBytes(truncated, whole.left(whole.size() / 2)));

    struct Case {
        const char* name;
        QString file;
        const Raster* raster;
        int code;
        const char* detail;
    };
    const Raster smaller = gray(10, 10, 0);
    for (const Case& c :
         {Case{"one sample off", tiff, &oneSampleOff, format::kTiffLzw, "other pixels"},
          Case{"another image", jpeg, &other, format::kJpeg444, "below the level"},
          Case{"cut short", truncated, &written, format::kTiffLzw, "read back"},
          Case{"other size", tiff, &smaller, format::kTiffLzw, "96 x 64"},
          Case{"no image", source_ + QStringLiteral(".none"), &written, format::kTiffLzw,
               "opened"}}) {
        Progress progress;
        Verification v;
        ASSERT_EQ(verifyOutput(c.file, *c.raster, c.code, 252, progress, v), kSuccess) << c.name;
        EXPECT_FALSE(v.passed) << c.name;
        EXPECT_NE(v.detail.find(c.detail), std::string::npos) << c.name << ": " << v.detail;
    }
}

TEST(Psnr, ComparesTheColoursPixelsStandFor) {
    Raster black = gray(8, 8, 0), white = gray(8, 8, 255), bilevel = white, palette = gray(8, 8, 1);
    bilevel.format = PixelFormat::Bilevel;
    palette.format = PixelFormat::Indexed8;
    palette.palette = {{0, 0, 0}, {10, 200, 30}};
    EXPECT_TRUE(std::isinf(psnrOf(black, black)));
    EXPECT_NEAR(psnrOf(black, gray(8, 8, 1)), 10 * std::log10(255.0 * 255.0), 1e-9);  // MSE 1
    EXPECT_TRUE(std::isinf(psnrOf(bilevel, white)));
    EXPECT_TRUE(std::isinf(psnrOf(palette, testing::makeSolid(8, 8, 10, 200, 30))));
    EXPECT_TRUE(std::isinf(psnrOf(white, testing::makeSolid(8, 8, 255, 255, 255))));
    EXPECT_LT(psnrOf(black, gray(8, 7, 0)), 0);
}

TEST(PsnrFloor, EachLevelHasOneAndCoarserLevelsLowerOnes) {
    EXPECT_EQ(psnrFloor(format::kJpeg444, 7), psnrFloor(format::kJpeg444, 12));  // between: coarser
    EXPECT_EQ(psnrFloor(format::kJpeg444, 2), psnrFloor(format::kJpeg444, -50));
    EXPECT_EQ(psnrFloor(format::kJpeg444, 252), psnrFloor(format::kJpeg444, 999));
    for (int quality = 12; quality <= 252; quality += 10)
        EXPECT_LE(psnrFloor(format::kJpeg444, quality), psnrFloor(format::kJpeg444, quality - 10));
    for (int quality = -2; quality >= -9; --quality)
        EXPECT_LE(psnrFloor(format::kPixavant, quality), psnrFloor(format::kPixavant, quality + 1));
    for (const int code : {format::kTiffLzw, format::kTiffG4, format::kPixavantLossless})
        EXPECT_TRUE(isLosslessFormat(code) && std::isinf(psnrFloor(code, 0)));
}

// An unchanged JPEG saved losslessly is carried over, recompressed; the check rebuilds it.
TEST_F(VerificationTest, ARecompressedJpegMustRebuildItsSourceByteForByte) {
    const QString jpeg = path(QStringLiteral("72dpi.jpg"));
    ASSERT_TRUE(testing::writeBytes(
        jpeg, testing::makeJpeg(testing::makePhotoLike(96, 64),
                                {.densityUnit = 1, .xDensity = 72, .yDensity = 72})));
    const QString jxl = path(QStringLiteral("recompressed.jxl"));
    const QString plain = path(QStringLiteral("plain.jxl"));
    ImagingControl control;
    ASSERT_EQ(control.load(jpeg, 24), kSuccess);
    ASSERT_EQ(control.save(jxl, {format::kPixavantLossless, 24, 0, {72, 72}}), kSuccess);
    ASSERT_EQ(control.convertToGray(), kSuccess);  // no longer the JPEG's pixels: encoded afresh
    ASSERT_EQ(control.save(plain, {format::kPixavantLossless, 24, 0, {72, 72}}), kSuccess);

    const Verification good = verifyJpegReconstruction(jxl, jpeg);
    EXPECT_TRUE(good.passed) << good.detail;
    EXPECT_EQ(good.method, VerifyMethod::JpegReconstruction);
    EXPECT_NE(verifyJpegReconstruction(jxl, source_).detail.find("differs"), std::string::npos);
    const Verification none = verifyJpegReconstruction(plain, jpeg);
    EXPECT_FALSE(none.passed);
    EXPECT_NE(none.detail.find("no JPEG reconstruction"), std::string::npos) << none.detail;
}

}  // namespace
}  // namespace pixavant::imaging
