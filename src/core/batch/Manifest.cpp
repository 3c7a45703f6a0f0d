#include "batch/Manifest.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <cmath>

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
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
        entry.sourceBytes = QFileInfo(source).size();
    }
    if (const std::optional<QString> digest = sha256OfFile(output)) {
        entry.outputSha256 = *digest;
        entry.outputBytes = QFileInfo(output).size();
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    manifest = {};
    int number = 0;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        ++number;
        if (line.isEmpty())
            continue;
        QString why;
        if (std::optional<ManifestEntry> entry = fromJsonLine(line, why))
            manifest.entries.push_back(std::move(*entry));
        else
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
    const QFileInfo info(path);
    if (!info.exists()) {
        detail = QStringLiteral("missing");
        return Fixity::Missing;
    }
    if (!info.isFile()) {
        detail = QStringLiteral("not a file");
        return Fixity::Changed;
    }
    if (info.size() != entry.outputBytes) {
        detail = QStringLiteral("%1 bytes instead of %2").arg(info.size()).arg(entry.outputBytes);
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
