#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include "EngineFixtures.h"
#include "batch/TrialConversion.h"
#include "compare/CompareSource.h"
#include "compare/CompareWindow.h"
#include "options/CompressOptionDialog.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

class FixedSource : public CompareSource {
  public:
    QString path;
    QString clickedFile() const override { return path; }
};

class CompareWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        compressionSettings() = CompressionSettings::defaults(tmp.path() + "/");
        source.path = tmp.path() + "/photo.jpg";
        ASSERT_TRUE(testsupport::writeEngineJpeg(source.path, 800, 600, 3, 72));
    }
    // Waits until the worker has shown the newest request's whole result.
    static void settle(CompareWindow& window) {
        for (int i = 0; i < 600 && window.worker().busy(); ++i)
            QTest::qWait(50);
        ASSERT_FALSE(window.worker().busy());
    }
    static CompressionSettings jpeg(int level) {
        CompressionSettings s = compressionSettings();
        std::tie(s.Dpi, s.BitsPerPixel, s.FileFormat, s.QualityFactor) =
            std::tuple(int16_t(72), int16_t(24), int16_t(10), int16_t(2 + 10 * level));
        return s;
    }
    static qint64 bytesOf(const QString& path, const CompressionSettings& s) {
        batch::TrialConverter converter;
        return converter.convert(path, s).bytes.size();
    }

    QTemporaryDir tmp;
    FixedSource source;
};

// A burst of requests (slider moves) shows one whole result: the newest one's.
TEST_F(CompareWindowTest, BurstShowsOnlyTheNewestResult) {
    CompareWindow window(source);
    QSignalSpy shown(&window.worker(), &CompareWorker::shown);
    QSignalSpy busy(&window.worker(), &CompareWorker::busyChanged);
    for (int level = 0; level <= 12; ++level)
        window.setChoices(jpeg(level));
    EXPECT_EQ(window.statusText(), "Working...");
    settle(window);
    int whole = 0;
    qint64 bytes = 0;
    for (const QList<QVariant>& signal : shown) {
        const auto result = signal.at(0).value<CompareResult>();
        EXPECT_EQ(result.code, 0) << result.details.toStdString();
        if (!result.part) {
            ++whole;
            bytes = result.bytes;
        }
    }
    EXPECT_EQ(whole, 1);
    EXPECT_EQ(bytes, bytesOf(source.path, jpeg(12)));
    EXPECT_TRUE(window.figuresText().contains(QLocale(QLocale::English).toString(bytes)))
        << window.figuresText().toStdString();
    EXPECT_EQ(window.statusText(), "");
    // One busy stretch for the whole burst.
    EXPECT_EQ(busy.count(), 2);
    // Nothing was written beside the photo.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.jpg"});
}

TEST_F(CompareWindowTest, ShowsTheRunsFailureTextAndTheMissingClick) {
    CompareWindow window(source);
    ASSERT_TRUE(testsupport::writeEngineFile(source.path, "no picture"));
    window.setChoices(jpeg(0));
    settle(window);
    EXPECT_TRUE(window.figuresText().startsWith("Compression error.\n"))
        << window.figuresText().toStdString();
    EXPECT_TRUE(window.figuresText().contains(source.path));

    source.path.clear();
    window.setChoices(jpeg(0));
    EXPECT_TRUE(window.figuresText().startsWith("No file to compare."));
}

TEST_F(CompareWindowTest, FKeyTogglesFittedAnd100Percent) {
    CompareWindow window(source);
    EXPECT_TRUE(window.fitted());
    QTest::keyClick(&window, Qt::Key_F);
    EXPECT_FALSE(window.fitted());
    window.findChild<QPushButton*>("Zoom")->click();
    EXPECT_TRUE(window.fitted());
}

// From the options dialog: "Compare" shows the dialog's current choices, not the stored
// ones, and follows the slider; nothing is stored.
TEST_F(CompareWindowTest, OptionsDialogCompareFollowsTheChoices) {
    CompressOptionDialog plain;
    EXPECT_FALSE(plain.findChild<QPushButton*>("Compare")->isVisibleTo(&plain));

    const CompressionSettings before = compressionSettings();
    CompressOptionDialog dialog(nullptr, &source);
    dialog.show();
    dialog.findChild<QPushButton*>("Compare")->click();
    CompareWindow* window = dialog.compareWindow();
    ASSERT_NE(window, nullptr);
    settle(*window);
    EXPECT_TRUE(window->figuresText().contains(
        QLocale(QLocale::English).toString(bytesOf(source.path, jpeg(0)))));

    dialog.findChild<QSlider*>("CompSlider")->setValue(20);
    QTest::qWait(10);
    settle(*window);
    EXPECT_TRUE(window->figuresText().contains(
        QLocale(QLocale::English).toString(bytesOf(source.path, jpeg(20)))))
        << window->figuresText().toStdString();

    // A refused number says so in the view.
    dialog.findChild<QRadioButton*>("SizeOther")->click();
    dialog.findChild<QLineEdit*>("txtWidth")->setText("99999");
    QTest::qWait(10);
    EXPECT_TRUE(window->figuresText().contains("The width must be a number"));
    EXPECT_EQ(compressionSettings().QualityFactor, before.QualityFactor);
    EXPECT_EQ(compressionSettings().SizeChoice, before.SizeChoice);
}

}  // namespace
