#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>
#include <tuple>

#include "FakeBatchView.h"
#include "batch/BatchEngine.h"
#include "settings/CompressionSettings.h"

namespace pixavant::batch::test {

// A run of the view's work list from `sourceDir` to its end (the first timer event does it all);
// the engine is kept for its outcome.
inline std::unique_ptr<BatchEngine> runWorkList(FakeBatchView& view,
                                                const CompressionSettings& settings,
                                                const QString& sourceDir) {
    auto engine = std::make_unique<BatchEngine>(view, settings, sourceDir);
    engine->load();
    engine->timerEvent();
    return engine;
}

// A source and an output folder of their own, a fake view, and the settings a first "Compress" of
// the options dialog stores, writing NAME.JPG to the output folder.
class EngineRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        src = tmp.path() + "/src/";
        out = tmp.path() + "/out/";
        QDir().mkpath(src);
        QDir().mkpath(out);
        settings = CompressionSettings::defaults(out);
        std::tie(settings.Dpi, settings.BitsPerPixel, settings.FileFormat, settings.QualityFactor) =
            std::tuple(72, 24, 10, 2);
        settings.OutputExt = QStringLiteral("JPG");
    }
    void list(const QStringList& names) {
        for (const QString& n : names)
            view.work << " " + n;
    }
    std::unique_ptr<BatchEngine> runAll(FakeBatchView& v) { return runWorkList(v, settings, src); }
    QStringList outputs() const {
        return QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir tmp;
    QString src;
    QString out;
    CompressionSettings settings;
    FakeBatchView view;
};

}  // namespace pixavant::batch::test
