#include "batch/Manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cerrno>
#include <cmath>
#include <map>

#include "imaging/FileNames.h"
#include "imaging/FormatNames.h"

namespace pixavant::batch {

namespace {

constexpr qint64 kHashBlock = 1 << 20;

QString methodName(imaging::VerifyMethod method) {
    switch (method) {
        case imaging::VerifyMethod::Identical:
            return QStringLiteral("identical");
        case imaging::VerifyMethod::Psnr:
            return QStringLiteral("psnr");
        case imaging::VerifyMethod::JpegReconstruction:
            return QStringLiteral("jpeg-reconstruction");
        case imaging::VerifyMethod::None:
            break;
    }
    return {};
}

bool isDigest(const QString& text) {
    if (text.size() != 64)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('a') && c <= QLatin1Char('f'));
    });
}

// A figure kept to two decimals, as the manifest shows it.
double rounded(double value) {
    return std::round(value * 100.0) / 100.0;
}

QString resolved(const QString& path, const QString& manifestDir) {
    return QDir::isRelativePath(path) ? QDir(manifestDir).filePath(path) : path;
}

}  // namespace

std::optional<QString> sha256OfFile(const QString& path) {
    const int fd = ::open(imaging::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        return std::nullopt;
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray block;
    for (;;) {
        block = file.read(kHashBlock);
        if (block.isEmpty())
            break;
        hash.addData(block);
    }
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return QString::fromLatin1(hash.result().toHex());
}

ManifestEntry describeConversion(const QString& source, const QString& output, int formatCode,
                                 const imaging::Verification& verification) {
    ManifestEntry entry;
    entry.source = source;
    entry.output = output;
    entry.formatCode = formatCode;
    if (const std::optional<QString> digest = sha256OfFile(source)) {
        entry.sourceSha256 = *digest;
        entry.sourceBytes = imaging::fileStatus(source).size;
    }
    if (const std::optional<QString> digest = sha256OfFile(output)) {
        entry.outputSha256 = *digest;
        entry.outputBytes = imaging::fileStatus(output).size;
    }
    if (verification.method != imaging::VerifyMethod::None) {
        entry.verification =
            verification.passed ? QStringLiteral("passed") : QStringLiteral("failed");
        entry.method = methodName(verification.method);
        if (verification.method == imaging::VerifyMethod::Psnr) {
            if (std::isfinite(verification.psnr))
                entry.psnr = rounded(verification.psnr);
            entry.floor = verification.floor;
        }
    }
    return entry;
}

QString manifestRelativePath(const QString& path, const QString& manifestDir) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const imaging::FileStatus file = imaging::fileStatus(path.left(slash + 1));
    const imaging::FileStatus folder = imaging::fileStatus(manifestDir);
    if (!file.exists || !folder.exists || file.device != folder.device)
        return path;
    const QString from = imaging::resolvedPath(manifestDir);
    const QString fileDir = imaging::resolvedPath(path.left(slash + 1));
    if (from.isEmpty() || fileDir.isEmpty())
        return path;
    return QDir(from).relativeFilePath(fileDir + QLatin1Char('/') + path.mid(slash + 1));
}

QByteArray toJsonLine(const ManifestEntry& entry) {
    QJsonObject object;
    object[QStringLiteral("source")] = entry.source;
    object[QStringLiteral("source_size")] = entry.sourceBytes;
    object[QStringLiteral("source_sha256")] = entry.sourceSha256;
    object[QStringLiteral("output")] = entry.output;
    object[QStringLiteral("output_size")] = entry.outputBytes;
    object[QStringLiteral("output_sha256")] = entry.outputSha256;
    object[QStringLiteral("format_code")] = entry.formatCode;
    object[QStringLiteral("format")] = imaging::formatName(entry.formatCode);
    if (entry.page > 0)
        object[QStringLiteral("page")] = entry.page;
    object[QStringLiteral("verification")] = entry.verification;
    if (!entry.method.isEmpty())
        object[QStringLiteral("method")] = entry.method;
    if (entry.psnr)
        object[QStringLiteral("psnr_db")] = *entry.psnr;
    if (entry.floor)
        object[QStringLiteral("floor_db")] = *entry.floor;
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<ManifestEntry> fromJsonLine(const QByteArray& line, QString& error) {
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &parse);
    if (parse.error != QJsonParseError::NoError || !document.isObject()) {
        error = QStringLiteral("not a JSON object");
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    ManifestEntry entry;
    entry.source = object.value(QStringLiteral("source")).toString();
    entry.output = object.value(QStringLiteral("output")).toString();
    if (entry.output.isEmpty()) {
        error = QStringLiteral("no output path");
        return std::nullopt;
    }
    entry.sourceBytes = qint64(object.value(QStringLiteral("source_size")).toDouble(-1));
    entry.outputBytes = qint64(object.value(QStringLiteral("output_size")).toDouble(-1));
    entry.sourceSha256 = object.value(QStringLiteral("source_sha256")).toString().toLower();
    entry.outputSha256 = object.value(QStringLiteral("output_sha256")).toString().toLower();
    if (!entry.outputSha256.isEmpty() && !isDigest(entry.outputSha256)) {
        error = QStringLiteral("output_sha256 is not a SHA-256 digest");
        return std::nullopt;
    }
    entry.formatCode = object.value(QStringLiteral("format_code")).toInt();
    entry.page = object.value(QStringLiteral("page")).toInt();
    entry.verification =
        object.value(QStringLiteral("verification")).toString(QStringLiteral("not-verified"));
    entry.method = object.value(QStringLiteral("method")).toString();
    if (object.contains(QStringLiteral("psnr_db")))
        entry.psnr = object.value(QStringLiteral("psnr_db")).toDouble();
    if (object.contains(QStringLiteral("floor_db")))
        entry.floor = object.value(QStringLiteral("floor_db")).toDouble();
    return entry;
}

bool ManifestWriter::open(const QString& path, QString& error) {
    std::lock_guard lock(mutex_);
    file_.setFileName(path);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
        error = file_.errorString();
        return false;
    }
    return true;
}

bool ManifestWriter::writeLine(const QByteArray& line) {
    const QByteArray ended = line + '\n';
    std::lock_guard lock(mutex_);
    return file_.isOpen() && file_.write(ended) == ended.size() && file_.flush();
}

bool readManifest(const QString& path, Manifest& manifest, QString& error) {
    const int fd = ::open(imaging::encodeFileName(path).constData(), O_RDONLY | O_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        error = imaging::failureCause(fd < 0 ? errno : EIO);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    manifest = {};
    std::map<QString, size_t> entryOf;  // output -> its place in the entries
    const QString manifestDir = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty())
            continue;
        QString why;
        if (std::optional<ManifestEntry> entry = fromJsonLine(line, why)) {
            const auto [place, added] = entryOf.emplace(
                QDir::cleanPath(resolved(entry->output, manifestDir)), manifest.entries.size());
            if (added)
                manifest.entries.push_back(std::move(*entry));
            else
                manifest.entries[place->second] = std::move(*entry);
        } else
            manifest.errors.push_back(QStringLiteral("line %1: %2").arg(number).arg(why));
    }
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    return true;
}

Fixity checkFixity(const ManifestEntry& entry, const QString& manifestDir, QString& detail) {
    detail.clear();
    if (entry.outputBytes < 0 || entry.outputSha256.isEmpty()) {
        detail = QStringLiteral("the manifest records no size and SHA-256 for it");
        return Fixity::Unrecorded;
    }
    const QString path = resolved(entry.output, manifestDir);
    const imaging::FileStatus info = imaging::fileStatus(path);
    if (!info.exists) {
        detail = QStringLiteral("missing");
        return Fixity::Missing;
    }
    if (!info.isFile) {
        detail = QStringLiteral("not a file");
        return Fixity::Changed;
    }
    if (info.size != entry.outputBytes) {
        detail = QStringLiteral("%1 bytes instead of %2").arg(info.size).arg(entry.outputBytes);
        return Fixity::Changed;
    }
    const std::optional<QString> digest = sha256OfFile(path);
    if (!digest) {
        detail = QStringLiteral("cannot be read");
        return Fixity::Unreadable;
    }
    if (*digest != entry.outputSha256) {
        detail = QStringLiteral("SHA-256 differs");
        return Fixity::Changed;
    }
    return Fixity::Intact;
}

}  // namespace pixavant::batch
