#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <tuple>

#include "EngineFixtures.h"
#include "JpegFixtures.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "batch/RunTotals.h"
#include "common/Message.h"
#include "compress/FileCompressWindow.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

struct FakeLists : RunLists {
    QStringList work;
    QStringList source;
    QString sourceLabel;
    int workCount() const override { return int(work.size()); }
    QString workEntry(int index) const override { return work.at(index); }
    int sourceCount() const override { return int(source.size()); }
    QString sourceEntry(int index) const override { return source.at(index); }
    void addSourceEntry(const QString& entry) override { source.append(entry); }
    void setSourceCountLabel(const QString& text) override { sourceLabel = text; }
    QString totals = "left from an earlier run";
    void setRunTotals(const QString& text) override { totals = text; }
};

class FileCompressTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        sourceDir = dir.path() + "/src/";
        outputDir = dir.path() + "/out/";
        QDir().mkpath(sourceDir);
        QDir().mkpath(outputDir);
        appState().SourceDir = sourceDir;
        // What "Compress" stores at once in the options dialog.
        CompressionSettings& s = compressionSettings() = CompressionSettings::defaults(outputDir);
        std::tie(s.Dpi, s.BitsPerPixel, s.FileFormat, s.QualityFactor) = std::tuple(72, 24, 10, 2);
        s.OutputExt = "JPG";
        FileCompressWindow::setDelaysForTesting(FileCompressWindow::Delays{0, 10});
        setMessageHandler([this](QWidget*, const QString& text) { messages << text; });
    }
    void TearDown() override {
        FileCompressWindow::setDelaysForTesting(std::nullopt);
        setMessageHandler({});
    }

    void addPhoto(const QString& name, int width = 96, int height = 64) {
        addFile(name, pixavant::testing::makeJpeg(pixavant::testing::makePhotoLike(width, height)));
        lists.source << " " + name;
    }
    void addFile(const QString& name, const QByteArray& bytes) {
        ASSERT_TRUE(pixavant::testing::writeBytes(sourceDir + name, bytes));
        lists.work << " " + name;
    }
    QStringList outputs() const {
        return QDir(outputDir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // The four progress texts: files left, file name, total and single percentage.
    QStringList texts(QWidget& window) {
        QStringList result;
        for (const char* name : {"TotalFileLeft", "SingleFileName", "TotalPct", "SinglePct"})
            result << window.findChild<QLabel*>(name)->text();
        return result;
    }
    float bar(QWidget& window, const char* name) {
        return window.findChild<ProgressBar*>(QString::fromLatin1(name))->barValue();
    }

    QTemporaryDir dir;
    QString sourceDir, outputDir;
    FakeLists lists;
    QStringList messages;
};

TEST_F(FileCompressTest, LoadedWindowShowsNothingDoneYetThenTheProgressItIsTold) {
    FileCompressWindow::setDelaysForTesting(FileCompressWindow::Delays{60000, 10});
    addPhoto("a.jpg");
    addFile("b.jpg", QByteArray(1000, 'x'));
    lists.work << " missing.jpg";  // cannot be sized: counts 0
    FileCompressWindow window(lists);
    EXPECT_TRUE(lists.totals.isEmpty());  // an earlier run's totals go when a run starts
    EXPECT_EQ(texts(window), (QStringList{"0 files", "", "0 %", "0 %"}));
    EXPECT_EQ(window.engine().state().TotalBytes, QFileInfo(sourceDir + "a.jpg").size() + 1000);

    // A notification reaches its own bars and percentages (the arithmetic has tests of its own).
    batch::RunState state;
    std::tie(state.CurrentBytes, state.DoneBytes, state.TotalBytes) = std::tuple(3000, 1000, 4000);
    static_cast<batch::BatchView&>(window).progressStatus(50, state);
    EXPECT_EQ(texts(window), (QStringList{"0 files", "", "44 %", "25 %"}));
    EXPECT_EQ(std::pair(bar(window, "TotalBar"), bar(window, "SingleBar")), std::pair(44.f, 25.f));
}

TEST_F(FileCompressTest, FailureShowsOneMessageAndClosesAtOnce) {
    addPhoto("a.jpg");
    addFile("broken.jpg", QByteArray("not an image at all"));
    addPhoto("c.jpg");
    FileCompressWindow::setDelaysForTesting(FileCompressWindow::Delays{0, 60000});
    FileCompressWindow window(lists);
    EXPECT_EQ(window.exec(), QDialog::Accepted);  // no 60 s wait: closed after the message
    EXPECT_EQ(window.engine().outcome(), batch::BatchEngine::Outcome::Failed);
    EXPECT_EQ(messages, QStringList({"Compression error."}));
    EXPECT_EQ(outputs(), QStringList({"a.JPG"}));
    EXPECT_EQ(texts(window), (QStringList{"0 files", "broken.jpg", "100 %", "100 %"}));
    EXPECT_EQ(bar(window, "TotalBar"), 100);
    // The totals count what was converted before the failure.
    EXPECT_EQ(
        lists.totals,
        "Converted 1 of 3 files: " + batch::byteCountText(QFileInfo(sourceDir + "a.jpg").size()) +
            " before, " + batch::byteCountText(QFileInfo(outputDir + "a.JPG").size()) + " after, " +
            lists.totals.section(" after, ", 1));
}

// The work list's items name files of the folders they were added from: a run converts those,
// whatever the source folder is when it starts.
TEST_F(FileCompressTest, WorkItemsAreConvertedFromTheFolderTheyWereAddedFrom) {
    addPhoto("same.jpg", 40, 30);
    const QString other = dir.path() + "/other/";
    QDir().mkpath(other);
    ASSERT_TRUE(pixavant::testing::writeBytes(
        other + "same.jpg", pixavant::testing::makeJpeg(pixavant::testing::makePhotoLike(20, 10))));
    const CompressionSettings chosen = compressionSettings();
    MainWindow window;
    window.load(sourceDir);
    window.addClick();
    ASSERT_TRUE(window.openSourceFolder(other));
    ASSERT_EQ(appState().SourceDir, other);
    compressionSettings() = chosen;  // the start-up's and the Browser's reset undone
    FileCompressWindow compress(window.runLists(), &window);
    EXPECT_EQ(compress.exec(), QDialog::Accepted);
    EXPECT_TRUE(messages.isEmpty()) << messages.join(' ').toStdString();
    const testsupport::ProbedImage same = testsupport::probeJpeg(outputDir + "same.JPG");
    EXPECT_EQ(std::pair(same.width, same.height), std::pair(40, 30));
    // The run's totals under the main window's buttons.
    batch::RunTotals expected;
    expected.add(sourceDir + "same.jpg", outputDir + "same.JPG");
    EXPECT_TRUE(window.runTotalsLabel()->isVisibleTo(&window));
    EXPECT_EQ(window.runTotalsLabel()->text(), batch::runTotalsText(expected, 1));
}

TEST_F(FileCompressTest, CancelDuringARunByMouseOrKeyboardLeavesNoPartialFile) {
    compressionSettings().Dpi = 200;  // a long resize follows the load
    addPhoto("big.jpg", 1000, 750);
    addPhoto("next.jpg");
    // "Cancel" clicked, Escape, and the access key Alt+C, as soon as the run shows progress.
    const std::function<void(FileCompressWindow&)> cancels[] = {
        [](FileCompressWindow& w) { w.findChild<QPushButton*>("Cancel")->click(); },
        [](FileCompressWindow& w) { QTest::keyClick(&w, Qt::Key_Escape); },
        [](FileCompressWindow& w) { QTest::keyClick(&w, Qt::Key_C, Qt::AltModifier); },
    };
    for (const auto& cancel : cancels) {
        FileCompressWindow window(lists);
        window.show();
        QApplication::setActiveWindow(&window);  // access keys need the active window
        bool pressed = false;
        QObject::connect(window.findChild<ProgressBar*>("SingleBar"), &QProgressBar::valueChanged,
                         &window, [&](int value) {
                             if (value > 0 && !pressed) {
                                 pressed = true;
                                 QTimer::singleShot(0, &window, [&] { cancel(window); });
                             }
                         });
        EXPECT_EQ(window.exec(), QDialog::Rejected);
        EXPECT_TRUE(pressed);
        // The window is closed at once; the worker stops at its next progress point.
        ASSERT_TRUE(window.waitForWorker(10000));
        QCoreApplication::processEvents();  // anything it sent on its way is dropped
        EXPECT_EQ(window.engine().outcome(), batch::BatchEngine::Outcome::Cancelled);
        EXPECT_TRUE(outputs().isEmpty()) << outputs().join(", ").toStdString();
        EXPECT_TRUE(messages.isEmpty());
        EXPECT_EQ(texts(window)[0], "2 files");  // untouched after the cancel
        EXPECT_EQ(lists.totals, "No file converted.");
    }
}

TEST_F(FileCompressTest, CancelAfterTheRunClosesBeforeTheDelay) {
    addPhoto("a.jpg");
    FileCompressWindow::setDelaysForTesting(FileCompressWindow::Delays{0, 600000});
    FileCompressWindow window(lists);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &window, [&] {
        if (window.engine().outcome() == batch::BatchEngine::Outcome::Completed)
            window.findChild<QPushButton*>("Cancel")->click();
    });
    poll.start(5);
    EXPECT_EQ(window.exec(), QDialog::Rejected);
    EXPECT_EQ(outputs(), QStringList({"a.JPG"}));
}

TEST_F(FileCompressTest, WholeRoadFromTheMainWindowToTheOutputs) {
    addPhoto("one.jpg");
    addPhoto("two.jpg", 30, 20);
    MainWindow window;
    window.load(sourceDir);  // the output directory is the source directory
    compressionSettings().CompressionChoice = CompressionType::Lzw;  // TIFF outputs
    compressionSettings().LastColorCompression = ColorCompression::Lzw;
    window.selectAllClick();
    window.addClick();
    ASSERT_EQ(window.workList()->items(), QStringList({" one.jpg", " two.jpg"}));

    // "Compress" in the options, the output directory and "OK" in the output dialog, as each
    // comes up.
    QStringList seen;
    QTimer driver;
    QObject::connect(&driver, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || (!seen.isEmpty() && modal->objectName() == seen.last()))
            return;
        seen << modal->objectName();
        if (seen.last() == "FileOutput") {
            modal->findChild<QLineEdit*>("txtExt")->setText(" tif ");
            modal->findChild<QLineEdit*>("TxtOutputDir")->setText(" " + sourceDir.chopped(1) + " ");
        }
        if (seen.last() != "frmFileCompress")
            modal->findChild<QPushButton*>("Compress")->click();
    });
    driver.start(5);
    window.compressClick();
    EXPECT_EQ(seen, QStringList({"CompressOption", "FileOutput", "frmFileCompress"}));
    const CompressionSettings& s = compressionSettings();
    EXPECT_EQ(std::tuple(s.FileFormat, s.OutputDir, s.OutputExt),
              std::tuple(17, sourceDir, QString("tif")));
    EXPECT_EQ(window.sourceList()->items(),
              QStringList({" one.jpg", " one.tif", " two.jpg", " two.tif"}));
    EXPECT_TRUE(QFileInfo::exists(sourceDir + "one.tif") &&
                QFileInfo::exists(sourceDir + "two.tif"));
    EXPECT_EQ(window.sourceCountLabel()->text(), "Source Files(s)" + QString(20, ' ') + "4 files");
    EXPECT_EQ(window.workList()->items(), QStringList({" one.jpg", " two.jpg"}));
    EXPECT_TRUE(messages.isEmpty());
}

}  // namespace
