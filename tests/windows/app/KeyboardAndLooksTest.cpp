#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <memory>
#include <vector>

#include "AppFixtures.h"
#include "about/AboutBox.h"
#include "browse/DirectoryBrowser.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "common/Message.h"
#include "compress/FileCompressWindow.h"
#include "compress/FileOutputDialog.h"
#include "inspect/Inspection.h"
#include "inspect/ViewerWindow.h"
#include "options/CompressOptionDialog.h"

namespace pixavant {
namespace {

using testing::FixtureDir;

// A key pressed where the focus is: what the widget does not take goes on to its parents.
void press(QWidget* widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

QString accessibleName(QWidget* widget) {
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face ? face->text(QAccessible::Name) : QString();
}

class KeyboardAndLooksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetState();
        previous_ = setMessageHandler([](QWidget*, const QString&) {});
        appState().SourceDir = dir.path();
        compressionSettings() = CompressionSettings::defaults(dir.path());
        main = std::make_unique<MainWindow>();
        installInspection(*main);
        main->load(dir.path());
    }
    void TearDown() override { setMessageHandler(previous_); }

    // Every window but the splash, as the program opens it: the main window first.
    std::vector<QWidget*> everyWindow() {
        windows_.push_back(std::make_unique<CompressOptionDialog>(main.get()));
        windows_.push_back(std::make_unique<FileOutputDialog>(main.get()));
        windows_.push_back(std::make_unique<FileCompressWindow>(main->runLists(), main.get()));
        windows_.push_back(
            std::make_unique<DirectoryBrowser>(DirectoryBrowser::Mode::Source, main.get()));
        windows_.push_back(std::make_unique<ViewerWindow>(*main));
        windows_.push_back(std::make_unique<AboutBox>(main.get()));
        std::vector<QWidget*> all = {main.get()};
        for (auto& window : windows_)
            all.push_back(window.get());
        return all;
    }

    FixtureDir dir{{"a.gif", "b.gif", "photos/", "scans/"}};
    std::unique_ptr<MainWindow> main;

  private:
    MessageHandler previous_;
    std::vector<std::unique_ptr<QWidget>> windows_;
};

// The room a control's caption needs, or its whole rectangle when it has no caption.
QRect occupied(QWidget* control) {
    QRect rect = control->geometry();
    if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control))
        rect.setWidth(control->sizeHint().width());
    return rect;
}

// Every window: a fixed size, no maximise button (only the main window minimises), and a name for
// assistive technology on every control that can be operated and every progress bar. The run's
// dialogs also: no caption clipped, no control over another or outside its parent.
TEST_F(KeyboardAndLooksTest, EveryWindowIsFixedSizeWithNamedControlsAndWholeCaptions) {
    for (QWidget* window : everyWindow()) {
        SCOPED_TRACE(window->objectName().toStdString());
        EXPECT_EQ(window->minimumSize(), window->maximumSize());
        const Qt::WindowFlags flags = window->windowFlags();
        EXPECT_TRUE(!flags.testFlag(Qt::WindowMaximizeButtonHint) &&
                    flags.testFlag(Qt::WindowCloseButtonHint) &&
                    flags.testFlag(Qt::WindowTitleHint));
        if (window == main.get() || qobject_cast<CompressOptionDialog*>(window)) {
            EXPECT_EQ(flags.testFlag(Qt::WindowMinimizeButtonHint), window == main.get());
        }
        const bool runDialog = qobject_cast<CompressOptionDialog*>(window) ||
                               qobject_cast<FileOutputDialog*>(window) ||
                               qobject_cast<FileCompressWindow*>(window);
        const QList<QWidget*> controls = window->findChildren<QWidget*>();
        for (QWidget* control : controls) {
            const std::string name = control->objectName().toStdString();
            if ((control->focusPolicy() != Qt::NoFocus && !name.starts_with("qt_")) ||
                qobject_cast<QProgressBar*>(control)) {
                EXPECT_FALSE(accessibleName(control).isEmpty())
                    << control->metaObject()->className() << " " << name;
            }
            if (!runDialog || name.empty() || name.starts_with("qt_"))
                continue;
            if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control)) {
                EXPECT_GE(control->width(), control->sizeHint().width()) << name;
            }
            EXPECT_TRUE(control->parentWidget()->rect().contains(occupied(control))) << name;
            for (QWidget* other : controls) {
                if (other != control && other->parentWidget() == control->parentWidget() &&
                    !other->objectName().isEmpty() && !other->objectName().startsWith("qt_")) {
                    EXPECT_FALSE(occupied(control).intersects(occupied(other)))
                        << name << " / " << other->objectName().toStdString();
                }
            }
        }
    }
}

TEST_F(KeyboardAndLooksTest, MessageBoxShowsItsTitleWholeWithDetailsBehindAButton) {
    setMessageHandler({});
    QStringList seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen = {box->windowTitle(), box->text(), box->detailedText()};
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        EXPECT_GE(box->width(), 240);
        EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
        box->accept();
    });
    showMessage(main.get(), "Compression error.", "File: /p/a.tif\nReason: the file is damaged");
    EXPECT_EQ(seen, (QStringList{"PIXAVANT", "Compression error.",
                                 "File: /p/a.tif\nReason: the file is damaged"}));
}

TEST_F(KeyboardAndLooksTest, FolderTreeWorksFromTheKeyboard) {
    DirectoryBrowser browser(DirectoryBrowser::Mode::Source, main.get());
    browser.show();
    auto* tree = browser.findChild<QListWidget*>("Dir1");
    const QString top = dir.path().chopped(1);
    // The folder highlighted ("": as it is), the key, the folder then open. The arrows up and
    // down only move; Enter opens the folder and does not confirm the dialog.
    const std::tuple<QString, int, QString> steps[] = {{"photos", Qt::Key_Return, top + "/photos"},
                                                       {"", Qt::Key_Left, top},
                                                       {"scans", Qt::Key_Right, top + "/scans"},
                                                       {"", Qt::Key_Backspace, top},
                                                       {"photos", Qt::Key_Down, top},
                                                       {"", Qt::Key_Enter, top + "/scans"}};
    for (const auto& [highlighted, key, opened] : steps) {
        if (!highlighted.isEmpty())
            tree->setCurrentItem(tree->findItems(highlighted, Qt::MatchExactly).value(0));
        press(tree, key);
        EXPECT_EQ(browser.path(), opened) << key;
        EXPECT_TRUE(browser.isVisible() && appState().SourceDir == dir.path());
    }
    // Enter on the OK button confirms what is open.
    press(browser.findChild<QPushButton*>("OK"), Qt::Key_Return);
    EXPECT_EQ(appState().SourceDir, dir.path() + "scans/");
}

}  // namespace
}  // namespace pixavant
