#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QTest>

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
    // Where a viewer stands: its index and its title.
    static std::pair<int, QString> at(const ViewerWindow& viewer) {
        return {viewer.currentIndex(), viewer.windowTitle()};
    }

    ImageDir dir;
    std::unique_ptr<MainWindow> window;
};

// Start-up selected a.tif (320 x 200), shown at its own size in the box at 4, 4; b.jpg (1024 x 300)
// gets the box's width and its own height, and is shown whole, reduced into the control.
TEST_F(ViewerTest, ShowsTheCurrentItemAtItsOwnSizeCentredInTheBox) {
    ViewerWindow viewer(*window);
    EXPECT_EQ(viewer.display().geometry(), QRect(4 + 110, 4 + 120, 320, 200));
    EXPECT_EQ(viewer.display().imageRect(), QRect(0, 0, 320, 200));
    viewer.nextClick();
    EXPECT_EQ(at(viewer), std::pair(1, path("b.jpg")));
    EXPECT_EQ(viewer.display().geometry(), QRect(4, 4 + 70, 541, 300));
    const QRect shown = viewer.display().imageRect();
    EXPECT_EQ(shown.width(), 541);
    EXPECT_NEAR(shown.height(), 541 * 300 / 1024, 1);
    EXPECT_NEAR(shown.top() + shown.height() / 2.0, 150, 1);
}

// The viewer opens at the selected item of the list holding the selection and steps through that
// list (the keys' test steps to both ends).
TEST_F(ViewerTest, StepsThroughTheListHoldingTheSelection) {
    click(window->sourceList(), 1);
    ViewerWindow viewer(*window);
    EXPECT_EQ(at(viewer), std::pair(1, path("b.jpg")));

    // The work list of one item, selected: it never moves.
    click(window->sourceList(), 2);
    window->addClick();
    click(window->workList(), 0);
    ViewerWindow work(*window);
    EXPECT_EQ(appState().SelectedList, 2);
    work.nextClick();
    work.previousClick();
    EXPECT_EQ(at(work), std::pair(0, path("c.tif")));

    // Both lists holding a selection (possible without the cross-deselect): the source list.
    appState().CrossDeselectEnabled = false;
    window->sourceList()->setSelected(1, true);
    appState().CrossDeselectEnabled = true;
    ViewerWindow both(*window);
    EXPECT_EQ(appState().SelectedList, 1);
    EXPECT_EQ(both.windowTitle(), path("b.jpg"));

    // Nothing selected: nothing shown, nothing to step through.
    window->sourceList()->setSelected(1, false);
    window->workList()->setSelected(0, false);
    ViewerWindow none(*window);
    EXPECT_EQ(appState().SelectedList, 0);
    none.nextClick();
    EXPECT_EQ(at(none), std::pair(0, QString("Form1")));
    EXPECT_FALSE(none.display().hasImage());
}

TEST_F(ViewerTest, AFileThatCannotBeShownChangesNothingButTheIndex) {
    dir.junk("b2.gif");
    dir.brokenTiff("b3.tif");
    window->fillSourceList();  // a.tif, b.jpg, b2.gif, b3.tif, c.tif
    click(window->sourceList(), 1);
    ViewerWindow viewer(*window);
    const QRect shown = viewer.display().geometry();
    const qint64 image = viewer.display().shownImage().cacheKey();

    // Not an image (its information cannot be read), then the information reads but the
    // pixels do not.
    for (const int index : {2, 3}) {
        viewer.nextClick();
        EXPECT_EQ(at(viewer), std::pair(index, path("b.jpg")));
        EXPECT_EQ(viewer.display().shownImage().cacheKey(), image);
        EXPECT_EQ(viewer.display().geometry(), shown);
    }
    viewer.nextClick();  // and on from the moved index
    EXPECT_EQ(viewer.windowTitle(), path("c.tif"));
    EXPECT_TRUE(messages.isEmpty());
}

// Left and Page Up step back, Right and Page Down on, wherever the focus is; Z switches between
// the image reduced to fit and the image at actual size.
TEST_F(ViewerTest, KeysStepAndSwitchBetweenFittedAndActualSize) {
    ViewerWindow viewer(*window);
    viewer.show();
    QApplication::setActiveWindow(&viewer);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    QWidget* focus = viewer.findChild<QPushButton*>("Next");
    focus->setFocus();
    const std::pair<Qt::Key, const char*> steps[] = {
        {Qt::Key_Right, "b.jpg"}, {Qt::Key_PageDown, "c.tif"},
        {Qt::Key_Right, "c.tif"},  // the last
        {Qt::Key_Left, "b.jpg"},  {Qt::Key_PageUp, "a.tif"},
        {Qt::Key_Left, "a.tif"}};  // the first
    for (const auto& [key, name] : steps) {
        QTest::keyClick(QApplication::focusWidget(), key);
        EXPECT_EQ(viewer.windowTitle(), path(name)) << key;
    }
    EXPECT_EQ(QApplication::focusWidget(), focus);  // the arrows did not move the focus

    // b.jpg, 1024 x 300 in a 541 x 300 control: reduced to fit, then whole at actual size,
    // centred, and moved by dragging as far as it still covers the control.
    QTest::keyClick(&viewer, Qt::Key_Right);
    ImageDisplay& display = viewer.display();
    ASSERT_EQ(display.size(), QSize(541, 300));
    EXPECT_EQ(display.imageRect().width(), 541);
    QTest::keyClick(&viewer, Qt::Key_Z);
    EXPECT_TRUE(display.actualSize());
    EXPECT_EQ(display.shownImage().size(), QSize(1024, 300));  // decoded whole
    const int left = (541 - 1024) / 2;
    EXPECT_EQ(display.imageRect(), QRect(left, 0, 1024, 300));
    QTest::mousePress(&display, Qt::LeftButton, Qt::NoModifier, QPoint(300, 150));
    QTest::mouseMove(&display, QPoint(320, 170));
    QTest::mouseRelease(&display, Qt::LeftButton, Qt::NoModifier, QPoint(320, 170));
    EXPECT_EQ(display.imageRect().topLeft(), QPoint(left + 20, 0));
    display.pan(10000, 10000);  // no further than the image's left edge on the control's
    EXPECT_EQ(display.imageRect().topLeft(), QPoint(0, 0));
    display.pan(-10000, 0);
    EXPECT_GE(display.imageRect().right(), display.width() - 1);
    // Stepping keeps actual size; a small image looks the same either way.
    QTest::keyClick(&viewer, Qt::Key_Right);
    EXPECT_EQ(display.imageRect(), QRect(0, 0, 60, 40));
    QTest::keyClick(&viewer, Qt::Key_Left);
    EXPECT_EQ(display.imageRect().size(), QSize(1024, 300));
    QTest::keyClick(&viewer, Qt::Key_Z);
    EXPECT_FALSE(display.actualSize());
    EXPECT_EQ(display.imageRect().width(), 541);
}

}  // namespace
}  // namespace pixavant
