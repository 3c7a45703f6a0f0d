// What each compression choice of the options dialog makes a run write: the format it names, under
// the extension the output dialog proposes for it, at the level the slider gave.

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>

#include "EngineFixtures.h"
#include "EngineRunTest.h"
#include "imaging/FileInfo.h"
#include "settings/CompressionChoices.h"
#include "settings/CompressionSettings.h"

namespace pixavant {
namespace {

using namespace pixavant::testsupport;

struct Written {
    QString path;
    int formatCode = -1;
    qint64 bytes = 0;
};

// A run of one colour photograph with the settings the options dialog stores for `choice` at
// slider position `level` (the format and quality of type 5 are those stored before), named as the
// output dialog proposes.
Written runChoice(const QString& dir, int choice, int level, int16_t storedFormat = 0) {
    const QString src = dir + "/src/";
    const QString out = dir + QStringLiteral("/out%1-%2/").arg(choice).arg(level);
    QDir().mkpath(src);
    QDir().mkpath(out);
    if (!QFileInfo::exists(src + "photo.tif") && !writeEngineTiff(src + "photo.tif", 96, 64, 3, 72))
        return {};
    CompressionSettings s = CompressionSettings::defaults(out);
    s.Dpi = 72;
    s.BitsPerPixel = bitsPerPixelFor(4);
    s.CompressionChoice = CompressionType(choice);
    s.FileFormat = fileFormatFor(CompressionType(choice), level).value_or(storedFormat);
    s.QualityFactor = qualityFactorFor(CompressionType(choice), level).value_or(s.QualityFactor);
    s.OutputExt = proposedExtension(CompressionType(choice), s.FileFormat);
    batch::test::FakeBatchView view;
    view.work = {" photo.tif"};
    if (batch::test::runWorkList(view, s, src)->outcome() != batch::BatchEngine::Outcome::Completed)
        return {};
    Written written{out + "photo." + s.OutputExt};
    imaging::FileInfoRecord info;
    (void)imaging::readFileInfo(written.path, info);
    written.formatCode = info.Format;
    written.bytes = QFileInfo(written.path).size();
    return written;
}

TEST(CompressionChoices, EachChoiceWritesTheFormatItNamesUnderItsExtension) {
    QTemporaryDir tmp;
    struct Case {
        int choice, level;
        const char* name;  // the output's name
        int formatCode;    // as the file information reads the output back
        int tiffCompression;
        int16_t storedFormat = 0;
    };
    const Case cases[] = {
        {0, 0, "photo.TIF", 17, 5},  // LZW
        {1, 0, "photo.TIF", 27, 3},  // CCITT Group 3, 1-D
        {1, 1, "photo.TIF", 28, 3},  // 2-D
        {2, 0, "photo.TIF", 29, 4},  // CCITT Group 4
        {2, 1, "photo.JXL", 26, 0},  // the slider's second place: PIXAVANT black and white
        {3, 7, "photo.JPG", 10, 0},     {4, 2, "photo.JXL", 5, 0},
        {5, 3, "photo.CMP", 17, 5, 17},  // "other": the stored format, under its own extension
        {5, 3, "photo.JXL", 5, 0, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.choice << "/" << c.level);
        const Written w = runChoice(tmp.path(), c.choice, c.level, c.storedFormat);
        ASSERT_FALSE(w.path.isEmpty());
        EXPECT_EQ(QFileInfo(w.path).fileName(), c.name);
        EXPECT_EQ(w.formatCode, c.formatCode);
        if (c.tiffCompression != 0) {
            EXPECT_EQ(probeTiff(w.path).compression, c.tiffCompression);
        }
    }
}

// JPEG's 26 levels: the tables scaled from 4 % of the standard ones at the first to 2000 % at the
// last, geometrically, each level coarser than the one before.
TEST(CompressionChoices, EachJpegLevelWritesItsOwnTables) {
    QTemporaryDir tmp;
    for (const int level : {0, 1, 10, 11, 24, 25}) {
        SCOPED_TRACE(level);
        const Written w = runChoice(tmp.path(), 3, level);
        ASSERT_EQ(w.formatCode, 10);
        const double percent = std::round(4.0 * std::pow(500.0, level / 25.0));
        const auto scaled = [&](int base) {
            return std::clamp(int((base * percent + 50) / 100), 1, 255);
        };
        const ProbedImage probe = probeJpeg(w.path);
        EXPECT_EQ(std::pair(probe.lumaQuantFirst, probe.lumaQuantLast),
                  std::pair(scaled(16), scaled(99)));
    }
    // PIXAVANT's levels reach its encoder too: the last is the smallest.
    const qint64 first = runChoice(tmp.path(), 4, 0).bytes;
    const qint64 last = runChoice(tmp.path(), 4, 8).bytes;
    EXPECT_LT(last, first);
    EXPECT_GT(last, 0);
}

}  // namespace
}  // namespace pixavant
