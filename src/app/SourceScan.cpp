#include "app/SourceScan.h"

#include <QDir>
#include <QRegularExpression>

namespace pixavant {

const QStringList& sourcePatterns() {
    static const QStringList patterns = {
        QStringLiteral("*.gif"),  QStringLiteral("*.jpg"),  QStringLiteral("*.tif"),
        QStringLiteral("*.mpeg"), QStringLiteral("*.mov"),  QStringLiteral("*.pict"),
        QStringLiteral("*.tga"),  QStringLiteral("*.pcx"),  QStringLiteral("*.eps"),
        QStringLiteral("*.rle"),  QStringLiteral("*.jpeg"), QStringLiteral("*.tiff"),
        QStringLiteral("*.wmf"),  QStringLiteral("*.bmp"),  QStringLiteral("*.cmp"),
    };
    return patterns;
}

QStringList scanSourceDirectory(const QString& dir) {
    // Regular files (and links to them) only: no directories, no hidden or special files.
    QDir directory(dir);
    const QStringList entries = directory.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);

    QStringList names;
    for (const QString& pattern : sourcePatterns()) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        for (const QString& name : entries) {
            if (re.match(name).hasMatch()) {
                names.append(name);
            }
        }
    }
    return names;
}

QString listItemText(const QString& fileName) {
    return QLatin1Char(' ') + fileName;
}

QString listItemFileName(const QString& itemText) {
    return itemText.startsWith(QLatin1Char(' ')) ? itemText.mid(1) : itemText;
}

QString listItemPath(const QString& dir, const QString& itemText) {
    return dir + listItemFileName(itemText);
}

QString sourceCountText(int count) {
    return QStringLiteral("Source Files(s)") + QString(20, QLatin1Char(' ')) +
           QString::number(count) + QStringLiteral(" files");
}

QString workCountText(int count) {
    return QStringLiteral("Destination Files(s)") + QString(20, QLatin1Char(' ')) +
           QString::number(count) + QStringLiteral(" files");
}

}  // namespace pixavant
