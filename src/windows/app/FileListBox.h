#pragma once

#include <QListWidget>
#include <QString>

#include "common/FocusMarks.h"

namespace pixavant {

// The list box of the main window's two file lists.
//
// Items are kept sorted by their text, compared without regard to letter case: an appended item
// takes its sorted place, and indexes are positions in that order. Several items can be selected
// (click, Shift+click, Ctrl+click). The current item is the one with the focus (-1 when none).
//
// listClicked() is the list's click notification. It is raised
//  - once for every click (or key press) of the user on the list, after the selection has been
//    updated, even when the click changed nothing;
//  - synchronously, once per change, whenever code changes an item's selected state through
//    setSelected(); setting a state the item already has raises nothing.
// Adding and removing items raise nothing. A double-click raises listClicked() for its second
// press and then listDoubleClicked().
//
// Code must change the selection through setSelected() only, so that every change is notified.
// The focus shows as a frame around the list and a mark on the current item.
//
// Each item may remember the folder of its file; its tool tip then gives the whole name and the
// folder. With file drops accepted, local files and folders dropped on the list are handed on by
// pathsDropped().
class FileListBox : public FocusMarkedView<QListWidget> {
    Q_OBJECT

  public:
    explicit FileListBox(QWidget* parent = nullptr);

    int count() const { return QListWidget::count(); }
    QString itemText(int index) const;
    bool isSelected(int index) const;
    // Selecting an item also makes it the current item; deselecting leaves the current item.
    void setSelected(int index, bool selected);
    int currentItemIndex() const { return currentRow(); }
    // Inserts the text at its sorted place (after items that compare equal) and returns the index.
    // `folder` (ending in "/") is the folder of the file the item names.
    int addItem(const QString& text, const QString& folder = QString());
    // The folder given when the item was added.
    QString itemFolder(int index) const;
    // Whether local files and folders may be dropped on the list (off at first).
    void setAcceptsFileDrops(bool accept);
    void removeItem(int index);
    void clearItems();
    QStringList items() const;

    // The list's order: a before b, letter case ignored.
    static bool sortsBefore(const QString& a, const QString& b);

  signals:
    void listClicked();
    void listDoubleClicked();
    // Local files and folders dropped on the list, as absolute paths.
    void pathsDropped(const QStringList& paths);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    struct Snapshot {
        QList<int> selected;
        int current = -1;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot snapshot() const;

    bool clickPending_ = false;
};

}  // namespace pixavant
