// WebP through libwebp: stills exact, animations by their first frame with a note, EXIF
// orientation applied, metadata carried, damage and cancel reported.

#include "ImagingFixtures.h"
#include "ModernFixtures.h"
#include "imaging/AnimationNote.h"
#include "imaging/ExifSupport.h"

namespace pixavant::testing {
namespace {

using imaging::DecodedImage;
using imaging::Raster;

class WebpFormat : public ImagingTest {};

TEST_F(WebpFormat, LosslessStillsAreExactAndAlphaGoesOverWhite) {
    const Raster photo = makePhotoLike(40, 24, 11);
    const QString still = write("still.webp", makeWebp(photo));
    const imaging::FileInfoRecord info = testing::infoOf(still);
    EXPECT_EQ(std::tuple(info.Format, info.Compression, info.BitsPerPixel),
              std::tuple(imaging::format::kWebp, QStringLiteral("VP8L lossless"), 24));
    DecodedImage image;
    ASSERT_EQ(decode(still, image), imaging::kSuccess);
    EXPECT_EQ(image.raster.format, imaging::PixelFormat::Rgb8);
    EXPECT_EQ(image.raster.pixels, photo.pixels);
    EXPECT_TRUE(image.meta.notes.empty());

    // Red 255 is transparent; red 0 opaque.
    Raster two = makeSolid(2, 1, 255, 0, 0);
    two.row(0)[3] = 0;
    two.row(0)[4] = 10;
    two.row(0)[5] = 20;
    WebpFixture alpha;
    alpha.alpha = true;
    ASSERT_EQ(decode(write("alpha.webp", makeWebp(two, alpha)), image), imaging::kSuccess);
    EXPECT_EQ(image.raster.pixels, (std::vector<uint8_t>{255, 255, 255, 0, 10, 20}));
}

TEST_F(WebpFormat, AnAnimationGivesItsFirstFrameAndSaysSo) {
    const Raster photo = makePhotoLike(32, 16, 4);
    WebpFixture f;
    f.frames = 3;
    const QString file = write("anim.webp", makeWebp(photo, f));
    const imaging::FileInfoRecord info = testing::infoOf(file);
    EXPECT_EQ(info.Format, imaging::format::kWebp);
    EXPECT_EQ(info.TotalPages, 1);  // an animation's frames are not pages
    EXPECT_TRUE(info.Compression.contains("animated"));

    imaging::ImagingControl control;
    ASSERT_EQ(control.load(file, 24), imaging::kSuccess);
    EXPECT_EQ(control.notes(), std::vector<std::string>{imaging::animationNote(3)});
    EXPECT_EQ(imaging::animationNote(12), "animation of 12 frames: the first converted");
    DecodedImage image;
    ASSERT_EQ(decode(file, image), imaging::kSuccess);
    EXPECT_EQ(image.raster.pixels, photo.pixels);  // the first frame, not the inverted second
}

TEST_F(WebpFormat, ExifOrientationIsAppliedAsAJpegsIs) {
    Raster marked = makeSolid(30, 20, 0, 0, 0);
    marked.row(0)[0] = 255;  // a red top-left corner
    WebpFixture f;
    f.exif = exifWithOrientation(6);
    f.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    f.icc = std::vector<uint8_t>(200, 7);
    const QString file = write("turned.webp", makeWebp(marked, f));
    const imaging::FileInfoRecord info = testing::infoOf(file);
    EXPECT_EQ(std::make_pair(info.Width, info.Height), std::make_pair(20, 30));
    DecodedImage image;
    ASSERT_EQ(decode(file, image), imaging::kSuccess);
    ASSERT_EQ(std::make_pair(image.raster.width, image.raster.height), std::make_pair(20, 30));
    // Turned clockwise: the top-left corner moves to the top right.
    EXPECT_EQ(image.raster.row(0)[3 * 19], 255);
    EXPECT_EQ(image.raster.row(0)[0], 0);
    EXPECT_EQ(imaging::exifOrientation(image.meta.embedded.exif), 6);
    EXPECT_EQ(image.meta.embedded.xmp.size(), size_t(f.xmp.size()));
    EXPECT_EQ(image.meta.iccProfile, f.icc);

    // The same block behind the "Exif\0\0" identifier some writers put in front of it.
    f.exif.insert(f.exif.begin(), {'E', 'x', 'i', 'f', 0, 0});
    ASSERT_EQ(decode(write("prefixed.webp", makeWebp(marked, f)), image), imaging::kSuccess);
    EXPECT_EQ(image.raster.width, 20);
}

TEST_F(WebpFormat, DamageAndCancelAreReported) {
    const QByteArray lossy = [] {
        WebpFixture f;
        f.lossless = false;
        return makeWebp(makePhotoLike(256, 256, 2), f);
    }();
    const QByteArray lossless = makeWebp(makePhotoLike(256, 256, 2));
    QByteArray garbled = lossless;
    for (qsizetype i = 40; i < garbled.size(); i += 7)
        garbled[i] = char(~garbled[i]);
    for (const auto& [name, bytes] :
         {std::pair{"cut-lossy.webp", lossy.left(lossy.size() / 2)},
          std::pair{"cut-lossless.webp", lossless.left(lossless.size() - 10)},
          std::pair{"garbled.webp", garbled}}) {
        imaging::ImagingControl control;
        EXPECT_EQ(control.load(write(name, bytes), 24), imaging::kErrCorrupt) << name;
        EXPECT_FALSE(control.lastErrorDetail().isEmpty()) << name;
    }

    std::vector<int> seen;
    imaging::Progress progress([&seen](int percent) {
        seen.push_back(percent);
        return percent < 5;
    });
    DecodedImage image;
    EXPECT_EQ(testsupport::decodeFile(write("big.webp", lossless), image, progress),
              imaging::kErrCancelled);
    expectRisingProgress(seen);
}

}  // namespace
}  // namespace pixavant::testing
