#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSize>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <thread>
#include <tuple>

#include "Bytes.h"
#include "EngineFixtures.h"
#include "EngineRunTest.h"
#include "FakeBatchView.h"
#include "batch/BatchEngine.h"
#include "batch/BatchRules.h"
#include "imaging/ImagingStatus.h"
#include "settings/AppState.h"
#include "settings/ListEntry.h"

namespace pixavant::batch {
namespace {

using test::FakeBatchView;
using namespace pixavant::testsupport;

using Outcome = BatchEngine::Outcome;

using BatchEngineTest = test::EngineRunTest;

TEST_F(BatchEngineTest, LoadSumsTheWorkListSizesAndResetsTheDisplay) {
    writeEngineFile(src + "a.tif", QByteArray(100, 'a'));
    writeEngineFile(src + "c.tif", QByteArray(50, 'c'));
    writeEngineFile(src + "c.tif ", QByteArray(1, 'd'));
    // "c.tif " is sized as itself, not as its neighbour "c.tif"; the missing file counts 0.
    list({"a.tif", "missing.tif", "c.tif "});
    BatchEngine engine(view, settings, src);
    engine.load();
    const RunState& state = engine.state();
    EXPECT_EQ(std::tuple(state.FileCount, state.TotalBytes, state.DoneBytes, state.Finished),
              std::tuple(3, 101, 0, false));
    EXPECT_EQ(view.calls,
              (QStringList{"TotalPct=0 %", "TotalBar=0", "SingleBar=0", "SinglePct=0 %"}));
    EXPECT_TRUE(engine.control().enableProgressEvent());
}

TEST(AddToSourceList, ExactTextDuplicateTestAndCountLabel) {
    FakeBatchView view;
    view.sources = {" a.JPG", " b.JPG"};
    // Letter case and the leading space tell entries apart.
    for (const char* entry : {" a.JPG", " A.JPG", "a.JPG", " A.JPG"})
        addToSourceList(view, entry);
    EXPECT_EQ(view.sources, (QStringList{" a.JPG", " b.JPG", " A.JPG", "a.JPG"}));
    EXPECT_EQ(view.values("Label1"), (QStringList{sourceCountText(2), sourceCountText(3),
                                                  sourceCountText(4), sourceCountText(4)}));
    EXPECT_TRUE(!view.clickUpdatesWhileAdding && appState().ListClickUpdatesEnabled);
}

// Every file of a batch is converted with progress, and sized by its own resolution and aspect,
// whatever came before it.
TEST_F(BatchEngineTest, ConvertsEveryFileSizedByItsOwnResolutionAndAspect) {
    struct File {
        const char* name;  // a .jpg is written as a JPEG, the rest as TIFFs
        int width, height, dpi;
        QSize output;
        int channels = 3;
    };
    const auto convert = [&](const std::vector<File>& files) {
        FakeBatchView v;
        std::vector<bool> saving;
        v.onProgress = [&](int16_t, const RunState& state) {
            saving.push_back(state.Saving);
            EXPECT_LE(state.DoneBytes + state.CurrentBytes, state.TotalBytes);
        };
        QStringList left = {QString::number(files.size()) + " files"}, names;
        for (const File& f : files) {
            const QString path = src + f.name;
            path.endsWith(".jpg") ? writeEngineJpeg(path, f.width, f.height, 3, f.dpi)
                                  : writeEngineTiff(path, f.width, f.height, 3, f.dpi);
            v.work << QStringLiteral(" ") + f.name;
            left << QString::number(files.size() - names.size() - 1) + " files";
            names << f.name;
        }
        const auto engine = runAll(v);
        ASSERT_EQ(engine->outcome(), Outcome::Completed) << v.details.join(' ').toStdString();
        EXPECT_EQ(std::pair(v.values("TotalFileLeft"), v.values("SingleFileName")),
                  std::pair(left, names));
        EXPECT_EQ(engine->state().DoneBytes, engine->state().TotalBytes);
        // No message; no list addition, the output directory not being the source's.
        EXPECT_TRUE(v.messages.isEmpty() && v.values("AddSource").isEmpty());
        EXPECT_TRUE(!saving.empty() && !saving.front() && saving.back());
        for (const File& f : files) {
            const ProbedImage p = probeJpeg(out + QString(f.name).section('.', 0, 0) + ".JPG");
            EXPECT_EQ(QSize(p.width, p.height), f.output) << f.name;
            EXPECT_EQ(p.channels, f.channels) << f.name;
        }
    };
    // A TIFF is resampled by the resolution it states (none: 72), a JPEG counts as 72 dpi
    // whatever it states. 40 x 144 / 300 = 19.2, 20 x 144 / 300 = 9.6. A name is cut at its
    // first dot.
    settings.Dpi = 144;
    convert({{"t.tif", 40, 20, 72, {80, 40}},
             {"h.2.tif", 40, 20, 300, {19, 10}},
             {"j.jpg", 40, 20, 300, {80, 40}},
             {"n", 20, 10, 0, {40, 20}}});
    EXPECT_EQ(outputs(), (QStringList{"h.JPG", "j.JPG", "n.JPG", "t.JPG"}));
    settings.Dpi = 72;
    // Gray scale gives a gray output, 8-bit colour does not.
    settings.BitsPerPixel = 8;
    for (const auto& [depthChoice, channels] : {std::pair(1, 1), std::pair(2, 3)}) {
        settings.DepthChoice = int16_t(depthChoice);
        convert({{"g.tif", 24, 24, 72, {24, 24}, channels}});
    }
    settings.BitsPerPixel = 24;
    settings.DepthChoice = 4;
    // Only a width given: each file keeps its own aspect.
    settings.SizeChoice = 1;
    settings.OutWidth = 10;
    convert({{"wide.tif", 40, 20, 72, {10, 5}}, {"tall.tif", 20, 40, 72, {10, 20}}});
}

TEST_F(BatchEngineTest, AFailureStopsTheRunWithOneMessageNamingTheFileAndTheReason) {
    writeEngineTiff(src + "a.tif", 20, 20, 3, 72);
    writeEngineFile(src + "b.tif", QByteArray("II*\0\x08\0\0\0\xff\xff", 10));  // no directory
    writeEngineTiff(src + "c.tif", 20, 20, 3, 72);
    list({"a.tif", "b.tif", "c.tif"});
    const auto engine = runAll(view);
    EXPECT_EQ(engine->outcome(), Outcome::Failed);
    EXPECT_EQ(view.messages, QStringList{"Compression error."});
    EXPECT_EQ(outputs(), QStringList{"a.JPG"});
    EXPECT_EQ(view.values("SingleFileName"), (QStringList{"a.tif", "b.tif"}));
    EXPECT_EQ(view.calls.back(), "Close");
    ASSERT_EQ(view.details.size(), 1);
    EXPECT_TRUE(view.details[0].startsWith("File: " + src + "b.tif\nReason: the file is damaged: "))
        << view.details[0].toStdString();  // and libtiff's words
    EXPECT_EQ(engine->failureReason(), view.details[0].section("Reason: ", 1));

    writeEngineFile(src + "c.pcx", QByteArray(200, 'x'));
    FakeBatchView other;
    other.work << " c.pcx";
    runAll(other);
    EXPECT_EQ(other.details, QStringList{"File: " + src +
                                         "c.pcx\nReason: not an image in a format PIXAVANT reads"});
}

TEST_F(BatchEngineTest, FilesMappingOntoOneOutputAreRefusedBeforeAnythingIsWritten) {
    for (const char* name : {"a.tif", "photo.gif.tif", "photo.tif"})
        writeEngineTiff(src + name, 8, 8, 3, 72);
    list({"a.tif", "photo.gif.tif", "photo.tif"});
    const auto engine = runAll(view);
    EXPECT_EQ(engine->errorCode(), kErrOutputClash);
    EXPECT_EQ(view.messages, QStringList{"photo.gif.tif and photo.tif would both be written to "
                                         "photo.JPG.\nNothing was converted."});
    EXPECT_EQ(view.details,
              QStringList{"Output directory: " + out + "\nphoto.JPG: photo.gif.tif, photo.tif"});
    // Nothing written, not even a.tif, which clashes with nothing.
    EXPECT_TRUE(outputs().isEmpty() && view.values("SingleFileName").isEmpty());
    EXPECT_TRUE(view.calls.contains("Close"));
}

TEST_F(BatchEngineTest, NeverReplacesAFileOfTheWorkListByNameOrThroughALink) {
    writeEngineJpeg(src + "b.jpg", 20, 20, 3, 72);
    writeEngineJpeg(src + "p.jpg", 20, 20, 3, 72);
    ASSERT_TRUE(QFile::link(src + "p.jpg", out + "p.JPG"));  // the output name is a link to it
    const QByteArray b = testing::readBytes(src + "b.jpg"), p = testing::readBytes(src + "p.jpg");
    const std::pair<QString, QString> runs[] = {{src, "jpg"}, {out, "JPG"}};
    for (const auto& [outputDir, ext] : runs) {
        FakeBatchView v;
        v.work << (outputDir == src ? " b.jpg" : " p.jpg");
        settings.OutputDir = outputDir;
        settings.OutputExt = ext;
        const auto engine = runAll(v);
        EXPECT_EQ(engine->errorCode(), kErrReplacesSource);
        ASSERT_EQ(v.messages.size(), 1);
        EXPECT_TRUE(v.messages[0].startsWith("The output file would replace a source file: "));
    }
    EXPECT_EQ(std::pair(testing::readBytes(src + "b.jpg"), testing::readBytes(src + "p.jpg")),
              std::pair(b, p));
    EXPECT_EQ(QDir(src).entryList(QDir::Files).size(), 2);
}

TEST_F(BatchEngineTest, OutputsInTheSourceDirectoryAreListedOnce) {
    for (const char* name : {"a.tif", "b.tif"})
        writeEngineTiff(src + name, 20, 20, 3, 72);
    list({"a.tif", "b.tif"});
    view.sources = {" a.tif", " b.tif"};
    settings.OutputDir = src;
    for (int run = 0; run < 2; ++run) {
        view.calls.clear();
        ASSERT_EQ(runAll(view)->outcome(), Outcome::Completed);
        EXPECT_EQ(view.values("Label1").size(), 2);  // rewritten after each file
    }
    EXPECT_EQ(view.sources, (QStringList{" a.tif", " b.tif", " a.JPG", " b.JPG"}));

    // A directory whose name differs in letter case is another directory.
    const QString upper = tmp.path() + "/SRC/";
    QDir().mkpath(upper);
    settings.OutputDir = upper;
    view.calls.clear();
    ASSERT_EQ(runAll(view)->outcome(), Outcome::Completed);
    EXPECT_TRUE(view.values("AddSource").isEmpty() && view.values("Label1").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(upper + "a.JPG"));
}

// Work entries added from other folders are converted from there, whatever the source directory
// holds under the same names.
TEST_F(BatchEngineTest, EachWorkEntryIsConvertedFromTheFolderItWasAddedFrom) {
    const QString one = tmp.path() + "/one/", two = tmp.path() + "/two/";
    QDir().mkpath(one);
    QDir().mkpath(two);
    writeEngineTiff(src + "same.tif", 10, 10, 3, 72);
    writeEngineTiff(one + "same.tif", 30, 20, 3, 72);
    writeEngineTiff(two + "b.tif", 40, 10, 3, 72);
    view.work = {" b.tif", " same.tif"};
    view.folders = {two, one};
    const auto engine = runAll(view);
    ASSERT_EQ(engine->outcome(), Outcome::Completed) << engine->errorDetails().toStdString();
    EXPECT_EQ(engine->state().TotalBytes,
              QFileInfo(one + "same.tif").size() + QFileInfo(two + "b.tif").size());
    EXPECT_EQ(view.convertedFiles, (QStringList{two + "b.tif -> " + out + "b.JPG",
                                                one + "same.tif -> " + out + "same.JPG"}));
    const ProbedImage same = probeJpeg(out + "same.JPG");
    EXPECT_EQ(QSize(same.width, same.height), QSize(30, 20));

    // A file that is not in its folder any more fails naming that folder, not the source one.
    QFile::remove(one + "same.tif");
    FakeBatchView again;
    again.work = {" same.tif"};
    again.folders = {one};
    EXPECT_EQ(runAll(again)->outcome(), Outcome::Failed);
    ASSERT_EQ(again.details.size(), 1);
    EXPECT_TRUE(again.details[0].startsWith("File: " + one + "same.tif\n"))
        << again.details[0].toStdString();

    // An output may not replace a work file of another folder either.
    settings.OutputDir = two;
    FakeBatchView into;
    into.work = {" b.tif"};
    into.folders = {two};
    settings.OutputExt = "tif";
    EXPECT_EQ(runAll(into)->errorCode(), kErrReplacesSource);
}

TEST_F(BatchEngineTest, CancelAbandonsTheFileInProgressAndSkipsTheRest) {
    for (const char* name : {"a.tif", "b.tif", "c.tif"})
        writeEngineTiff(src + name, 64, 64, 3, 72);
    list({"a.tif", "b.tif", "c.tif"});
    BatchEngine engine(view, settings, src);
    qsizetype callsAtCancel = -1;
    view.onProgress = [&](int16_t, const RunState& state) {
        if (state.FileIndex == 1 && state.Saving && callsAtCancel < 0) {
            engine.cancel();
            callsAtCancel = view.calls.size();
        }
    };
    engine.load();
    engine.timerEvent();
    engine.timerEvent();
    EXPECT_EQ(engine.outcome(), Outcome::Cancelled);
    // Nothing touched the view after the cancel, not even the next timer event; no b.JPG, no
    // temporary file.
    EXPECT_EQ(view.calls.size(), callsAtCancel);
    EXPECT_EQ(outputs(), QStringList{"a.JPG"});
}

// Loading reports in the first part, the resize from there up to the half; a cancel from another
// thread during the resize stops the run before anything is saved.
TEST_F(BatchEngineTest, ResizeReportsWithinTheFirstHalfAndACancelFromAnotherThreadStopsIt) {
    writeEngineTiff(src + "a.tif", 600, 400, 3, 72);
    list({"a.tif"});
    settings.Dpi = 300;  // 2500 x 1667: the resize lasts many progress polls
    for (const bool cancel : {false, true}) {
        BatchEngine engine(view, settings, src);
        std::vector<int> loading;
        bool saving = false;
        view.onProgress = [&](int16_t percent, const RunState& state) {
            saving = saving || state.Saving;
            if (!state.Saving)
                loading.push_back(percent);
            if (cancel && percent >= 50 && !state.Saving && !engine.cancelled())
                std::thread([&] { engine.cancel(); }).join();
        };
        engine.load();
        engine.timerEvent();
        ASSERT_FALSE(loading.empty());
        EXPECT_TRUE(std::is_sorted(loading.begin(), loading.end()));
        EXPECT_LT(loading.front(), 50);
        EXPECT_EQ(engine.outcome(), cancel ? Outcome::Cancelled : Outcome::Completed);
        EXPECT_EQ(saving, !cancel);
        EXPECT_EQ(outputs(), cancel ? QStringList() : QStringList{"a.JPG"});
        if (!cancel) {
            EXPECT_EQ(loading.back(), 100);
            EXPECT_GT(std::count_if(loading.begin(), loading.end(),
                                    [](int p) { return p > 50 && p < 100; }),
                      1);
            QFile::remove(out + "a.JPG");
        }
    }
}

// Engines on threads of their own, each with its own resolution, output format and source list:
// every output carries its own engine's resolution and format, and each source list gets its own
// files, however the threads interleave.
TEST(EnginesSideBySide, NeitherSeesTheOthersSettings) {
    QTemporaryDir tmp;
    constexpr int kEngines = 3;
    constexpr int kFiles = 8;
    const int dpis[kEngines] = {100, 200, 300};
    FakeBatchView views[kEngines];
    CompressionSettings settings[kEngines];
    for (int e = 0; e < kEngines; ++e) {
        const QString sub = tmp.path() + "/" + QString::number(e) + "/";
        QDir().mkpath(sub);
        for (int i = 0; i < kFiles; ++i) {
            ASSERT_TRUE(writeEngineTiff(sub + QStringLiteral("f%1.tif").arg(i), 24, 16, 3, 72));
            views[e].work << QStringLiteral(" f%1.tif").arg(i);
        }
        // Outputs beside the sources (list additions), at the stored size (the same pixels for any
        // dpi), as TIFF LZW or JPEG.
        CompressionSettings& s = settings[e] = CompressionSettings::defaults(sub);
        std::tie(s.SizeChoice, s.OutWidth, s.OutHeight, s.Dpi, s.BitsPerPixel, s.FileFormat,
                 s.QualityFactor) = std::tuple(1, 24, 16, dpis[e], 24, e == 1 ? 17 : 10, 2);
        s.OutputExt = e == 1 ? QStringLiteral("TIF") : QStringLiteral("JPG");
    }
    std::vector<std::thread> threads;
    for (int e = 0; e < kEngines; ++e)
        threads.emplace_back([&, e] {
            const auto engine = test::runWorkList(views[e], settings[e], settings[e].OutputDir);
            EXPECT_EQ(engine->outcome(), Outcome::Completed) << e;
        });
    for (std::thread& thread : threads)
        thread.join();
    for (int e = 0; e < kEngines; ++e) {
        EXPECT_EQ(views[e].sources.size(), kFiles) << e;
        for (int i = 0; i < kFiles; ++i) {
            const QString output =
                settings[e].OutputDir + QStringLiteral("f%1.").arg(i) + settings[e].OutputExt;
            const ProbedImage probed = e == 1 ? probeTiff(output) : probeJpeg(output);
            EXPECT_TRUE(probed.ok && probed.xDpi == dpis[e]) << output.toStdString();
        }
    }
}

}  // namespace
}  // namespace pixavant::batch
