#pragma once

#include <QString>
#include <QStringList>

class QMimeData;

namespace pixavant {

// The local files and folders a drag carries, as absolute clean paths in the drag's order;
// anything else it carries (web addresses, text) is left out.
QStringList droppedPaths(const QMimeData* data);

// Whether a file of this name is one the source scan lists (its patterns, letter case ignored).
bool hasSourceSuffix(const QString& fileName);

// A list item's tool tip: the whole file name, and the folder it is in below it.
QString fileToolTip(const QString& fileName, const QString& folder);

}  // namespace pixavant
