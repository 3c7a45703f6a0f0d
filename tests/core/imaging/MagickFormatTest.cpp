
#include <cstring>

#include "ImagingFixtures.h"
#include "imaging/MagickRuntime.h"

namespace pixavant::imaging {
namespace {

using testing::decode;
using testsupport::MagickWriteOptions;
using testsupport::quadrantPattern;
using testsupport::writeBytes;
using testsupport::writeMagickImage;

using testing::colourNear;
using testing::rgbAt;
using Rgb = std::array<int, 3>;

class MagickFormatTest : public testing::ImagingTest {
  protected:
    // Writes the quadrant pattern and checks what the information and a read give back.
    void roundTrip(const QString& name, const MagickWriteOptions& options, int expectedCode,
                   int expectedBits, const QString& expectedCompression) {
        SCOPED_TRACE(name.toStdString());
        const QString file = path(name);
        ASSERT_TRUE(writeMagickImage(file, 40, 30, quadrantPattern(40, 30), options));
        const imaging::FileInfoRecord i = testing::infoOf(file);
        EXPECT_EQ(std::tuple(i.Format, i.Width, i.Height, i.BitsPerPixel, i.Compression),
                  std::tuple(expectedCode, 40, 30, expectedBits, expectedCompression));
        EXPECT_EQ(i.SizeDisk, QFileInfo(file).size());
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess);
        const Raster& r = image.raster;
        ASSERT_EQ(std::tuple(r.width, r.height, r.format), std::tuple(40, 30, PixelFormat::Rgb8));
        EXPECT_TRUE(colourNear(rgbAt(r, 2, 2), {255, 0, 0}));
        EXPECT_TRUE(colourNear(rgbAt(r, 37, 2), {0, 255, 0}));
        EXPECT_TRUE(colourNear(rgbAt(r, 2, 27), {0, 0, 255}));
        EXPECT_TRUE(colourNear(rgbAt(r, 37, 27), {255, 255, 255}));
    }
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

// Files no writer here makes: an icon and a cursor, red above blue; a PhotoCD whose base image is
// 768 x 512 with GraphicsMagick's small image at its centre.
TEST_F(MagickFormatTest, IconsAndPhotoCdGiveTheirImage) {
    write("a.ico", testsupport::iconFile(1));
    write("a.cur", testsupport::iconFile(2));
    ASSERT_TRUE(writeMagickImage(path("a.pcd"), 64, 48, quadrantPattern(64, 48), {.coder = "PCD"}));
    const struct {
        const char* name;
        int code, width, height;
        std::vector<std::tuple<int, int, Rgb>> pixels;
        int tolerance;
    } cases[] = {
        {"a.ico", format::kIcon, 4, 4, {{1, 0, {255, 0, 0}}, {1, 3, {0, 0, 255}}}, 8},
        {"a.cur", format::kCursor, 4, 4, {{1, 0, {255, 0, 0}}, {1, 3, {0, 0, 255}}}, 8},
        {"a.pcd",
         format::kPhotoCd,
         768,
         512,
         {{360, 240, {255, 0, 0}}, {360, 272, {0, 0, 255}}},
         48},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const imaging::FileInfoRecord info = testing::infoOf(path(c.name));
        EXPECT_EQ(std::tuple(info.Format, info.Width, info.Height),
                  std::tuple(c.code, c.width, c.height));
        DecodedImage image;
        ASSERT_EQ(decode(path(c.name), image), kSuccess);
        ASSERT_EQ(std::pair(image.raster.width, image.raster.height), std::pair(c.width, c.height));
        for (const auto& [x, y, colour] : c.pixels)
            EXPECT_TRUE(colourNear(rgbAt(image.raster, x, y), colour, c.tolerance))
                << x << "," << y;
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
    EXPECT_EQ(testing::toBytes(image.meta.iccProfile), icc);
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
    const imaging::FileInfoRecord info = testing::infoOf(gray);
    EXPECT_NEAR(info.XResolution, 300, 1);

    const QString bmp = path("dpi.bmp");
    ASSERT_TRUE(writeMagickImage(bmp, 8, 8, quadrantPattern(8, 8), {.coder = "BMP3", .dpi = 150}));
    EXPECT_EQ(testing::infoOf(bmp).XResolution, 150);
    ASSERT_EQ(decode(bmp, image), kSuccess);
    EXPECT_NEAR(image.meta.xDpi, 150, 1);

    // Transparent pixels come out white.
    const QString alpha = path("alpha.png");
    ASSERT_TRUE(
        writeMagickImage(alpha, 40, 30, quadrantPattern(40, 30), {.coder = "PNG", .alpha = true}));
    ASSERT_EQ(decode(alpha, image), kSuccess);
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 2, 2), {255, 0, 0}));
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 37, 2), {255, 255, 255}));
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 37, 27), {255, 255, 255}));
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
