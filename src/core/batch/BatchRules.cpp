#include "batch/BatchRules.h"

#include <QDir>
#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::batch {

QString outputBaseName(const QString& fileName, NamingRule rule) {
    if (rule == NamingRule::LastDot) {
        const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
        return dot <= 0 ? fileName : fileName.left(dot);
    }
    const qsizetype dot = fileName.indexOf(QLatin1Char('.'));
    return dot < 0 ? fileName : fileName.left(dot);
}

QString outputFileName(const QString& fileName, const QString& ext, NamingRule rule) {
    return outputBaseName(fileName, rule) + QLatin1Char('.') + ext;
}

QString pageFileName(const QString& outputName, const QString& ext, int page, int pageCount) {
    if (pageCount <= 1)
        return outputName;
    const QString number = QStringLiteral("%1").arg(page, int(QString::number(pageCount).size()),
                                                    10, QLatin1Char('0'));
    const QString ending = QLatin1Char('.') + ext;
    if (!outputName.endsWith(ending))
        return outputName + QLatin1Char('-') + number;
    return outputName.left(outputName.size() - ending.size()) + QLatin1Char('-') + number + ending;
}

QStringList outputFileNames(const QString& outputName, const QString& ext, int pageCount,
                            int formatCode) {
    if (pageCount <= 1 || imaging::formatHoldsPages(formatCode))
        return {outputName};
    QStringList names;
    for (int page = 1; page <= pageCount; ++page)
        names << pageFileName(outputName, ext, page, pageCount);
    return names;
}

int32_t squarePixelHeight(int32_t height, int32_t xDpi, int32_t yDpi, int32_t& squareHeight) {
    squareHeight = height;
    if (xDpi <= 0 || yDpi <= 0 || xDpi == yDpi)
        return 0;
    int16_t scaled = 0;
    if (const int32_t e = scaleRounded(height, xDpi, yDpi, scaled))
        return e;
    squareHeight = scaled;
    return 0;
}

bool formatCarriesResolution(int32_t formatCode) {
    switch (formatCode) {
        case 3:
        case 11:  // JPEG-compressed and CCITT TIFFs state theirs like every other TIFF
        case 22:
        case 24:
        case 25:
        case 27:
        case 28:
        case 29:
        case 17:
        case 63:
        case 66:
        case 67:
        case 68:
        case 85:
        case 86:
        case 87:
        case 88:
        case 93:
        case 94:
        case 95:
        case 96:
            return true;
        default:
            return false;
    }
}

int32_t sourceResolution(int32_t formatCode, int32_t xResolution, int16_t& dpi) {
    if (!formatCarriesResolution(formatCode) || xResolution == 0) {
        dpi = kDefaultDpi;
        return 0;
    }
    if (xResolution < std::numeric_limits<int16_t>::min() ||
        xResolution > std::numeric_limits<int16_t>::max())
        return kErrOverflow;
    dpi = int16_t(xResolution);
    return 0;
}

int32_t scaleRounded(int64_t x, int64_t num, int64_t den, int16_t& result) {
    if (den == 0)
        return kErrDivisionByZero;
    // |x| < 2^16 and |num| < 2^32 at every caller: the product is exact in 64 bits and in a double.
    const double quotient = double(x * num) / double(den);
    const double rounded = std::nearbyint(quotient);  // default rounding: halves to even
    if (!(rounded >= std::numeric_limits<int16_t>::min() &&
          rounded <= std::numeric_limits<int16_t>::max()))
        return kErrOverflow;
    result = int16_t(rounded);
    return 0;
}

int32_t resizeTarget(const SizeRequest& r, ResizeTarget& target) {
    target = {};
    int16_t width = 0;
    int16_t height = 0;
    if (r.sizeChoice == 1) {
        if (r.outWidth == r.imageWidth && r.outHeight == r.imageHeight)
            return 0;
        if (r.outWidth == 0 && r.outHeight == 0)
            return 0;
        width = r.outWidth;
        height = r.outHeight;
        if (width == 0) {
            if (const int32_t e = scaleRounded(height, r.imageWidth, r.imageHeight, width))
                return e;
        }
        if (height == 0) {
            if (const int32_t e = scaleRounded(width, r.imageHeight, r.imageWidth, height))
                return e;
        }
        if (r.sourceDpi != r.dpi) {
            if (const int32_t e = scaleRounded(width, r.dpi, r.sourceDpi, width))
                return e;
            if (const int32_t e = scaleRounded(height, r.dpi, r.sourceDpi, height))
                return e;
        }
    } else {
        if (r.sourceDpi == r.dpi)
            return 0;
        if (const int32_t e = scaleRounded(r.dpi, r.imageWidth, r.sourceDpi, width))
            return e;
        if (const int32_t e = scaleRounded(r.dpi, r.imageHeight, r.sourceDpi, height))
            return e;
    }
    target = {true, width, height};
    return 0;
}

QString failureMessage(int32_t code, const QString& outputName) {
    switch (code) {
        case imaging::kErrNoMemory:
            return QStringLiteral("Not enough memory available.");
        case imaging::kErrWrite:
            return QStringLiteral("Error writing file, or disk is full");
        case imaging::kErrVerify:
            return QStringLiteral("the output did not read back as it was written; it was removed");
        case kErrReplacesSource:
            return QStringLiteral("The output file would replace a source file: %1")
                .arg(outputName);
        default:
            return QStringLiteral("Compression error.");
    }
}

std::vector<OutputClash> findOutputClashes(const QStringList& sources, const QStringList& outputs) {
    std::vector<OutputClash> clashes;
    std::map<QString, size_t> firstOf;  // cleaned output path -> index of its first source
    std::map<size_t, size_t> clashOf;   // that index -> its entry in `clashes`
    for (qsizetype i = 0; i < sources.size() && i < outputs.size(); ++i) {
        const QString key = QDir::cleanPath(outputs[i]);
        const auto [seen, added] = firstOf.emplace(key, size_t(i));
        if (added)
            continue;
        auto clash = clashOf.find(seen->second);
        if (clash == clashOf.end()) {
            clash = clashOf.emplace(seen->second, clashes.size()).first;
            clashes.push_back(
                {outputs[qsizetype(seen->second)], {sources[qsizetype(seen->second)]}});
        }
        clashes[clash->second].sources << sources[i];
    }
    std::sort(clashes.begin(), clashes.end(), [&](const OutputClash& a, const OutputClash& b) {
        return sources.indexOf(a.sources.first()) < sources.indexOf(b.sources.first());
    });
    return clashes;
}

QString outputClashText(const std::vector<OutputClash>& clashes) {
    QStringList lines;
    for (const OutputClash& clash : clashes) {
        QStringList names = clash.sources;
        const QString last = names.takeLast();
        const QString both = names.size() == 1 ? QStringLiteral("both") : QStringLiteral("all");
        lines << QStringLiteral("%1 and %2 would %3 be written to %4.")
                     .arg(names.join(QStringLiteral(", ")), last, both, clash.output);
    }
    lines << QStringLiteral("Nothing was converted.");
    return lines.join(QLatin1Char('\n'));
}

namespace {
QString reasonForCode(int32_t code) {
    switch (code) {
        case imaging::kErrNoMemory:
            return QStringLiteral("not enough memory, or the image is over 268435456 pixels");
        case imaging::kErrWrite:
            return QStringLiteral("the output file cannot be created or written");
        case imaging::kErrFileNotFound:
            return QStringLiteral("the file cannot be opened");
        case imaging::kErrFormat:
            return QStringLiteral("not an image in a format PIXAVANT reads");
        case imaging::kErrCorrupt:
            return QStringLiteral("the file is damaged");
        case imaging::kErrInvalidArgument:
            return QStringLiteral("a size or setting the format cannot take");
        case imaging::kErrNoImage:
            return QStringLiteral("nothing was loaded");
        case imaging::kErrLimit:
            return QStringLiteral("a resource limit was reached");
        case kErrOverflow:
            return QStringLiteral("the new size does not fit 1 to 32767 pixels");
        case kErrDivisionByZero:
            return QStringLiteral("a size of 0 in the size rules");
        case imaging::kErrVerify:
            return QStringLiteral("the output did not read back as it was written; it was removed");
        case kErrReplacesSource:
            return QStringLiteral("the output file would replace a file of the list");
        case kErrPageClash:
            return QStringLiteral(
                "a page file would replace the output of another file of the run");
        case kErrInternal:
            return QStringLiteral("an unexpected internal error");
        default:
            return {};
    }
}
}  // namespace

QString failureReason(int32_t code, const QString& libraryDetail) {
    const QString reason = reasonForCode(code);
    if (libraryDetail.isEmpty())
        return reason;
    return reason.isEmpty() ? libraryDetail : reason + QStringLiteral(": ") + libraryDetail;
}

QString failureDetails(const QString& path, const QString& reason) {
    return QStringLiteral("File: %1\nReason: %2").arg(path, reason);
}

QString pageClashText(const QString& pageName, const QString& fileName, const QString& other) {
    return QStringLiteral("%1, a page of %2, would replace the output of %3.")
        .arg(pageName, fileName, other);
}

QString filesLeftText(int count) {
    return QString::number(count) + QStringLiteral(" files");
}

}  // namespace pixavant::batch
