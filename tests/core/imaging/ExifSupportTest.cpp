// Resolution rewritten in place in EXIF blocks of either byte order and unit.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <string>
#include <tuple>
#include <vector>

#include "JpegFixtures.h"
#include "imaging/ExifSupport.h"

namespace pixavant::imaging {
namespace {

using testing::exifBlock;
using testing::TiffEntry;

// The resolution a block states, as libexif reads it: x, y and the unit.
std::tuple<double, double, int> statedResolution(const std::vector<uint8_t>& block) {
    ExifData* exif = newLiteralExifData();
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), block.begin(), block.end());
    exif_data_load_data(exif, app1.data(), unsigned(app1.size()));
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    auto rational = [&](ExifTag tag) {
        ExifEntry* e = exif_content_get_entry(exif->ifd[EXIF_IFD_0], tag);
        const ExifRational r = exif_get_rational(e->data, order);
        return double(r.numerator) / r.denominator;
    };
    ExifEntry* unit = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_RESOLUTION_UNIT);
    const auto stated = std::tuple(rational(EXIF_TAG_X_RESOLUTION), rational(EXIF_TAG_Y_RESOLUTION),
                                   unit != nullptr ? int(exif_get_short(unit->data, order)) : 0);
    exif_data_unref(exif);
    return stated;
}

TEST(ExifSupportTest, ResolutionIsRewrittenInPlaceOrLeftAsItIs) {
    constexpr uint16_t kX = 0x011A, kY = 0x011B, kUnit = 0x0128;
    const auto resolution = [](uint32_t value, uint32_t denominator = 1) {
        return std::vector<TiffEntry>{{kX, 5, value, denominator}, {kY, 5, value, denominator}};
    };
    const auto withUnit = [](std::vector<TiffEntry> entries, uint32_t unit) {
        entries.push_back({kUnit, 3, unit});
        return entries;
    };
    constexpr auto kRewritten = InPlaceEdit::Rewritten, kUnchanged = InPlaceEdit::Unchanged,
                   kImpossible = InPlaceEdit::Impossible;
    std::vector<TiffEntry> turned = withUnit(resolution(300), 2);
    turned.insert(turned.begin(), {0x0112, 3, 6});
    const struct {
        const char* name;
        std::vector<TiffEntry> entries;
        bool shared;
        uint32_t x, y;
        InPlaceEdit expected;
        int unitAfter;  // 0: none in the block
    } cases[] = {
        {"300 dpi to 72", turned, false, 72, 72, kRewritten, 2},
        {"72 dpi stated as 7200/100", withUnit(resolution(7200, 100), 2), false, 72, 72, kUnchanged,
         2},
        {"118.11 per cm is 300 dpi", withUnit(resolution(11811, 100), 3), false, 300, 300,
         kUnchanged, 3},
        {"200 per cm to 72 dpi: unit inches", withUnit(resolution(200), 3), false, 72, 72,
         kRewritten, 2},
        {"no unit is inches", resolution(72), false, 72, 72, kUnchanged, 0},
        {"no absolute unit", withUnit(resolution(1), 1), false, 72, 72, kRewritten, 2},
        {"different axes", resolution(300), false, 204, 196, kRewritten, 0},
        {"no vertical resolution", {{kX, 5, 300}, {kUnit, 3, 2}}, false, 72, 72, kImpossible, 2},
        {"one value for both axes, asked two", resolution(300), true, 204, 196, kImpossible, 0},
        {"one value for both axes, asked one", resolution(300), true, 72, 72, kRewritten, 0},
    };
    for (const auto& c : cases) {
        for (const bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (bigEndian ? ", big-endian" : ""));
            const std::vector<uint8_t> before = exifBlock(c.entries, bigEndian, c.shared);
            std::vector<uint8_t> block = before;
            EXPECT_EQ(setExifResolutionInPlace(block.data(), block.size(), c.x, c.y), c.expected);
            ASSERT_EQ(block.size(), before.size());
            if (c.expected != InPlaceEdit::Rewritten) {
                EXPECT_EQ(block, before);
                continue;
            }
            EXPECT_EQ(statedResolution(block), std::tuple(double(c.x), double(c.y), c.unitAfter));
            // Only the values changed: 8 bytes per rational, 2 of the unit.
            size_t changed = 0;
            for (size_t i = 0; i < block.size(); ++i)
                changed += block[i] != before[i];
            EXPECT_LE(changed, 18u);
        }
    }
}

TEST(ExifSupportTest, DamagedBlocksAreLeftAlone) {
    std::vector<uint8_t> pointsOut = exifBlock({{0x011A, 5, 300}, {0x011B, 5, 300}});
    pointsOut[8 + 2 + 8] = 0xF0;  // the first value's offset beyond the end
    std::vector<uint8_t> directoryOut = exifBlock({{0x011A, 5, 300}, {0x011B, 5, 300}}, true);
    directoryOut[7] = 0xFF;
    const std::vector<uint8_t> cases[] = {
        {}, {'I', 'I', 42}, {'I', 'M', 42, 0, 8, 0, 0, 0, 0, 0}, pointsOut, directoryOut,
    };
    for (const std::vector<uint8_t>& c : cases) {
        std::vector<uint8_t> block = c;
        EXPECT_EQ(setExifResolutionInPlace(block.data(), block.size(), 72, 72),
                  InPlaceEdit::Impossible);
        EXPECT_EQ(block, c);
    }
    // A directory that claims more entries than the block holds is read as far as it goes.
    std::vector<uint8_t> manyEntries = exifBlock({{0x011A, 5, 300}, {0x011B, 5, 300}});
    manyEntries[8] = 0xFF;
    EXPECT_EQ(setExifResolutionInPlace(manyEntries.data(), manyEntries.size(), 72, 72),
              InPlaceEdit::Rewritten);
}

}  // namespace
}  // namespace pixavant::imaging
