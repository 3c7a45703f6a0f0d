#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>

#include "ImagingFixtures.h"
#include "MagickFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MagickRuntime.h"

namespace pixavant::imaging {
namespace {

using testsupport::MagickWriteOptions;
using testsupport::quadrantPattern;
using testsupport::writeBytes;
using testsupport::writeMagickImage;

using Rgb = std::array<int, 3>;

Rgb pixelAt(const Raster& r, int x, int y) {
    const uint8_t* p = r.row(y) + x * r.channels();
    if (r.channels() == 1)
        return {p[0], p[0], p[0]};
    return {p[0], p[1], p[2]};
}

bool near(const Rgb& a, const Rgb& b, int tolerance = 8) {
    for (size_t i = 0; i < 3; ++i)
        if (std::abs(a[i] - b[i]) > tolerance)
            return false;
    return true;
}

class MagickFormatTest : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir_.filePath(name); }

    static int decode(const QString& file, DecodedImage& image) {
        return testing::decode(file, image);
    }

    // Writes the quadrant pattern and checks what the information and a read give back.
    void roundTrip(const QString& name, const MagickWriteOptions& options, int expectedCode,
                   int expectedBits, const QString& expectedCompression) {
        SCOPED_TRACE(name.toStdString());
        const int width = 40, height = 30;
        const QString file = path(name);
        ASSERT_TRUE(writeMagickImage(file, width, height, quadrantPattern(width, height), options));
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(file, info), 1);
        EXPECT_EQ(info.Format, expectedCode);
        EXPECT_EQ(info.Width, width);
        EXPECT_EQ(info.Height, height);
        EXPECT_EQ(info.BitsPerPixel, expectedBits);
        EXPECT_EQ(info.Compression, expectedCompression);
        EXPECT_EQ(info.SizeDisk, QFileInfo(file).size());

        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess);
        ASSERT_EQ(image.raster.width, width);
        ASSERT_EQ(image.raster.height, height);
        ASSERT_EQ(image.raster.format, PixelFormat::Rgb8);
        EXPECT_TRUE(near(pixelAt(image.raster, 2, 2), {255, 0, 0}));
        EXPECT_TRUE(near(pixelAt(image.raster, 37, 2), {0, 255, 0}));
        EXPECT_TRUE(near(pixelAt(image.raster, 2, 27), {0, 0, 255}));
        EXPECT_TRUE(near(pixelAt(image.raster, 37, 27), {255, 255, 255}));
    }

    QTemporaryDir dir_;
};

TEST_F(MagickFormatTest, FormatsWrittenByGraphicsMagickReadBack) {
    roundTrip("a.gif", {.coder = "GIF"}, format::kGif, 2, "LZW");  // a 4-colour palette
    roundTrip("a2.gif", {.coder = "GIF", .manyColours = true}, format::kGif, 6, "LZW");
    roundTrip("b.bmp", {.coder = "BMP3"}, format::kBmp, 24, "Uncompressed");
    roundTrip("c.bmp", {.coder = "BMP3", .palette = true, .rle = true, .manyColours = true},
              format::kBmpRle, 8, "RLE");
    roundTrip("d.bmp", {.coder = "BMP2"}, format::kOs2BmpV1, 24, "Uncompressed");
    roundTrip("e.pcx", {.coder = "PCX", .rle = true}, format::kPcx, 24, "RLE");
    roundTrip("e2.pcx", {.coder = "PCX"}, format::kPcx, 24, "Uncompressed");
    roundTrip("f.tga", {.coder = "TGA"}, format::kTga, 24, "Uncompressed");
    roundTrip("g.pict", {.coder = "PICT"}, format::kPict, 24, "PackBits");
    roundTrip("h.png", {.coder = "PNG"}, format::kPng, 24, "Deflate");
    roundTrip("i.ras", {.coder = "SUN"}, format::kSunRaster, 24, "Uncompressed");
    roundTrip("k.ppm", {.coder = "PPM"}, format::kUnknown, 24, "Uncompressed");
    roundTrip("scan.rle", {.coder = "BMP3", .palette = true, .rle = true, .manyColours = true},
              format::kBmpRle, 8, "RLE");
}

TEST_F(MagickFormatTest, PlaceableMetafileIsRenderedAtItsSize) {
    const QString wmf = path("box.wmf");
    ASSERT_TRUE(writeBytes(wmf, testsupport::placeableMetafile()));
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(wmf, info), 1);
    EXPECT_EQ(info.Format, format::kWmf);
    DecodedImage image;
    ASSERT_EQ(decode(wmf, image), kSuccess);
    EXPECT_EQ(info.Width, image.raster.width);
    EXPECT_EQ(info.Height, image.raster.height);
    EXPECT_EQ(image.raster.width, 72);  // 1 x 0.5 inch at 72 dpi
    EXPECT_EQ(image.raster.height, 36);
    EXPECT_TRUE(near(pixelAt(image.raster, 18, 18), {0, 0, 0}));
}

TEST_F(MagickFormatTest, PhotoCdGivesTheBaseImage) {
    // GraphicsMagick writes a small image centred on the 768 x 512 base image.
    const QString file = path("a.pcd");
    ASSERT_TRUE(writeMagickImage(file, 64, 48, quadrantPattern(64, 48), {.coder = "PCD"}));
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(file, info), 1);
    EXPECT_EQ(info.Format, format::kPhotoCd);
    EXPECT_EQ(info.Width, 768);
    EXPECT_EQ(info.Height, 512);
    DecodedImage image;
    ASSERT_EQ(decode(file, image), kSuccess);
    ASSERT_EQ(image.raster.width, 768);
    ASSERT_EQ(image.raster.height, 512);
    EXPECT_TRUE(near(pixelAt(image.raster, 352 + 8, 232 + 8), {255, 0, 0}, 48));
    EXPECT_TRUE(near(pixelAt(image.raster, 352 + 8, 232 + 40), {0, 0, 255}, 48));
}

TEST_F(MagickFormatTest, IconsAndCursors) {
    for (const int type : {1, 2}) {
        SCOPED_TRACE(type);
        const QString file = path(type == 1 ? "a.ico" : "a.cur");
        ASSERT_TRUE(writeBytes(file, testsupport::iconFile(type)));
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(file, info), 1);
        EXPECT_EQ(info.Format, type == 1 ? format::kIcon : format::kCursor);
        EXPECT_EQ(info.Width, 4);
        EXPECT_EQ(info.Height, 4);
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess);
        EXPECT_TRUE(near(pixelAt(image.raster, 1, 0), {255, 0, 0}));
        EXPECT_TRUE(near(pixelAt(image.raster, 1, 3), {0, 0, 255}));
    }
}

TEST_F(MagickFormatTest, IccProfileIsCarried) {
    // A real RGB profile: the one Ghostscript installs (libpng refuses a bare header).
    QFile profile("/usr/share/color/icc/ghostscript/default_rgb.icc");
    if (!profile.open(QIODevice::ReadOnly))
        GTEST_SKIP() << "no RGB profile on this system";
    const QByteArray icc = profile.readAll();
    const QString png = path("icc.png");
    ASSERT_TRUE(writeMagickImage(png, 8, 8, quadrantPattern(8, 8), {.coder = "PNG", .icc = icc}));
    DecodedImage image;
    ASSERT_EQ(decode(png, image), kSuccess);
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image.meta.iccProfile.data()),
                         qsizetype(image.meta.iccProfile.size())),
              icc);
}

TEST(MagickRuntimeTest, DelegateAndScriptCodersCannotDecode) {
    magick::ensureInitialized();
    for (const char* name : {"PS", "EPS", "EPSF", "PDF", "SVG", "MVG", "MSL", "TXT", "TEXT", "URL",
                             "HTTP", "FTP", "MPEG", "M2V", "MPG", "TILE", "VID", "NEF"}) {
        magick::Exception exception;
        const MagickInfo* info = GetMagickInfo(name, exception.get());
        const bool decodes =
            info != nullptr && std::strcmp(info->name, name) == 0 && info->decoder != nullptr;
        EXPECT_FALSE(decodes) << name;
    }
    // Writing EPS still works (fixtures and other tools use the encoder).
    magick::Exception exception;
    const MagickInfo* eps = GetMagickInfo("EPS", exception.get());
    ASSERT_NE(eps, nullptr);
    EXPECT_NE(eps->encoder, nullptr);
}

TEST_F(MagickFormatTest, GrayAlphaAndResolution) {
    const QString gray = path("gray.png");
    std::vector<uint8_t> ramp(64 * 8 * 3);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t((i / 3) % 64 * 4);
    ASSERT_TRUE(writeMagickImage(gray, 64, 8, ramp, {.coder = "PNG", .gray = true, .dpi = 300}));
    DecodedImage image;
    ASSERT_EQ(decode(gray, image), kSuccess);
    EXPECT_EQ(image.raster.format, PixelFormat::Gray8);
    EXPECT_EQ(image.raster.row(3)[10], 40);
    EXPECT_NEAR(image.meta.xDpi, 300, 1);
    FileInfoRecord info;
    ASSERT_EQ(readFileInfo(gray, info), 1);
    EXPECT_NEAR(info.XResolution, 300, 1);

    const QString bmp = path("dpi.bmp");
    ASSERT_TRUE(writeMagickImage(bmp, 8, 8, quadrantPattern(8, 8), {.coder = "BMP3", .dpi = 150}));
    ASSERT_EQ(readFileInfo(bmp, info), 1);
    EXPECT_EQ(info.XResolution, 150);
    ASSERT_EQ(decode(bmp, image), kSuccess);
    EXPECT_NEAR(image.meta.xDpi, 150, 1);

    // Transparent pixels come out white.
    const QString alpha = path("alpha.png");
    ASSERT_TRUE(
        writeMagickImage(alpha, 40, 30, quadrantPattern(40, 30), {.coder = "PNG", .alpha = true}));
    ASSERT_EQ(decode(alpha, image), kSuccess);
    EXPECT_TRUE(near(pixelAt(image.raster, 2, 2), {255, 0, 0}));
    EXPECT_TRUE(near(pixelAt(image.raster, 37, 2), {255, 255, 255}));
    EXPECT_TRUE(near(pixelAt(image.raster, 37, 27), {255, 255, 255}));
}

TEST_F(MagickFormatTest, CancelFromProgressStopsTheRead) {
    const QString file = path("big.bmp");
    ASSERT_TRUE(writeMagickImage(file, 600, 400, quadrantPattern(600, 400), {.coder = "BMP3"}));
    DecodedImage image;
    Progress progress([](int percent) { return percent < 5; });
    EXPECT_EQ(testsupport::decodeFile(file, image, progress), kErrCancelled);
}

TEST_F(MagickFormatTest, DirectoryNamedLikeAnImageIsNotFound) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir("x.gif"));
    FileInfoBlock block{};
    EXPECT_EQ(L_FileInfo(QFile::encodeName(path("x.gif")).constData(), block.data(), 1),
              kErrFileNotFound);
}

}  // namespace
}  // namespace pixavant::imaging
