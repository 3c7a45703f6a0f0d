#include <gtest/gtest.h>
#include <jxl/encode.h>

#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

#include "JpegFixtures.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Verification.h"

namespace pixavant::imaging {
namespace {

class VerificationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        source_ = path(QStringLiteral("source.jpg"));
        ASSERT_TRUE(
            testing::writeBytes(source_, testing::makeJpeg(testing::makePhotoLike(96, 64))));
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    QString source_;
};

Raster gray(int width, int height, uint8_t value) {
    Raster r;
    r.width = width;
    r.height = height;
    r.format = PixelFormat::Gray8;
    r.pixels.assign(size_t(width) * size_t(height), value);
    return r;
}

TEST_F(VerificationTest, EveryFormatReadsBackAsWrittenAtEveryDepth) {
    // Quality factors: JPEG and PIXAVANT lossy at their best, middle and smallest levels.
    const std::pair<int, int> outputs[] = {{format::kTiff, 0},
                                           {format::kTiffLzw, 0},
                                           {format::kTiffG3_1D, 0},
                                           {format::kTiffG3_2D, 0},
                                           {format::kTiffG4, 0},
                                           {format::kPixavant1Bit, 0},
                                           {format::kPixavantLossless, 0},
                                           {format::kJpeg444, 2},
                                           {format::kJpeg444, 122},
                                           {format::kJpeg444, 252},
                                           {format::kPixavant, -1},
                                           {format::kPixavant, -9}};
    for (const auto& [code, quality] : outputs) {
        for (const int depth : {0, 16, 8, 1, -1}) {  // -1: gray
            ImagingControl control;
            control.setVerifySaves(true);
            ASSERT_EQ(control.load(source_, int16_t(std::max(depth, 0)), 0, 1), kSuccess);
            if (depth < 0) {
                ASSERT_EQ(control.convertToGray(), kSuccess);
            }
            ASSERT_EQ(
                control.save(path(QStringLiteral("out")), int16_t(code), 0, int16_t(quality), 0),
                kSuccess)
                << code << " at " << depth << ": " << control.lastVerification().detail;
            const Verification& v = control.lastVerification();
            const bool lossless = isLosslessFormat(code);
            EXPECT_EQ(v.method, lossless ? VerifyMethod::Identical : VerifyMethod::Psnr);
            EXPECT_TRUE(v.passed && (lossless ? std::isinf(v.psnr) : v.psnr >= v.floor))
                << code << "/" << quality << " at " << depth << ": " << v.psnr << " dB";
            // The fax and 1-bit formats dither what is not black and white before writing it.
            const bool blackAndWhiteOnly = lossless && code != format::kTiff &&
                                           code != format::kTiffLzw &&
                                           code != format::kPixavantLossless;
            EXPECT_EQ(control.savedRaster().format == PixelFormat::Bilevel,
                      blackAndWhiteOnly || depth == 1)
                << code;
        }
    }
}

TEST_F(VerificationTest, OutputsThatDoNotReadBackAsWrittenFail) {
    ImagingControl control;
    ASSERT_EQ(control.load(source_, 0, 0, 1), kSuccess);
    const QString tiff = path(QStringLiteral("out.tif"));
    const QString jpeg = path(QStringLiteral("out.jpg"));
    ASSERT_EQ(control.save(tiff, format::kTiffLzw, 0, 0, 0), kSuccess);
    ASSERT_EQ(control.save(jpeg, format::kJpeg444, 0, 252, 0), kSuccess);
    Raster written = control.savedRaster();

    Raster oneSampleOff = written;
    oneSampleOff.pixels[100] ^= 1;
    Raster other = testing::makePhotoLike(96, 64, 7);
    for (uint8_t& v : other.pixels)
        v = uint8_t(255 - v);
    QFile cut(tiff);
    ASSERT_TRUE(cut.open(QIODevice::ReadOnly));
    const QString truncated = path(QStringLiteral("cut.tif"));
    ASSERT_TRUE(testing::writeBytes(truncated, cut.read(cut.size() / 2)));

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
    Raster black = gray(8, 8, 0);
    Raster one = gray(8, 8, 1);
    Raster bilevel = gray(8, 8, 255);
    bilevel.format = PixelFormat::Bilevel;
    Raster white = gray(8, 8, 255);
    Raster palette = gray(8, 8, 1);
    palette.format = PixelFormat::Indexed8;
    palette.palette = {{0, 0, 0}, {10, 200, 30}};
    Raster rgb;
    rgb.width = rgb.height = 8;
    rgb.format = PixelFormat::Rgb8;
    for (int i = 0; i < 64; ++i)
        rgb.pixels.insert(rgb.pixels.end(), {10, 200, 30});
    Raster grayAsRgb = rgb;
    std::fill(grayAsRgb.pixels.begin(), grayAsRgb.pixels.end(), 255);

    EXPECT_TRUE(std::isinf(psnrOf(black, black)));
    EXPECT_NEAR(psnrOf(black, one), 10 * std::log10(255.0 * 255.0), 1e-9);  // MSE 1: 48.13 dB
    EXPECT_TRUE(std::isinf(psnrOf(bilevel, white)));
    EXPECT_TRUE(std::isinf(psnrOf(palette, rgb)));
    EXPECT_TRUE(std::isinf(psnrOf(white, grayAsRgb)));
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

struct EncoderDeleter {
    void operator()(JxlEncoder* encoder) const { JxlEncoderDestroy(encoder); }
};

// A JPEG XL file recompressed losslessly from a JPEG, with its reconstruction data.
QByteArray recompress(const QByteArray& jpeg) {
    std::unique_ptr<JxlEncoder, EncoderDeleter> encoder(JxlEncoderCreate(nullptr));
    JxlEncoderUseContainer(encoder.get(), JXL_TRUE);
    JxlEncoderStoreJPEGMetadata(encoder.get(), JXL_TRUE);
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder.get(), nullptr);
    if (JxlEncoderAddJPEGFrame(settings, reinterpret_cast<const uint8_t*>(jpeg.constData()),
                               size_t(jpeg.size())) != JXL_ENC_SUCCESS)
        return {};
    JxlEncoderCloseInput(encoder.get());
    QByteArray out(1 << 20, '\0');
    uint8_t* next = reinterpret_cast<uint8_t*>(out.data());
    size_t avail = size_t(out.size());
    if (JxlEncoderProcessOutput(encoder.get(), &next, &avail) != JXL_ENC_SUCCESS)
        return {};
    out.resize(out.size() - qsizetype(avail));
    return out;
}

TEST_F(VerificationTest, ARecompressedJpegMustRebuildItsSourceByteForByte) {
    QFile file(source_);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString jxl = path(QStringLiteral("recompressed.jxl"));
    ASSERT_TRUE(testing::writeBytes(jxl, recompress(file.readAll())));
    const Verification good = verifyJpegReconstruction(jxl, source_);
    EXPECT_TRUE(good.passed) << good.detail;
    EXPECT_EQ(good.method, VerifyMethod::JpegReconstruction);

    const QString other = path(QStringLiteral("other.jpg"));
    ASSERT_TRUE(testing::writeBytes(other, testing::makeJpeg(testing::makePhotoLike(96, 64, 3))));
    EXPECT_NE(verifyJpegReconstruction(jxl, other).detail.find("differs"), std::string::npos);

    ImagingControl control;
    ASSERT_EQ(control.load(source_, 0, 0, 1), kSuccess);
    const QString plain = path(QStringLiteral("plain.jxl"));
    ASSERT_EQ(control.save(plain, format::kPixavantLossless, 0, 0, 0), kSuccess);
    const Verification none = verifyJpegReconstruction(plain, source_);
    EXPECT_FALSE(none.passed);
    EXPECT_NE(none.detail.find("no JPEG reconstruction"), std::string::npos) << none.detail;
}

}  // namespace
}  // namespace pixavant::imaging
