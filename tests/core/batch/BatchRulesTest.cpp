#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "batch/BatchRules.h"
#include "batch/ProgressMath.h"
#include "imaging/ImagingStatus.h"
#include "settings/ListEntry.h"

namespace pixavant::batch {
namespace {

// Each name by both rules: the program's first dot and the command line's --full-names.
TEST(OutputFileName, ReplacesEverythingFromTheFirstOrTheLastDot) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"scan.2.tif", "JPG", "scan.JPG", "scan.2.JPG"},
        {"2024.06.01 beach.jpg", "JXL", "2024.JXL", "2024.06.01 beach.JXL"},
        {"README", "JPG", "README.JPG", "README.JPG"},
        {"photo.bmp", "", "photo.", "photo."},
        {"photo.tif", "jpg", "photo.jpg", "photo.jpg"},
        {"a.b.c.d", "TIF", "a.TIF", "a.b.c.TIF"},
        {".hidden", "JPG", ".JPG", ".hidden.JPG"},
        {".hidden.jpg", "JXL", ".JXL", ".hidden.JXL"},
        {"photo.bmp", "x.y", "photo.x.y", "photo.x.y"},
        {"trailing.", "TIF", "trailing.TIF", "trailing.TIF"},
        {"archive.tar.gz", "JXL", "archive.JXL", "archive.tar.JXL"},
    };
    for (const auto& [name, ext, firstDot, lastDot] : cases) {
        const QString file = QString::fromUtf8(name);
        EXPECT_EQ(outputFileName(file, ext), QString::fromUtf8(firstDot)) << name;
        EXPECT_EQ(outputFileName(file, ext, NamingRule::LastDot), QString::fromUtf8(lastDot))
            << name;
    }
}

TEST(SourceResolution, OnlyTheTiffFamilyStatesItsOwn) {
    // Every TIFF, fax and JPEG-compressed ones included, counts by its stated resolution; JPEG
    // (whatever its header says) and the rest count as 72 dpi, as does a TIFF that states none.
    const std::pair<bool, std::vector<int32_t>> families[] = {
        {true, {3, 17, 63, 66, 85, 87, 93, 96, 11, 22, 24, 25, 27, 28, 29}},
        {false, {10, 21, 6, 0, 5, 2, 75}}};
    for (const auto& [own, formats] : families) {
        for (const int32_t format : formats) {
            for (const int32_t xres : {0, 50, 300, 32767}) {
                int16_t dpi = 0;
                EXPECT_EQ(sourceResolution(format, xres, dpi), 0);
                EXPECT_EQ(dpi, own && xres != 0 ? xres : 72) << format << " " << xres;
            }
        }
    }
    int16_t dpi = 0;
    EXPECT_EQ(sourceResolution(3, 32768, dpi), kErrOverflow);
    EXPECT_EQ(sourceResolution(17, -40000, dpi), kErrOverflow);
    EXPECT_EQ(sourceResolution(10, 99999, dpi), 0);  // not read at all
}

TEST(ResizeTarget, SizeRules) {
    struct Case {
        const char* what;
        SizeRequest request;
        int32_t code;
        bool resize = false;
        int16_t width = 0;
        int16_t height = 0;
    };
    const Case cases[] = {
        {"given size equals the image, other dpi", {1, 640, 480, 144, 72, 640, 480}, 0, false},
        {"no size given", {1, 0, 0, 144, 72, 640, 480}, 0, false},
        {"width only", {1, 320, 0, 72, 72, 640, 480}, 0, true, 320, 240},
        {"width only, then scaled by dpi", {1, 320, 0, 144, 72, 640, 480}, 0, true, 640, 480},
        {"height only", {1, 0, 240, 72, 72, 640, 480}, 0, true, 320, 240},
        {"both given: aspect not enforced", {1, 500, 100, 72, 72, 640, 480}, 0, true, 500, 100},
        {"both given, scaled by dpi", {1, 500, 100, 144, 72, 640, 480}, 0, true, 1000, 200},
        {"same size, 72-class source to 300 dpi", {0, 0, 0, 300, 72, 100, 50}, 0, true, 417, 208},
        {"same size and resolution", {0, 0, 0, 72, 72, 100, 50}, 0, false},
        {"same size ignores the requested size", {0, 320, 0, 72, 72, 640, 480}, 0, false},
        {"same size, downscale", {0, 0, 0, 72, 300, 1000, 500}, 0, true, 240, 120},
        {"half rounds to even (down)", {0, 0, 0, 100, 200, 5, 3}, 0, true, 2, 2},
        {"half rounds to even (up)", {0, 0, 0, 100, 200, 7, 9}, 0, true, 4, 4},
        {"aspect half to even gives 0", {1, 1, 0, 72, 72, 2, 1}, 0, true, 1, 0},
        {"aspect 2.5 gives 2", {1, 0, 5, 72, 72, 1, 2}, 0, true, 2, 5},
        {"resolution 0, same size", {0, 0, 0, 72, 0, 640, 480}, kErrDivisionByZero},
        {"resolution 0, a given size", {1, 100, 0, 72, 0, 640, 480}, kErrDivisionByZero},
        {"image height 0, aspect kept", {1, 0, 240, 72, 72, 640, 0}, kErrDivisionByZero},
        {"result above 32767", {0, 0, 0, 300, 72, 8000, 100}, kErrOverflow},
        {"aspect result above 32767", {1, 32767, 0, 72, 72, 1, 2}, kErrOverflow},
        {"result exactly 32767", {1, 0, 32767, 72, 72, 1, 1}, 0, true, 32767, 32767},
        {"products beyond 32 bits", {1, 30000, 0, 72, 72, 100000, 100000}, 0, true, 30000, 30000},
    };
    for (const Case& c : cases) {
        ResizeTarget target;
        const int32_t code = resizeTarget(c.request, target);
        const bool resize = code == 0 && target.resize;  // the size counts only then
        EXPECT_EQ(std::tuple(code, resize, resize ? target.width : 0, resize ? target.height : 0),
                  std::tuple(c.code, c.resize, c.width, c.height))
            << c.what;
    }
}

TEST(OutputClashes, FilesThatMapOntoOneOutput) {
    struct Case {
        QStringList sources;
        QStringList outputs;
        std::vector<std::pair<QString, QStringList>> clashes;
    } cases[] = {
        {{"a.gif", "b.tif"}, {"o/a.JPG", "o/b.JPG"}, {}},
        {{"photo.gif", "photo.tif"},
         {"o/photo.JPG", "o/photo.JPG"},
         {{"o/photo.JPG", {"photo.gif", "photo.tif"}}}},
        // Letter case tells names apart; a path is compared once cleaned.
        {{"P.gif", "p.tif", "x/q.tif", "y/q.tif"},
         {"o/P.JPG", "o/p.JPG", "o/q.JPG", "o//./q.JPG"},
         {{"o/q.JPG", {"x/q.tif", "y/q.tif"}}}},
        // Several clashes, in the order of their first file; three files onto one.
        {{"b.1", "a.1", "b.2", "a.2", "a.3"},
         {"o/b", "o/a", "o/b", "o/a", "o/a"},
         {{"o/b", {"b.1", "b.2"}}, {"o/a", {"a.1", "a.2", "a.3"}}}},
    };
    for (const Case& c : cases) {
        std::vector<std::pair<QString, QStringList>> found;
        for (const OutputClash& clash : findOutputClashes(c.sources, c.outputs))
            found.emplace_back(clash.output, clash.sources);
        EXPECT_EQ(found, c.clashes) << c.sources.join(' ').toStdString();
    }
    EXPECT_EQ(outputClashText(findOutputClashes({"b.1", "a.1", "b.2", "a.2", "a.3"},
                                                {"b", "a", "b", "a", "a"})),
              "b.1 and b.2 would both be written to b.\n"
              "a.1, a.2 and a.3 would all be written to a.\n"
              "Nothing was converted.");
}

// The message of a failure by its code (the rest say "Compression error."), and the reason in its
// details: the code's words, then the library's.
TEST(FailureMessage, ByCodeWithTheReasonInTheDetails) {
    EXPECT_EQ(failureMessage(imaging::kErrNoMemory), "Not enough memory available.");
    EXPECT_EQ(failureMessage(kErrOverflow), "Compression error.");
    EXPECT_EQ(failureReason(imaging::kErrCorrupt), "the file is damaged");
    EXPECT_EQ(failureReason(imaging::kErrCorrupt, "Fax4Decode: Bad code word"),
              "the file is damaged: Fax4Decode: Bad code word");
    EXPECT_EQ(failureReason(20002, "something"), "something");
    EXPECT_TRUE(failureReason(20002).isEmpty());
}

TEST(ProgressMath, NotificationDisplay) {
    struct Case {
        int percent;
        bool saving;
        int64_t current, done, total;
        float singleBar;
        const char* singlePct;
        int totalBar;
        const char* totalPct;
    };
    const Case cases[] = {
        {50, false, 1000, 0, 1000, 25, "25 %", 25, "25 %"},
        {50, true, 1000, 0, 1000, 75, "75 %", 75, "75 %"},
        {50, false, 3000, 1000, 4000, 25, "25 %", 44, "44 %"},    // 43.75
        {25, false, 1000, 0, 1000, 12.5f, "12.5 %", 12, "12 %"},  // 12.5: half to even
        {15, false, 1000, 0, 1000, 7.5f, " 7.5 %", 8, "8 %"},     // 7.5: half to even
        {20, false, 1000, 0, 1000, 10, "10 %", 10, "10 %"},
        {12, false, 1000, 0, 1000, 6, " 6 %", 6, "6 %"},
        {0, false, 1000, 0, 1000, 0, " 0 %", 0, "0 %"},
        {1, false, 1000, 0, 1000, 0.5f, " 0.5 %", 0, "0 %"},
        {1, true, 1000, 0, 1000, 50.5f, "50.5 %", 50, "50 %"},  // 50.5: half to even
        {100, true, 1000, 0, 1000, 100, "100 %", 100, "100 %"},
        {50, true, 1000, 0, 0, 75, "75 %", 0, "0 %"},  // nothing has bytes: stays 0
        {100, true, 3'000'000'000, 2'000'000'000, 5'000'000'000, 100, "100 %", 100, "100 %"},
        {50, false, 3'000'000'000, 3'000'000'000, 6'000'000'000, 25, "25 %", 62, "62 %"},
        {100, true, 2000, 0, 1000, 100, "100 %", 100, "100 %"},  // grew since the load
    };
    for (const Case& c : cases) {
        RunState state;
        std::tie(state.Saving, state.CurrentBytes, state.DoneBytes, state.TotalBytes) =
            std::tuple(c.saving, c.current, c.done, c.total);
        const ProgressDisplay d = progressDisplay(c.percent, state);
        EXPECT_EQ(std::tuple(d.singleBar, d.singlePct, d.totalBar, d.totalPct),
                  std::tuple(c.singleBar, QString(c.singlePct), c.totalBar, QString(c.totalPct)))
            << c.percent << (c.saving ? " saving" : " loading");
    }
}

}  // namespace
}  // namespace pixavant::batch
