// The engine's page loop: every page of a multi-page source converted, into one TIFF or a file per
// page, each at its own resolution with square pixels; a damaged page or a page file that would
// replace another output fails the whole file and writes nothing; progress moves page by page.

#include <gtest/gtest.h>

#include <QDir>
#include <QSize>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <tuple>

#include "EngineFixtures.h"
#include "EngineRunTest.h"
#include "FakeBatchView.h"
#include "batch/BatchEngine.h"
#include "batch/BatchRules.h"
#include "batch/ProgressMath.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::batch {
namespace {

using test::FakeBatchView;
using namespace pixavant::testsupport;
using Outcome = BatchEngine::Outcome;
using Rule = BatchEngine::ResolutionRule;

class PagesTest : public test::EngineRunTest {
  protected:
    // Converts the listed files; the engine is kept for its outcome.
    std::unique_ptr<BatchEngine> run(const QStringList& names, Rule rule = Rule::Settings) {
        list(names);
        auto engine = std::make_unique<BatchEngine>(view, settings, src);
        engine->setResolutionRule(rule);
        engine->load();
        engine->timerEvent();
        return engine;
    }
    void asTiff(int code) {
        settings.FileFormat = int16_t(code);
        settings.OutputExt = QStringLiteral("TIF");
        settings.BitsPerPixel = code == 17 ? 24 : 1;
    }
};

// Pages of one file differ in size, depth and resolution; each keeps its own (nothing resampled
// at the file's own resolution), in order.
TEST_F(PagesTest, EveryPageGoesIntoOneTiffAtItsOwnResolution) {
    ASSERT_TRUE(writeEngineDocument(
        src + "scan.tif", {{80, 60, 3, 300, 300}, {40, 30, 1, 150, 150}, {96, 64, 0, 300, 300}}));
    asTiff(17);
    const auto engine = run({"scan.tif"}, Rule::FileOwn);
    ASSERT_EQ(engine->outcome(), Outcome::Completed) << view.details.join("\n").toStdString();
    EXPECT_EQ(outputs(), QStringList{"scan.TIF"});
    ASSERT_EQ(tiffPageCount(out + "scan.TIF"), 3);
    const std::tuple<int, int, double> expected[] = {{80, 60, 300}, {40, 30, 150}, {96, 64, 300}};
    for (int page = 0; page < 3; ++page) {
        const ProbedImage probe = probeTiff(out + "scan.TIF", page);
        EXPECT_EQ(std::tuple(probe.width, probe.height, probe.xDpi), expected[page]) << page;
    }
    ASSERT_EQ(engine->writtenOutputs().size(), 1u);
    EXPECT_EQ(engine->writtenOutputs()[0].page, 0);
    EXPECT_EQ(view.converted, 1);
}

// Formats of one image get a file per page, numbered to sort; the window's rule counts each page
// by the resolution it states.
TEST_F(PagesTest, FormatsOfOneImageGetAFilePerPage) {
    std::vector<EnginePage> pages(12, EnginePage{40, 20, 1, 144, 144});
    ASSERT_TRUE(writeEngineDocument(src + "letter.tif", pages));
    ASSERT_TRUE(writeEngineDocument(src + "memo.tif", {{30, 20, 3, 72, 72}}));
    settings.OutputDir = src;  // beside the sources: every page file is listed
    const auto engine = run({"letter.tif", "memo.tif"});
    ASSERT_EQ(engine->outcome(), Outcome::Completed) << view.details.join("\n").toStdString();
    QStringList expected;
    for (int page = 1; page <= 12; ++page)
        expected << QStringLiteral("letter-%1.JPG").arg(page, 2, 10, QLatin1Char('0'));
    EXPECT_EQ(QDir(src).entryList({"*.JPG"}, QDir::Files, QDir::Name),
              expected + QStringList{"memo.JPG"});
    const ProbedImage first = probeJpeg(src + "letter-01.JPG");
    EXPECT_EQ(std::tuple(first.width, first.height, first.xDpi), std::tuple(20, 10, 72.0));
    EXPECT_EQ(view.sources.size(), 13);
    EXPECT_EQ(view.converted, 13);
}

// 204 x 98 dpi: pixels twice as tall as wide. Square at the file's own resolution (204 dpi,
// 1728 x 1146 -> 1728 x 2386), and at the window's 72 dpi 610 x 842: a fax's stated resolution
// counts in the window's rule like any TIFF's.
TEST_F(PagesTest, FaxPagesGetSquarePixelsAtTheirStatedResolution) {
    ASSERT_TRUE(writeEngineDocument(src + "fax.tif", {{1728, 1146, 0, 204, 98}}));
    asTiff(29);
    for (const auto& [rule, dpi, size] : {std::tuple{Rule::FileOwn, 204.0, QSize(1728, 2386)},
                                          std::tuple{Rule::Settings, 72.0, QSize(610, 842)}}) {
        QDir(out).removeRecursively();
        QDir().mkpath(out);
        view.work.clear();
        const auto engine = run({"fax.tif"}, rule);
        ASSERT_EQ(engine->outcome(), Outcome::Completed) << view.details.join("\n").toStdString();
        const ProbedImage probe = probeTiff(out + "fax.TIF");
        EXPECT_EQ(std::tuple(QSize(probe.width, probe.height), probe.xDpi), std::tuple(size, dpi));
    }
}

// A damaged third page fails the whole file naming the page; nothing of it is written, in a TIFF
// or in page files, and the run ends there.
TEST_F(PagesTest, ADamagedPageFailsTheWholeFileAndWritesNothing) {
    ASSERT_TRUE(writeEngineDocument(
        src + "manual.tif",
        {{200, 100, 0, 200, 200}, {200, 100, 0, 200, 200}, {200, 100, 0, 200, 200, true}}));
    for (int code : {29, 10}) {
        SCOPED_TRACE(code);
        view = {};
        if (code == 29)
            asTiff(29);
        else
            settings.FileFormat = 10, settings.OutputExt = "JPG", settings.BitsPerPixel = 24;
        const auto engine = run({"manual.tif"});
        EXPECT_EQ(engine->outcome(), Outcome::Failed);
        EXPECT_EQ(engine->errorCode(), imaging::kErrCorrupt);
        EXPECT_TRUE(engine->failureReason().startsWith("page 3 of 3: the file is damaged"))
            << engine->failureReason().toStdString();
        EXPECT_EQ(outputs(), QStringList{});
        EXPECT_EQ(view.converted, 0);
    }
}

// scan.tif's second page file would be scan-2.JPG, the output of scan-2.gif's neighbour in the
// list: the multi-page file fails naming both, before anything of it is written.
TEST_F(PagesTest, APageFileNeverReplacesAnotherOutputOfTheRun) {
    ASSERT_TRUE(writeEngineDocument(src + "scan.tif", {{20, 10, 1}, {20, 10, 1}}));
    ASSERT_TRUE(writeEngineDocument(src + "scan-2.tif", {{20, 10, 3}}));
    const auto engine = run({"scan-2.tif", "scan.tif"});
    EXPECT_EQ(engine->outcome(), Outcome::Failed);
    EXPECT_EQ(engine->errorCode(), kErrPageClash);
    EXPECT_EQ(engine->errorMessage(),
              "scan-2.JPG, a page of scan.tif, would replace the output of scan-2.tif.");
    EXPECT_EQ(outputs(), QStringList{"scan-2.JPG"});  // the other file's, converted first
    // A page file that would replace a source fails as any output does.
    view = {};
    settings.OutputDir = src;
    settings.OutputExt = "tif";
    const auto replacing = run({"scan.tif", "scan-2.tif"});
    EXPECT_EQ(replacing->errorCode(), kErrReplacesSource);
}

// The file's bar rises through the pages (not 0 % for 499 pages, then 100 %). (A stop at any page
// leaves nothing of the file: ConversionStepTest.)
TEST_F(PagesTest, ProgressMovesPageByPage) {
    ASSERT_TRUE(writeEngineDocument(src + "long.tif", std::vector<EnginePage>(5, {300, 200, 1})));
    asTiff(17);
    std::vector<float> bars;
    view.onProgress = [&](int16_t percent, const RunState& state) {
        bars.push_back(fileBarValue(percent, state));
    };
    auto engine = run({"long.tif"});
    ASSERT_EQ(engine->outcome(), Outcome::Completed);
    ASSERT_FALSE(bars.empty());
    EXPECT_TRUE(std::is_sorted(bars.begin(), bars.end()));
    EXPECT_LE(bars.front(), 10.f);
    EXPECT_GE(bars.back(), 99.f);
    EXPECT_GE(std::count_if(bars.begin(), bars.end(), [](float b) { return b > 30 && b < 70; }), 1);
}

TEST(PageRules, PageFileNamesSortAndComposeWithTheBaseName) {
    const std::tuple<QString, QString, int, int, QString> cases[] = {
        {"scan.JPG", "JPG", 1, 1, "scan.JPG"},
        {"scan.JPG", "JPG", 1, 3, "scan-1.JPG"},
        {"scan.JPG", "JPG", 3, 3, "scan-3.JPG"},
        {"scan.JPG", "JPG", 7, 12, "scan-07.JPG"},
        {"scan.JPG", "JPG", 100, 100, "scan-100.JPG"},
        {"scan.JPG", "JPG", 9, 100, "scan-009.JPG"},
        {"2024.06.01 beach.JXL", "JXL", 2, 2, "2024.06.01 beach-2.JXL"},  // last-dot naming
        {"README.", "", 2, 2, "README-2."},
        {"a.tar.jpg", "tar.jpg", 1, 2, "a-1.tar.jpg"},
        {"odd", "JPG", 2, 2, "odd-2"},
    };
    for (const auto& [name, ext, page, count, expected] : cases)
        EXPECT_EQ(pageFileName(name, ext, page, count), expected) << name.toStdString();
    EXPECT_EQ(outputFileNames("scan.TIF", "TIF", 3, 29), QStringList{"scan.TIF"});
    EXPECT_EQ(outputFileNames("scan.JXL", "JXL", 2, 30), (QStringList{"scan-1.JXL", "scan-2.JXL"}));
    EXPECT_EQ(outputFileNames("scan.JPG", "JPG", 1, 10), QStringList{"scan.JPG"});
}

TEST(PageRules, SquarePixelHeight) {
    const std::tuple<int32_t, int32_t, int32_t, int32_t, int32_t> cases[] = {
        // height, x, y -> error, height
        {1146, 204, 98, 0, 2386},                            // 2385.55
        {2292, 204, 196, 0, 2386},                           // 2385.55
        {1000, 200, 200, 0, 1000}, {1000, 200, 0, 0, 1000},  // one not stated: square as it is
        {1000, 0, 100, 0, 1000},   {20000, 400, 100, kErrOverflow, 20000},
    };
    for (const auto& [height, x, y, error, expected] : cases) {
        int32_t square = -1;
        EXPECT_EQ(squarePixelHeight(height, x, y, square), error) << height << " " << x << " " << y;
        EXPECT_EQ(square, expected);
    }
}

TEST(PageRules, FileBarSharesTheBarEquallyAmongThePages) {
    RunState state;
    EXPECT_EQ(fileBarValue(50, state), 25.f);  // one page: as the single bar
    state.PageCount = 4;
    state.PageIndex = 1;
    EXPECT_EQ(fileBarValue(0, state), 25.f);
    state.Saving = true;
    EXPECT_EQ(fileBarValue(100, state), 50.f);
    state.PageIndex = 3;
    const ProgressDisplay display = progressDisplay(100, [&] {
        RunState s = state;
        s.CurrentBytes = 1000;
        s.TotalBytes = 2000;
        return s;
    }());
    EXPECT_EQ(std::tuple(display.singleBar, display.totalBar), std::tuple(100.f, 50));
}

}  // namespace
}  // namespace pixavant::batch
