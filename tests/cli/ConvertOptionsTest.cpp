#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <tuple>

#include "EngineFixtures.h"
#include "cli/ConvertOptions.h"

namespace pixavant::cli {
namespace {

class ConvertOptionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        file = tmp.path() + "/a.tif";
        ASSERT_TRUE(testsupport::writeEngineFile(file, "x"));
    }
    ConvertParse parse(QStringList args) const { return parseConvert(args << file); }

    QTemporaryDir tmp;
    QString file;
};

TEST_F(ConvertOptionsTest, FillsTheSettingsAsTheOptionsDialogWould) {
    struct Case {
        QStringList args;
        int dpiChoice, dpi, sizeChoice, width, height, depthChoice, bits, compression, format,
            quality;
        const char* ext;
    };
    const Case cases[] = {
        {{}, 0, 72, 0, 0, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--dpi", "300"}, 3, 300, 0, 0, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--dpi", "150"}, 5, 150, 0, 0, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--dpi", "72.5"}, 0, 72, 0, 0, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--dpi", "73.5"}, 5, 74, 0, 0, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--size", "640x0"}, 0, 72, 1, 640, 0, 4, 24, 3, 10, 2, "JPG"},
        {{"--size", "0X480"}, 0, 72, 1, 0, 480, 4, 24, 3, 10, 2, "JPG"},
        {{"--depth", "gray"}, 0, 72, 0, 0, 0, 1, 8, 3, 10, 2, "JPG"},
        {{"--depth", "16"}, 0, 72, 0, 0, 0, 3, 16, 3, 10, 2, "JPG"},
        {{"--level", "25"}, 0, 72, 0, 0, 0, 4, 24, 3, 10, 252, "JPG"},
        {{"--compression", "jpeg", "--level", "3"}, 0, 72, 0, 0, 0, 4, 24, 3, 10, 32, "JPG"},
        {{"--compression", "lzw"}, 0, 72, 0, 0, 0, 4, 24, 0, 17, 0, "TIF"},
        {{"--compression", "g3", "--level", "1"}, 0, 72, 0, 0, 0, 0, 1, 1, 28, 0, "TIF"},
        {{"--compression", "g4", "--depth", "bw"}, 0, 72, 0, 0, 0, 0, 1, 2, 29, 0, "TIF"},
        {{"--compression", "g4", "--level", "1"}, 0, 72, 0, 0, 0, 0, 1, 2, 26, 0, "JXL"},
        {{"--depth", "bw"}, 0, 72, 0, 0, 0, 0, 1, 2, 29, 0, "TIF"},
        {{"--compression", "pixavant"}, 0, 72, 0, 0, 0, 4, 24, 4, 5, -1, "JXL"},
        {{"--compression", "pixavant", "--level", "8"}, 0, 72, 0, 0, 0, 4, 24, 4, 5, -9, "JXL"},
        {{"--compression", "pixavant-lossless"}, 0, 72, 0, 0, 0, 4, 24, 4, 30, -1, "JXL"},
        {{"--depth", "48", "--compression", "lzw"}, 0, 72, 0, 0, 0, 5, 48, 0, 17, 0, "TIF"},
        {{"--compression", "pixavant-lossless", "--depth", "48"},
         0,
         72,
         0,
         0,
         0,
         5,
         48,
         4,
         30,
         -1,
         "JXL"},
        {{"--ext", "jxl", "--compression", "pixavant"}, 0, 72, 0, 0, 0, 4, 24, 4, 5, -1, "jxl"},
        {{"--ext="}, 0, 72, 0, 0, 0, 4, 24, 3, 10, 2, ""},
    };
    for (const Case& c : cases) {
        const ConvertParse p = parse(c.args);
        const std::string what = c.args.join(' ').toStdString();
        ASSERT_TRUE(p.error.isEmpty()) << what << ": " << p.error.toStdString();
        const CompressionSettings& s = p.job.settings;
        EXPECT_EQ(
            std::tuple(s.DpiChoice, s.Dpi, s.SizeChoice, s.OutWidth, s.OutHeight, s.DepthChoice,
                       s.BitsPerPixel, int(s.CompressionChoice), s.FileFormat, s.QualityFactor,
                       p.job.outputExt),
            std::tuple(c.dpiChoice, c.dpi, c.sizeChoice, c.width, c.height, c.depthChoice, c.bits,
                       c.compression, c.format, c.quality, QString::fromLatin1(c.ext)))
            << what;
        // What the options dialog never writes keeps its start-up value.
        EXPECT_EQ(s.OtherDpiDefault, 72) << what;
        EXPECT_EQ(s.KeepAspect, 1) << what;
    }
}

TEST_F(ConvertOptionsTest, RefusesWrongOptionsAndValues) {
    // Each case: the arguments before the file, split at spaces; cases end in ";".
    const QString cases =
        "--bogus;-x;"
        "--dpi;--dpi 0;--dpi -72;--dpi abc;--dpi 72dpi;--dpi 40000;--dpi nan;--dpi 72 --dpi 100;"
        "--size 640;--size -1x5;--size 40000x1;--size axb;--size 1x2x3;"
        "--depth 32;--depth 48;--depth 48 --compression pixavant;--depth 48 --compression g4;"
        "--depth bw --compression jpeg;--depth bw --compression lzw;--depth 24 "
        "--compression g4;"
        "--compression png;--compression JPEG;--compression pixavant --level 9;--compression g3 "
        "--level 2;--compression lzw --level 0;--compression pixavant-lossless --level 1;"
        "--level 26;--level -1;--level 1.5;"
        "--output /dev/null;--output=;"
        "--ext a/b;"
        "--jobs 0;--jobs 257;--jobs two;"
        "--keep-going=yes;"
        "--skip-existing --skip-existing;"
        "-0;"
        "--files-from /no/such/list;--files-from /;--files-from=;"
        "--verify=yes;"
        "--manifest /no/such/directory/m.jsonl;--manifest /;"
        "--effort 5;--compression lzw --effort 3;--compression g4 --effort 3;"
        "--compression pixavant --effort 0;--compression pixavant --effort 10;"
        "--compression pixavant --effort x;--compression pixavant --effort 4.5;"
        "--compression pixavant --effort 4 --effort 4;--compression pixavant --effort;";
    for (const QString& args : cases.split(';', Qt::SkipEmptyParts))
        EXPECT_FALSE(parse(args.split(' ')).error.isEmpty()) << args.toStdString();
}

TEST_F(ConvertOptionsTest, FilesBecomeAbsolutePathsInTheGivenOrder) {
    QDir(tmp.path()).mkpath("b");
    const QString other = tmp.path() + "/b/z.tif";
    ASSERT_TRUE(testsupport::writeEngineFile(other, "x"));
    ASSERT_TRUE(testsupport::writeEngineFile(tmp.path() + "/-dash.tif", "x"));
    ASSERT_TRUE(testsupport::writeEngineFile(tmp.path() + "/ spaced.tif ", "x"));
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(tmp.path());
    const ConvertParse p =
        parseConvert({"-o", "b", file, other, "--", "-dash.tif", "./b/../a.tif", " spaced.tif "});
    QDir::setCurrent(cwd);
    ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    const QString root = QDir::cleanPath(tmp.path());
    EXPECT_EQ(p.job.sourcePaths,
              (QStringList{root + "/a.tif", root + "/b/z.tif", root + "/-dash.tif", root + "/a.tif",
                           root + "/ spaced.tif "}));
    EXPECT_EQ(p.job.outputDir, root + "/b/");
}

TEST_F(ConvertOptionsTest, RunOptions) {
    const ConvertJob defaults = parse({}).job;
    EXPECT_EQ(defaults.jobs, availableProcessors());
    EXPECT_FALSE(defaults.keepGoing || defaults.skipExisting || defaults.nulSeparated);

    EXPECT_FALSE(defaults.verify || defaults.keepDates || defaults.strip);
    EXPECT_TRUE(defaults.manifestPath.isEmpty() && defaults.treeRoots.isEmpty());

    const ConvertParse p =
        parse({"--jobs=3", "--keep-going", "--skip-existing", "-0", "--files-from", file,
               "--verify", "--keep-dates", "--strip", "--manifest=" + tmp.path() + "/m.jsonl"});
    ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
    EXPECT_EQ(p.job.jobs, 3);
    EXPECT_TRUE(p.job.keepGoing && p.job.skipExisting && p.job.nulSeparated);
    EXPECT_TRUE(p.job.verify && p.job.keepDates && p.job.strip);
    EXPECT_EQ(p.job.manifestPath, tmp.path() + "/m.jsonl");
    EXPECT_EQ(p.job.filesFrom, file);
    // A list alone is enough; "-" is standard input.
    const ConvertParse list = parseConvert({"--null", "--files-from", "-"});
    EXPECT_TRUE(list.error.isEmpty() && list.job.sourcePaths.isEmpty()) << list.error.toStdString();
}

TEST_F(ConvertOptionsTest, EffortForEveryPixavantFormat) {
    EXPECT_EQ(parse({"--compression", "pixavant"}).job.effort, 0) << "the format's own by default";
    const struct {
        QStringList args;
        int effort;
    } cases[] = {
        {{"--compression", "pixavant", "--effort", "1"}, 1},
        {{"--effort=9", "--compression", "pixavant", "--level", "8"}, 9},
        {{"--compression", "pixavant-lossless", "--effort", "5"}, 5},
        {{"--compression", "g4", "--level", "1", "--effort", "2"}, 2},
    };
    for (const auto& c : cases) {
        const ConvertParse p = parse(c.args);
        ASSERT_TRUE(p.error.isEmpty()) << p.error.toStdString();
        EXPECT_EQ(p.job.effort, c.effort) << c.args.join(' ').toStdString();
    }
    // Refused for other formats with a message that says which take it.
    EXPECT_TRUE(parse({"--compression", "g4", "--effort", "2"}).error.contains("PIXAVANT"));
}

}  // namespace
}  // namespace pixavant::cli
