#include "batch/TrialConversion.h"

#include <sys/mman.h>
#include <unistd.h>
#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>
#include <new>
#include <utility>

#include "batch/BatchRules.h"
#include "imaging/ErrorDetail.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Verification.h"

namespace pixavant::batch {

namespace {

bool cancelled(const std::atomic<bool>* flag) {
    return flag != nullptr && flag->load();
}

// A copy of rows y0.. and columns x0.. of `source`.
imaging::Raster cropped(const imaging::Raster& source, int x0, int y0, int width, int height) {
    imaging::Raster part;
    part.width = width;
    part.height = height;
    part.format = source.format;
    part.palette = source.palette;
    part.significantBits = source.significantBits;
    if (!part.allocate())
        throw std::bad_alloc();
    const size_t channels = size_t(source.channels());
    for (int y = 0; y < height; ++y)
        std::copy_n(source.row(y0 + y) + size_t(x0) * channels, part.rowBytes(), part.row(y));
    return part;
}

// The size a width x height image is reduced to so that it fits in fitWidth x fitHeight, its
// proportions kept; never larger than it is.
std::pair<int, int> reducedSize(int width, int height, int fitWidth, int fitHeight) {
    const double scale = std::min(
        {1.0, double(std::max(fitWidth, 1)) / width, double(std::max(fitHeight, 1)) / height});
    return {std::clamp(int(std::lround(width * scale)), 1, width),
            std::clamp(int(std::lround(height * scale)), 1, height)};
}

}  // namespace

TrialConverter::TrialConverter() = default;

void TrialConverter::setCancelFlag(const std::atomic<bool>* flag) {
    cancel_ = flag;
    step_.setCancelFlag(flag);
    pages_.setCancelFlag(flag);
    part_.setCancelFlag(flag);
    reduced_.setCancelFlag(flag);
}

TrialOutput TrialConverter::convert(const QString& sourcePath,
                                    const CompressionSettings& settings) {
    TrialOutput out;
    libraryDetail_.clear();
    failedPage_ = 0;
    try {
        out.code = prepare(sourcePath, settings, out);
        if (out.code == 0)
            out.code = encode(control_, settings, out);
        if (out.code == 0 && request_.source.pages > 1)
            out.code = encodeAllPages(out);
    } catch (const std::bad_alloc&) {
        out.code = imaging::kErrNoMemory;
    } catch (const std::exception&) {
        out.code = kErrInternal;
    }
    if (out.code == 0) {
        out.original = original_;
        out.width = out.result.width;
        out.height = out.result.height;
    }
    finish(sourcePath, out);
    return out;
}

TrialOutput TrialConverter::convertPart(const QString& sourcePath,
                                        const CompressionSettings& settings, double centreX,
                                        double centreY, int width, int height) {
    return guarded(sourcePath, [&](TrialOutput& out) {
        if (const int32_t prepared = prepare(sourcePath, settings, out); prepared != 0)
            return prepared;
        const imaging::Raster& held = control_.heldRaster();
        const int w = std::clamp(width, 1, held.width);
        const int h = std::clamp(height, 1, held.height);
        const int x0 = std::clamp(int(centreX * held.width) - w / 2, 0, held.width - w);
        const int y0 = std::clamp(int(centreY * held.height) - h / 2, 0, held.height - h);
        part_.hold(cropped(held, x0, y0, w, h), control_.meta(), settings.BitsPerPixel);
        out.partX = x0;
        out.partY = y0;
        out.width = held.width;
        out.height = held.height;
        out.original = original_;
        return encode(part_, settings, out);
    });
}

TrialOutput TrialConverter::convertReduced(const QString& sourcePath,
                                           const CompressionSettings& settings, int width,
                                           int height) {
    return guarded(sourcePath, [&](TrialOutput& out) {
        if (const int32_t prepared = prepare(sourcePath, settings, out); prepared != 0)
            return prepared;
        if (const int32_t reduced = reducePrepared(settings, width, height); reduced != 0)
            return reduced;
        out.width = control_.heldRaster().width;
        out.height = control_.heldRaster().height;
        out.original = original_;
        return encode(reduced_, settings, out);
    });
}

// Runs `steps` (which return 0 or a failure code) into a new output, failures made a run's.
TrialOutput TrialConverter::guarded(const QString& sourcePath,
                                    const std::function<int32_t(TrialOutput&)>& steps) {
    TrialOutput out;
    libraryDetail_.clear();
    failedPage_ = 0;
    try {
        out.code = steps(out);
    } catch (const std::bad_alloc&) {
        out.code = imaging::kErrNoMemory;
    } catch (const std::exception&) {
        out.code = kErrInternal;
    }
    if (out.code != 0)
        out.original.reset();
    finish(sourcePath, out);
    return out;
}

// The prepared image reduced into reduced_, unless it holds that already.
int32_t TrialConverter::reducePrepared(const CompressionSettings& settings, int width, int height) {
    const imaging::Raster& held = control_.heldRaster();
    const auto [w, h] = reducedSize(held.width, held.height, width, height);
    const Reduction wanted{*prepared_, w, h};
    if (reduction_ == wanted)
        return 0;
    reduction_.reset();
    reduced_.hold(held, control_.meta(), settings.BitsPerPixel);
    if (w != held.width || h != held.height) {
        if (const int16_t result = reduced_.resize(float(w), float(h)); result != 0) {
            libraryDetail_ = reduced_.lastErrorDetail();
            return result;
        }
    }
    reduction_ = wanted;
    return 0;
}

// The steps of a run up to the save, skipped when the image they would give is held already.
int32_t TrialConverter::prepare(const QString& sourcePath, const CompressionSettings& s,
                                TrialOutput& out) {
    ConversionRequest request = requestFor(sourcePath, s);
    if (const int32_t examined = step_.examine(sourcePath, request.source)) {
        libraryDetail_ = step_.libraryDetail();
        return examined;
    }
    out.sourceBytes = request.source.bytes;
    const QFileInfo source(sourcePath);
    const Preparation wanted{
        sourcePath,     source.size(),      source.lastModified().toMSecsSinceEpoch(),
        s.BitsPerPixel, s.DepthChoice == 1, s.SizeChoice,
        s.OutWidth,     s.OutHeight,        s.Dpi};
    if (prepared_ && wanted == *prepared_ && control_.hasImage()) {
        request_ = request;
        return 0;
    }

    prepared_.reset();
    original_.reset();
    control_.clear();
    if (const int32_t loaded = step_.loadPage(request, 0)) {
        libraryDetail_ = step_.libraryDetail();
        return loaded;
    }
    original_ = std::make_shared<const imaging::Raster>(control_.heldRaster());
    if (const int32_t shaped = step_.shapePage(request, preparedDpi_))
        return shaped;
    request_ = request;
    prepared_ = wanted;
    return 0;
}

int32_t TrialConverter::encode(imaging::ImagingControl& control, const CompressionSettings& s,
                               TrialOutput& out) {
    out.formatCode = s.FileFormat;
    request_.formatCode = s.FileFormat;
    request_.qualityFactor = s.QualityFactor;
    const int16_t saved = control.saveToMemory(out.bytes, saveOptionsFor(request_, preparedDpi_));
    if (saved != 0) {
        libraryDetail_ = control.lastErrorDetail();
        return saved;
    }
    if (cancelled(cancel_))
        return imaging::kErrCancelled;
    out.outputBytes = out.bytes.size();
    if (const int32_t decoded = decodeBytes(out.bytes, out.result); decoded != 0) {
        libraryDetail_ = imaging::errorDetail();
        return decoded;
    }
    if (!imaging::isLosslessFormat(s.FileFormat))
        out.psnr = imaging::psnrOf(control.savedRaster(), out.result);
    return 0;
}

// Every page of the source as a run converts them, into memory: the view shows page 1 (encoded
// alone by encode(), the same bytes as page 1's file) and the size of the whole output.
int32_t TrialConverter::encodeAllPages(TrialOutput& out) {
    // Keys that tell the outputs apart: one per page file, or one file that holds every page.
    request_.outputPaths.clear();
    for (const QString& name : outputFileNames(QStringLiteral("trial.OUT"), QStringLiteral("OUT"),
                                               request_.source.pages, request_.formatCode))
        request_.outputPaths << name;
    request_.toMemory = true;
    const ConversionResult whole = pages_.run(request_);
    libraryDetail_ = whole.libraryDetail;
    failedPage_ = whole.failedPage;  // 0 unless it failed
    if (whole.ok()) {
        out.bytes = whole.bytes.front();
        out.outputBytes = whole.outputBytes();
    }
    return whole.status;
}

void TrialConverter::finish(const QString& sourcePath, TrialOutput& out) {
    if (out.code == 0)
        return;
    out.bytes.clear();
    out.result = {};
    out.psnr.reset();
    out.message = failureMessage(out.code);
    ConversionResult failure;
    failure.status = imaging::Status(out.code);
    failure.libraryDetail = libraryDetail_;
    failure.failedPage = failedPage_;
    failure.pages = request_.source.pages;
    QString reason = failure.reason();
    if (reason.isEmpty())
        reason = QStringLiteral("error %1").arg(out.code);
    out.details = failureDetails(sourcePath, reason);
}

int32_t decodeBytes(const QByteArray& bytes, imaging::Raster& raster) {
    const int fd = ::memfd_create("pixavant-decode", MFD_CLOEXEC);
    if (fd < 0)
        return imaging::kErrNoMemory;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return imaging::kErrNoMemory;
        }
        done += n;
    }
    imaging::ImagingControl control;
    const int16_t loaded = control.load(QStringLiteral("/proc/self/fd/%1").arg(fd), 0);
    ::close(fd);
    if (loaded != 0)
        return loaded;
    raster = control.heldRaster();
    return 0;
}

}  // namespace pixavant::batch
