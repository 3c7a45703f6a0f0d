// The command line on multi-page files and resolutions: each file keeps its own resolution by
// default, --dpi acts as the window's choice, every page is converted, named, skipped, recorded
// and verified.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "CliRunTest.h"
#include "EngineFixtures.h"
#include "batch/Manifest.h"
#include "cli/Cli.h"

namespace pixavant::cli {
namespace {

using namespace pixavant::testsupport;

class DocumentsTest : public test::CliRunTest {
  protected:
    void SetUp() override {
        CliRunTest::SetUp();
        QDir(dir).mkpath("out");
    }
};

// Without --dpi a 300-dpi master stays 640 x 480 at 300 dpi (also losslessly, and in JPEG from a
// 200-dpi JPEG); --dpi 72 resamples it as the window does, and a JPEG counts as 72 dpi there.
TEST_F(DocumentsTest, EachFileKeepsItsOwnResolutionUnlessDpiIsGiven) {
    ASSERT_TRUE(writeEngineTiff(dir + "scan.tif", 640, 480, 3, 300));
    ASSERT_TRUE(writeEngineJpeg(dir + "photo.jpg", 200, 100, 3, 200));
    ASSERT_TRUE(writeEngineTiff(dir + "plain.tif", 50, 40, 1, 0));
    // A 300-dpi scan stated in centimetres (118.11, 299.9994 dpi) stays a 300-dpi scan.
    EnginePage metric{64, 48, 1, 118.11f, 118.11f};
    metric.perCentimetre = true;
    ASSERT_TRUE(writeEngineDocument(dir + "metric.tif", {metric}));
    // Into TIFF LZW in out/; the size and resolution of an output there.
    const auto toLzw = [&](const QStringList& args) {
        return run(QStringList{"convert", "-o", dir + "out", "--compression", "lzw"} + args);
    };
    const auto probed = [&](const char* name) {
        const ProbedImage p = probeTiff(dir + "out/" + name);
        return std::tuple(p.width, p.height, p.xDpi);
    };
    ASSERT_EQ(toLzw({dir + "scan.tif", dir + "photo.jpg", dir + "plain.tif", dir + "metric.tif"}),
              kExitOk)
        << err.toStdString();
    EXPECT_EQ(probed("scan.TIF"), std::tuple(640, 480, 300.0));
    EXPECT_EQ(probed("photo.TIF"), std::tuple(200, 100, 200.0));
    EXPECT_EQ(probed("plain.TIF"), std::tuple(50, 40, 72.0));
    EXPECT_EQ(probed("metric.TIF"), std::tuple(64, 48, 300.0));

    ASSERT_EQ(toLzw({"--dpi", "72", dir + "scan.tif", dir + "photo.jpg"}), kExitOk)
        << err.toStdString();
    EXPECT_EQ(probed("scan.TIF"), std::tuple(154, 115, 72.0));
    EXPECT_EQ(probed("photo.TIF"), std::tuple(200, 100, 72.0));

    // --size alone resizes at the file's own resolution, without a scaling for resolution.
    ASSERT_EQ(toLzw({"--size", "320x0", dir + "scan.tif"}), kExitOk) << err.toStdString();
    EXPECT_EQ(probed("scan.TIF"), std::tuple(320, 240, 300.0));
}

// A 3-page file to JPEG: three page files, three lines, three manifest lines with their pages; a
// rerun with --skip-existing skips it only while every page file exists.
TEST_F(DocumentsTest, PageFilesAreReportedRecordedAndSkippedTogether) {
    ASSERT_TRUE(writeEngineDocument(
        dir + "doc.tif", {{60, 40, 3, 150, 150}, {60, 40, 1, 150, 150}, {64, 40, 0, 150, 150}}));
    const QString manifest = dir + "m.jsonl";
    ASSERT_EQ(
        run({"convert", "-o", dir + "out", "--verify", "--manifest", manifest, dir + "doc.tif"}),
        kExitOk)
        << err.toStdString();
    EXPECT_EQ(files(dir + "out"), (QStringList{"doc-1.JPG", "doc-2.JPG", "doc-3.JPG"}));
    EXPECT_EQ(out.count(" -> "), 3) << out.toStdString();
    EXPECT_EQ(out.count("verified: PSNR"), 3) << out.toStdString();
    batch::Manifest read;
    QString error;
    ASSERT_TRUE(batch::readManifest(manifest, read, error));
    ASSERT_EQ(read.entries.size(), 3u);
    for (int page = 1; page <= 3; ++page) {
        const batch::ManifestEntry& entry = read.entries[size_t(page - 1)];
        EXPECT_EQ(entry.page, page);
        EXPECT_TRUE(entry.output.endsWith(QStringLiteral("doc-%1.JPG").arg(page)));
        EXPECT_EQ(entry.verification, "passed");
        EXPECT_TRUE(entry.source.endsWith("doc.tif"));
    }
    EXPECT_EQ(run({"verify", "--manifest", manifest}), kExitOk) << out.toStdString();

    const QStringList again = {"convert", "-o", dir + "out", "--skip-existing", dir + "doc.tif"};
    ASSERT_EQ(run(again), kExitOk);
    EXPECT_TRUE(out.contains("already there, skipped")) << out.toStdString();
    QFile::remove(dir + "out/doc-2.JPG");
    ASSERT_EQ(run(again), kExitOk);
    EXPECT_FALSE(out.contains("skipped")) << out.toStdString();
    EXPECT_EQ(files(dir + "out"), (QStringList{"doc-1.JPG", "doc-2.JPG", "doc-3.JPG"}));

    // Into TIFF: one file holding the pages, every page checked, one line.
    ASSERT_EQ(
        run({"convert", "-o", dir + "out", "--verify", "--compression", "lzw", dir + "doc.tif"}),
        kExitOk)
        << err.toStdString();
    EXPECT_EQ(tiffPageCount(dir + "out/doc.TIF"), 3);
    EXPECT_EQ(out.count(" -> "), 1);
    EXPECT_TRUE(out.contains("(verified: identical pixels)")) << out.toStdString();
}

// The first pass sees only names: doc.tif's second page file is doc-2.JPG, which doc-2.jpg writes.
// The multi-page file fails naming both; the other file converts; nothing is replaced.
TEST_F(DocumentsTest, APageFileThatWouldReplaceAnotherOutputFailsItsFile) {
    ASSERT_TRUE(writeEngineDocument(dir + "doc.tif", {{30, 20, 1}, {30, 20, 1}}));
    ASSERT_TRUE(writeEngineJpeg(dir + "doc-2.jpg", 10, 10, 3, 72));
    EXPECT_EQ(
        run({"convert", "--keep-going", "-o", dir + "out", dir + "doc.tif", dir + "doc-2.jpg"}),
        kExitFailed);
    EXPECT_TRUE(
        err.contains("doc-2.JPG, a page of doc.tif, would replace the output of another "
                     "file of this run"))
        << err.toStdString();
    EXPECT_EQ(files(dir + "out"), QStringList{"doc-2.JPG"});
    EXPECT_EQ(probeJpeg(dir + "out/doc-2.JPG").width, 10);
}

}  // namespace
}  // namespace pixavant::cli
