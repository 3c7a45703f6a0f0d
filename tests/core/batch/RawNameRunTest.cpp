#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>

#include "EngineFixtures.h"
#include "EngineRunTest.h"
#include "RawNames.h"
#include "batch/BatchEngine.h"
#include "imaging/FileNames.h"

namespace pixavant::batch {
namespace {

using RawNameRun = test::EngineRunTest;

// The window's run: a work-list name that is not UTF-8, as the source scan lists it, converts
// from and to the very bytes; and the naming rule reaches the engine's own clash check.
TEST_F(RawNameRun, AWorkListNameThatIsNotUtf8Converts) {
    const QByteArray raw = QFile::encodeName(src);
    ASSERT_TRUE(testsupport::writeEngineJpeg(src + "a.jpg", 24, 16, 3, 72));
    ASSERT_EQ(::rename(raw + "a.jpg", raw + "Caf\xe9.jpg"), 0);
    // Into TIFF LZW beside the source.
    settings.OutputDir = src;
    std::tie(settings.FileFormat, settings.QualityFactor) = std::tuple(17, 0);
    settings.OutputExt = QStringLiteral("TIF");
    view.work << " " + imaging::decodeFileName("Caf\xe9.jpg");
    BatchEngine engine(view, settings, src);
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

TEST_F(RawNameRun, DatedNamesKeptApartByTheLastDot) {
    for (const char* name : {"2024.06.01 beach.jpg", "2024.06.02 party.jpg"})
        ASSERT_TRUE(testsupport::writeEngineJpeg(src + name, 16, 16, 3, 72));
    for (const NamingRule rule : {NamingRule::FirstDot, NamingRule::LastDot}) {
        test::FakeBatchView v;
        v.work << " 2024.06.01 beach.jpg"
               << " 2024.06.02 party.jpg";
        BatchEngine engine(v, settings, src);
        engine.setNamingRule(rule);
        engine.load();
        engine.timerEvent();
        if (rule == NamingRule::FirstDot) {
            EXPECT_EQ(engine.errorCode(), kErrOutputClash);
            EXPECT_TRUE(outputs().isEmpty());
        } else {
            EXPECT_EQ(engine.outcome(), BatchEngine::Outcome::Completed);
            EXPECT_EQ(outputs(), (QStringList{"2024.06.01 beach.JPG", "2024.06.02 party.JPG"}));
        }
    }
}

}  // namespace
}  // namespace pixavant::batch
