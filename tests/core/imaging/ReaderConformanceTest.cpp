// Readers against files laid out as other programs write them: BMP header versions and pixel
// layouts, GIF frames on a larger screen, EPS pages, TIFFs with hostile tiles or cut short while
// read. (Real files of these kinds, TGA alpha among them, are checked by the conformance test.)

#include <tiffio.h>

#include <QStandardPaths>
#include <cstdlib>
#include <cstring>

#include "ImagingFixtures.h"
#include "imaging/ErrorDetail.h"

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

class ReaderConformance : public testing::ImagingTest {
  protected:
    static int decode(const QString& file, DecodedImage& image) {
        clearErrorDetail();
        return testing::decode(file, image);
    }
};

// Layouts the BMP suite of the conformance check does not have.
TEST_F(ReaderConformance, BmpHeaderVersionsAndPixelLayouts) {
    const int w = 16, h = 12;
    const std::array<uint32_t, 4> argb{0xff0000, 0xff00, 0xff, 0xff000000};
    const struct {
        const char* name;
        BmpLayout layout;
        int code;
        bool white;  // the header declares alpha and every pixel is transparent
    } cases[] = {
        // ImageMagick's kind: a V5 header whose (inapplicable) masks name an alpha channel.
        {"v5-24-alpha-mask", {124, 24, 0, argb}, format::kBmp, false},
        {"os2v2-24", {64, 24}, format::kOs2BmpV2, false},
        {"rgb32-unused-set", {40, 32, 0, {}, 0x80}, format::kBmp, false},
        {"rgba32-h56-transparent", {56, 32, 3, argb, 0}, format::kBmp, true},
        {"rgb101010", {40, 32, 3, {0x3ff00000, 0x000ffc00, 0x000003ff, 0}}, format::kBmp, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = path(QString(c.name) + ".bmp");
        ASSERT_TRUE(testsupport::writeBytes(file, testsupport::bmpFile(w, h, c.layout)));
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(std::pair(info.Format, info.BitsPerPixel), std::pair(c.code, c.layout.bits));
        dirtyTheHeap();
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess) << errorDetail().toStdString();
        EXPECT_EQ(testing::rgbSamples(image.raster),
                  c.white ? std::vector<uint8_t>(w * h * 3, 255) : quadrantPattern(w, h));
    }
}

// Outside the frame the screen is transparent, shown over white; a screen too small grows.
TEST_F(ReaderConformance, GifFrameLiesOnItsLogicalScreen) {
    const int fw = 6, fh = 4;
    const QString frame = path("frame.gif");
    const std::vector<uint8_t> pattern = quadrantPattern(fw, fh);
    ASSERT_TRUE(testsupport::writeMagickImage(frame, fw, fh, pattern, {.coder = "GIF"}));
    const QByteArray gif = testing::readBytes(frame);
    const qsizetype descriptor = gif.indexOf(',', 13);  // after the header and colour table
    ASSERT_EQ(gif.mid(descriptor + 1, 8), QByteArray("\0\0\0\0\x06\0\x04\0", 8));
    // Screen width and height, frame left and top; the image's size.
    for (const auto& [sw, sh, left, top, width, height] : std::initializer_list<std::array<int, 6>>{
             {16, 10, 3, 2, 16, 10}, {4, 4, 2, 1, 8, 5}, {0, 0, 1, 1, 7, 5}}) {
        SCOPED_TRACE(sw);
        QByteArray placed = gif;
        for (const auto& [at, v] : std::initializer_list<std::pair<qsizetype, int>>{
                 {6, sw}, {8, sh}, {descriptor + 1, left}, {descriptor + 3, top}}) {
            placed[at] = char(v);
            placed[at + 1] = char(v >> 8);
        }
        const QString file = path("screen.gif");
        ASSERT_TRUE(testsupport::writeBytes(file, placed));
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(std::pair(info.Width, info.Height), std::pair(width, height));
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess);
        std::vector<uint8_t> expected(size_t(width) * size_t(height) * 3, 255);
        for (int y = 0; y < fh; ++y)
            std::copy_n(&pattern[size_t(y) * fw * 3], fw * 3,
                        &expected[(size_t(y + top) * size_t(width) + size_t(left)) * 3]);
        EXPECT_EQ(testing::rgbSamples(image.raster), expected);
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
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(info.Format, format::kEps);
        EXPECT_EQ(info.Width, c.width);
        EXPECT_EQ(info.Height, c.height);
        DecodedImage image;
        ASSERT_EQ(decode(file, image), kSuccess) << errorDetail().toStdString();
        ASSERT_EQ(image.raster.width, c.width);
        ASSERT_EQ(image.raster.height, c.height);
        for (const auto& [x, y, want] : c.pixels)
            EXPECT_TRUE(testing::colourNear(testing::rgbAt(image.raster, x, y), want))
                << x << "," << y;
    }
}

TEST_F(ReaderConformance, TileSizeOverTheAllocationLimitIsRefused) {
    // A 16 x 16 image stored in one tile that claims 65536 x 65536 pixels of 4 x 16 bits: 32 GiB.
    const QString file = path("tile.tif");
    ASSERT_TRUE(testing::writeTiffFixture(
        file, {.tileWidth = 16, .tileHeight = 16, .data = std::vector<uint8_t>(16)}));
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
    const QString file = path("cut.tif");
    ASSERT_TRUE(testing::writeTiffFixture(file, {.width = 512,
                                                 .height = 512,
                                                 .rowsPerStrip = 1,
                                                 .data = std::vector<uint8_t>(512 * 512, 128)}));
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
