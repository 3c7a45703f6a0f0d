#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <memory>
#include <tuple>

#include "EngineFixtures.h"
#include "EngineRunTest.h"
#include "Testdata.h"
#include "batch/BatchEngine.h"
#include "batch/TrialConversion.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"
#include "imaging/Verification.h"

namespace pixavant::batch {
namespace {

using test::FakeBatchView;
using namespace pixavant::testsupport;

struct Choice {
    int16_t dpi;
    int16_t depthChoice;
    int16_t fileFormat;
    int16_t qualityFactor;
};

class TrialConversionTest : public ::testing::Test {
  protected:
    // The sources in src/, the run's outputs in out/.
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid() && QDir(tmp.path()).mkpath("src") &&
                    QDir(tmp.path()).mkpath("out"));
    }
    CompressionSettings settingsFor(const Choice& c) const {
        CompressionSettings s = CompressionSettings::defaults(out);
        s.Dpi = c.dpi;
        s.DepthChoice = c.depthChoice;
        s.BitsPerPixel = int16_t(c.depthChoice == 0   ? 1
                                 : c.depthChoice == 3 ? 16
                                 : c.depthChoice == 4 ? 24
                                                      : 8);
        s.FileFormat = c.fileFormat;
        s.QualityFactor = c.qualityFactor;
        s.OutputExt = QStringLiteral("OUT");
        return s;
    }
    // What a run of the one file writes, or its message and details when it fails.
    QByteArray runOutput(const QString& path, const CompressionSettings& s,
                         QString* message = nullptr, QString* details = nullptr) {
        FakeBatchView view;
        const QFileInfo file(path);
        view.work << " " + file.fileName();
        test::runWorkList(view, s, file.absolutePath() + "/");
        if (message != nullptr)
            *message = view.messages.value(0);
        if (details != nullptr)
            *details = view.details.value(0);
        QFile output(s.OutputDir + file.fileName().section('.', 0, 0) + ".OUT");
        if (!output.open(QIODevice::ReadOnly))
            return {};
        QByteArray bytes = output.readAll();
        output.remove();
        return bytes;
    }

    QTemporaryDir tmp;
    const QString src = tmp.path() + "/src/";
    const QString out = tmp.path() + "/out/";
};

// The bytes shown are the bytes a run writes, for every type, with and without a resize or a depth
// change, and whatever file the converter handled before (it keeps the prepared image between
// calls).
TEST_F(TrialConversionTest, BytesAreTheRunsOutputForEveryType) {
    ASSERT_TRUE(writeEngineJpeg(src + "photo.jpg", 640, 480, 3, 72));
    ASSERT_TRUE(writeEngineTiff(src + "scan.tif", 500, 700, 1, 300));
    struct Case {
        QString file;
        Choice choice;
    };
    std::vector<Case> cases = {
        {src + "photo.jpg", {72, 4, imaging::format::kJpeg444, 2}},
        {src + "photo.jpg", {72, 4, imaging::format::kJpeg444, 122}},  // same image, encoded again
        {src + "photo.jpg", {150, 1, imaging::format::kJpeg444, 42}},  // gray, resized
        {src + "photo.jpg", {72, 4, imaging::format::kPixavant, -3}},
        {src + "photo.jpg",
         {72, 4, imaging::format::kPixavantLossless, -1}},  // the JPEG carried over
        {src + "photo.jpg", {72, 2, imaging::format::kTiffLzw, 2}},
        {src + "scan.tif", {200, 0, imaging::format::kTiffG4, 2}},
        {src + "scan.tif", {300, 0, imaging::format::kTiffG4, 2}},
        {src + "photo.jpg", {72, 4, imaging::format::kJpeg444, 2}},  // after another file
    };
    // Real files made by others: a photograph and a scanned page at 400 dpi.
    const QString kodak = testing::testdataDir("kodak");
    const QString documents = testing::testdataDir("documents");
    if (!kodak.isEmpty())
        for (int16_t quality : {int16_t(12), int16_t(102)})
            cases.push_back({kodak + "/kodim03.png", {72, 4, imaging::format::kJpeg444, quality}});
    if (!kodak.isEmpty())
        cases.push_back({kodak + "/kodim05.png", {72, 4, imaging::format::kPixavant, -5}});
    if (!documents.isEmpty())
        cases.push_back({documents + "/page-g4-400dpi.tif", {72, 0, imaging::format::kTiffG4, 2}});

    TrialConverter converter;
    std::vector<TrialOutput> trials;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString() + " format " + std::to_string(c.choice.fileFormat) +
                     " quality " + std::to_string(c.choice.qualityFactor));
        const CompressionSettings s = settingsFor(c.choice);
        const TrialOutput trial = converter.convert(c.file, s);
        ASSERT_TRUE(trial.ok()) << trial.details.toStdString();
        const QByteArray written = runOutput(c.file, s);
        ASSERT_FALSE(written.isEmpty());
        EXPECT_TRUE(trial.bytes == written) << trial.bytes.size() << " vs " << written.size();
        EXPECT_EQ(trial.sourceBytes, QFileInfo(c.file).size());
        ASSERT_NE(trial.original, nullptr);
        EXPECT_FALSE(trial.result.empty());
        EXPECT_EQ(std::tuple(trial.width, trial.height),
                  std::tuple(trial.result.width, trial.result.height));
        // A quality figure for the lossy types only.
        const bool lossy = c.choice.fileFormat == imaging::format::kJpeg444 ||
                           c.choice.fileFormat == imaging::format::kPixavant;
        EXPECT_EQ(trial.psnr.has_value(), lossy);
        if (trial.psnr) {
            EXPECT_GT(*trial.psnr, 20.0);
        }
        trials.push_back(trial);
    }
    // A higher JPEG factor: a smaller file of lower quality.
    EXPECT_LT(trials[1].bytes.size(), trials[0].bytes.size());
    EXPECT_LT(*trials[1].psnr, *trials[0].psnr);
}

// A file that fails shows what a run shows for it: the same message and the same details.
TEST_F(TrialConversionTest, FailuresCarryTheRunsMessageAndDetails) {
    ASSERT_TRUE(writeEngineFile(src + "notes.jpg", "not an image at all"));
    ASSERT_TRUE(writeEngineJpeg(src + "cut.jpg", 300, 200, 3, 72));
    QFile cut(src + "cut.jpg");
    ASSERT_TRUE(cut.resize(cut.size() / 2));
    ASSERT_TRUE(
        writeEngineTiff(src + "huge.tif", 500, 100, 3, 1));  // 1 dpi: over 32767 pixels at 72

    TrialConverter converter;
    for (const char* name : {"notes.jpg", "cut.jpg", "missing.jpg", "huge.tif"}) {
        SCOPED_TRACE(name);
        const CompressionSettings s = settingsFor({72, 4, imaging::format::kJpeg444, 2});
        const TrialOutput trial = converter.convert(src + name, s);
        QString message, details;
        runOutput(src + name, s, &message, &details);
        EXPECT_FALSE(trial.ok());
        EXPECT_FALSE(message.isEmpty());
        EXPECT_EQ(trial.message, message);
        EXPECT_EQ(trial.details, details);
        EXPECT_TRUE(trial.bytes.isEmpty());
        // The quick looks fail the same way.
        for (const TrialOutput& quick :
             {converter.convertReduced(src + name, s, 320, 240),
              converter.convertPart(src + name, s, 0.5, 0.5, 320, 240)}) {
            EXPECT_EQ(std::tuple(quick.code, quick.message, quick.details),
                      std::tuple(trial.code, trial.message, trial.details));
            EXPECT_TRUE(quick.bytes.isEmpty());
        }
    }
}

TEST_F(TrialConversionTest, WritesNothing) {
    ASSERT_TRUE(writeEngineJpeg(src + "photo.jpg", 320, 240, 3, 72));
    const QStringList before = QDir(src).entryList(QDir::AllEntries | QDir::Hidden);
    TrialConverter converter;
    for (const Choice& c : {Choice{72, 4, 10, 2}, Choice{72, 4, 5, -2}, Choice{72, 0, 29, 2}}) {
        EXPECT_TRUE(converter.convert(src + "photo.jpg", settingsFor(c)).ok());
        EXPECT_TRUE(
            converter.convertPart(src + "photo.jpg", settingsFor(c), 0.5, 0.5, 64, 64).ok());
        EXPECT_TRUE(converter.convertReduced(src + "photo.jpg", settingsFor(c), 64, 64).ok());
    }
    EXPECT_EQ(QDir(src).entryList(QDir::AllEntries | QDir::Hidden), before);
    EXPECT_TRUE(
        QDir(out).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).isEmpty());
}

// The quick look at a part: a part of the size asked, inside the image, and the image it
// prepared gives the whole output afterwards.
TEST_F(TrialConversionTest, PartLiesInsideTheImage) {
    ASSERT_TRUE(writeEngineJpeg(src + "photo.jpg", 640, 480, 3, 72));
    TrialConverter converter;
    const CompressionSettings s = settingsFor({72, 4, imaging::format::kPixavant, -2});
    struct Case {
        double x, y;
        int width, height;
        int partX, partY, partWidth, partHeight;
    };
    for (const Case& c :
         {Case{0.5, 0.5, 100, 50, 270, 215, 100, 50}, Case{0.0, 1.0, 100, 50, 0, 430, 100, 50},
          Case{1.0, 0.0, 1000, 40, 0, 0, 640, 40}}) {
        const TrialOutput part =
            converter.convertPart(src + "photo.jpg", s, c.x, c.y, c.width, c.height);
        ASSERT_TRUE(part.ok()) << part.details.toStdString();
        EXPECT_EQ(std::tuple(part.partX, part.partY, part.result.width, part.result.height,
                             part.width, part.height),
                  std::tuple(c.partX, c.partY, c.partWidth, c.partHeight, 640, 480));
        EXPECT_TRUE(part.psnr.has_value());
    }
    EXPECT_TRUE(converter.convert(src + "photo.jpg", s).bytes == runOutput(src + "photo.jpg", s));
}

// A source of several pages: the view shows page 1 and the size of the whole output, which is
// the one TIFF a run writes (every page in it), or the sum of a run's page files. A damaged page
// fails as it fails a run.
TEST_F(TrialConversionTest, SeveralPagesGiveTheWholeOutput) {
    // Pages that differ in size, depth and resolution; the last one's pixels twice as tall as wide.
    ASSERT_TRUE(writeEngineDocument(src + "doc.tif", {{80, 60, 3, 300, 300},
                                                      {40, 30, 1, 150, 150},
                                                      {96, 64, 0, 300, 300},
                                                      {60, 20, 1, 200, 100}}));
    const Choice lzw{200, 4, imaging::format::kTiffLzw, 2};
    const Choice g4{200, 0, imaging::format::kTiffG4, 2};
    const Choice jpeg{100, 4, imaging::format::kJpeg444, 42};
    const Choice pixavant{100, 2, imaging::format::kPixavant, -4};
    std::vector<std::pair<QString, std::vector<Choice>>> files = {
        {src + "doc.tif", {lzw, g4, jpeg, pixavant}}};
    // A real scan made by others: a manual of three pages.
    if (const QString documents = testing::testdataDir("documents"); !documents.isEmpty())
        files.push_back({documents + "/manual-g4-200dpi-3pages.tif", {g4}});
    TrialConverter converter;
    for (const auto& [file, choices] : files) {
        for (const Choice& c : choices) {
            SCOPED_TRACE(file.toStdString() + " format " + std::to_string(c.fileFormat));
            const CompressionSettings s = settingsFor(c);
            const TrialOutput trial = converter.convert(file, s);
            ASSERT_TRUE(trial.ok()) << trial.details.toStdString();
            // What a run writes, in name order (the page files sort by page).
            FakeBatchView view;
            view.work << " " + QFileInfo(file).fileName();
            const auto engine = test::runWorkList(view, s, QFileInfo(file).absolutePath() + "/");
            ASSERT_EQ(engine->outcome(), BatchEngine::Outcome::Completed);
            const QStringList written = QDir(out).entryList(QDir::Files, QDir::Name);
            ASSERT_FALSE(written.isEmpty());
            const bool onePerPage = !imaging::formatHoldsPages(c.fileFormat);
            EXPECT_EQ(written.size() > 1, onePerPage);
            qint64 total = 0;
            for (const QString& name : written) {
                total += QFileInfo(out + name).size();
                if (name == written.first()) {
                    QFile first(out + name);
                    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
                    EXPECT_TRUE(trial.bytes == first.readAll());
                }
                QFile::remove(out + name);
            }
            EXPECT_EQ(trial.outputBytes, total);
            // Page 1 is what is shown.
            imaging::Raster firstPage;
            ASSERT_EQ(decodeBytes(trial.bytes, firstPage), 0);
            EXPECT_EQ(std::tuple(trial.result.width, trial.result.height),
                      std::tuple(firstPage.width, firstPage.height));
        }
    }
    const QString documents = testing::testdataDir("documents");
    if (documents.isEmpty())
        return;
    const QString damaged = documents + "/manual-g4-page3-damaged.tif";
    const CompressionSettings s = settingsFor({200, 0, imaging::format::kTiffG4, 2});
    const TrialOutput trial = converter.convert(damaged, s);
    QString message;
    QString details;
    EXPECT_TRUE(runOutput(damaged, s, &message, &details).isEmpty());
    EXPECT_EQ(trial.code, imaging::kErrCorrupt);
    EXPECT_EQ(std::tuple(trial.message, trial.details), std::tuple(message, details));
    EXPECT_TRUE(details.contains("page 3 of 3")) << details.toStdString();
    EXPECT_TRUE(QDir(out).isEmpty());
}

// The quick look of a fitted view: the whole picture as the output will be (after any resize and
// at the depth written), reduced to fit the view with its proportions kept and never enlarged.
// Each call follows the choices, even though the reduced copy is kept between calls.
TEST_F(TrialConversionTest, ReducedCopyIsTheWholeOutputFittedToTheView) {
    ASSERT_TRUE(writeEngineJpeg(src + "photo.jpg", 640, 480, 3, 72));
    ASSERT_TRUE(writeEngineTiff(src + "scan.tif", 500, 700, 1, 300));
    ASSERT_TRUE(writeEngineJpeg(src + "strip.jpg", 40, 900, 3, 72));
    struct Case {
        const char* file;
        Choice choice;
        int fitWidth, fitHeight;
        int width, height;  // of the output
        int reducedWidth, reducedHeight;
    };
    const Case cases[] = {
        {"photo.jpg", {72, 4, imaging::format::kJpeg444, 2}, 200, 200, 640, 480, 200, 150},
        {"photo.jpg", {72, 4, imaging::format::kJpeg444, 102}, 200, 200, 640, 480, 200, 150},
        {"photo.jpg", {72, 1, imaging::format::kJpeg444, 102}, 200, 200, 640, 480, 200, 150},
        {"photo.jpg", {72, 4, imaging::format::kPixavant, -3}, 1000, 1000, 640, 480, 640, 480},
        {"photo.jpg", {144, 4, imaging::format::kJpeg444, 2}, 320, 240, 1280, 960, 320, 240},
        {"scan.tif", {300, 0, imaging::format::kTiffG4, 2}, 100, 100, 500, 700, 71, 100},
        {"strip.jpg", {72, 4, imaging::format::kTiffLzw, 2}, 320, 240, 40, 900, 11, 240},
        // The same size of copy, but gray: made again.
        {"strip.jpg", {72, 1, imaging::format::kTiffLzw, 2}, 320, 240, 40, 900, 11, 240},
        {"photo.jpg", {72, 4, imaging::format::kJpeg444, 2}, 200, 200, 640, 480, 200, 150},
    };
    TrialConverter converter;
    std::vector<qsizetype> previewBytes;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " format " + std::to_string(c.choice.fileFormat) +
                     " depth " + std::to_string(c.choice.depthChoice) + " fit " +
                     std::to_string(c.fitWidth));
        const CompressionSettings s = settingsFor(c.choice);
        const TrialOutput reduced =
            converter.convertReduced(src + c.file, s, c.fitWidth, c.fitHeight);
        ASSERT_TRUE(reduced.ok()) << reduced.details.toStdString();
        EXPECT_EQ(std::tuple(reduced.width, reduced.height, reduced.result.width,
                             reduced.result.height, reduced.partX, reduced.partY),
                  std::tuple(c.width, c.height, c.reducedWidth, c.reducedHeight, 0, 0));
        EXPECT_EQ(reduced.formatCode, c.choice.fileFormat);
        ASSERT_NE(reduced.original, nullptr);
        previewBytes.push_back(reduced.bytes.size());

        const TrialOutput whole = converter.convert(src + c.file, s);
        ASSERT_TRUE(whole.ok()) << whole.details.toStdString();
        // The same picture as the whole output, at the depth it is written (bilevel pictures,
        // dithered at another size, compared by the gray levels of their areas).
        EXPECT_EQ(reduced.result.format, whole.result.format);
        const bool bilevel = c.choice.depthChoice == 0;
        const int width = bilevel ? c.reducedWidth / 3 : c.reducedWidth;
        const int height = bilevel ? c.reducedHeight / 3 : c.reducedHeight;
        imaging::Raster shrunk = whole.result;
        imaging::Raster preview = reduced.result;
        ASSERT_EQ(imaging::resample(shrunk, width, height), 0);
        ASSERT_EQ(imaging::resample(preview, width, height), 0);
        EXPECT_GT(imaging::psnrOf(shrunk, preview), bilevel ? 25.0 : 35.0);
    }
    // The kept copy is encoded again at the new level.
    EXPECT_LT(previewBytes[1], previewBytes[0]);
}

// A cancelled conversion leaves nothing half-prepared behind.
TEST_F(TrialConversionTest, CancelStopsAndTheNextConversionIsWhole) {
    ASSERT_TRUE(writeEngineJpeg(src + "photo.jpg", 640, 480, 3, 72));
    std::atomic<bool> cancel{true};
    TrialConverter converter;
    converter.setCancelFlag(&cancel);
    const CompressionSettings s = settingsFor({100, 4, imaging::format::kJpeg444, 12});
    EXPECT_EQ(converter.convert(src + "photo.jpg", s).code, imaging::kErrCancelled);
    cancel = false;
    EXPECT_TRUE(converter.convert(src + "photo.jpg", s).bytes == runOutput(src + "photo.jpg", s));
}

}  // namespace
}  // namespace pixavant::batch
