#include "batch/RunTotals.h"

#include <QFileInfo>
#include <cstdlib>

namespace pixavant::batch {

namespace {

int64_t fileSize(const QString& path) {
    const QFileInfo file(path);
    return file.isFile() ? file.size() : 0;
}

QString filesText(int64_t count) {
    return count == 1 ? QStringLiteral("1 file") : QStringLiteral("%1 files").arg(count);
}

}  // namespace

void RunTotals::add(const QString& sourcePath, const QString& outputPath) {
    if (files == 0 || sourcePath != lastSource_) {
        ++files;
        bytesBefore += fileSize(sourcePath);
        lastSource_ = sourcePath;
    }
    bytesAfter += fileSize(outputPath);
}

QString byteCountText(int64_t bytes) {
    if (bytes < 1000 && bytes > -1000)
        return bytes == 1 ? QStringLiteral("1 byte") : QStringLiteral("%1 bytes").arg(bytes);
    static const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
    // Tenths of the unit, from the integer count: no rounding surprises at the unit's edge
    // ("999.96 kB" is "1.0 MB", not "1000.0 kB").
    int unit = 0;
    int64_t scale = 1000;
    const int64_t magnitude = std::llabs(bytes);
    while (unit + 1 < 6 && (magnitude + scale / 20) / scale >= 1000) {
        ++unit;
        scale *= 1000;
    }
    const int64_t tenths = (magnitude * 10 + scale / 2) / scale;
    return QStringLiteral("%1%2.%3 %4")
        .arg(bytes < 0 ? QStringLiteral("-") : QString())
        .arg(tenths / 10)
        .arg(tenths % 10)
        .arg(QLatin1String(units[unit]));
}

QString bytesText(const RunTotals& totals) {
    if (totals.files <= 0)
        return {};
    QString text = QStringLiteral("%1 before, %2 after, ")
                       .arg(byteCountText(totals.bytesBefore), byteCountText(totals.bytesAfter));
    const int64_t saved = totals.bytesBefore - totals.bytesAfter;
    const auto percentOfBefore = [&](int64_t part) {
        return totals.bytesBefore > 0 ? QStringLiteral(" (%1%2 %)")
                                            .arg(part < 0 ? QStringLiteral("+") : QString())
                                            .arg(std::llabs(part) * 100 / totals.bytesBefore)
                                      : QString();
    };
    if (saved >= 0)
        text += byteCountText(saved) + QStringLiteral(" saved") + percentOfBefore(saved);
    else
        text += byteCountText(-saved) + QStringLiteral(" more") + percentOfBefore(saved);
    return text;
}

QString runTotalsText(const RunTotals& totals, int64_t listed) {
    if (totals.files <= 0)
        return QStringLiteral("No file converted.");
    const QString count = totals.files < listed
                              ? QStringLiteral("%1 of %2").arg(totals.files).arg(filesText(listed))
                              : filesText(totals.files);
    return QStringLiteral("Converted %1: %2").arg(count, bytesText(totals));
}

}  // namespace pixavant::batch
