#include <gtest/gtest.h>

#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <functional>
#include <memory>

#include "AppFixtures.h"
#include "browse/DirectoryBrowser.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "common/Message.h"
#include "app/SourceScan.h"
#include "compress/RunLists.h"

namespace pixavant {
namespace {

using testing::FixtureDir;
using testing::selectedRows;

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

    static void select(FileListBox* list, const QList<int>& rows) {
        for (int i = 0; i < list->count(); ++i)
            list->setSelected(i, rows.contains(i));
    }
    // Both lists' selections set as given, without the click deselecting the other list.
    static void selectBoth(MainWindow& w, const QList<int>& source, const QList<int>& work) {
        appState().CrossDeselectEnabled = false;
        select(w.sourceList(), source);
        select(w.workList(), work);
        appState().CrossDeselectEnabled = true;
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

TEST_F(MainWindowTest, LoadScansTheStartDirectoryAndSelectsTheFirstFileOrTheOneGiven) {
    FixtureDir dir({"z.gif", "b.jpg", "c.bmp", "x.txt"});
    compressionSettings().DepthChoice = 0;  // left over from nothing: load resets the record
    appState().CrossDeselectEnabled = false;
    auto w = open(dir.path());
    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.jpg", " c.bmp", " z.gif"}));
    EXPECT_EQ(QStringList({w->sourceCountLabel()->text(), w->workCountLabel()->text()}),
              QStringList({sourceCountText(3), workCountText(0)}));
    EXPECT_EQ(selectedRows(w->sourceList()), QList<int>({0}));
    EXPECT_EQ(w->sourceList()->currentItemIndex(), 0);
    const AppState& s = appState();
    EXPECT_EQ(s.SourceDir, dir.path());
    EXPECT_TRUE(s.ListClickUpdatesEnabled && s.CrossDeselectEnabled && s.ImageInfoEnabled &&
                s.PreviewEnabled && !s.AllSelected);
    EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + "b.jpg", true, true}}));
    EXPECT_EQ(compressionSettings().OutputDir, dir.path());
    EXPECT_EQ(compressionSettings().DepthChoice, CompressionSettings{}.DepthChoice);

    // A file named at start is the selected one; an unlisted name changes nothing.
    inspections.clear();
    w->selectSourceFile("c.bmp");
    w->selectSourceFile("unlisted.txt");
    EXPECT_EQ(selectedRows(w->sourceList()), QList<int>({1}));
    EXPECT_EQ(w->sourceList()->currentItemIndex(), 1);
    EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + "c.bmp", true, true}}));

    // An empty or missing directory: empty lists, nothing current; Add only rewrites the count,
    // Delete does nothing.
    const FixtureDir nothing({"notes.txt", "sub.gif/"});
    for (const QString& path : {nothing.path(), dir.path() + "no/"}) {
        testing::resetState();
        inspections.clear();
        auto empty = open(path);
        EXPECT_EQ(std::pair(empty->sourceList()->count(), empty->sourceList()->currentItemIndex()),
                  std::pair(0, -1));
        EXPECT_TRUE(appState().CurrentImagePath.isEmpty() && inspections.isEmpty());
        EXPECT_EQ(compressionSettings().OutputDir, path);
        empty->workCountLabel()->setText("stale");
        empty->addClick();
        empty->deleteFileClick();
        EXPECT_EQ(empty->workList()->count(), 0);
        EXPECT_EQ(empty->workCountLabel()->text(), workCountText(0));
        EXPECT_TRUE(messages.isEmpty());
    }
}

TEST_F(MainWindowTest, AddAppendsTheSelectedSourceFilesNotYetListedAndRemoveTakesThemOff) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif", "d.gif"});
    auto w = open(dir.path());
    w->removeClick();  // no current work item: nothing
    w->addClick();     // right after start: the first file
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(1));

    select(w->sourceList(), {0, 2});
    w->addClick();
    select(w->sourceList(), {1, 2});
    w->addClick();
    w->addClick();  // nothing new
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif", " c.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(3));
    EXPECT_EQ(selectedRows(w->sourceList()), QList<int>({1, 2}));  // the source keeps its selection

    // A name listed twice in the source list is added once...
    w->addSourceFile("d.gif");
    select(w->sourceList(), {3, 4});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif", " c.gif", " d.gif"}));

    // Remove takes the selected work items off, and nothing else.
    select(w->workList(), {1, 3});
    w->removeClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " c.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(2));
    EXPECT_EQ(w->sourceList()->count(), 5);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 4);
}

TEST_F(MainWindowTest, AddWithEverySourceFileSelectedCopiesTheSourceList) {
    FixtureDir dir({"a.gif", "b.gif", "other.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {2});
    w->addClick();
    QFile::remove(dir.path() + "other.gif");
    w->fillSourceList();
    w->addSourceFile("a.gif");  // ...but with every item selected the list is copied as it is
    select(w->sourceList(), {0, 1, 2});
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " a.gif", " b.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(3));
}

TEST_F(MainWindowTest, DeleteMovesSelectedFilesToTheTrash) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif", "d.gif", "e.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();
    QFile::remove(dir.path() + "d.gif");  // gone behind the list's back: kept, and said so
    w->addSourceFile("c.gif");            // listed twice: both items go
    select(w->sourceList(), {0, 2, 3, 4});
    w->deleteFileClick();

    EXPECT_EQ(w->sourceList()->items(), QStringList({" b.gif", " d.gif", " e.gif"}));
    EXPECT_EQ(w->sourceCountLabel()->text(), sourceCountText(3));
    EXPECT_TRUE(dir.exists("b.gif") && dir.exists("e.gif"));
    for (const char* name : {"a.gif", "c.gif"})
        EXPECT_TRUE(!dir.exists(name) && inTrash(name)) << name;
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains("d.gif") && !messages[0].contains("a.gif"));
    // The deleted files are off the work list too, and the count says so.
    EXPECT_EQ(w->workList()->items(), QStringList({" b.gif"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(1));
}

TEST_F(MainWindowTest, DeleteTakesOffTheWorkListOnlyTheFilesItDeleted) {
    FixtureDir dir({"a.gif", "b.gif", "pics/a.gif", "pics/z.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0});
    w->addClick();  // a.gif of the top folder
    ASSERT_TRUE(w->openSourceFolder(dir.path() + "pics"));
    // The same name, from another folder: not added, and not deleted with pics/a.gif.
    w->addClick();
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
    QStringList gone;
    w->setFilesGoneHook([&](const QStringList& paths) { gone += paths; });
    appState().CurrentImagePath = dir.path() + "pics/a.gif";
    select(w->sourceList(), {0});
    w->deleteFileClick();
    EXPECT_TRUE(inTrash("a.gif") && dir.exists("a.gif"));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif"}));
    EXPECT_EQ(w->workList()->itemFolder(0), dir.path());
    EXPECT_EQ(gone, QStringList({dir.path() + "pics/a.gif"}));
    EXPECT_TRUE(appState().CurrentImagePath.isEmpty());  // the file clicked last is gone
    EXPECT_TRUE(appState().ListClickUpdatesEnabled);
}

// Each item remembers the folder it was listed from: a click, and a run, use that folder
// whatever the source folder is now; the tool tip gives the whole name and the folder.
TEST_F(MainWindowTest, WorkItemsKeepTheirFolderAndShowItInTheirToolTip) {
    FixtureDir dir({"same.gif", "<b>bold.gif", "pics/same.gif", "pics/x.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1});
    w->addClick();
    ASSERT_TRUE(w->openSourceFolder(dir.path() + "pics/"));
    EXPECT_EQ(w->sourceList()->items(), QStringList({" same.gif", " x.gif"}));
    select(w->workList(), {1});
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "same.gif");
    EXPECT_EQ(w->runLists().workFolder(1), dir.path());
    EXPECT_EQ(w->itemPath(w->sourceList(), 0), dir.path() + "pics/same.gif");
    EXPECT_EQ(w->itemPath(w->workList(), 5), QString());

    const QString tip = w->workList()->item(0)->toolTip();
    EXPECT_TRUE(Qt::mightBeRichText(tip));
    EXPECT_TRUE(tip.contains("&lt;b&gt;bold.gif<br>" + dir.path())) << tip.toStdString();
    EXPECT_TRUE(w->sourceList()->item(1)->toolTip().contains("x.gif<br>" + dir.path() + "pics/"));
}

// Drag and drop, as the window system delivers it: the enter is refused or accepted, then the
// drop.
class DropTest : public MainWindowTest {
  protected:
    static QMimeData* urls(const QStringList& paths) {
        auto* data = new QMimeData;
        QList<QUrl> list;
        for (const QString& path : paths)
            list << QUrl::fromLocalFile(path);
        data->setUrls(list);
        return data;
    }
    // Whether the widget took the drag; if so, it is dropped there.
    static bool drop(QWidget* target, const QStringList& paths) {
        std::unique_ptr<QMimeData> data(urls(paths));
        const QPoint at(target->width() / 2, target->height() / 2);
        QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent dropped(QPointF(at), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &dropped);
        return dropped.isAccepted();
    }
};

TEST_F(DropTest, FilesDroppedOnTheWorkListAreAddedEachFromItsOwnFolder) {
    FixtureDir dir({"a.gif", "b.jpg", "notes.txt", "one/a.gif", "one/c.TIF", "two/d.bmp"});
    auto w = open(dir.path());
    QWidget* target = w->workList()->viewport();
    ASSERT_TRUE(
        drop(target, {dir.path() + "one/c.TIF", dir.path() + "two/d.bmp", dir.path() + "a.gif"}));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " c.TIF", " d.bmp"}));
    EXPECT_EQ(QStringList({w->workList()->itemFolder(0), w->workList()->itemFolder(1),
                           w->workList()->itemFolder(2)}),
              QStringList({dir.path(), dir.path() + "one/", dir.path() + "two/"}));
    EXPECT_EQ(w->workCountLabel()->text(), workCountText(3));
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(appState().SourceDir, dir.path());  // no folder dropped: the source stays

    // The same file again is no news; the same name from elsewhere and a file of no listed kind
    // are not added, and one message says why.
    ASSERT_TRUE(drop(target, {dir.path() + "a.gif", dir.path() + "one/a.gif",
                              dir.path() + "notes.txt", dir.path() + "b.jpg"}));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.jpg", " c.TIF", " d.bmp"}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(dir.path() + "one/a.gif: a.gif is listed already, from " +
                                     dir.path().chopped(1)))
        << messages[0].toStdString();
    EXPECT_TRUE(messages[0].contains("notes.txt: not an image"));
    EXPECT_FALSE(messages[0].contains(dir.path() + "a.gif:"));
    EXPECT_TRUE(appState().ListClickUpdatesEnabled);

    // Web addresses and text carry no files: refused.
    std::unique_ptr<QMimeData> web(new QMimeData);
    web->setUrls({QUrl("https://example.com/a.jpg")});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, web.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    EXPECT_FALSE(enter.isAccepted());
}

TEST_F(DropTest, AFolderDroppedOnTheWindowBecomesTheSourceFolder) {
    FixtureDir dir({"a.gif", "pics/x.jpg", "pics/y.tif", "more/z.gif"});
    auto w = open(dir.path());
    w->addClick();
    // Files dropped beside the work list are not taken; a folder is, anywhere.
    EXPECT_FALSE(drop(w->centralWidget(), {dir.path() + "a.gif"}));
    ASSERT_TRUE(drop(w->centralWidget(), {dir.path() + "pics"}));
    EXPECT_EQ(QStringList({appState().SourceDir, compressionSettings().OutputDir,
                           w->sourceCountLabel()->text()}),
              QStringList({dir.path() + "pics/", dir.path() + "pics/", sourceCountText(2)}));
    EXPECT_EQ(w->sourceList()->items(), QStringList({" x.jpg", " y.tif"}));
    EXPECT_EQ(selectedRows(w->sourceList()), QList<int>({0}));
    ASSERT_TRUE(drop(w->sourceList()->viewport(), {dir.path() + "more/"}));
    EXPECT_EQ(appState().SourceDir, dir.path() + "more/");
    // On the work list, a folder and files: the files are added, the folder opened.
    ASSERT_TRUE(drop(w->workList()->viewport(), {dir.path() + "pics/x.jpg", dir.path() + "pics"}));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " x.jpg"}));
    EXPECT_EQ(appState().SourceDir, dir.path() + "pics/");
    EXPECT_TRUE(messages.isEmpty());

    // A folder that cannot be read changes nothing and says so.
    EXPECT_FALSE(w->openSourceFolder(dir.path() + "missing"));
    EXPECT_EQ(appState().SourceDir, dir.path() + "pics/");
    EXPECT_EQ(messages.size(), 1);
}

// Which list holds the selection (1 source, 2 work, 0 none), and whether all of it is selected.
TEST_F(MainWindowTest, FindSelectedListTellsWhichListHoldsTheSelection) {
    using Lists = std::pair<QList<int>, QList<int>>;  // selected rows of items 0 .. n-1
    const std::tuple<int, int, Lists, int, bool> cases[] = {
        {0, 0, {{}, {}}, 0, true},      {2, 2, {{}, {}}, 0, false},
        {3, 2, {{1}, {}}, 1, false},    {2, 2, {{0, 1}, {}}, 1, true},
        {2, 2, {{0, 1}, {0}}, 1, true}, {0, 2, {{}, {0, 1}}, 2, true},
        {2, 2, {{}, {0, 1}}, 2, false}, {0, 3, {{}, {2}}, 2, false},
    };
    for (const auto& [sourceItems, workItems, selection, list, all] : cases) {
        testing::resetState();
        MainWindow w;
        for (int i = 0; i < std::max(sourceItems, workItems); ++i) {
            if (i < sourceItems)
                w.sourceList()->addItem(QStringLiteral(" s%1.gif").arg(i));
            if (i < workItems)
                w.workList()->addItem(QStringLiteral(" w%1.gif").arg(i));
        }
        selectBoth(w, selection.first, selection.second);
        w.findSelectedList();
        EXPECT_EQ(std::pair(int(appState().SelectedList), bool(appState().AllSelected)),
                  std::pair(list, all))
            << sourceItems << " " << workItems;
    }
}

TEST_F(MainWindowTest, SelectAllActsOnTheListHoldingTheSelection) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();
    inspections.clear();
    struct Step {
        const char* what;
        QList<int> source, work;  // the selections before the click
        QList<int> sourceAfter, workAfter;
    };
    const Step steps[] = {
        {"some source: all", {1}, {}, {0, 1, 2}, {}},
        {"all source: none", {0, 1, 2}, {}, {}, {}},
        {"source with work: the work selection goes", {0}, {0, 1}, {0, 1, 2}, {}},
        {"some work: all", {}, {1}, {}, {0, 1, 2}},
        {"all work stays all while the source list has items", {}, {0, 1, 2}, {}, {0, 1, 2}},
        {"nothing selected: nothing changes", {}, {}, {}, {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        selectBoth(*w, step.source, step.work);
        inspections.clear();
        w->selectAllClick();
        EXPECT_TRUE(inspections.isEmpty());  // no refresh while the operation runs
        EXPECT_EQ(std::pair(selectedRows(w->sourceList()), selectedRows(w->workList())),
                  std::pair(step.sourceAfter, step.workAfter));
        EXPECT_TRUE(appState().ListClickUpdatesEnabled && appState().CrossDeselectEnabled);
    }

    // With the source list empty, the work list toggles.
    w->sourceList()->clearItems();
    select(w->workList(), {0, 1, 2});
    w->selectAllClick();
    EXPECT_TRUE(selectedRows(w->workList()).isEmpty());
    select(w->workList(), {2});
    w->selectAllClick();
    EXPECT_EQ(selectedRows(w->workList()), QList<int>({0, 1, 2}));
}

TEST_F(MainWindowTest, AClickDeselectsTheOtherListAndInspectsItsFile) {
    FixtureDir dir({"a.gif", "b.gif", "c.gif"});
    auto w = open(dir.path());
    // A list without a current item only deselects the other list.
    select(w->sourceList(), {0, 1, 2});
    inspections.clear();
    w->workFileListClick();
    EXPECT_TRUE(selectedRows(w->sourceList()).isEmpty());
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "c.gif");
    EXPECT_TRUE(inspections.isEmpty());
    select(w->sourceList(), {0, 1, 2});
    w->addClick();

    // What the other list's click saw while the outer click deselected it.
    QList<std::pair<bool, bool>> innerFlags;
    QObject::connect(w->sourceList(), &FileListBox::listClicked, [&] {
        innerFlags.append({appState().ListClickUpdatesEnabled, appState().CrossDeselectEnabled});
    });
    select(w->workList(), {0, 1, 2});
    EXPECT_TRUE(selectedRows(w->sourceList()).isEmpty());
    EXPECT_EQ(innerFlags, (QList<std::pair<bool, bool>>(3, {false, false})));

    // Each way, a click deselects the other list and inspects its own file.
    for (auto [list, other, file] : {std::tuple(w->sourceList(), w->workList(), "b.gif"),
                                     std::tuple(w->workList(), w->sourceList(), "c.gif")}) {
        inspections.clear();
        list->setSelected(file[0] - 'a', true);
        EXPECT_TRUE(selectedRows(other).isEmpty()) << file;
        EXPECT_EQ(inspections, QList<Inspection>({{dir.path() + file, true, true}}));
    }
}

TEST_F(MainWindowTest, CompressRefusesAnEmptyWorkListAndViewOpensFromEveryPlace) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    w->compressClick();
    EXPECT_EQ(messages, QStringList({"No files selected."}));
    EXPECT_EQ(compressions, 0);
    w->addClick();
    select(w->workList(), {});
    messages.clear();
    w->compressClick();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(compressions, 1);

    w->srcViewClick();
    emit w->sourceList()->listDoubleClicked();
    emit w->workList()->listDoubleClicked();
    EXPECT_EQ(views, 3);
}

TEST_F(MainWindowTest, CountLabelsShowTheirWholeTextWithinTheWindow) {
    FixtureDir dir({"a.gif"});
    auto w = open(dir.path());
    const QWidget* client = w->centralWidget();
    for (int count : {0, 7, 123, 2000}) {
        SCOPED_TRACE(count);
        for (int i = w->workList()->count(); i < count; ++i)
            w->workList()->addItem(QStringLiteral(" f%1.gif").arg(i));
        w->updateWorkCount();
        QLabel* label = w->workCountLabel();
        EXPECT_EQ(label->text(), workCountText(count));
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
        EXPECT_LE(label->geometry().right(), client->width());
        EXPECT_GT(label->x(), w->sourceCountLabel()->geometry().right());
    }
}

TEST_F(MainWindowTest, BrowserRescansTheSameOrThePickedDirectory) {
    FixtureDir dir({"a.gif", "b.gif", "pics/x.jpg", "pics/y.tif"});
    auto w = open(dir.path());
    QStringList titles;
    auto next = [&](const std::function<void(QWidget*)>& answer) {
        QTimer::singleShot(0, [&titles, answer] {
            QWidget* modal = QApplication::activeModalWidget();
            ASSERT_NE(modal, nullptr);
            titles.append(modal->windowTitle());
            answer(modal);
        });
    };
    // The browser closed without OK rescans the same directory.
    select(w->sourceList(), {0, 1});
    w->addClick();
    dir.add({"c.gif"});
    next([](QWidget* picker) { picker->close(); });
    w->srcBrowserClick();
    EXPECT_EQ(w->sourceList()->items(), QStringList({" a.gif", " b.gif", " c.gif"}));
    EXPECT_EQ(selectedRows(w->sourceList()), QList<int>({0}));

    // With OK it scans the picked one; the work items keep their folder.
    next([&](QWidget* modal) {
        auto* picker = qobject_cast<DirectoryBrowser*>(modal);
        ASSERT_TRUE(picker && picker->setPath(dir.path() + "pics"));
        picker->okClick();
    });
    w->srcBrowserClick();
    EXPECT_EQ(titles, QStringList({"Source Files Browser", "Source Files Browser"}));
    EXPECT_EQ(QStringList({appState().SourceDir, compressionSettings().OutputDir,
                           appState().CurrentImagePath, w->sourceCountLabel()->text()}),
              QStringList({dir.path() + "pics/", dir.path() + "pics/", dir.path() + "pics/x.jpg",
                           sourceCountText(2)}));
    EXPECT_EQ(w->sourceList()->items(), QStringList({" x.jpg", " y.tif"}));
    EXPECT_EQ(w->workList()->items(), QStringList({" a.gif", " b.gif"}));
    EXPECT_EQ(w->itemPath(w->workList(), 1), dir.path() + "b.gif");
}

}  // namespace
}  // namespace pixavant
