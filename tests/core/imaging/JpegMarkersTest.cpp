// The JPEG marker walker: what it finds before the first scan, where it gives up, and the JFIF
// density rewritten in place.
#include <gtest/gtest.h>

#include <vector>

#include "ImagingFixtures.h"
#include "imaging/JpegMarkers.h"

namespace pixavant::imaging {
namespace {

using testing::JpegFixture;
using testing::makeJpeg;
using testing::makePhotoLike;

std::vector<uint8_t> jpegOf(const JpegFixture& fixture, bool gray = false) {
    return testing::toVector(
        makeJpeg(gray ? testing::makeGrayPhoto(16, 16, 3) : makePhotoLike(16, 16, 3), fixture));
}

TEST(JpegMarkersTest, FindsComponentsOrientationAndWhereResolutionIsStated) {
    struct Case {
        const char* name;
        JpegFixture fixture;
        bool gray;
        int components;
        int orientation;
        bool exif;
        bool jfif;
    };
    const JpegFixture jfif300{.densityUnit = 1, .xDensity = 300, .yDensity = 300};
    const JpegFixture turned{.jfif = false, .exif = true, .exifFields = {.orientation = 6}};
    const JpegFixture exif72{.exif = true, .exifFields = {.xResolution = 72, .yResolution = 72}};
    const JpegFixture outOfRange{.exif = true, .exifFields = {.orientation = 9}};
    const Case cases[] = {
        {"jfif colour", jfif300, false, 3, 1, false, true},
        {"jfif gray", {}, true, 1, 1, false, true},
        {"exif turned", turned, false, 3, 6, true, false},
        {"exif without orientation", exif72, false, 3, 1, true, true},
        {"exif orientation out of range", outOfRange, false, 3, 1, true, true},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t> jpeg = jpegOf(c.fixture, c.gray);
        JpegFacts facts;
        ASSERT_TRUE(readJpegFacts(jpeg, facts)) << c.name;
        EXPECT_EQ(facts.components, c.components) << c.name;
        EXPECT_EQ(facts.orientation, c.orientation) << c.name;
        EXPECT_EQ(facts.exifAt != 0, c.exif) << c.name;
        EXPECT_EQ(facts.jfifAt != 0, c.jfif) << c.name;
        if (c.exif) {
            // exifAt is the TIFF header, inside the file.
            ASSERT_LT(facts.exifAt + 2, jpeg.size());
            EXPECT_TRUE(jpeg[facts.exifAt] == 'I' || jpeg[facts.exifAt] == 'M') << c.name;
            EXPECT_LE(facts.exifAt + facts.exifSize, jpeg.size()) << c.name;
        }
    }
}

TEST(JpegMarkersTest, RefusesWhatIsNotAWholeHeader) {
    const std::vector<uint8_t> whole = jpegOf({});
    JpegFacts facts;
    ASSERT_TRUE(readJpegFacts(whole, facts));

    std::vector<uint8_t> notJpeg = whole;
    notJpeg[1] = 0xD9;
    // Cut inside the APP0 marker, and just before the scan: no frame is complete in either.
    const std::vector<uint8_t> cutInMarker(whole.begin(), whole.begin() + 10);
    const std::vector<uint8_t> tiny = {0xFF, 0xD8};
    std::vector<uint8_t> badLength = whole;
    badLength[4] = 0xFF;  // APP0's length now runs past the end
    std::vector<uint8_t> zeroLength = whole;
    zeroLength[4] = 0;
    zeroLength[5] = 1;
    const std::vector<uint8_t>* refused[] = {&notJpeg, &cutInMarker, &tiny, &badLength,
                                             &zeroLength};
    for (const std::vector<uint8_t>* bytes : refused) {
        JpegFacts f;
        EXPECT_FALSE(readJpegFacts(*bytes, f));
    }
    // Nothing but headers up to the frame, no scan: not a JPEG as expected.
    std::vector<uint8_t> noScan = whole;
    for (size_t at = 2; at + 1 < noScan.size(); ++at)
        if (noScan[at] == 0xFF && noScan[at + 1] == 0xDA) {
            noScan.resize(at);
            break;
        }
    JpegFacts f;
    EXPECT_FALSE(readJpegFacts(noScan, f));
}

TEST(JpegMarkersTest, JfifDensityIsRewrittenOnlyWhereItStatesOne) {
    struct Case {
        const char* name;
        int unit;
        int x;
        int y;
        int32_t askX;
        int32_t askY;
        bool ok;
        int unitAfter;
        int xAfter;
        int yAfter;
    };
    const Case cases[] = {
        {"aspect only stays", 0, 1, 1, 300, 300, true, 0, 1, 1},
        {"inches rewritten", 1, 72, 72, 300, 200, true, 1, 300, 200},
        {"same in centimetres stays", 2, 118, 118, 300, 300, true, 2, 118, 118},
        {"centimetres become inches", 2, 28, 28, 300, 300, true, 1, 300, 300},
        {"too large to hold", 1, 72, 72, 70000, 300, false, 1, 72, 72},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> jpeg =
            jpegOf({.densityUnit = c.unit, .xDensity = c.x, .yDensity = c.y});
        JpegFacts facts;
        ASSERT_TRUE(readJpegFacts(jpeg, facts)) << c.name;
        ASSERT_NE(facts.jfifAt, 0u) << c.name;
        const std::vector<uint8_t> before = jpeg;
        EXPECT_EQ(setJfifDensityInPlace(jpeg, facts.jfifAt, c.askX, c.askY), c.ok) << c.name;
        ASSERT_EQ(jpeg.size(), before.size()) << c.name;
        const uint8_t* jfif = jpeg.data() + facts.jfifAt;
        EXPECT_EQ(jfif[7], c.unitAfter) << c.name;
        EXPECT_EQ(jfif[8] << 8 | jfif[9], c.xAfter) << c.name;
        EXPECT_EQ(jfif[10] << 8 | jfif[11], c.yAfter) << c.name;
        // Nothing else moves.
        for (size_t i = 0; i < jpeg.size(); ++i) {
            if (i < facts.jfifAt + 7 || i > facts.jfifAt + 11) {
                ASSERT_EQ(jpeg[i], before[i]) << c.name << " byte " << i;
            }
        }
    }
}

}  // namespace
}  // namespace pixavant::imaging
