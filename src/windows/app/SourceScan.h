#pragma once

#include <QString>
#include <QStringList>

#include "settings/ListEntry.h"

namespace pixavant {

// The file patterns that decide which files of the source directory are listed, in scan order.
const QStringList& sourcePatterns();

// The names (without directory) of the regular, non-hidden files of dir that match the patterns,
// letter case ignored: pattern by pattern, each pattern's matches in name order. A name that
// matched two patterns would be listed twice (no duplicate check). An unreadable or missing
// directory gives no names.
QStringList scanSourceDirectory(const QString& dir);

}  // namespace pixavant
