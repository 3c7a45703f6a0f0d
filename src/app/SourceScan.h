#pragma once

#include <QString>
#include <QStringList>

namespace pixavant {

// The file patterns that decide which files of the source directory are listed, in scan order.
const QStringList& sourcePatterns();

// The names (without directory) of the regular, non-hidden files of dir that match the patterns,
// letter case ignored: pattern by pattern, each pattern's matches in name order. A name that
// matched two patterns would be listed twice (no duplicate check). An unreadable or missing
// directory gives no names.
QStringList scanSourceDirectory(const QString& dir);

// A list item: one blank followed by the bare file name.
QString listItemText(const QString& fileName);
// The file name that a list item names: the item without its leading blank.
QString listItemFileName(const QString& itemText);
// The path of the file a list item names in dir (which ends in "/").
QString listItemPath(const QString& dir, const QString& itemText);

// The count labels above the lists.
QString sourceCountText(int count);
QString workCountText(int count);

}  // namespace pixavant
