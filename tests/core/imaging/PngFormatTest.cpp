#include <cstring>

#include "ImagingFixtures.h"
#include "PngFixtures.h"
#include "Testdata.h"
#include "imaging/ErrorDetail.h"

namespace pixavant::imaging {
namespace {

using testing::PngBuilder;
constexpr auto bytes = testing::bytesOf;

QByteArray be16s(std::initializer_list<uint16_t> values) {
    QByteArray out;
    for (uint16_t v : values) {
        out += char(v >> 8);
        out += char(v & 0xff);
    }
    return out;
}

class PngTest : public testing::ImagingTest {
  protected:
    int decodeBytes(const QByteArray& png, DecodedImage& image, bool deep = false) {
        const QString file = write("t.png", png);
        return deep ? testing::decodeDeep(file, image) : testing::decode(file, image);
    }
};

// Every colour type: transparent colour keys (RGB, gray, palette) and alpha composited over white,
// 16-bit samples kept, small gray depths expanded.
TEST_F(PngTest, ColourTypesAndTransparency) {
    struct Case {
        const char* name;
        QByteArray png;
        PixelFormat format;
        std::vector<int> samples;  // 8-bit samples, or 16-bit ones of deep rasters
    };
    const Case cases[] = {
        {"rgb with a colour key",
         PngBuilder(3, 1, 8, 2)
             .chunk("tRNS", be16s({10, 20, 30}))
             .image(bytes({10, 20, 30, 10, 20, 31, 0, 0, 0}))
             .finish(),
         PixelFormat::Rgb8,
         {255, 255, 255, 10, 20, 31, 0, 0, 0}},
        {"16-bit rgb with a colour key",
         PngBuilder(2, 1, 16, 2)
             .chunk("tRNS", be16s({1000, 2000, 3000}))
             .image(be16s({1000, 2000, 3000, 1000, 2000, 3001}))
             .finish(),
         PixelFormat::Rgb16,
         {65535, 65535, 65535, 1000, 2000, 3001}},
        {"gray with a colour key",
         PngBuilder(2, 1, 8, 0).chunk("tRNS", be16s({7})).image(bytes({7, 8})).finish(),
         PixelFormat::Gray8,
         {255, 8}},
        {"palette with alpha entries",
         PngBuilder(3, 1, 8, 3)
             .chunk("PLTE", bytes({0, 0, 0, 255, 0, 0, 0, 0, 255}))
             .chunk("tRNS", bytes({0, 128}))
             .image(bytes({0, 1, 2}))
             .finish(),
         PixelFormat::Rgb8,
         {255, 255, 255, 255, 127, 127, 0, 0, 255}},
        {"16-bit gray",
         PngBuilder(3, 1, 16, 0).image(be16s({0, 257, 65534})).finish(),
         PixelFormat::Gray16,
         {0, 257, 65534}},
        {"16-bit gray and alpha",
         PngBuilder(2, 1, 16, 4).image(be16s({0, 0, 0, 32768})).finish(),
         PixelFormat::Gray16,
         {65535, 32767}},
        {"rgba",
         PngBuilder(2, 1, 8, 6).image(bytes({9, 9, 9, 0, 0, 0, 0, 128})).finish(),
         PixelFormat::Rgb8,
         {255, 255, 255, 127, 127, 127}},
        {"2-bit gray",
         PngBuilder(4, 1, 2, 0).image(bytes({0b00011011})).finish(),
         PixelFormat::Gray8,
         {0, 85, 170, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DecodedImage image;
        ASSERT_EQ(decodeBytes(c.png, image, true), kSuccess);
        ASSERT_EQ(image.raster.format, c.format);
        std::vector<int> got;
        if (image.raster.isDeep())
            for (uint16_t v : testing::samples16(image.raster))
                got.push_back(v);
        else
            got.assign(image.raster.pixels.begin(), image.raster.pixels.end());
        EXPECT_EQ(got, c.samples);
    }
}

TEST_F(PngTest, InformationNamesTheFormatDepthAndResolution) {
    const QByteArray png =
        PngBuilder(3, 2, 16, 2)
            .chunk("pHYs", PngBuilder::be32(11811) + PngBuilder::be32(5906) + bytes({1}))
            .image(QByteArray(36, '\x11'))
            .finish();
    const imaging::FileInfoRecord info = testing::infoOf(write("i.png", png));
    EXPECT_EQ(std::tuple(info.Format, info.Width, info.Height, info.BitsPerPixel, info.Compression,
                         info.XResolution, info.YResolution, info.TotalPages),
              std::tuple(format::kPng, 3, 2, 48, QStringLiteral("Deflate"), 300, 150, 1));
}

// The eXIf chunk's orientation turns the pixels, as a JPEG's does; the EXIF block is carried.
TEST_F(PngTest, ExifOrientationIsApplied) {
    const QByteArray rows = bytes({1, 2, 3, 4, 5, 6});  // 3 x 2 gray
    for (const char* where : {"before", "after"}) {
        PngBuilder builder(3, 2, 8, 0);
        if (std::strcmp(where, "before") == 0)
            builder.chunk("eXIf", testing::toBytes(testing::exifWithOrientation(6)));
        builder.image(rows);
        if (std::strcmp(where, "after") == 0)
            builder.chunk("eXIf", testing::toBytes(testing::exifWithOrientation(6)));
        DecodedImage image;
        ASSERT_EQ(decodeBytes(builder.finish(), image), kSuccess) << where;
        // Turned 90 degrees clockwise: 2 x 3, the first column read bottom up.
        EXPECT_EQ(std::tuple(image.raster.width, image.raster.height), std::tuple(2, 3)) << where;
        EXPECT_EQ(image.raster.pixels, std::vector<uint8_t>({4, 1, 5, 2, 6, 3})) << where;
        EXPECT_FALSE(image.meta.embedded.exif.empty()) << where;
    }
}

// An animated PNG gives its default image; the frames after it are skipped.
TEST_F(PngTest, AnimatedPngGivesItsDefaultImage) {
    QByteArray frame = PngBuilder::be32(0) + PngBuilder::be32(2) + PngBuilder::be32(1) +
                       PngBuilder::be32(0) + PngBuilder::be32(0) + bytes({0, 1, 0, 1, 0, 0});
    QByteArray second = PngBuilder::be32(1) + PngBuilder::be32(2) + PngBuilder::be32(1) +
                        PngBuilder::be32(0) + PngBuilder::be32(0) + bytes({0, 1, 0, 1, 0, 0});
    const QByteArray png =
        PngBuilder(2, 1, 8, 0)
            .chunk("acTL", PngBuilder::be32(2) + PngBuilder::be32(0))
            .chunk("fcTL", frame)
            .image(bytes({40, 50}))
            .chunk("fcTL", second)
            .chunk("fdAT", PngBuilder::be32(2) + PngBuilder::deflated(bytes({0, 200, 210})))
            .finish();
    DecodedImage image;
    ASSERT_EQ(decodeBytes(png, image), kSuccess);
    EXPECT_EQ(image.raster.pixels, std::vector<uint8_t>({40, 50}));
    ASSERT_EQ(image.meta.notes.size(), 1u);
    EXPECT_EQ(image.meta.notes[0], "animated PNG of 2 frames: its still image converted");
}

// Lengths beyond the end of the file are refused before anything is allocated for them, wherever
// the chunk is; metadata that inflates past 64 MB is left out, the image kept.
TEST_F(PngTest, DeclaredLengthsAreNotTrusted) {
    const QByteArray good = PngBuilder(2, 1, 8, 0).image(bytes({1, 2})).finish();
    const qsizetype iend = good.size() - 12;
    const QByteArray lie = PngBuilder::be32(0x74000000) + QByteArray("zTXtComment\0\0", 13);
    for (const char* where : {"before the pixels", "after the pixels"}) {
        QByteArray png = good;
        const qsizetype at = std::strcmp(where, "before the pixels") == 0 ? 33 : iend;
        png.insert(at, lie);
        DecodedImage image;
        clearErrorDetail();
        EXPECT_EQ(decodeBytes(png, image), kErrCorrupt) << where;
        EXPECT_TRUE(errorDetail().contains(QStringLiteral("zTXt"))) << where;
        FileInfoRecord info;
        EXPECT_EQ(readFileInfo(path("t.png"), info), kErrCorrupt) << where;
    }

    QByteArray huge(70 << 20, ' ');
    QByteArray bomb = QByteArray("XML:com.adobe.xmp\0\1\0\0\0", 22) + PngBuilder::deflated(huge);
    QByteArray small = QByteArray("XML:com.adobe.xmp\0\0\0\0\0", 22) + "<x:xmpmeta/>";
    DecodedImage image;
    ASSERT_EQ(decodeBytes(PngBuilder(2, 1, 8, 0).chunk("iTXt", bomb).image(bytes({1, 2})).finish(),
                          image),
              kSuccess);
    EXPECT_TRUE(image.meta.embedded.xmp.empty());
    ASSERT_EQ(decodeBytes(PngBuilder(2, 1, 8, 0).chunk("iTXt", small).image(bytes({1, 2})).finish(),
                          image),
              kSuccess);
    EXPECT_EQ(testing::toBytes(image.meta.embedded.xmp), QByteArray("<x:xmpmeta/>"));
}

TEST_F(PngTest, DamagedPixelsFailTheFile) {
    QByteArray png = PngBuilder(64, 64, 8, 2).image(QByteArray(64 * 64 * 3, '\x5a')).finish();
    const QByteArray cut = png.left(png.size() - 30);  // inside the pixel data
    DecodedImage image;
    EXPECT_EQ(decodeBytes(cut, image), kErrCorrupt);
    png[png.size() - 20] = char(png[png.size() - 20] ^ 0x40);  // the pixel data's checksum
    EXPECT_EQ(decodeBytes(png, image), kErrCorrupt);
}

// The real hostile file is refused at once. (The 16-bit masters of modern/ are checked against
// Pillow by the conformance test.)
TEST_F(PngTest, RealHostileFileIsRefused) {
    const QString hostile = testing::testdataDir("hostile");
    if (hostile.isEmpty())
        GTEST_SKIP() << "../shared/testdata/hostile is not there";
    DecodedImage image;
    EXPECT_EQ(testing::decode(hostile + "/png-text-chunk-claims-2GB.png", image), kErrCorrupt);
}

}  // namespace
}  // namespace pixavant::imaging
