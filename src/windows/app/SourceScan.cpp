#include "app/SourceScan.h"

#include <dirent.h>
#include <QRegularExpression>

#include "imaging/FileNames.h"

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

namespace {

// The regular files (and links to them) of `dir`, in name order: no directories, no hidden or
// special files. Read by their bytes, so that a name that is not UTF-8 is listed too (FileNames.h
// carries it to the conversion).
QStringList regularFiles(const QString& dir) {
    QStringList names;
    DIR* stream = ::opendir(imaging::encodeFileName(dir).constData());
    if (stream == nullptr)
        return names;
    const QString folder = dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
    while (const dirent* entry = ::readdir(stream)) {
        if (entry->d_name[0] == '.')
            continue;
        const QString name = imaging::decodeFileName(QByteArray(entry->d_name));
        if (imaging::fileStatus(folder + name).isFile)
            names << name;
    }
    ::closedir(stream);
    names.sort();
    return names;
}

}  // namespace

QStringList scanSourceDirectory(const QString& dir) {
    const QStringList entries = regularFiles(dir);

    QStringList names;
    for (const QString& pattern : sourcePatterns()) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(pattern),
                                    QRegularExpression::CaseInsensitiveOption);
        for (const QString& name : entries) {
            // Matched as shown: a regular expression takes no bytes that are not UTF-8.
            if (re.match(imaging::displayFileName(name)).hasMatch()) {
                names.append(name);
            }
        }
    }
    return names;
}

}  // namespace pixavant
