#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>

#include "InspectFixtures.h"
#include "inspect/ImageDisplay.h"
#include "inspect/ViewerWindow.h"

namespace pixavant {
namespace {

using testing::ImageDir;

class ViewerTest : public testing::InspectTest {
  protected:
    // a.tif 320 x 200, b.jpg 1024 x 300, c.tif 60 x 40.
    void SetUp() override {
        InspectTest::SetUp();
        dir.tiff("a.tif", 320, 200);
        dir.jpeg("b.jpg", 1024, 300);
        dir.tiff("c.tif", 60, 40);
        window = open(dir.path());
    }
    QString path(const char* name) const { return dir.path() + name; }

    ImageDir dir;
    std::unique_ptr<MainWindow> window;
};

TEST_F(ViewerTest, LaysOutTheDesignGeometry) {
    ViewerWindow viewer(*window);
    EXPECT_EQ(viewer.objectName(), "frmViewer");
    EXPECT_EQ(viewer.size(), QSize(548, 499));  // 8220 x 7485 twips
    const PreviewBox box = viewer.previewBox();
    EXPECT_EQ(box.width, 541);
    EXPECT_EQ(box.height, 439);
    EXPECT_EQ(box.left, 60);
    EXPECT_EQ(box.top, 60);
    auto* previous = viewer.findChild<QPushButton*>("Previous");
    auto* next = viewer.findChild<QPushButton*>("Next");
    ASSERT_NE(previous, nullptr);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(previous->geometry(), QRect(168, 458, 67, 29));
    EXPECT_EQ(next->geometry(), QRect(314, 458, 67, 29));
    EXPECT_EQ(previous->text(), "Previous");
    EXPECT_EQ(next->text(), "Next");
}

TEST_F(ViewerTest, ShowsTheCurrentItemAtItsOwnSizeCentredInTheBox) {
    // Start-up selected a.tif.
    ViewerWindow viewer(*window);
    EXPECT_EQ(viewer.currentIndex(), 0);
    EXPECT_EQ(viewer.windowTitle(), path("a.tif"));
    // 320 x 200: offsets round(110.5) = 110 and round(119.5) = 120.
    EXPECT_EQ(viewer.display().geometry(), QRect(4 + 110, 4 + 120, 320, 200));
    EXPECT_EQ(viewer.display().imageRect(), QRect(0, 0, 320, 200));
    EXPECT_EQ(viewer.display().shownImage().size(), QSize(320, 200));

    // 1024 x 300: the width is the box's, the height its own, offset round(69.5) = 70; the
    // image is shown whole, reduced into the control.
    viewer.nextClick();
    EXPECT_EQ(viewer.currentIndex(), 1);
    EXPECT_EQ(viewer.windowTitle(), path("b.jpg"));
    EXPECT_EQ(viewer.display().geometry(), QRect(4, 4 + 70, 541, 300));
    const QRect shown = viewer.display().imageRect();
    EXPECT_EQ(shown.width(), 541);
    EXPECT_NEAR(shown.height(), 541 * 300 / 1024, 1);
    EXPECT_NEAR(shown.top() + shown.height() / 2.0, 150, 1);
}

TEST_F(ViewerTest, StepsWithoutWrappingAround) {
    click(window->sourceList(), 1);
    ViewerWindow viewer(*window);
    EXPECT_EQ(viewer.currentIndex(), 1);
    viewer.nextClick();
    EXPECT_EQ(viewer.currentIndex(), 2);
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));
    EXPECT_EQ(viewer.display().geometry(), QRect(4 + 240, 4 + 200, 60, 40));
    viewer.nextClick();  // the last item
    EXPECT_EQ(viewer.currentIndex(), 2);
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));

    viewer.previousClick();
    viewer.previousClick();
    EXPECT_EQ(viewer.currentIndex(), 0);
    EXPECT_EQ(viewer.windowTitle(), path("a.tif"));
    viewer.previousClick();  // the first item
    EXPECT_EQ(viewer.currentIndex(), 0);
    EXPECT_EQ(viewer.windowTitle(), path("a.tif"));
}

TEST_F(ViewerTest, EnterClicksTheFocusedButton) {
    click(window->sourceList(), 0);
    ViewerWindow viewer(*window);
    viewer.show();
    for (const char* name : {"Next", "Next", "Previous"}) {
        auto* button = viewer.findChild<QPushButton*>(name);
        button->setFocus();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(button, &enter);
    }
    EXPECT_EQ(viewer.currentIndex(), 1);
}

TEST_F(ViewerTest, StepsThroughEveryItemOfTheWorkList) {
    click(window->sourceList(), 2);
    window->addClick();
    ASSERT_EQ(window->workList()->count(), 1);
    click(window->workList(), 0);
    ViewerWindow viewer(*window);
    EXPECT_EQ(appState().SelectedList, 2);
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));
    // A list of one item never moves.
    viewer.nextClick();
    viewer.previousClick();
    EXPECT_EQ(viewer.currentIndex(), 0);
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));
}

TEST_F(ViewerTest, WithNothingSelectedShowsNothing) {
    window->sourceList()->setSelected(0, false);
    ViewerWindow viewer(*window);
    EXPECT_EQ(appState().SelectedList, 0);
    EXPECT_EQ(viewer.windowTitle(), "Form1");
    EXPECT_FALSE(viewer.display().hasImage());
    viewer.nextClick();
    viewer.previousClick();
    EXPECT_EQ(viewer.currentIndex(), 0);
    EXPECT_EQ(viewer.windowTitle(), "Form1");
    EXPECT_FALSE(viewer.display().hasImage());
}

TEST_F(ViewerTest, WithBothListsSelectedUsesTheSourceList) {
    click(window->sourceList(), 2);
    window->addClick();
    click(window->sourceList(), 1);
    // Both lists hold a selection (the system itself can get there, without the cross-deselect).
    appState().CrossDeselectEnabled = false;
    window->workList()->setSelected(0, true);
    appState().CrossDeselectEnabled = true;
    ASSERT_TRUE(window->sourceList()->isSelected(1));
    ViewerWindow viewer(*window);
    EXPECT_EQ(appState().SelectedList, 1);
    EXPECT_EQ(viewer.currentIndex(), 1);
    EXPECT_EQ(viewer.windowTitle(), path("b.jpg"));
}

TEST_F(ViewerTest, AFileThatCannotBeShownChangesNothingButTheIndex) {
    dir.junk("b2.gif");
    dir.brokenTiff("b3.tif");
    window->fillSourceList();  // a.tif, b.jpg, b2.gif, b3.tif, c.tif
    click(window->sourceList(), 1);
    ViewerWindow viewer(*window);
    const QRect shown = viewer.display().geometry();
    const qint64 image = viewer.display().shownImage().cacheKey();

    viewer.nextClick();  // not an image: its information cannot be read
    EXPECT_EQ(viewer.currentIndex(), 2);
    EXPECT_EQ(viewer.windowTitle(), path("b.jpg"));
    EXPECT_EQ(viewer.display().geometry(), shown);
    viewer.nextClick();  // the information reads, the pixels do not
    EXPECT_EQ(viewer.currentIndex(), 3);
    EXPECT_EQ(viewer.windowTitle(), path("b.jpg"));
    EXPECT_EQ(viewer.display().shownImage().cacheKey(), image);
    EXPECT_EQ(viewer.display().geometry(), shown);
    viewer.nextClick();  // and on from the moved index
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ViewerTest, ViewAndDoubleClickOpenTheViewerModally) {
    QStringList titles;
    auto closeViewer = [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr && modal->objectName() == "frmViewer") {
            titles.append(modal->windowTitle());
            modal->close();
        }
    };
    window->show();
    QTimer::singleShot(0, closeViewer);
    window->srcViewClick();
    click(window->sourceList(), 2);
    QTimer::singleShot(0, closeViewer);
    emit window->sourceList()->listDoubleClicked();
    EXPECT_EQ(titles, QStringList({path("a.tif"), path("c.tif")}));
}

}  // namespace
}  // namespace pixavant
