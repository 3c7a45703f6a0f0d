#pragma once

#include <QString>

namespace pixavant {

// A list item: one blank followed by the bare file name. The source list, the work list and the
// batch run's additions all use this form.
QString listItemText(const QString& fileName);
// The file name that a list item names: the item without its one leading blank. Only that blank
// goes: a file name may itself begin or end with blanks, and trimming would name another file.
QString listItemFileName(const QString& itemText);
// The path of the file a list item names in dir (which ends in "/").
QString listItemPath(const QString& dir, const QString& itemText);

// The count labels above the lists: heading, exactly 20 blanks, the count and " files".
QString sourceCountText(int count);
QString workCountText(int count);

}  // namespace pixavant
