#include "app/DroppedPaths.h"

#include <QDir>
#include <QMimeData>
#include <QRegularExpression>
#include <QUrl>

#include "app/SourceScan.h"

namespace pixavant {

QStringList droppedPaths(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths << QDir::cleanPath(QDir(url.toLocalFile()).absolutePath());
    }
    return paths;
}

bool hasSourceSuffix(const QString& fileName) {
    for (const QString& pattern : sourcePatterns()) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(fileName).hasMatch())
            return true;
    }
    return false;
}

QString fileToolTip(const QString& fileName, const QString& folder) {
    // Rich text, so that a name that looks like markup is shown as it is; never wrapped.
    return QStringLiteral("<p style='white-space:pre'>%1<br>%2</p>")
        .arg(fileName.toHtmlEscaped(), folder.toHtmlEscaped());
}

}  // namespace pixavant
