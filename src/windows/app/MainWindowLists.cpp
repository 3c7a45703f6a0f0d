#include "app/MainWindowLists.h"

#include <QLabel>

#include "app/FileListBox.h"
#include "app/MainWindow.h"

namespace pixavant {

int MainWindowLists::workCount() const {
    return window_.workList()->count();
}

QString MainWindowLists::workEntry(int index) const {
    return window_.workList()->itemText(index);
}

int MainWindowLists::sourceCount() const {
    return window_.sourceList()->count();
}

QString MainWindowLists::sourceEntry(int index) const {
    return window_.sourceList()->itemText(index);
}

void MainWindowLists::addSourceEntry(const QString& entry) {
    window_.sourceList()->addItem(entry);
}

void MainWindowLists::setSourceCountLabel(const QString& text) {
    window_.sourceCountLabel()->setText(text);
}

}  // namespace pixavant
