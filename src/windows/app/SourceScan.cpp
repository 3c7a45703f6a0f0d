#include "app/SourceScan.h"

#include <QDir>
#include <QRegularExpression>

namespace pixavant {

const QStringList& sourcePatterns() {
    static const QStringList patterns = {
        QStringLiteral("*.gif"),
        QStringLiteral("*.jpg"),
        QStringLiteral("*.tif"),
        QStringLiteral("*.mpeg"),
        QStringLiteral("*.mov"),
        QStringLiteral("*.pict"),
        QStringLiteral("*.tga"),
        QStringLiteral("*.pcx"),
        QStringLiteral("*.eps"),
        QStringLiteral("*.rle"),
        QStringLiteral("*.jpeg"),
        QStringLiteral("*.tiff"),
        QStringLiteral("*.wmf"),
        QStringLiteral("*.bmp"),
        QStringLiteral("*.cmp"),
        // PIXAVANT files are written as .JXL: a folder of them lists them too.
        QStringLiteral("*.jxl"),
        // The formats of today's phones and the web.
        QStringLiteral("*.png"),
        QStringLiteral("*.webp"),
        QStringLiteral("*.heic"),
        QStringLiteral("*.heif"),
        QStringLiteral("*.avif"),
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

}  // namespace pixavant
