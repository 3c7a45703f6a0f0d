#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>
#include <thread>

#include "EngineFixtures.h"
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

// The settings a first "Compress" of the options dialog stores, writing NAME.JPG to `dir`.
CompressionSettings startUpSettings(const QString& dir) {
    CompressionSettings s = CompressionSettings::defaults(dir);
    s.Dpi = 72;
    s.BitsPerPixel = 24;
    s.FileFormat = 10;
    s.QualityFactor = 2;
    s.OutputExt = QStringLiteral("JPG");
    return s;
}

class BatchEngineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + "/src/";
        out = tmp.path() + "/out/";
        QDir().mkpath(src);
        QDir().mkpath(out);
        settings = startUpSettings(out);
    }
    void needCodecs() {
        QString why;
        if (!engineCodecsReady(why))
            GTEST_SKIP() << why.toStdString();
    }
    // A run of the work list to its end (the first timer event does it all).
    std::unique_ptr<BatchEngine> runAll(FakeBatchView& v) {
        auto engine = std::make_unique<BatchEngine>(v, settings, src);
        engine->load();
        engine->timerEvent();
        return engine;
    }
    void list(const QStringList& names) {
        for (const QString& n : names)
            view.work << " " + n;
    }
    QStringList outputs() const {
        return QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    QByteArray bytes(const QString& path) const {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir tmp;
    QString src;
    QString out;
    CompressionSettings settings;
    FakeBatchView view;
};

TEST_F(BatchEngineTest, LoadSumsTheWorkListSizesAndResetsTheDisplay) {
    writeEngineFile(src + "a.tif", QByteArray(100, 'a'));
    writeEngineFile(src + "c.tif", QByteArray(50, 'c'));
    writeEngineFile(src + "c.tif ", QByteArray(1, 'd'));
    // "c.tif " is sized as itself, not as its neighbour "c.tif".
    list({"a.tif", "missing.tif", "c.tif "});
    BatchEngine engine(view, settings, src);
    engine.load();
    EXPECT_EQ(engine.state().FileCount, 3);
    EXPECT_EQ(engine.state().TotalBytes, 101);  // the missing file counts 0
    EXPECT_EQ(engine.state().DoneBytes, 0);
    EXPECT_FALSE(engine.state().Finished);
    EXPECT_EQ(view.calls,
              (QStringList{"TotalPct=0 %", "TotalBar=0", "SingleBar=0", "SinglePct=0 %"}));
    EXPECT_TRUE(engine.control().enableProgressEvent());
}

TEST_F(BatchEngineTest, EmptyWorkListEndsAtOnceAndClosesOnTheNextTimerEvent) {
    BatchEngine engine(view, settings, src);
    engine.load();
    view.calls.clear();
    engine.timerEvent();
    EXPECT_EQ(view.calls,
              (QStringList{"Timer=off", "TotalFileLeft=0 files", "TotalPct=100 %", "TotalBar=100",
                           "SingleBar=100", "SinglePct=100 %", "Interval=6000", "Timer=on"}));
    EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Completed);
    EXPECT_TRUE(engine.state().Finished);
    EXPECT_FALSE(engine.control().enableProgressEvent());
    view.calls.clear();
    engine.timerEvent();
    EXPECT_EQ(view.calls, (QStringList{"Timer=off", "Close"}));
    EXPECT_TRUE(outputs().isEmpty());
}

TEST_F(BatchEngineTest, FirstFailureShowsOneMessageAndClosesAtOnce) {
    writeEngineFile(src + "notes.tif", "this is not an image at all, only some text");
    list({"missing.tif", "notes.tif"});
    BatchEngine engine(view, settings, src);
    engine.load();
    view.calls.clear();
    engine.timerEvent();
    EXPECT_EQ(view.calls,
              (QStringList{"Timer=off", "TotalFileLeft=2 files", "SingleFileName=missing.tif",
                           "Message=Compression error.", "TotalFileLeft=0 files", "TotalPct=100 %",
                           "TotalBar=100", "SingleBar=100", "SinglePct=100 %", "Interval=6000",
                           "Timer=off", "Close"}));
    EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Failed);
    EXPECT_EQ(engine.errorCode(), imaging::kErrFileNotFound);
    EXPECT_EQ(engine.failedFile(), QStringLiteral("missing.tif"));
    EXPECT_TRUE(outputs().isEmpty());
}

TEST(AddToSourceList, ExactTextDuplicateTestAndCountLabel) {
    FakeBatchView view;
    view.sources = {" a.JPG", " b.JPG"};
    addToSourceList(view, " a.JPG");
    addToSourceList(view, " A.JPG");  // letter case differs: a new entry
    addToSourceList(view, "a.JPG");   // no leading space: a new entry
    addToSourceList(view, " A.JPG");
    EXPECT_EQ(view.sources, (QStringList{" a.JPG", " b.JPG", " A.JPG", "a.JPG"}));
    EXPECT_EQ(view.values("Label1"), (QStringList{sourceCountText(2), sourceCountText(3),
                                                  sourceCountText(4), sourceCountText(4)}));
    EXPECT_FALSE(view.clickUpdatesWhileAdding);
    EXPECT_TRUE(appState().ListClickUpdatesEnabled);
}

// ---- with the codecs ----

TEST_F(BatchEngineTest, ConvertsEveryFileWithProgress) {
    needCodecs();
    writeEngineTiff(src + "a.tif", 40, 20, 3, 72);
    writeEngineJpeg(src + "b.2.jpg", 30, 30, 3, 300);
    writeEngineTiff(src + "c", 16, 8, 1, 72);
    list({"a.tif", "b.2.jpg", "c"});
    std::vector<std::pair<int, bool>> notes;
    view.onProgress = [&](int16_t percent, const RunState& state) {
        notes.emplace_back(percent, state.Saving);
        EXPECT_LE(state.DoneBytes + state.CurrentBytes, state.TotalBytes);
    };
    const auto engine = runAll(view);
    ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed)
        << engine->errorMessage().toStdString();
    EXPECT_EQ(outputs(), (QStringList{"a.JPG", "b.JPG", "c.JPG"}));
    EXPECT_EQ(view.values("TotalFileLeft"),
              (QStringList{"3 files", "2 files", "1 files", "0 files"}));
    EXPECT_EQ(view.values("SingleFileName"), (QStringList{"a.tif", "b.2.jpg", "c"}));
    EXPECT_EQ(engine->state().DoneBytes, engine->state().TotalBytes);
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_TRUE(view.values("AddSource").isEmpty());  // output directory is not the source's
    ASSERT_FALSE(notes.empty());
    EXPECT_FALSE(notes.front().second);
    EXPECT_TRUE(notes.back().second);
    const ProbedImage a = probeJpeg(out + "a.JPG");
    EXPECT_EQ(a.width, 40);
    EXPECT_EQ(a.height, 20);
    EXPECT_EQ(a.xDpi, 72);
    const ProbedImage b = probeJpeg(out + "b.JPG");  // a JPEG counts as 72 dpi whatever it states
    EXPECT_EQ(b.width, 30);
    EXPECT_EQ(b.height, 30);
}

TEST_F(BatchEngineTest, ResolutionChangeResamplesTiffButNotJpeg) {
    needCodecs();
    writeEngineTiff(src + "t.tif", 40, 20, 3, 72);
    writeEngineTiff(src + "h.tif", 40, 20, 3, 300);
    writeEngineJpeg(src + "j.jpg", 40, 20, 3, 300);
    list({"t.tif", "h.tif", "j.jpg"});
    settings.Dpi = 144;
    const auto engine = runAll(view);
    ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed)
        << engine->errorMessage().toStdString();
    const ProbedImage t = probeJpeg(out + "t.JPG");
    EXPECT_EQ(t.width, 80);
    EXPECT_EQ(t.height, 40);
    EXPECT_EQ(t.xDpi, 144);
    const ProbedImage h = probeJpeg(out + "h.JPG");  // 40 x 144 / 300 = 19.2, 20 x 144 / 300 = 9.6
    EXPECT_EQ(h.width, 19);
    EXPECT_EQ(h.height, 10);
    const ProbedImage j = probeJpeg(out + "j.JPG");  // 72-class: 40 x 144 / 72
    EXPECT_EQ(j.width, 80);
    EXPECT_EQ(j.height, 40);
}

TEST_F(BatchEngineTest, EachFileKeepsItsOwnAspectWithOnlyAWidth) {
    needCodecs();
    writeEngineTiff(src + "wide.tif", 40, 20, 3, 72);
    writeEngineTiff(src + "tall.tif", 20, 40, 3, 72);
    list({"wide.tif", "tall.tif"});
    settings.SizeChoice = 1;
    settings.OutWidth = 10;
    const auto engine = runAll(view);
    ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed)
        << engine->errorMessage().toStdString();
    EXPECT_EQ(probeJpeg(out + "wide.JPG").height, 5);
    EXPECT_EQ(probeJpeg(out + "tall.JPG").height, 20);
}

TEST_F(BatchEngineTest, FailureInTheMiddleKeepsTheFirstAndSkipsTheThird) {
    needCodecs();
    writeEngineTiff(src + "a.tif", 20, 20, 3, 72);
    writeEngineTiff(src + "b.tif", 64, 64, 3, 72);
    QByteArray damaged = bytes(src + "b.tif");
    damaged.truncate(damaged.size() / 3);
    writeEngineFile(src + "b.tif", damaged);
    writeEngineTiff(src + "c.tif", 20, 20, 3, 72);
    list({"a.tif", "b.tif", "c.tif"});
    const auto engine = runAll(view);
    EXPECT_EQ(engine->outcome(), BatchEngine::Outcome::Failed);
    EXPECT_EQ(view.messages, QStringList{"Compression error."});
    EXPECT_EQ(outputs(), QStringList{"a.JPG"});
    EXPECT_EQ(view.values("SingleFileName"), (QStringList{"a.tif", "b.tif"}));
    EXPECT_EQ(view.calls.back(), "Close");
}

TEST_F(BatchEngineTest, TiffWithoutResolutionCountsAs72Dpi) {
    needCodecs();
    writeEngineTiff(src + "nores.tif", 20, 10, 3, 0);  // states no resolution: 0 dpi
    list({"nores.tif"});
    for (const int16_t dpi : {72, 144}) {
        settings.Dpi = dpi;
        FakeBatchView run;
        run.work = view.work;
        const auto engine = runAll(run);
        ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed)
            << run.messages.join(' ').toStdString();
        EXPECT_EQ(probeJpeg(out + "nores.JPG").width, 20 * dpi / 72);
    }
}

TEST_F(BatchEngineTest, FilesMappingOntoOneOutputAreRefusedBeforeAnythingIsWritten) {
    needCodecs();
    for (const char* name : {"a.tif", "photo.gif.tif", "photo.tif"})
        writeEngineTiff(src + name, 8, 8, 3, 72);
    list({"a.tif", "photo.gif.tif", "photo.tif"});
    const auto engine = runAll(view);
    EXPECT_EQ(engine->errorCode(), kErrOutputClash);
    EXPECT_EQ(view.messages, QStringList{"photo.gif.tif and photo.tif would both be written to "
                                         "photo.JPG.\nNothing was converted."});
    EXPECT_EQ(view.details, QStringList{"Output directory: " + out +
                                        "\nphoto.JPG: photo.gif.tif, "
                                        "photo.tif"});
    EXPECT_TRUE(outputs().isEmpty());  // not even a.tif, which clashes with nothing
    EXPECT_TRUE(view.values("SingleFileName").isEmpty());
    EXPECT_TRUE(view.calls.contains("Close"));
}

TEST_F(BatchEngineTest, FailureDetailsNameTheFileAndTheReason) {
    needCodecs();
    writeEngineTiff(src + "a.tif", 8, 8, 3, 72);
    writeEngineFile(src + "b.tif", QByteArray("II*\0\x08\0\0\0\xff\xff", 10));  // no directory
    writeEngineFile(src + "c.pcx", QByteArray(200, 'x'));
    list({"a.tif", "b.tif"});
    const auto engine = runAll(view);
    ASSERT_EQ(view.messages, QStringList{"Compression error."});
    ASSERT_EQ(view.details.size(), 1);
    EXPECT_TRUE(view.details[0].startsWith("File: " + src + "b.tif\nReason: the file is damaged: "))
        << view.details[0].toStdString();  // and libtiff's words
    EXPECT_EQ(engine->failureReason(), view.details[0].section("Reason: ", 1));

    FakeBatchView other;
    other.work << " c.pcx";
    const auto second = runAll(other);
    EXPECT_EQ(other.details, QStringList{"File: " + src +
                                         "c.pcx\nReason: not an image in a format "
                                         "PIXAVANT reads"});
}

TEST_F(BatchEngineTest, NeverReplacesAFileOfTheWorkListByNameOrThroughALink) {
    needCodecs();
    writeEngineJpeg(src + "b.jpg", 20, 20, 3, 72);
    writeEngineJpeg(src + "p.jpg", 20, 20, 3, 72);
    ASSERT_TRUE(QFile::link(src + "p.jpg", out + "p.JPG"));  // the output name is a link to it
    const QByteArray b = bytes(src + "b.jpg"), p = bytes(src + "p.jpg");
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
    EXPECT_EQ(bytes(src + "b.jpg"), b);
    EXPECT_EQ(bytes(src + "p.jpg"), p);
    EXPECT_EQ(QDir(src).entryList(QDir::Files).size(), 2);
}

TEST_F(BatchEngineTest, OutputsInTheSourceDirectoryAreListedOnce) {
    needCodecs();
    writeEngineTiff(src + "a.tif", 20, 20, 3, 72);
    writeEngineTiff(src + "b.tif", 20, 20, 3, 72);
    list({"a.tif", "b.tif"});
    view.sources = {" a.tif", " b.tif"};
    settings.OutputDir = src;
    for (int run = 0; run < 2; ++run) {
        view.calls.clear();
        ASSERT_EQ(runAll(view)->outcome(), BatchEngine::Outcome::Completed);
        EXPECT_EQ(view.values("Label1").size(), 2);  // rewritten after each file
    }
    EXPECT_EQ(view.sources, (QStringList{" a.tif", " b.tif", " a.JPG", " b.JPG"}));

    // A directory whose name differs in letter case is another directory.
    const QString upper = tmp.path() + "/SRC/";
    QDir().mkpath(upper);
    settings.OutputDir = upper;
    view.calls.clear();
    ASSERT_EQ(runAll(view)->outcome(), BatchEngine::Outcome::Completed);
    EXPECT_TRUE(view.values("AddSource").isEmpty());
    EXPECT_TRUE(view.values("Label1").isEmpty());
    EXPECT_TRUE(QFileInfo::exists(upper + "a.JPG"));
}

TEST_F(BatchEngineTest, GrayScaleGivesGrayOutputAndEightBitColourDoesNot) {
    needCodecs();
    writeEngineTiff(src + "c.tif", 24, 24, 3, 72);
    list({"c.tif"});
    settings.BitsPerPixel = 8;
    const std::pair<int16_t, int> cases[] = {{1, 1}, {2, 3}, {4, 3}};
    for (const auto& [depthChoice, channels] : cases) {
        settings.DepthChoice = depthChoice;
        settings.BitsPerPixel = depthChoice == 4 ? 24 : 8;
        FakeBatchView v;
        v.work = view.work;
        const auto engine = runAll(v);
        ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed) << depthChoice;
        EXPECT_EQ(probeJpeg(out + "c.JPG").channels, channels) << depthChoice;
    }
}

TEST_F(BatchEngineTest, CancelAbandonsTheFileInProgressAndSkipsTheRest) {
    needCodecs();
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
    EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Cancelled);
    EXPECT_EQ(view.calls.size(), callsAtCancel);  // nothing touched the view after the cancel
    EXPECT_TRUE(view.messages.isEmpty());
    EXPECT_EQ(outputs(), QStringList{"a.JPG"});  // no b.JPG, no temporary file
    engine.timerEvent();
    EXPECT_EQ(view.calls.size(), callsAtCancel);
}

TEST_F(BatchEngineTest, ResizeReportsWithinTheFirstHalfAndACancelFromAnotherThreadStopsIt) {
    needCodecs();
    writeEngineTiff(src + "a.tif", 300, 200, 3, 72);
    list({"a.tif"});
    settings.Dpi = 300;  // 1250 x 833: the resize is most of the work
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
        // Loading takes the first part; the resize reports from there up to the half.
        EXPECT_LT(loading.front(), 50);
        if (cancel) {
            EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Cancelled);
            EXPECT_FALSE(saving);
            EXPECT_TRUE(outputs().isEmpty());
        } else {
            EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Completed);
            EXPECT_EQ(loading.back(), 100);
            EXPECT_GT(std::count_if(loading.begin(), loading.end(),
                                    [](int p) { return p > 50 && p < 100; }),
                      1);
            QFile::remove(out + "a.JPG");
        }
        view.calls.clear();
    }
}

// Engines on threads of their own, each with its own resolution, output format and source list:
// every output carries its own engine's resolution and format, and each source list gets its own
// files, however the threads interleave.
TEST(EnginesSideBySide, NeitherSeesTheOthersSettings) {
    QString why;
    if (!engineCodecsReady(why))
        GTEST_SKIP() << why.toStdString();
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    constexpr int kEngines = 3;
    constexpr int kFiles = 8;
    const int dpis[kEngines] = {100, 200, 300};
    const QString dir = tmp.path() + "/";
    test::FakeBatchView views[kEngines];
    CompressionSettings settings[kEngines];
    for (int e = 0; e < kEngines; ++e) {
        const QString sub = dir + QString::number(e) + "/";
        QDir().mkpath(sub);
        for (int i = 0; i < kFiles; ++i) {
            ASSERT_TRUE(writeEngineTiff(sub + QStringLiteral("f%1.tif").arg(i), 24, 16, 3, 72));
            views[e].work << QStringLiteral(" f%1.tif").arg(i);
        }
        CompressionSettings& s = settings[e];
        s = CompressionSettings::defaults(sub);  // outputs beside the sources: list additions
        s.SizeChoice = 1;                        // the stored size: the same pixels for any dpi
        s.OutWidth = 24;
        s.OutHeight = 16;
        s.Dpi = int16_t(dpis[e]);
        s.BitsPerPixel = 24;
        s.FileFormat = e == 1 ? 17 : 10;  // TIFF LZW or JPEG
        s.QualityFactor = 2;
        s.OutputExt = e == 1 ? QStringLiteral("TIF") : QStringLiteral("JPG");
    }
    std::vector<std::thread> threads;
    for (int e = 0; e < kEngines; ++e)
        threads.emplace_back([&, e] {
            BatchEngine engine(views[e], settings[e], settings[e].OutputDir);
            engine.load();
            engine.timerEvent();
            EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Completed) << e;
        });
    for (std::thread& thread : threads)
        thread.join();

    for (int e = 0; e < kEngines; ++e) {
        EXPECT_EQ(views[e].sources.size(), kFiles) << e;
        for (int i = 0; i < kFiles; ++i) {
            const QString output =
                settings[e].OutputDir + QStringLiteral("f%1.").arg(i) + settings[e].OutputExt;
            const ProbedImage probed = e == 1 ? probeTiff(output) : probeJpeg(output);
            ASSERT_TRUE(probed.ok) << output.toStdString();
            EXPECT_EQ(probed.xDpi, dpis[e]) << output.toStdString();
        }
    }
}

}  // namespace
}  // namespace pixavant::batch
