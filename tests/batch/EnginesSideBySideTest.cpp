#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <thread>

#include "EngineFixtures.h"
#include "FakeBatchView.h"
#include "batch/BatchEngine.h"

namespace pixavant::batch {
namespace {

using namespace pixavant::testsupport;

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
