#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "app/FileListBox.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant::testing {

// A temporary directory holding the given entries: a name ending in "/" is a subdirectory, any
// other an empty file.
class FixtureDir {
  public:
    explicit FixtureDir(const QStringList& entries = {}) { add(entries); }
    void add(const QStringList& entries) {
        for (const QString& entry : entries) {
            if (entry.endsWith(QLatin1Char('/'))) {
                QDir(dir_.path()).mkpath(entry);
            } else {
                QDir(dir_.path()).mkpath(QFileInfo(entry).path());
                QFile file(path() + entry);
                file.open(QIODevice::WriteOnly);
            }
        }
    }
    QString path() const { return dir_.path() + QLatin1Char('/'); }
    bool exists(const QString& name) const { return QFile::exists(path() + name); }

  private:
    QTemporaryDir dir_;
};

// The rows of a list that are selected.
inline QList<int> selectedRows(const FileListBox* list) {
    QList<int> rows;
    for (int i = 0; i < list->count(); ++i)
        if (list->isSelected(i))
            rows.append(i);
    return rows;
}

// Module-level state back at its start values.
inline void resetState() {
    appState() = AppState{};
    compressionSettings() = CompressionSettings{};
}

}  // namespace pixavant::testing
