#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <tuple>

#include "FakeBatchView.h"
#include "settings/CompressionSettings.h"

namespace pixavant::batch::test {

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
