#include "app/FileListBox.h"

#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

#include "app/DroppedPaths.h"
#include "settings/ListEntry.h"

namespace pixavant {

namespace {
constexpr int kFolderRole = Qt::UserRole + 1;
}  // namespace

FileListBox::FileListBox(QWidget* parent) : FocusMarkedView<QListWidget>(parent) {
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(false);
    setSortingEnabled(false);  // the order is kept by addItem()
    setUniformItemSizes(true);
}

bool FileListBox::sortsBefore(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

QString FileListBox::itemText(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

bool FileListBox::isSelected(int index) const {
    const QListWidgetItem* it = item(index);
    return it && it->isSelected();
}

void FileListBox::setSelected(int index, bool selected) {
    if (index < 0 || index >= count() || isSelected(index) == selected) {
        return;
    }
    const QModelIndex modelIndex = model()->index(index, 0);
    if (selected) {
        selectionModel()->setCurrentIndex(modelIndex, QItemSelectionModel::NoUpdate);
        selectionModel()->select(modelIndex, QItemSelectionModel::Select);
    } else {
        selectionModel()->select(modelIndex, QItemSelectionModel::Deselect);
    }
    emit listClicked();
}

int FileListBox::addItem(const QString& text, const QString& folder) {
    // Upper bound: after every item that does not sort after the new one.
    int low = 0;
    int high = count();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (sortsBefore(text, item(mid)->text())) {
            high = mid;
        } else {
            low = mid + 1;
        }
    }
    auto* added = new QListWidgetItem(text);
    if (!folder.isEmpty()) {
        added->setData(kFolderRole, folder);
        added->setToolTip(fileToolTip(listItemFileName(text), folder));
    }
    insertItem(low, added);
    return low;
}

QString FileListBox::itemFolder(int index) const {
    const QListWidgetItem* it = item(index);
    return it ? it->data(kFolderRole).toString() : QString();
}

void FileListBox::setAcceptsFileDrops(bool accept) {
    setAcceptDrops(accept);
    setDropIndicatorShown(false);
}

void FileListBox::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileListBox::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedPaths(event->mimeData()).isEmpty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void FileListBox::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedPaths(event->mimeData());
    if (paths.isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    emit pathsDropped(paths);
}

void FileListBox::removeItem(int index) {
    delete takeItem(index);
}

void FileListBox::clearItems() {
    clear();
}

QStringList FileListBox::items() const {
    QStringList texts;
    texts.reserve(count());
    for (int i = 0; i < count(); ++i) {
        texts.append(item(i)->text());
    }
    return texts;
}

FileListBox::Snapshot FileListBox::snapshot() const {
    Snapshot s;
    for (int i = 0; i < count(); ++i) {
        if (item(i)->isSelected()) {
            s.selected.append(i);
        }
    }
    s.current = currentRow();
    return s;
}

void FileListBox::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;  // only the left button selects
    }
    const Snapshot before = snapshot();
    QListWidget::mousePressEvent(event);
    if (indexAt(event->position().toPoint()).isValid() || snapshot() != before) {
        clickPending_ = true;
    }
}

void FileListBox::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() == Qt::NoButton) {
        QListWidget::mouseMoveEvent(event);
        return;
    }
    const Snapshot before = snapshot();
    QListWidget::mouseMoveEvent(event);
    if (snapshot() != before) {
        clickPending_ = true;
    }
}

void FileListBox::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const Snapshot before = snapshot();
    QListWidget::mouseReleaseEvent(event);
    if (clickPending_ || snapshot() != before) {
        clickPending_ = false;
        emit listClicked();
    }
}

void FileListBox::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        return;
    }
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid() || index.row() != currentRow()) {
        // Not a second press on the item just clicked: a plain press (the base class forwards it
        // to mousePressEvent).
        QListWidget::mouseDoubleClickEvent(event);
        return;
    }
    clickPending_ = false;
    emit listClicked();
    emit listDoubleClicked();
}

void FileListBox::keyPressEvent(QKeyEvent* event) {
    const Snapshot before = snapshot();
    QListWidget::keyPressEvent(event);
    if (snapshot() != before) {
        emit listClicked();
    }
}

}  // namespace pixavant
