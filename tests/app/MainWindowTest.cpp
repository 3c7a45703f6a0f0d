#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <memory>

#include "AppFixtures.h"
#include "about/AboutBox.h"
#include "browse/DirectoryBrowser.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "common/Message.h"
#include "app/SourceScan.h"

namespace pixavant {
namespace {

using testing::FixtureDir;

// What the inspection hook saw each time a click reached it.
struct Inspection {
    QString path;
    bool listUpdates;
    bool crossDeselect;
    bool operator==(const Inspection&) const = default;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetState();
        previousHandler_ =
            setMessageHandler([this](QWidget*, const QString& text) { messages.append(text); });
        qputenv("XDG_DATA_HOME", dataHome_.path().toLocal8Bit());
    }
    void TearDown() override { setMessageHandler(previousHandler_); }

    // A main window loaded at dir, with its hooks recording.
    std::unique_ptr<MainWindow> open(const QString& dir) {
        auto window = std::make_unique<MainWindow>();
        window->setInspectionHook([this] {
            const AppState& s = appState();
            inspections.append(
                {s.CurrentImagePath, s.ListClickUpdatesEnabled, s.CrossDeselectEnabled});
        });
        window->setViewHook([this] { ++views; });
        window->setCompressHook([this] { ++compressions; });
        window->load(dir);
        return window;
    }

    static QList<int> selected(const FileListBox* list) {
        QList<int> rows;
        for (int i = 0; i < list->count(); ++i) {
            if (list->isSelected(i)) {
                rows.append(i);
            }
        }
        return rows;
    }
    static void select(FileListBox* list, const QList<int>& rows) {
        for (int i = 0; i < list->count(); ++i) {
            list->setSelected(i, rows.contains(i));
        }
    }
    bool inTrash(const QString& name) const {
        return QFile::exists(dataHome_.path() + "/Trash/files/" + name);
    }

    QStringList messages;
    QList<Inspection> inspections;
    int views = 0;
    int compressions = 0;

  private:
    MessageHandler previousHandler_;
    QTemporaryDir dataHome_;
};

const QString kBlanks(20, ' ');

TEST_F(MainWindowTest, LoadScansTheStartDirectoryAndSelectsTheFirstFile) {
    FixtureDir dir({"z.gif", "b.jpg", "c.bmp", "x.png"});
    compressionSettings().DepthChoice = 0;  // left over from nothing: load resets the record
    appState().CrossDeselectEnabled = false;
    auto w = open(dir.path());

    EXPECT_EQ(w->windowTitle(), "Professional Archiving Compression Program");
    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.jpg", " c.bmp", " z.gif"}));
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "3 files");
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "0 files");
    EXPECT_EQ(selected(w->sourceList()), QList<int>({0}));
    EXPECT_EQ(w->sourceList()->currentItemIndex(), 0);

    const AppState& s = appState();
    EXPECT_EQ(s.SourceDir, dir.path());
    EXPECT_TRUE(s.ListClickUpdatesEnabled);
    EXPECT_TRUE(s.CrossDeselectEnabled);
    EXPECT_TRUE(s.ImageInfoEnabled);
    EXPECT_TRUE(s.PreviewEnabled);
    EXPECT_FALSE(s.AllSelected);
    EXPECT_EQ(s.CurrentImagePath, dir.path() + "b.jpg");
    EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + "b.jpg", true, true}}));

    EXPECT_EQ(compressionSettings().OutputDir, dir.path());
    EXPECT_EQ(compressionSettings().DepthChoice, CompressionSettings{}.DepthChoice);
}

TEST_F(MainWindowTest, EmptyOrMissingStartDirectoryGivesEmptyLists) {
    FixtureDir dir({"notes.txt", "sub.gif/"});
    for (const QString& path : {dir.path(), dir.path() + "gone/"}) {
        inspections.clear();
        auto w = open(path);
        EXPECT_EQ(w->sourceList()->count(), 0);
        EXPECT_EQ(w->sourceList()->currentItemIndex(), -1);
        EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "0 files");
        EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "0 files");
        EXPECT_TRUE(appState().CurrentImagePath.isEmpty());
        EXPECT_TRUE(inspections.isEmpty());
        EXPECT_EQ(compressionSettings().OutputDir, path);
    }
}

TEST_F(MainWindowTest, RescanRebuildsTheSourceListAndLeavesTheWorkItems) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {1, 2});
    w->addClick();
    select(w->workList(), {0, 1});

    dir.add({"0.jpg"});
    QFile::remove(dir.path() + "b.gif");
    w->fillSourceList();
    EXPECT_EQ(w->sourceList()->items(), QStringList({" 0.jpg", " a.gif", " c.gif"}));
    EXPECT_EQ(selected(w->sourceList()), QList<int>({0}));
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "3 files");
    // The work list keeps its items (even a vanished file's); its selection went with the click.
    EXPECT_EQ(w->workList()->items(), QStringList({" b.gif", " c.gif"}));
    EXPECT_TRUE(selected(w->workList()).isEmpty());

    w->fillSourceList();
    EXPECT_EQ(w->sourceList()->items(), QStringList({" 0.jpg", " a.gif", " c.gif"}));
}

TEST_F(MainWindowTest, AddRightAfterStartAddsTheFirstFile) {
    FixtureDir dir({"b.gif", "a.gif"});
    auto w = open(dir.path());
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "1 files");
}

TEST_F(MainWindowTest, AddAppendsSelectedFilesNotYetListed) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif", "d.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 2});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " c.gif"}));

    select(w->sourceList(), {1, 2});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif", " c.gif"}));
    w->addClick();  // nothing new
    EXPECT_EQ(w->workList()->count(), 3);
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "3 files");
    // The source list keeps its selection.
    EXPECT_EQ(selected(w->sourceList()), QList<int>({1, 2}));
}

TEST_F(MainWindowTest, AddWithEverySourceFileSelectedCopiesTheSourceList) {
    FixtureDir dir({"a.gif", "b.gif", "other.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {2});
    w->addClick();
    ASSERT_EQ(w->workList()->items(), QStringList({" other.gif"}));
    QFile::remove(dir.path() + "other.gif");
    w->fillSourceList();
    w->addSourceFile("a.gif");  // the same name listed twice

    select(w->sourceList(), {0, 1, 2});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " a.gif", " b.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "3 files");
}

TEST_F(MainWindowTest, AddWithSomeSelectedAddsATwiceListedNameOnce) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    w->addSourceFile("a.gif");
    ASSERT_EQ(w->sourceList()->items(), QStringList({" a.gif", " a.gif", " b.gif"}));
    select(w->sourceList(), {0, 1});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
}

TEST_F(MainWindowTest, AddWithoutCurrentSourceItemOnlyRewritesTheCount) {
    FixtureDir dir;
    auto w = open(dir.path());
    w->workCountLabel()->setText("stale");
    w->addClick();
    EXPECT_EQ(w->workList()->count(), 0);
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "0 files");
}

TEST_F(MainWindowTest, RemoveTakesSelectedWorkItemsOnly) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif", "d.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2, 3});
    w->addClick();
    select(w->workList(), {1, 3});
    w->removeClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " c.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "2 files");
    EXPECT_EQ(w->sourceList()->count(), 4);
    for (const char* name : {"a.gif", "b.gif", "c.gif", "d.gif"}) {
        EXPECT_TRUE(dir.exists(name)) << name;
    }
}

TEST_F(MainWindowTest, RemoveWithoutCurrentWorkItemDoesNothing) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    w->removeClick();
    EXPECT_EQ(w->workList()->count(), 0);
    EXPECT_EQ(w->workCountLabel()->text(), "Destination Files(s)" + kBlanks + "0 files");
}

TEST_F(MainWindowTest, AFileGivenAtStartIsTheSelectedOne) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    inspections.clear();
    w->selectSourceFile("b.gif");
    EXPECT_EQ(selected(w->sourceList()), QList<int>({1}));
    EXPECT_EQ(w->sourceList()->currentItemIndex(), 1);
    // Refreshed once, for the file itself.
    ASSERT_EQ(inspections.size(), 1);
    EXPECT_EQ(inspections[0].path, dir.path() + "b.gif");
    w->selectSourceFile("unlisted.txt");
    EXPECT_EQ(selected(w->sourceList()), QList<int>({1}));
}

TEST_F(MainWindowTest, DeleteMovesSelectedFilesToTheTrash) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif", "d.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();
    select(w->sourceList(), {0, 2, 3});
    w->deleteFileClick();

    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.gif"}));
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "1 files");
    EXPECT_TRUE(dir.exists("b.gif"));
    for (const char* name : {"a.gif", "c.gif", "d.gif"}) {
        EXPECT_FALSE(dir.exists(name)) << name;
        EXPECT_TRUE(inTrash(name)) << name;
    }
    // The work list still names the deleted files.
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif", " c.gif"}));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, DeleteKeepsFilesThatCannotBeMovedAndGoesOn) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    QFile::remove(dir.path() + "b.gif");  // gone behind the list's back
    select(w->sourceList(), {0, 1, 2});
    w->deleteFileClick();
    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.gif"}));
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "1 files");
    EXPECT_TRUE(inTrash("a.gif"));
    EXPECT_TRUE(inTrash("c.gif"));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("b.gif"));
    EXPECT_FALSE(messages[0].contains("a.gif"));
}

TEST_F(MainWindowTest, DeleteOfATwiceListedFileRemovesBothItems) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    w->addSourceFile("a.gif");
    select(w->sourceList(), {0, 1});
    w->deleteFileClick();
    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.gif"}));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, DeleteWithoutCurrentSourceItemDeletesNothing) {
    FixtureDir dir;
    auto w = open(dir.path());
    w->deleteFileClick();
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "0 files");
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, FindSelectedListTellsWhichListHoldsTheSelection) {
    struct Case {
        const char* name;
        int sourceItems;
        QList<int> sourceSelected;
        int workItems;
        QList<int> workSelected;
        int selectedList;
        bool allSelected;
    };
    const Case cases[] = {
        {"nothing anywhere", 0, {}, 0, {}, 0, true},
        {"nothing selected", 2, {}, 2, {}, 0, false},
        {"some source", 3, {1}, 2, {}, 1, false},
        {"all source", 2, {0, 1}, 2, {}, 1, true},
        {"source wins", 2, {0, 1}, 2, {0}, 1, true},
        {"all work, source empty", 0, {}, 2, {0, 1}, 2, true},
        {"all work, source unselected", 2, {}, 2, {0, 1}, 2, false},
        {"some work", 0, {}, 3, {2}, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::resetState();
        MainWindow w;
        for (int i = 0; i < c.sourceItems; ++i) {
            w.sourceList()->addItem(QStringLiteral(" s%1.gif").arg(i));
        }
        for (int i = 0; i < c.workItems; ++i) {
            w.workList()->addItem(QStringLiteral(" w%1.gif").arg(i));
        }
        // Select without the click behaviour deselecting the other list.
        appState().CrossDeselectEnabled = false;
        select(w.sourceList(), c.sourceSelected);
        select(w.workList(), c.workSelected);
        appState().CrossDeselectEnabled = true;
        w.findSelectedList();
        EXPECT_EQ(appState().SelectedList, c.selectedList);
        EXPECT_EQ(appState().AllSelected, c.allSelected);
    }
}

TEST_F(MainWindowTest, SelectAllTogglesTheSourceSelection) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {1});
    w->addClick();
    select(w->workList(), {0});  // the click deselected the source list
    select(w->sourceList(), {0, 2});
    ASSERT_TRUE(selected(w->workList()).isEmpty());
    select(w->workList(), {});
    inspections.clear();

    w->selectAllClick();
    EXPECT_EQ(selected(w->sourceList()), QList<int>({0, 1, 2}));
    w->selectAllClick();
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_TRUE(inspections.isEmpty());  // no refresh while the operation runs
    EXPECT_TRUE(appState().ListClickUpdatesEnabled);
    EXPECT_TRUE(appState().CrossDeselectEnabled);
}

TEST_F(MainWindowTest, SelectAllOnTheSourceListClearsTheWorkSelection) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    w->addClick();
    // Both lists hold a selection (set without the cross-deselect).
    appState().CrossDeselectEnabled = false;
    select(w->workList(), {0, 1});
    select(w->sourceList(), {0});
    appState().CrossDeselectEnabled = true;

    w->selectAllClick();
    EXPECT_EQ(selected(w->sourceList()), QList<int>({0, 1}));
    EXPECT_TRUE(selected(w->workList()).isEmpty());
}

TEST_F(MainWindowTest, SelectAllOnTheWorkList) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();

    // Source list holding items: every work item gets selected, however often it is pressed.
    select(w->workList(), {1});
    ASSERT_TRUE(selected(w->sourceList()).isEmpty());
    inspections.clear();
    w->selectAllClick();
    EXPECT_EQ(selected(w->workList()), QList<int>({0, 1, 2}));
    w->selectAllClick();
    EXPECT_EQ(selected(w->workList()), QList<int>({0, 1, 2}));
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_TRUE(inspections.isEmpty());

    // Source list empty: a toggle.
    for (int i = w->sourceList()->count() - 1; i >= 0; --i) {
        w->sourceList()->removeItem(i);
    }
    w->selectAllClick();
    EXPECT_TRUE(selected(w->workList()).isEmpty());
    select(w->workList(), {2});
    w->selectAllClick();
    EXPECT_EQ(selected(w->workList()), QList<int>({0, 1, 2}));
}

TEST_F(MainWindowTest, SelectAllWithNothingSelectedChangesNothing) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    w->addClick();
    select(w->sourceList(), {});
    int clicks = 0;
    QObject::connect(w->sourceList(), &FileListBox::listClicked, [&] { ++clicks; });
    QObject::connect(w->workList(), &FileListBox::listClicked, [&] { ++clicks; });
    w->selectAllClick();
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_TRUE(selected(w->workList()).isEmpty());
}

TEST_F(MainWindowTest, AClickDeselectsTheOtherListAndInspectsItsFile) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();

    // What the other list's click saw while the outer click deselected it.
    QList<std::pair<bool, bool>> innerFlags;
    QObject::connect(w->sourceList(), &FileListBox::listClicked, [&] {
        innerFlags.append({appState().ListClickUpdatesEnabled, appState().CrossDeselectEnabled});
    });

    select(w->workList(), {0, 1, 2});
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_EQ(innerFlags.size(), 3);  // one per deselected source item
    for (const auto& [updates, cross] : innerFlags) {
        EXPECT_FALSE(updates);
        EXPECT_FALSE(cross);
    }

    inspections.clear();
    w->sourceList()->setSelected(1, true);
    EXPECT_TRUE(selected(w->workList()).isEmpty());
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "b.gif");
    EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + "b.gif", true, true}}));

    inspections.clear();
    w->workList()->setSelected(2, true);
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "c.gif");
    EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + "c.gif", true, true}}));
}

TEST_F(MainWindowTest, WithInfoOffAClickOnlyMakesTheFileCurrent) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    inspections.clear();
    w->imageInfoClick();
    ASSERT_FALSE(appState().ImageInfoEnabled);
    w->sourceList()->setSelected(1, true);
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "b.gif");
    EXPECT_TRUE(inspections.isEmpty());
}

TEST_F(MainWindowTest, AClickWithoutCurrentItemOnlyDeselectsTheOtherList) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    const QString before = appState().CurrentImagePath;
    inspections.clear();
    ASSERT_EQ(w->workList()->currentItemIndex(), -1);
    w->workFileListClick();
    EXPECT_TRUE(selected(w->sourceList()).isEmpty());
    EXPECT_EQ(appState().CurrentImagePath, before);
    EXPECT_TRUE(inspections.isEmpty());
}

TEST_F(MainWindowTest, OperationsRestoreTheGuardFlagsAndNeverInspect) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    inspections.clear();
    const std::function<void()> operations[] = {
        [&] { w->addClick(); },       [&] { w->removeClick(); },     [&] { w->selectAllClick(); },
        [&] { w->selectAllClick(); }, [&] { w->deleteFileClick(); },
    };
    for (const auto& operation : operations) {
        operation();
        EXPECT_TRUE(appState().ListClickUpdatesEnabled);
        EXPECT_TRUE(appState().CrossDeselectEnabled);
    }
    EXPECT_TRUE(inspections.isEmpty());
}

TEST_F(MainWindowTest, CompressRefusesAnEmptyWorkList) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    ASSERT_EQ(selected(w->sourceList()), QList<int>({0}));
    w->compressClick();
    EXPECT_EQ(messages, QStringList({"No files selected."}));
    EXPECT_EQ(compressions, 0);

    w->addClick();
    select(w->workList(), {});
    messages.clear();
    w->compressClick();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(compressions, 1);
}

TEST_F(MainWindowTest, MessageBoxIsTitledPixavantWithOkOnly) {
    setMessageHandler({});
    FixtureDir dir;
    auto w = open(dir.path());
    QString title, text;
    int buttons = -1;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        buttons = box->buttons().size();
        box->accept();
    });
    w->compressClick();
    EXPECT_EQ(title, "PIXAVANT");
    EXPECT_EQ(text, "No files selected.");
    EXPECT_EQ(buttons, 1);
}

TEST_F(MainWindowTest, DoubleClickRunsView) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    w->srcViewClick();
    emit w->sourceList()->listDoubleClicked();
    emit w->workList()->listDoubleClicked();
    EXPECT_EQ(views, 3);
}

TEST_F(MainWindowTest, MenuItemsSwitchTheLowerPart) {
    FixtureDir dir;
    auto w = open(dir.path());
    const int fullHeight = w->height();
    ASSERT_TRUE(w->lowerPartShown());

    w->imageInfoClick();  // Info off, Preview on: full height
    EXPECT_FALSE(appState().ImageInfoEnabled);
    EXPECT_TRUE(w->lowerPartShown());
    EXPECT_EQ(w->height(), fullHeight);

    w->previewImageClick();  // both off: the short window
    EXPECT_FALSE(appState().PreviewEnabled);
    EXPECT_FALSE(w->lowerPartShown());
    EXPECT_LT(w->height(), fullHeight);
    EXPECT_EQ(w->centralWidget()->height(), 246);
    // The short window still shows the buttons below the lists.
    const QWidget* compress = w->findChild<QPushButton*>("Compress");
    EXPECT_LE(compress->geometry().bottom(), w->centralWidget()->height());

    w->imageInfoClick();
    EXPECT_TRUE(appState().ImageInfoEnabled);
    EXPECT_EQ(w->height(), fullHeight);
    EXPECT_EQ(w->centralWidget()->height(), 437);
}

TEST_F(MainWindowTest, ControlsCarryTheirNamesAndCaptions) {
    MainWindow w;
    const std::pair<const char*, const char*> buttons[] = {
        {"Add", "Add"},
        {"Delete", "Remove"},
        {"SelectAll", "Select All"},
        {"SrcBrowser", "Browser"},
        {"SrcView", "View"},
        {"DeleteFile", "Delete"},
        {"Compress", "Compress"},
    };
    for (const auto& [name, caption] : buttons) {
        auto* button = w.findChild<QPushButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_EQ(button->text(), caption);
        // The caption fits its button.
        EXPECT_LE(button->fontMetrics().horizontalAdvance(caption), button->width() - 4) << name;
    }
    for (const char* name : {"SrcFileList", "WorkFileList"}) {
        EXPECT_NE(w.findChild<FileListBox*>(name), nullptr) << name;
    }
    for (const char* name : {"Label1", "Label2"}) {
        EXPECT_NE(w.findChild<QLabel*>(name), nullptr) << name;
    }
    EXPECT_NE(w.findChild<QWidget*>("LEAD1"), nullptr);
    auto* info = w.findChild<QAction*>("mImageInfo");
    auto* preview = w.findChild<QAction*>("mPreviewImage");
    auto* about = w.findChild<QAction*>("mAbout");
    ASSERT_TRUE(info && preview && about);
    EXPECT_EQ(info->text(), "&Info");
    EXPECT_EQ(preview->text(), "&Preview");
    EXPECT_EQ(about->text(), "&About");
    EXPECT_TRUE(info->isChecked() && preview->isChecked());
    EXPECT_NE(w.findChild<QMenu*>("mOption"), nullptr);
}

TEST_F(MainWindowTest, CountLabelsShowTheirWholeTextWithinTheWindow) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    const QWidget* client = w->centralWidget();
    for (int count : {0, 7, 123, 2000}) {
        SCOPED_TRACE(count);
        for (int i = w->workList()->count(); i < count; ++i) {
            w->workList()->addItem(QStringLiteral(" f%1.gif").arg(i));
        }
        w->updateWorkCount();
        QLabel* label = w->workCountLabel();
        const QString text = label->text();
        EXPECT_EQ(text, workCountText(count));
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->width());
        EXPECT_LE(label->geometry().right(), client->width());
        EXPECT_GE(label->x(), 0);
        // Never over the source count label.
        EXPECT_GT(label->x(), w->sourceCountLabel()->geometry().right());
    }
    QLabel* source = w->sourceCountLabel();
    EXPECT_LE(source->fontMetrics().horizontalAdvance(source->text()), source->width());
}

TEST_F(MainWindowTest, TabOrder) {
    MainWindow w;
    const QStringList expected = {"SrcBrowser", "SrcView",      "Compress",
                                  "DeleteFile", "SelectAll",    "Delete",
                                  "Add",        "WorkFileList", "SrcFileList"};
    QWidget* widget = w.findChild<QWidget*>("SrcBrowser");
    QStringList order;
    for (int guard = 0; guard < 100 && order.size() < expected.size(); ++guard) {
        if (widget->focusPolicy() & Qt::TabFocus && !widget->objectName().isEmpty() &&
            !widget->objectName().startsWith("qt_")) {
            order.append(widget->objectName());
        }
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(order, expected);
}

TEST_F(MainWindowTest, AboutOpensTheAboutBox) {
    FixtureDir dir;
    auto w = open(dir.path());
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        box->close();
    });
    w->findChild<QAction*>("mAbout")->trigger();
    EXPECT_EQ(title, "About");
}

TEST_F(MainWindowTest, BrowserClosedWithoutOkRescansTheSameDirectory) {
    FixtureDir dir({"a.gif", "b.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    w->addClick();
    select(w->sourceList(), {1});
    dir.add({"c.gif"});
    QString title;
    QTimer::singleShot(0, [&] {
        QWidget* picker = QApplication::activeModalWidget();
        ASSERT_NE(picker, nullptr);
        title = picker->windowTitle();
        picker->close();
    });
    w->srcBrowserClick();
    EXPECT_EQ(title, "Source Files Browser");
    EXPECT_EQ(appState().SourceDir, dir.path());
    EXPECT_EQ(w->sourceList()->items(), QStringList({" a.gif", " b.gif", " c.gif"}));
    EXPECT_EQ(selected(w->sourceList()), QList<int>({0}));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif"}));
}

TEST_F(MainWindowTest, BrowserWithOkScansThePickedDirectory) {
    FixtureDir dir({"a.gif", "pics/x.jpg", "pics/y.tif"});
    auto w = open(dir.path());
    w->addClick();
    QTimer::singleShot(0, [&] {
        auto* picker = qobject_cast<DirectoryBrowser*>(QApplication::activeModalWidget());
        ASSERT_NE(picker, nullptr);
        ASSERT_TRUE(picker->setPath(dir.path() + "pics"));
        picker->okClick();
    });
    w->srcBrowserClick();
    EXPECT_EQ(appState().SourceDir, dir.path() + "pics/");
    EXPECT_EQ(compressionSettings().OutputDir, dir.path() + "pics/");
    EXPECT_EQ(w->sourceList()->items(), QStringList({" x.jpg", " y.tif"}));
    EXPECT_EQ(w->sourceCountLabel()->text(), "Source Files(s)" + kBlanks + "2 files");
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "pics/x.jpg");
    // Work items now resolve against the new directory.
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
}

}  // namespace
}  // namespace pixavant
