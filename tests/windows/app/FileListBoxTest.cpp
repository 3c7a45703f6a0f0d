#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <functional>

#include "AppFixtures.h"
#include "app/FileListBox.h"

using pixavant::FileListBox;
using pixavant::testing::selectedRows;

namespace {

// Mouse and key events as the window system delivers them.
void sendMouse(QWidget* target, QEvent::Type type, QPoint pos, Qt::KeyboardModifiers modifiers,
               Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons buttons =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, pos, target->mapToGlobal(pos), button, buttons, modifiers);
    QApplication::sendEvent(target, &event);
}
void mouseClick(QWidget* target, QPoint pos, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                Qt::MouseButton button = Qt::LeftButton) {
    sendMouse(target, QEvent::MouseButtonPress, pos, modifiers, button);
    sendMouse(target, QEvent::MouseButtonRelease, pos, modifiers, button);
}
void keyClick(QWidget* target, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers);
    QApplication::sendEvent(target, &release);
}

QList<bool> selectionOf(const FileListBox& list) {
    QList<bool> states;
    for (int i = 0; i < list.count(); ++i)
        states.append(list.isSelected(i));
    return states;
}

// A shown list with the given items and a counter of its click notifications.
struct ListFixture {
    FileListBox list;
    int clicks = 0;
    int doubleClicks = 0;
    QList<QList<bool>> seen;  // the selection each click notification saw

    explicit ListFixture(const QStringList& texts) {
        for (const QString& text : texts)
            list.addItem(text);
        QObject::connect(&list, &FileListBox::listClicked, [this] {
            ++clicks;
            seen.append(selectionOf(list));
        });
        QObject::connect(&list, &FileListBox::listDoubleClicked, [this] { ++doubleClicks; });
        list.resize(200, 200);
    }
    void show() {
        list.show();
        QApplication::processEvents();
    }
    QPoint centreOf(int index) { return list.visualItemRect(list.item(index)).center(); }
};

TEST(FileListBox, KeepsItemsSortedIgnoringLetterCaseAndAddingOrRemovingNeverNotifies) {
    ListFixture f({" z.gif", " b.jpg", " C.bmp", " a.TIF"});
    EXPECT_EQ(f.list.items(), QStringList({" a.TIF", " b.jpg", " C.bmp", " z.gif"}));
    EXPECT_EQ(f.list.currentItemIndex(), -1);
    EXPECT_TRUE(selectedRows(&f.list).isEmpty());
    // An appended item takes its sorted place and the call says where; names equal but for
    // case stay in the order they came. The selection moves with its items.
    f.list.setSelected(2, true);
    f.list.setSelected(3, true);
    const int clicks = f.clicks;
    EXPECT_EQ(f.list.addItem(" B2.gif"), 2);
    EXPECT_EQ(f.list.addItem(" 0.gif"), 0);
    EXPECT_EQ(f.list.addItem(" Z.gif"), 6);
    EXPECT_EQ(f.list.items(),
              QStringList({" 0.gif", " a.TIF", " b.jpg", " B2.gif", " C.bmp", " z.gif", " Z.gif"}));
    EXPECT_EQ(selectedRows(&f.list), QList<int>({4, 5}));
    f.list.removeItem(4);
    EXPECT_EQ(selectedRows(&f.list), QList<int>({4}));
    f.list.clearItems();
    EXPECT_EQ(std::pair(f.list.count(), f.list.currentItemIndex()), std::pair(0, -1));
    EXPECT_EQ(f.clicks, clicks);
    EXPECT_EQ(f.list.itemText(0), QString());
    EXPECT_FALSE(f.list.isSelected(0));
}

TEST(FileListBox, SettingSelectedStateNotifiesOncePerChangeBeforeReturning) {
    ListFixture f({" a.gif", " b.gif", " c.gif"});
    // Selecting makes an item current and keeps the others selected; deselecting leaves the
    // current item; no change (or no such item) gives no notification.
    const std::tuple<int, bool, int, QList<int>, int> steps[] = {
        {1, true, 1, {1}, 1},  {1, true, 1, {1}, 1}, {2, true, 2, {1, 2}, 2}, {2, false, 3, {1}, 2},
        {0, false, 3, {1}, 2}, {7, true, 3, {1}, 2}, {-1, true, 3, {1}, 2},
    };
    for (const auto& [row, on, clicks, selected, current] : steps) {
        f.list.setSelected(row, on);
        EXPECT_EQ(f.clicks, clicks) << row << on;
        EXPECT_EQ(selectedRows(&f.list), selected) << row << on;
        EXPECT_EQ(f.list.currentItemIndex(), current) << row << on;
        EXPECT_EQ(f.seen.last(), selectionOf(f.list));  // already applied when notified
    }
}

// What a user does with the mouse and the keyboard, one gesture after the other: each gesture that
// touches the selection notifies once, after the selection is made.
TEST(FileListBox, EachMouseOrKeyboardGestureNotifiesOnce) {
    ListFixture f({" a.gif", " b.gif", " c.gif", " d.gif"});
    f.show();
    f.list.setFocus();
    QWidget* viewport = f.list.viewport();
    int clicksAtDouble = -1;
    QObject::connect(&f.list, &FileListBox::listDoubleClicked, [&] { clicksAtDouble = f.clicks; });
    auto click = [&](int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                     Qt::MouseButton button = Qt::LeftButton) {
        return [=, &f] { mouseClick(viewport, f.centreOf(row), modifiers, button); };
    };
    auto drag = [&] {  // over three items: one click, at the release
        sendMouse(viewport, QEvent::MouseButtonPress, f.centreOf(0), Qt::NoModifier);
        sendMouse(viewport, QEvent::MouseMove, f.centreOf(1), Qt::NoModifier);
        sendMouse(viewport, QEvent::MouseMove, f.centreOf(2), Qt::NoModifier);
        EXPECT_EQ(f.clicks, 5);
        sendMouse(viewport, QEvent::MouseButtonRelease, f.centreOf(2), Qt::NoModifier);
    };
    struct Step {
        const char* what;
        std::function<void()> gesture;
        int clicks;
        QList<int> selected;
        int current;
    };
    const Step steps[] = {
        {"click", click(1), 1, {1}, 1},
        {"the selected item again: a click all the same", click(1), 2, {1}, 1},
        {"shift-click", click(3, Qt::ShiftModifier), 3, {1, 2, 3}, 3},
        {"control-click", click(2, Qt::ControlModifier), 4, {1, 3}, 2},
        {"a plain click selects one item only", click(0), 5, {0}, 0},
        {"the right button neither selects nor clicks", click(2, {}, Qt::RightButton), 5, {0}, 0},
        {"drag", drag, 6, {0, 1, 2}, 2},
        {"double-click: two clicks, then the double-click",
         [&] {
             mouseClick(viewport, f.centreOf(1));
             sendMouse(viewport, QEvent::MouseButtonDblClick, f.centreOf(1), Qt::NoModifier);
             sendMouse(viewport, QEvent::MouseButtonRelease, f.centreOf(1), Qt::NoModifier);
         },
         8,
         {1},
         1},
        {"down arrow", [&] { keyClick(&f.list, Qt::Key_Down); }, 9, {2}, 2},
        {"shift-down", [&] { keyClick(&f.list, Qt::Key_Down, Qt::ShiftModifier); }, 10, {2, 3}, 3},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.gesture();
        EXPECT_EQ(f.clicks, step.clicks);
        EXPECT_EQ(selectedRows(&f.list), step.selected);
        EXPECT_EQ(f.list.currentItemIndex(), step.current);
        ASSERT_EQ(f.seen.size(), f.clicks);
        if (f.clicks > 0) {  // the notification saw the selection already made
            EXPECT_EQ(f.seen.last(), selectionOf(f.list));
        }
    }
    EXPECT_EQ(f.doubleClicks, 1);
    EXPECT_EQ(clicksAtDouble, 8);
}

}  // namespace
