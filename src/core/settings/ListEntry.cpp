#include "settings/ListEntry.h"

namespace pixavant {

QString listItemText(const QString& fileName) {
    return QLatin1Char(' ') + fileName;
}

QString listItemFileName(const QString& itemText) {
    return itemText.startsWith(QLatin1Char(' ')) ? itemText.mid(1) : itemText;
}

QString listItemPath(const QString& dir, const QString& itemText) {
    return dir + listItemFileName(itemText);
}

static QString countText(const QString& heading, int count) {
    return heading + QString(20, QLatin1Char(' ')) + QString::number(count) +
           QStringLiteral(" files");
}

QString sourceCountText(int count) {
    return countText(QStringLiteral("Source Files(s)"), count);
}

QString workCountText(int count) {
    return countText(QStringLiteral("Destination Files(s)"), count);
}

}  // namespace pixavant
