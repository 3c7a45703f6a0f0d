// HEIF and AVIF through libheif: the file's own transforms and never its EXIF orientation, colour
// descriptions carried, samples of more than 8 bits scaled, damaged files refused with libheif's
// reason.

#include <QProcess>

#include "ImagingFixtures.h"
#include "ModernFixtures.h"
#include "Testdata.h"
#include "imaging/ColorProfile.h"
#include "imaging/ErrorDetail.h"
#include "imaging/ExifSupport.h"

namespace pixavant::testing {
namespace {

using imaging::DecodedImage;
using imaging::Raster;

class HeifFormat : public ImagingTest {};

TEST_F(HeifFormat, TheFilesTransformIsAppliedAndItsExifOrientationNever) {
    HeifFixture f;
    f.transform = 6;  // turned 90 degrees clockwise by the file itself
    f.exif = exifWithOrientation(8);
    const QString file = write("turned.heic", makeHeif(makeQuadrants(64, 32), f));
    const imaging::FileInfoRecord info = testing::infoOf(file);
    EXPECT_EQ(info.Format, imaging::format::kHeif);
    EXPECT_EQ(std::make_pair(info.Width, info.Height), std::make_pair(32, 64));

    DecodedImage image;
    ASSERT_EQ(decode(file, image), imaging::kSuccess);
    ASSERT_EQ(image.raster.width, 32);
    ASSERT_EQ(image.raster.height, 64);
    // Turned clockwise: the bottom-left (blue) quadrant is now at the top left, red at top right.
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 4, 4), {0, 0, 255}, 12)) << "top left";
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 28, 4), {255, 0, 0}, 12)) << "top right";
    EXPECT_TRUE(colourNear(rgbAt(image.raster, 28, 60), {0, 255, 0}, 12)) << "bottom right";
    // The EXIF is carried, and an output's says 1.
    EXPECT_EQ(imaging::exifOrientation(image.meta.embedded.exif), 8);
    std::vector<std::string> notes;
    const auto rewritten = imaging::rewriteExif(image.meta.embedded.exif,
                                                {32, 64, 72, 72, false, false}, 65000, notes);
    EXPECT_EQ(imaging::exifOrientation(rewritten), 1);
}

// HEVC and AV1, 8 and 10 bits, with and without alpha: each named with its compression and depth,
// and decoded to the 8-bit colours it was made from, alpha over white (red 255 is transparent: the
// red and white quadrants come out white).
TEST_F(HeifFormat, EachKindIsNamedAndDecodesToItsColours) {
    using imaging::format::kAvif;
    using imaging::format::kHeif;
    const std::array<int, 3> red{255, 0, 0}, white{255, 255, 255};
    const struct {
        HeifFixture fixture;
        int code;
        const char* compression;
        int bitsPerPixel;
        std::array<int, 3> topLeft;  // green top right and white bottom right in all
        int tolerance;
    } cases[] = {
        {{}, kHeif, "HEVC", 24, red, 12},
        {{.av1 = true}, kAvif, "AV1", 24, red, 12},
        {{.bitDepth = 10}, kHeif, "HEVC", 30, red, 3},
        {{.bitDepth = 10, .alpha = true}, kHeif, "HEVC", 40, white, 12},
        {{.alpha = true}, kHeif, "HEVC", 32, white, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.compression << " " << c.bitsPerPixel);
        const QString file =
            write(c.fixture.av1 ? "a.avif" : "a.heic", makeHeif(makeQuadrants(64, 64), c.fixture));
        const imaging::FileInfoRecord info = testing::infoOf(file);
        EXPECT_EQ(std::tuple(info.Format, info.Compression, info.BitsPerPixel, info.TotalPages),
                  std::tuple(c.code, QString::fromLatin1(c.compression), c.bitsPerPixel, 1));
        DecodedImage image;
        ASSERT_EQ(decode(file, image), imaging::kSuccess);
        ASSERT_EQ(image.raster.format, imaging::PixelFormat::Rgb8);
        EXPECT_TRUE(colourNear(rgbAt(image.raster, 8, 8), c.topLeft, c.tolerance));
        EXPECT_TRUE(colourNear(rgbAt(image.raster, 56, 8), {0, 255, 0}, 12));
        EXPECT_TRUE(colourNear(rgbAt(image.raster, 56, 56), white, c.tolerance));
    }
}

TEST_F(HeifFormat, ColourDescriptionsTravelAsProfiles) {
    const Raster photo = makePhotoLike(32, 32, 5);
    // nclx: sRGB needs no profile; Display P3 and BT.2020 become profiles of those spaces.
    struct Case {
        int primaries;
        int transfer;
        bool profile;
        JxlPrimaries named;
    };
    for (const Case& c :
         {Case{1, 13, false, JXL_PRIMARIES_SRGB}, Case{12, 13, true, JXL_PRIMARIES_P3},
          Case{9, 1, true, JXL_PRIMARIES_2100}}) {
        HeifFixture f;
        f.av1 = true;
        f.nclxPrimaries = c.primaries;
        f.nclxTransfer = c.transfer;
        DecodedImage image;
        ASSERT_EQ(decode(write("nclx.avif", makeHeif(photo, f)), image), imaging::kSuccess);
        ASSERT_EQ(!image.meta.iccProfile.empty(), c.profile) << c.primaries;
        if (!c.profile)
            continue;
        const auto named = imaging::namedColorEncoding(image.meta.iccProfile, 3);
        ASSERT_TRUE(named.has_value()) << c.primaries;
        EXPECT_EQ(named->primaries, c.named);
    }
    // An ICC profile is carried as it is, with XMP.
    HeifFixture f;
    f.nclxPrimaries = 12;
    f.nclxTransfer = 13;
    JxlColorEncoding p3{};
    p3.color_space = JXL_COLOR_SPACE_RGB;
    p3.white_point = JXL_WHITE_POINT_D65;
    p3.primaries = JXL_PRIMARIES_P3;
    p3.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
    f.icc = imaging::iccProfileOf(p3);
    ASSERT_FALSE(f.icc.empty());
    f.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    DecodedImage image;
    ASSERT_EQ(decode(write("icc.heic", makeHeif(photo, f)), image), imaging::kSuccess);
    EXPECT_EQ(image.meta.iccProfile, f.icc);
    EXPECT_EQ(toBytes(image.meta.embedded.xmp), f.xmp);
}

TEST_F(HeifFormat, DamagedFilesFailWithLibheifsReason) {
    const QByteArray good = makeHeif(makePhotoLike(64, 64, 9));
    ASSERT_FALSE(good.isEmpty());
    struct Case {
        const char* name;
        QByteArray bytes;
        int status;
    };
    // The decoder configuration garbled (libde265 decodes garbled picture data without a word).
    QByteArray garbled = good;
    const qsizetype config = garbled.indexOf("hvcC");
    ASSERT_GT(config, 0);
    for (qsizetype i = config + 4; i < config + 60; ++i)
        garbled[i] = char(0xff);
    QByteArray huge = good;
    const qsizetype ispe = huge.indexOf("ispe");
    ASSERT_GT(ispe, 0);
    for (int i = 0; i < 8; ++i)  // 65536 x 65536 stated
        huge[ispe + 8 + i] = "\x00\x01\x00\x00\x00\x01\x00\x00"[i];
    for (const Case& c : {Case{"cut.heic", good.left(good.size() - 300), imaging::kErrCorrupt},
                          Case{"cut-header.heic", good.left(200), imaging::kErrCorrupt},
                          Case{"garbled.heic", garbled, imaging::kErrCorrupt},
                          Case{"huge.heic", huge, imaging::kErrNoMemory}}) {
        imaging::ImagingControl control;
        EXPECT_EQ(control.load(write(c.name, c.bytes), 24), c.status) << c.name;
        EXPECT_FALSE(control.lastErrorDetail().isEmpty()) << c.name;
    }
}

TEST_F(HeifFormat, RealPhoneFilesReadAsHeifConvertDoes) {
    const QString modern = testdataDir("modern");
    if (modern.isEmpty())
        GTEST_SKIP() << "no modern/ test data";
    // Stored turned, with EXIF orientation 6 and no transform: comes out as stored.
    DecodedImage turned;
    ASSERT_EQ(decode(modern + "/turned-landscape_6.heic", turned), imaging::kSuccess);
    EXPECT_EQ(std::make_pair(turned.raster.width, turned.raster.height), std::make_pair(450, 600));
    EXPECT_EQ(imaging::exifOrientation(turned.meta.embedded.exif), 6);
    EXPECT_FALSE(turned.meta.iccProfile.empty());

    DecodedImage camera;
    ASSERT_EQ(decode(modern + "/camera-exif.heic", camera), imaging::kSuccess);
    EXPECT_GT(camera.meta.embedded.exif.size(), 2000u);

    // The AVIF files describe their colour as sRGB: no profile to carry.
    DecodedImage avif;
    ASSERT_EQ(decode(modern + "/kodim03.avif", avif), imaging::kSuccess);
    EXPECT_TRUE(avif.meta.iccProfile.empty());
}

}  // namespace
}  // namespace pixavant::testing
