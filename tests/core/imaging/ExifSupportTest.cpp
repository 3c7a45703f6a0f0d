// Resolution rewritten in place in EXIF blocks of either byte order and unit.
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <string>
#include <tuple>
#include <vector>

#include "imaging/ExifSupport.h"

namespace pixavant::imaging {
namespace {

// A TIFF structure whose first directory holds the given SHORT and RATIONAL entries, each with
// one value; a rational's value lies after the directory, unless `sharedValue` makes the two
// resolutions point at one.
struct Entry {
    uint16_t tag;
    uint16_t type;  // 3 SHORT, 5 RATIONAL
    uint32_t numerator;
    uint32_t denominator = 1;
};

std::vector<uint8_t> tiffBlock(bool bigEndian, const std::vector<Entry>& entries,
                               bool sharedValue = false) {
    std::vector<uint8_t> b;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(uint8_t(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
    };
    b = bigEndian ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    put(42, 2);
    put(8, 4);
    put(uint32_t(entries.size()), 2);
    uint32_t data = 8 + 2 + 12 * uint32_t(entries.size()) + 4;
    for (const Entry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, 4);
        if (e.type == 3) {
            put(e.numerator, 2);
            put(0, 2);
        } else {
            put(data, 4);
            if (!sharedValue)
                data += 8;
        }
    }
    put(0, 4);
    for (const Entry& e : entries)
        if (e.type == 5 && (!sharedValue || &e == &entries.front())) {
            put(e.numerator, 4);
            put(e.denominator, 4);
        }
    return b;
}

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
    constexpr uint16_t kX = 0x011A, kY = 0x011B, kUnit = 0x0128, kOrientation = 0x0112;
    const struct {
        const char* name;
        std::vector<Entry> entries;
        bool shared;
        uint32_t x, y;
        InPlaceEdit expected;
        int unitAfter;  // 0: none in the block
    } cases[] = {
        {"300 dpi to 72",
         {{kOrientation, 3, 6}, {kX, 5, 300}, {kY, 5, 300}, {kUnit, 3, 2}},
         false,
         72,
         72,
         InPlaceEdit::Rewritten,
         2},
        {"72 dpi stated as 7200/100",
         {{kX, 5, 7200, 100}, {kY, 5, 7200, 100}, {kUnit, 3, 2}},
         false,
         72,
         72,
         InPlaceEdit::Unchanged,
         2},
        {"118.11 per cm is 300 dpi",
         {{kX, 5, 11811, 100}, {kY, 5, 11811, 100}, {kUnit, 3, 3}},
         false,
         300,
         300,
         InPlaceEdit::Unchanged,
         3},
        {"200 per cm to 72 dpi: unit inches",
         {{kX, 5, 200}, {kY, 5, 200}, {kUnit, 3, 3}},
         false,
         72,
         72,
         InPlaceEdit::Rewritten,
         2},
        {"no unit is inches", {{kX, 5, 72}, {kY, 5, 72}}, false, 72, 72, InPlaceEdit::Unchanged, 0},
        {"no absolute unit",
         {{kX, 5, 1}, {kY, 5, 1}, {kUnit, 3, 1}},
         false,
         72,
         72,
         InPlaceEdit::Rewritten,
         2},
        {"different axes",
         {{kX, 5, 300}, {kY, 5, 300}},
         false,
         204,
         196,
         InPlaceEdit::Rewritten,
         0},
        {"no vertical resolution",
         {{kX, 5, 300}, {kUnit, 3, 2}},
         false,
         72,
         72,
         InPlaceEdit::Impossible,
         2},
        {"one value for both axes, asked two",
         {{kX, 5, 300}, {kY, 5, 300}},
         true,
         204,
         196,
         InPlaceEdit::Impossible,
         0},
        {"one value for both axes, asked one",
         {{kX, 5, 300}, {kY, 5, 300}},
         true,
         72,
         72,
         InPlaceEdit::Rewritten,
         0},
    };
    for (const auto& c : cases) {
        for (const bool bigEndian : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (bigEndian ? ", big-endian" : ""));
            const std::vector<uint8_t> before = tiffBlock(bigEndian, c.entries, c.shared);
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
    std::vector<uint8_t> pointsOut = tiffBlock(false, {{0x011A, 5, 300}, {0x011B, 5, 300}});
    pointsOut[8 + 2 + 8] = 0xF0;  // the first value's offset beyond the end
    std::vector<uint8_t> directoryOut = tiffBlock(true, {{0x011A, 5, 300}, {0x011B, 5, 300}});
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
    std::vector<uint8_t> manyEntries = tiffBlock(false, {{0x011A, 5, 300}, {0x011B, 5, 300}});
    manyEntries[8] = 0xFF;
    EXPECT_EQ(setExifResolutionInPlace(manyEntries.data(), manyEntries.size(), 72, 72),
              InPlaceEdit::Rewritten);
}

}  // namespace
}  // namespace pixavant::imaging
