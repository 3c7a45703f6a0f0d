// Readers against files laid out as other programs write them: BMP header versions and pixel
// layouts, GIF frames on a larger screen, EPS pages, damaged fax TIFFs, 16-bit CMYK. (Real files of
// these kinds, TGA alpha among them, are checked by the conformance test.)

#include <gtest/gtest.h>
#include <tiffio.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <tuple>

#include "ImagingFixtures.h"
#include "MagickFixtures.h"
#include "TiffFixtures.h"
#include "imaging/ErrorDetail.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {
namespace {

using testsupport::BmpLayout;
using testsupport::quadrantPattern;

// Leaves freed heap blocks of many sizes full of 0x40, so that a decoder that hands out memory it
// never wrote shows it (a fresh process would give zeros and hide it).
void dirtyTheHeap() {
    for (size_t size = 64; size <= 512 * 1024; size += size / 4) {
        void* blocks[4];
        for (void*& block : blocks) {
            block = std::malloc(size);
            std::memset(block, 0x40, size);
        }
        for (void* block : blocks)
            std::free(block);
    }
}

class ReaderConformance : public ::testing::Test {
  protected:
    QString path(const QString& name) const { return dir_.filePath(name); }

    static int decode(const QString& file, DecodedImage& image) {
        clearErrorDetail();
        return testing::decode(file, image);
    }

    // The raster as RGB bytes.
    static std::vector<uint8_t> rgb(const Raster& r) {
        if (r.channels() == 3)
            return r.pixels;
        std::vector<uint8_t> out;
        for (uint8_t v : r.pixels)
            out.insert(out.end(), {v, v, v});
        return out;
    }

    QTemporaryDir dir_;
};

TEST_F(ReaderConformance, BmpHeaderVersionsAndPixelLayouts) {
    const int w = 16, h = 12;
    const int bmp = format::kBmp;
    struct Case {
        const char* name;
        BmpLayout layout;
        int code;
        bool white;  // the header declares alpha and every pixel is transparent
    };
    // Layouts the BMP suite of the conformance check does not have.
    const Case cases[] = {
        // ImageMagick's kind: a V5 header whose (inapplicable) masks name an alpha channel.
        {"v5-24-alpha-mask", {124, 24, 0, {0xff0000, 0xff00, 0xff, 0xff000000}}, bmp, false},
        {"os2v2-24", {64, 24}, format::kOs2BmpV2, false},
        {"rgb32-unused-set", {40, 32, 0, {}, 0x80}, bmp, false},
        {"rgba32-h56-transparent", {56, 32, 3, {0xff0000, 0xff00, 0xff, 0xff000000}, 0}, bmp, true},
        {"rgb101010", {40, 32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff, 0}}, bmp, false},
    };
    std::vector<uint8_t> expected = quadrantPattern(w, h);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString(c.name) + ".bmp");
        ASSERT_TRUE(testsupport::writeBytes(file, testsupport::bmpFile(w, h, c.layout)));
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(file, info), 1);
        EXPECT_EQ(info.Format, c.code);
        EXPECT_EQ(info.BitsPerPixel, c.layout.bits);
        dirtyTheHeap();
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess) << errorDetail().toStdString();
        ASSERT_EQ(image.raster.width, w);
        ASSERT_EQ(image.raster.height, h);
        const std::vector<uint8_t> pixels = rgb(image.raster);
        if (c.white)
            EXPECT_TRUE(
                std::all_of(pixels.begin(), pixels.end(), [](uint8_t v) { return v == 255; }));
        else
            EXPECT_EQ(pixels, expected);
    }
}

TEST_F(ReaderConformance, GifFrameLiesOnItsLogicalScreen) {
    const int fw = 6, fh = 4;
    const QString frame = path("frame.gif");
    ASSERT_TRUE(
        testsupport::writeMagickImage(frame, fw, fh, quadrantPattern(fw, fh), {.coder = "GIF"}));
    const QByteArray gif = testing::readBytes(frame);
    struct Case {
        int screenW, screenH, left, top;
        int width, height;  // of the image
    } cases[] = {
        {16, 10, 3, 2, 16, 10},  // inside the screen
        {4, 4, 2, 1, 8, 5},      // beyond it: the screen grows to hold the frame
        {0, 0, 1, 1, 7, 5},      // a screen of no size
    };
    const std::vector<uint8_t> pattern = quadrantPattern(fw, fh);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.screenW);
        const QString file = path("screen.gif");
        const QByteArray placed =
            testsupport::gifOnScreen(gif, c.screenW, c.screenH, c.left, c.top);
        ASSERT_FALSE(placed.isEmpty());
        ASSERT_TRUE(testsupport::writeBytes(file, placed));
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(file, info), 1);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess);
        ASSERT_EQ(image.raster.width, c.width);
        ASSERT_EQ(image.raster.height, c.height);
        // Outside the frame: transparent, shown over white.
        std::vector<uint8_t> expected(size_t(c.width) * size_t(c.height) * 3, 255);
        for (int y = 0; y < fh; ++y)
            std::copy_n(&pattern[size_t(y) * fw * 3], fw * 3,
                        &expected[(size_t(y + c.top) * size_t(c.width) + size_t(c.left)) * 3]);
        EXPECT_EQ(rgb(image.raster), expected);
    }
}

// PostScript through Ghostscript: the page is the bounding box, in whole pixels covering it, with
// the drawing at its lower left corner (not off the page), ended with or without showpage; the
// first page where there is no box; a DOS binary header is skipped.
TEST_F(ReaderConformance, PostScriptPageIsItsBoxOrTheFirstPage) {
    if (QStandardPaths::findExecutable("gs").isEmpty())
        GTEST_SKIP() << "Ghostscript is not installed";
    const QByteArray halves =
        "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 80 50\n%%Pages: 1\n%%EndComments\n"
        "0 0 0 setrgbcolor 0 0 40 50 rectfill\n1 0 0 setrgbcolor 40 0 40 50 rectfill\n"
        "showpage\n%%EOF\n";
    QByteArray dos("\xc5\xd0\xd3\xc6", 4);
    testing::putLe32(dos, 30);
    testing::putLe32(dos, uint32_t(halves.size()));
    dos += QByteArray(16, '\0') + "\xff\xff";  // no checksum
    using Rgb = std::array<int, 3>;
    const Rgb black{0, 0, 0}, red{255, 0, 0}, blue{0, 0, 255}, white{255, 255, 255};
    const struct {
        const char* name;
        QByteArray text;
        int width, height;
        std::vector<std::tuple<int, int, Rgb>> pixels;
    } cases[] = {
        {"eps", halves, 80, 50, {{10, 25, black}, {70, 25, red}}},
        {"dos binary header", dos + halves, 80, 50, {{10, 25, black}, {70, 25, red}}},
        {"not EPSF, no showpage",
         "%!PS-Adobe-2.0\n%%BoundingBox: 10 20 50 40\n0 0 1 setrgbcolor 10 20 20 20 rectfill\n",
         40,
         20,
         {{1, 18, blue}}},
        {"fractional box",
         "%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 30.4 20.6\n0 setgray 0 0 10 10 rectfill "
         "showpage\n",
         31,
         21,
         {{1, 19, black}}},
        {"no box, two pages",
         "%!PS\n<< /PageSize [200 100] >> setpagedevice\n0 0 1 setrgbcolor 0 0 50 50 rectfill "
         "showpage\n1 0 0 setrgbcolor 0 0 200 100 rectfill showpage\n",
         200,
         100,
         {{10, 90, blue}, {150, 10, white}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path("page.eps");
        ASSERT_TRUE(testsupport::writeBytes(file, c.text));
        FileInfoRecord info;
        ASSERT_EQ(readFileInfo(file, info), 1);
        EXPECT_EQ(info.Format, format::kEps);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess) << errorDetail().toStdString();
        ASSERT_EQ(image.raster.width, c.width);
        ASSERT_EQ(image.raster.height, c.height);
        const std::vector<uint8_t> pixels = rgb(image.raster);
        for (const auto& [x, y, want] : c.pixels)
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(pixels[(size_t(y) * size_t(c.width) + size_t(x)) * 3 + size_t(k)],
                            want[size_t(k)], 8)
                    << x << "," << y;
    }
}

TEST_F(ReaderConformance, DamagedFaxDataFailsAsDamaged) {
    testing::TiffFixture fixture;
    fixture.width = 64;
    fixture.height = 64;
    fixture.bitsPerSample = 1;
    fixture.photometric = PHOTOMETRIC_MINISWHITE;
    fixture.compression = COMPRESSION_CCITTFAX4;
    fixture.data.resize(8 * 64);
    for (size_t i = 0; i < fixture.data.size(); ++i)
        fixture.data[i] = uint8_t((i * 37) ^ (i >> 3));
    const QString good = path("good.tif");
    ASSERT_TRUE(testing::writeTiffFixture(good, fixture));
    QFile file(good);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArray bytes = file.readAll();
    file.close();
    // The strip follows the 8-byte header: garble its middle.
    for (qsizetype i = 8 + 40; i < 8 + 80 && i < bytes.size(); ++i)
        bytes[i] = char(bytes[i] ^ 0xa5);
    const QString bad = path("bad.tif");
    ASSERT_TRUE(testsupport::writeBytes(bad, bytes));

    DecodedImage image;
    ASSERT_EQ(decode(good, image), kSuccess);
    EXPECT_EQ(decode(bad, image), kErrCorrupt);
    EXPECT_TRUE(errorDetail().contains("Fax4Decode")) << errorDetail().toStdString();
}

TEST_F(ReaderConformance, SixteenBitCmykTiff) {
    enum Layout { kStrips, kTiles, kPlanes };
    for (const Layout layout : {kStrips, kTiles, kPlanes}) {
        SCOPED_TRACE(int(layout));
        testing::TiffFixture f;
        f.width = 16;
        f.height = 16;
        f.bitsPerSample = 16;
        f.samplesPerPixel = 4;
        f.photometric = PHOTOMETRIC_SEPARATED;
        f.compression = COMPRESSION_LZW;
        f.rowsPerStrip = 5;
        if (layout == kTiles)
            f.tileWidth = f.tileHeight = 16;
        if (layout == kPlanes)
            f.planar = PLANARCONFIG_SEPARATE;
        const int pixels = 16 * 16;
        std::vector<uint16_t> samples(size_t(pixels) * 4);
        std::vector<uint8_t> expected;
        for (int i = 0; i < pixels; ++i) {
            const uint16_t ink[4] = {uint16_t(i * 257), uint16_t(65535 - i * 257), 0,
                                     uint16_t((i % 4) * 16384)};
            for (size_t s = 0; s < 4; ++s)  // pixel by pixel, or plane after plane
                samples[layout == kPlanes ? s * size_t(pixels) + size_t(i) : size_t(i) * 4 + s] =
                    ink[s];
            const unsigned k8 = 255u - (ink[3] + 128u) / 257u;
            for (size_t s = 0; s < 3; ++s)
                expected.push_back(uint8_t(k8 * (255u - (ink[s] + 128u) / 257u) / 255u));
        }
        f.data.resize(samples.size() * 2);
        std::memcpy(f.data.data(), samples.data(), f.data.size());
        const QString file = path(QStringLiteral("cmyk16-%1.tif").arg(int(layout)));
        ASSERT_TRUE(testing::writeTiffFixture(file, f));
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess) << errorDetail().toStdString();
        EXPECT_EQ(image.raster.pixels, expected);
    }
}

TEST_F(ReaderConformance, TileSizeOverTheAllocationLimitIsRefused) {
    // A 16 x 16 image stored in one tile that claims 65536 x 65536 pixels of 4 x 16 bits: 32 GiB.
    testing::TiffFixture f;
    f.width = f.height = 16;
    f.data.assign(16 * 16, 0);
    f.tileWidth = f.tileHeight = 16;
    const QString file = path("tile.tif");
    ASSERT_TRUE(testing::writeTiffFixture(file, f));
    TIFF* tif = TIFFOpen(QFile::encodeName(file).constData(), "r+");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 65536u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 65536u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFRewriteDirectory(tif);
    TIFFClose(tif);
    DecodedImage image;
    const int status = decode(file, image);
    EXPECT_TRUE(status == kErrNoMemory || status == kErrCorrupt) << status;
}

TEST_F(ReaderConformance, TiffCutShortWhileReadFailsCleanly) {
    testing::TiffFixture f;
    f.width = f.height = 512;
    f.rowsPerStrip = 1;
    f.data.assign(512 * 512, 128);
    const QString file = path("cut.tif");
    ASSERT_TRUE(testing::writeTiffFixture(file, f));
    // Another program cuts the file down to its first rows while it is being decoded (a mapped
    // file would end the process with SIGBUS here).
    Progress progress([&](int percent) {
        if (percent >= 10)
            QFile::resize(file, 8 + 512 * 20);
        return true;
    });
    DecodedImage image;
    EXPECT_EQ(testsupport::decodeFile(file, image, progress), kErrCorrupt);
}

}  // namespace
}  // namespace pixavant::imaging
