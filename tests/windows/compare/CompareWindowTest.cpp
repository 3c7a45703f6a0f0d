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
#include "compare/ComparePane.h"
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
        if (!result.quick()) {
            ++whole;
            bytes = result.bytes;
        }
    }
    EXPECT_EQ(whole, 1);
    // Not even a preview of an overtaken request is shown.
    for (const QList<QVariant>& signal : shown)
        EXPECT_EQ(signal.at(0).value<CompareResult>().serial,
                  shown.last().at(0).value<CompareResult>().serial);
    EXPECT_EQ(bytes, bytesOf(source.path, jpeg(12)));
    EXPECT_TRUE(window.figuresText().contains(QLocale(QLocale::English).toString(bytes)))
        << window.figuresText().toStdString();
    EXPECT_EQ(window.statusText(), "");
    // One busy stretch for the whole burst.
    EXPECT_EQ(busy.count(), 2);
    // Nothing was written beside the photo.
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"photo.jpg"});
}

// Fitted, the first view is the whole picture reduced to the pane, marked as a preview and
// with no byte figure of the result; then the exact output replaces it. At 100 % the first view
// is the part in view.
TEST_F(CompareWindowTest, PreviewComesFirstAndShowsNoBytesOfItsOwn) {
    struct Seen {
        CompareLook look;
        QSize result;
        QSize output;
        QString figures;
        QString note;
    };
    const qint64 exact = bytesOf(source.path, jpeg(5));
    const QString exactText = QLocale(QLocale::English).toString(exact);
    for (const bool fitted : {true, false}) {
        SCOPED_TRACE(fitted ? "fitted" : "100 %");
        CompareWindow window(source);
        window.resize(700, 500);
        window.setFitted(fitted);
        const auto* pane = window.findChild<ComparePane*>("ResultPane");
        std::vector<Seen> seen;
        // Connected after the window's own handler: sees what the window shows for each result.
        QObject::connect(&window.worker(), &CompareWorker::shown, &window,
                         [&](const CompareResult& r) {
                             seen.push_back({r.look, r.result.size(), QSize(r.width, r.height),
                                             window.figuresText(), pane->note()});
                         });
        window.setChoices(jpeg(5));
        settle(window);
        ASSERT_EQ(seen.size(), 2u);
        const Seen& first = seen[0];
        EXPECT_EQ(first.look, fitted ? CompareLook::Reduced : CompareLook::Part);
        EXPECT_EQ(first.output, QSize(800, 600));
        if (fitted) {
            // The whole picture, its proportions kept, within the view.
            EXPECT_LT(first.result.width(), 800);
            EXPECT_EQ(first.result.width() * 600, first.result.height() * 800);
        }
        EXPECT_TRUE(first.note.startsWith("Preview")) << first.note.toStdString();
        EXPECT_TRUE(first.figures.contains("preview")) << first.figures.toStdString();
        EXPECT_FALSE(first.figures.contains("Ratio"));
        EXPECT_FALSE(first.figures.contains(exactText));
        EXPECT_EQ(seen[1].look, CompareLook::Whole);
        EXPECT_EQ(seen[1].result, QSize(800, 600));
        EXPECT_TRUE(seen[1].note.isEmpty());
        EXPECT_TRUE(seen[1].figures.contains(exactText)) << seen[1].figures.toStdString();
    }
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

// F and "Zoom" switch between fitted and 100 %. One over the other: D and "Divide" toggle it,
// Shift+Left/Right move the divider (only then, and never out of the pane).
TEST_F(CompareWindowTest, ZoomAndDividerAreDrivenFromTheKeyboard) {
    CompareWindow window(source);
    window.show();
    EXPECT_TRUE(window.fitted());
    QTest::keyClick(&window, Qt::Key_F);
    EXPECT_FALSE(window.fitted());
    window.findChild<QPushButton*>("Zoom")->click();
    EXPECT_TRUE(window.fitted());

    auto* original = window.findChild<ComparePane*>("OriginalPane");
    EXPECT_FALSE(window.divided());
    QTest::keyClick(&window, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(window.divider(), 0.5);

    QTest::keyClick(&window, Qt::Key_D);
    EXPECT_TRUE(window.divided());
    EXPECT_FALSE(original->isVisible());
    EXPECT_TRUE(window.findChild<QPushButton*>("Divide")->isChecked());
    QTest::keyClick(&window, Qt::Key_Left, Qt::ShiftModifier);
    EXPECT_NEAR(window.divider(), 0.45, 1e-9);
    // Also while a button has the focus (it would move the focus on otherwise).
    auto* close = window.findChild<QPushButton*>("Close");
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(close, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(window.divider(), 1.0);

    window.findChild<QPushButton*>("Divide")->click();
    EXPECT_FALSE(window.divided());
    EXPECT_TRUE(original->isVisible());
}

// Divided, the pane draws the original left of the divider and the result right of it.
TEST(ComparePaneTest, DividedPaneDrawsTheOriginalLeftOfTheDivider) {
    CompareViewState state;
    ComparePane pane(state);
    pane.resize(200, 100);
    QImage result(200, 100, QImage::Format_RGB888);
    result.fill(Qt::red);
    QImage original(400, 200, QImage::Format_RGB888);  // another size: scaled to the output's
    original.fill(Qt::blue);
    pane.setImage(result, result.size());
    pane.setUnderlay(original);
    struct Case {
        bool divided;
        double divider;
        QColor at20, at100, at180;
    };
    for (const Case& c :
         {Case{false, 0.5, Qt::red, Qt::red, Qt::red}, Case{true, 0.25, Qt::blue, Qt::red, Qt::red},
          Case{true, 0.75, Qt::blue, Qt::blue, Qt::red}}) {
        SCOPED_TRACE(c.divider);
        state.divided = c.divided;
        state.divider = c.divider;
        const QImage shown = pane.grab().toImage();
        EXPECT_EQ(shown.pixelColor(20, 50), c.at20);
        EXPECT_EQ(shown.pixelColor(100, 50), c.at100);
        EXPECT_EQ(shown.pixelColor(180, 50), c.at180);
    }
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
