#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <tuple>

#include "EngineFixtures.h"
#include "FakeBatchView.h"
#include "RawNames.h"
#include "batch/BatchEngine.h"
#include "imaging/FileNames.h"

namespace pixavant::batch {
namespace {

// The window's run: a work-list name that is not UTF-8, as the source scan lists it, converts
// from and to the very bytes; and the naming rule reaches the engine's own clash check.
TEST(RawNameRun, AWorkListNameThatIsNotUtf8Converts) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    const QByteArray raw = QFile::encodeName(dir);
    ASSERT_TRUE(testsupport::writeEngineJpeg(dir + "a.jpg", 24, 16, 3, 72));
    ASSERT_EQ(::rename(raw + "a.jpg", raw + "Caf\xe9.jpg"), 0);

    CompressionSettings settings = CompressionSettings::defaults(dir);
    std::tie(settings.Dpi, settings.BitsPerPixel, settings.FileFormat, settings.QualityFactor) =
        std::tuple(72, 24, 17, 0);  // TIFF LZW
    settings.OutputExt = QStringLiteral("TIF");
    test::FakeBatchView view;
    view.work << " " + imaging::decodeFileName("Caf\xe9.jpg");
    BatchEngine engine(view, settings, dir);
    engine.load();
    EXPECT_GT(engine.state().TotalBytes, 0);
    engine.timerEvent();
    ASSERT_EQ(engine.outcome(), BatchEngine::Outcome::Completed)
        << engine.errorDetails().toStdString();
    struct stat st {};
    EXPECT_EQ(::stat(raw + "Caf\xe9.TIF", &st), 0);
    EXPECT_EQ(testing::countFilesByBytes(raw), 2);  // no temporary file left
    testing::removeTreeByBytes(tmp.path());
}

TEST(RawNameRun, DatedNamesKeptApartByTheLastDot) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    const QString dir = tmp.path() + "/";
    for (const char* name : {"2024.06.01 beach.jpg", "2024.06.02 party.jpg"})
        ASSERT_TRUE(testsupport::writeEngineJpeg(dir + name, 16, 16, 3, 72));
    CompressionSettings settings = CompressionSettings::defaults(dir + "out/");
    std::tie(settings.Dpi, settings.BitsPerPixel, settings.FileFormat, settings.QualityFactor) =
        std::tuple(72, 24, 10, 2);  // JPEG
    settings.OutputExt = QStringLiteral("JPG");
    QDir(dir).mkpath("out");
    for (const NamingRule rule : {NamingRule::FirstDot, NamingRule::LastDot}) {
        test::FakeBatchView view;
        view.work << " 2024.06.01 beach.jpg"
                  << " 2024.06.02 party.jpg";
        BatchEngine engine(view, settings, dir);
        engine.setNamingRule(rule);
        engine.load();
        engine.timerEvent();
        if (rule == NamingRule::FirstDot) {
            EXPECT_EQ(engine.errorCode(), kErrOutputClash);
            EXPECT_TRUE(QDir(dir + "out").isEmpty());
        } else {
            EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Completed);
            EXPECT_EQ(QDir(dir + "out").entryList(QDir::Files),
                      (QStringList{"2024.06.01 beach.JPG", "2024.06.02 party.JPG"}));
        }
    }
}

}  // namespace
}  // namespace pixavant::batch
