#include <gtest/gtest.h>

#include "inspect/Fit.h"

namespace pixavant {
namespace {

// The main window's box: 229 x 173 pixels at 345, 3750 twips.
constexpr PreviewBox kMainBox{229, 173, 345, 3750};
// The viewer's box: 541 x 439 pixels at 60, 60 twips.
constexpr PreviewBox kViewerBox{541, 439, 60, 60};

// Pixels of a fitted control: size and offset in the box.
struct Placed {
    int width, height, dx, dy;
    bool operator==(const Placed&) const = default;
};

Placed placed(const ControlGeometry& g, const PreviewBox& box) {
    EXPECT_TRUE(g.width % 15 == 0 && g.height % 15 == 0 && (g.left - box.left) % 15 == 0 &&
                (g.top - box.top) % 15 == 0);  // whole pixels
    return {g.width / 15, g.height / 15, (g.left - box.left) / 15, (g.top - box.top) / 15};
}

void PrintTo(const Placed& p, std::ostream* os) {
    *os << p.width << "x" << p.height << " +" << p.dx << "+" << p.dy;
}

struct FitCase {
    float width, height;
    PreviewBox box;
    Placed expected;
};

TEST(FitPreviewTest, ScalesTheImageToFillTheBoxInOneDirectionAndCentresIt) {
    const FitCase cases[] = {
        // 640 x 173 / 480 = 230.67 > 229: the width fills; 480 x 229 / 640 = 171.75 -> 172.
        {640, 480, kMainBox, {229, 172, 0, 0}},
        // 100 x 173 / 400 = 43.25 -> 43, centred: (229 - 43) / 2 = 93.
        {100, 400, kMainBox, {43, 173, 93, 0}},
        // The box's own aspect takes the height branch and fills the box.
        {458, 346, kMainBox, {229, 173, 0, 0}},
        {229, 173, kMainBox, {229, 173, 0, 0}},
        // Small images are enlarged.
        {10, 10, kMainBox, {173, 173, 28, 0}},
        // Spare width 5: round(2.5) = 2; spare width 7: round(3.5) = 4 (halves to even).
        {224, 173, kMainBox, {224, 173, 2, 0}},
        {222, 173, kMainBox, {222, 173, 4, 0}},
        // Spare height 5 and 7 in the width branch.
        {229, 168, kMainBox, {229, 168, 0, 2}},
        {229, 166, kMainBox, {229, 166, 0, 4}},
        // A very wide strip keeps one row of nothing: 229 / 4000 rounds to 0.
        {4000, 1, kMainBox, {229, 0, 0, 86}},
        {6000, 4000, kMainBox, {229, 153, 0, 10}},
        {3000, 4000, kMainBox, {130, 173, 50, 0}},
        // Width 0 (possible only in a damaged record): the height branch, width 0.
        {0, 100, kMainBox, {0, 173, 114, 0}},
        // Single precision: in double 48856 x 173 / 65775 is 128.500008 and would round up to
        // 129; the float quotient is 128.5, a half that rounds to even. The same in the width
        // branch: 48703 x 229 / 66585 is 167.4999... in double.
        {48856, 65775, kMainBox, {128, 173, 50, 0}},
        {66585, 48703, kMainBox, {229, 168, 0, 2}},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        const std::optional<ControlGeometry> g = fitPreview(c.width, c.height, c.box);
        ASSERT_TRUE(g.has_value());
        EXPECT_EQ(placed(*g, c.box), c.expected);
    }
}

TEST(FitPreviewTest, FailsOnAZeroHeightOrAValueOutsideSixteenBits) {
    EXPECT_FALSE(fitPreview(640, 0, kMainBox).has_value());
    EXPECT_FALSE(fitPreview(0, 0, kMainBox).has_value());
    // A box whose size in twips does not fit 16 bits.
    EXPECT_FALSE(fitPreview(100, 100, {3000, 3000, 0, 0}).has_value());
    // The position overflows: 0 + offset x 15 + top.
    EXPECT_FALSE(fitPreview(100, 400, {229, 173, 32000, 0}).has_value());
    EXPECT_TRUE(fitPreview(100, 400, {229, 173, 32767 - 93 * 15, 0}).has_value());
    // A control of 2184 pixels is 32760 twips: still in range.
    EXPECT_TRUE(fitPreview(100, 100, {2184, 2184, 0, 0}).has_value());
    EXPECT_FALSE(fitPreview(100, 100, {2185, 2185, 0, 0}).has_value());
    // The viewer fails only outside 16 bits.
    EXPECT_TRUE(fitViewerImage(0, 0, kViewerBox).has_value());
    EXPECT_FALSE(fitViewerImage(100, 100, {541, 439, 32767, 60}).has_value());
}

TEST(FitViewerImageTest, ShowsEachSideAtItsOwnSizeOrTheBoxSize) {
    const FitCase cases[] = {
        // (541 - 320) / 2 = 110.5 -> 110; (439 - 200) / 2 = 119.5 -> 120.
        {320, 200, kViewerBox, {320, 200, 110, 120}},
        // Wider than the box: the width is the box's; (439 - 300) / 2 = 69.5 -> 70.
        {1024, 300, kViewerBox, {541, 300, 0, 70}},
        {300, 1024, kViewerBox, {300, 439, 120, 0}},
        {6000, 4000, kViewerBox, {541, 439, 0, 0}},
        {541, 439, kViewerBox, {541, 439, 0, 0}},
        {1, 1, kViewerBox, {1, 1, 270, 219}},
        // Not enlarged, not scaled: the halves of a fractional size round to even.
        {320.5f, 200.5f, kViewerBox, {320, 200, 110, 120}},
    };
    for (const FitCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.width << " x " << c.height);
        const std::optional<ControlGeometry> g = fitViewerImage(c.width, c.height, c.box);
        ASSERT_TRUE(g.has_value());
        EXPECT_EQ(placed(*g, c.box), c.expected);
    }
}

}  // namespace
}  // namespace pixavant
