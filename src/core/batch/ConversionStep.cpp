#include "batch/ConversionStep.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <new>

#include "batch/BatchRules.h"
#include "imaging/ErrorDetail.h"
#include "imaging/FileNames.h"
#include "imaging/FormatCodes.h"

namespace pixavant::batch {

namespace {

// Relative cost of the steps of a file, per pixel, for the share of the bar each gets: decoding
// per source pixel; Lanczos resampling per pixel of the larger of the source and the result.
constexpr double kLoadCost = 1.0;
constexpr double kResizeCost = 5.0;

int32_t statedDpi(double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi))
        return 0;
    return int32_t(std::min(std::nearbyint(dpi), 1e9));
}

}  // namespace

ConversionRequest requestFor(const QString& sourcePath, const CompressionSettings& s) {
    ConversionRequest request;
    request.sourcePath = sourcePath;
    request.dpi = s.Dpi;
    request.bitsPerPixel = s.BitsPerPixel;
    request.gray = s.DepthChoice == 1;
    request.sizeChoice = s.SizeChoice;
    request.outWidth = s.OutWidth;
    request.outHeight = s.OutHeight;
    request.formatCode = s.FileFormat;
    request.qualityFactor = s.QualityFactor;
    return request;
}

imaging::SaveOptions saveOptionsFor(const ConversionRequest& request, int16_t dpi) {
    return {request.formatCode, request.bitsPerPixel, request.qualityFactor, {dpi, dpi}};
}

QString ConversionResult::reason() const {
    const QString why = failureReason(status, libraryDetail);
    if (failedPage == 0)
        return why;
    return QStringLiteral("page %1 of %2: %3").arg(failedPage).arg(pages).arg(why);
}

qint64 ConversionResult::outputBytes() const {
    qint64 total = 0;
    for (const QByteArray& output : bytes)
        total += output.size();
    return total;
}

ConversionStep::ConversionStep() {
    control_.onProgressStatus([this](int16_t percent) { onControlProgress(percent); });
}

void ConversionStep::setCancelFlag(const std::atomic<bool>* flag) {
    cancel_ = flag;
    control_.setCancelFlag(flag);
}

void ConversionStep::onControlProgress(int16_t percent) {
    if (!progress_ || stopped())
        return;
    // Loading and resizing share the first half of the page's bar.
    if (phase_ == Phase::Load)
        percent = int16_t(percent * loadShare_);
    else if (phase_ == Phase::Resize)
        percent = int16_t(100 * loadShare_ + percent * (1 - loadShare_));
    progress_(percent, page_, phase_ == Phase::Save);
}

imaging::Status ConversionStep::examine(const QString& path, SourceFacts& facts) {
    libraryDetail_.clear();
    if (const imaging::Status result = imaging::readFileInfo(path, facts.info);
        result != imaging::kSuccess) {
        libraryDetail_ = imaging::errorDetail();
        return result;
    }
    if (const int32_t e =
            sourceResolution(facts.info.Format, facts.info.XResolution, facts.sourceDpi))
        return imaging::Status(e);
    const imaging::FileStatus file = imaging::fileStatus(path);
    if (!file.isFile)
        return imaging::kErrFileNotFound;
    facts.bytes = file.size;
    if (const imaging::Status counted = control_.readPageCount(path, facts.pages); counted != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return counted;
    }
    return imaging::kSuccess;
}

void ConversionStep::planLoadShare(const ConversionRequest& r) {
    // Predicted from the file information: the loaded image has the same size.
    loadShare_ = 1.0;
    const SourceFacts& f = r.source;
    const int16_t dpi = r.resolutionRule == ResolutionRule::FileOwn ? f.sourceDpi : r.dpi;
    const SizeRequest size{r.sizeChoice, r.outWidth,   r.outHeight,  dpi,
                           f.sourceDpi,  f.info.Width, f.info.Height};
    ResizeTarget target;
    if (resizeTarget(size, target) != 0 || !target.resize)
        return;
    const double source = double(f.info.Width) * double(f.info.Height);
    const double result = double(target.width) * double(target.height);
    const double load = kLoadCost * source;
    const double resize = kResizeCost * std::max(source, result);
    loadShare_ = std::clamp(load / (load + resize), 0.05, 0.95);
}

ConversionResult ConversionStep::run(const ConversionRequest& request) {
    ConversionResult result;
    result.pages = request.source.pages;
    libraryDetail_.clear();
    control_.setKeepMetadata(request.keepMetadata);
    control_.setVerifySaves(request.verify);
    control_.setEncoderEffort(request.effort);
    int32_t code = 0;
    try {
        code = runPages(request, result);
    } catch (const std::bad_alloc&) {
        control_.abandonDocument();
        code = imaging::kErrNoMemory;
    } catch (const std::exception&) {
        control_.abandonDocument();
        code = kErrInternal;
    }
    result.status = imaging::Status(stopped() ? int32_t(imaging::kErrCancelled) : code);
    result.libraryDetail = libraryDetail_;
    result.verification = control_.lastVerification();
    for (const std::string& note : control_.notes())
        result.notes << QString::fromStdString(note);
    if (!result.ok()) {
        result.written.clear();
        result.bytes.clear();
    }
    return result;
}

imaging::Status ConversionStep::runPages(const ConversionRequest& request,
                                         ConversionResult& result) {
    const int pages = request.source.pages;
    if (request.outputPaths.isEmpty() || pages < 1)
        return imaging::kErrInvalidArgument;
    planLoadShare(request);
    control_.beginDocument(request.toMemory ? imaging::ImagingControl::DocumentTarget::Memory
                                            : imaging::ImagingControl::DocumentTarget::Files);
    const bool filePerPage = request.outputPaths.size() > 1;
    for (int page = 0; page < pages; ++page) {
        result.failedPage = pages > 1 ? page + 1 : 0;
        const QString& path =
            filePerPage ? request.outputPaths.value(page) : request.outputPaths.first();
        int16_t dpi = request.dpi;
        imaging::Status code = preparePage(request, page, dpi);
        if (code == 0)
            code = savePage(request, path, dpi);
        control_.clear();  // the next page's image is not decoded beside this one
        if (code != 0) {
            control_.abandonDocument();
            return code;
        }
        addOutput(result, path, filePerPage ? page + 1 : 0);
    }
    result.failedPage = 0;
    const imaging::Status committed = control_.commitDocument();
    if (stopped())
        return imaging::kErrCancelled;
    if (committed != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return committed;
    }
    if (request.toMemory)
        result.bytes = control_.documentBytes();
    return imaging::kSuccess;
}

imaging::Status ConversionStep::preparePage(const ConversionRequest& request, int page,
                                            int16_t& outputDpi) {
    if (const imaging::Status loaded = loadPage(request, page))
        return loaded;
    return shapePage(request, outputDpi);
}

imaging::Status ConversionStep::loadPage(const ConversionRequest& request, int page) {
    page_ = page;
    phase_ = Phase::Load;
    const imaging::Status loaded = control_.load(request.sourcePath, request.bitsPerPixel, page);
    if (stopped())
        return imaging::kErrCancelled;
    if (loaded != 0)
        libraryDetail_ = control_.lastErrorDetail();
    return loaded;
}

imaging::Status ConversionStep::shapePage(const ConversionRequest& request, int16_t& outputDpi) {
    if (request.gray) {
        if (const imaging::Status result = control_.convertToGray(); result != 0)
            return result;
    }
    // The loaded image, which is the page's stored size turned by its orientation, if any.
    const auto width = int32_t(control_.bitmapWidth());
    const auto height = int32_t(control_.bitmapHeight());
    PageResolution resolution;
    if (const imaging::Status e = pageResolution(request, height, resolution))
        return e;
    outputDpi = resolution.outputDpi;
    return resizeForPage(request, width, height, resolution);
}

imaging::Status ConversionStep::resizeForPage(const ConversionRequest& r, int32_t width,
                                              int32_t height, const PageResolution& resolution) {
    const SizeRequest size{r.sizeChoice,           r.outWidth,           r.outHeight,
                           resolution.outputDpi,   resolution.sourceDpi, width,
                           resolution.squareHeight};
    ResizeTarget target;
    if (const int32_t e = resizeTarget(size, target))
        return imaging::Status(e);
    if (!target.resize && resolution.squareHeight != height) {
        int16_t w = 0;
        int16_t h = 0;
        if (const int32_t e = scaleRounded(width, 1, 1, w))
            return imaging::Status(e);
        if (const int32_t e = scaleRounded(resolution.squareHeight, 1, 1, h))
            return imaging::Status(e);
        target = {true, w, h};
    }
    if (!target.resize)
        return imaging::kSuccess;
    phase_ = Phase::Resize;
    const imaging::Status result = control_.resize(float(target.width), float(target.height));
    if (stopped())
        return imaging::kErrCancelled;
    return result;
}

imaging::Status ConversionStep::savePage(const ConversionRequest& request,
                                         const QString& outputPath, int16_t dpi,
                                         QByteArray* bytes) {
    phase_ = Phase::Save;
    if (saving_)
        saving_(page_, dpi);
    const imaging::SaveOptions options = saveOptionsFor(request, dpi);
    const int16_t saved = bytes != nullptr ? control_.saveToMemory(*bytes, options)
                                           : control_.save(outputPath, options);
    if (stopped())
        return imaging::kErrCancelled;
    if (saved != 0)
        libraryDetail_ = control_.lastErrorDetail();
    return imaging::Status(saved);
}

imaging::Status ConversionStep::pageResolution(const ConversionRequest& request, int32_t height,
                                               PageResolution& resolution) const {
    const imaging::ImageMeta& meta = control_.meta();
    resolution = {kDefaultDpi, request.dpi, height};
    const bool own = request.resolutionRule == ResolutionRule::FileOwn;
    // The window counts every file but a TIFF as 72 dpi: its stated resolution plays no part.
    if (!own && !formatCarriesResolution(request.source.info.Format))
        return imaging::kSuccess;
    int32_t x = statedDpi(meta.xDpi);
    int32_t y = statedDpi(meta.yDpi);
    // A figure no device has (a BMP claiming 762000 dpi) states nothing usable: 72, as none.
    if (own && (x > std::numeric_limits<int16_t>::max() || y > std::numeric_limits<int16_t>::max()))
        x = y = 0;
    int16_t dpi = kDefaultDpi;
    if (const int32_t e = sourceResolution(imaging::format::kTiff, x, dpi))
        return imaging::Status(e);
    resolution.sourceDpi = dpi;
    if (own)
        resolution.outputDpi = dpi;
    if (x > 0)
        return imaging::Status(squarePixelHeight(height, x, y, resolution.squareHeight));
    return imaging::kSuccess;
}

void ConversionStep::addOutput(ConversionResult& result, const QString& path, int page) const {
    const imaging::Verification& check = control_.lastVerification();
    for (WrittenOutput& earlier : result.written) {
        if (earlier.path != path)
            continue;
        // A file holding pages: its check is that of its worst page.
        if ((earlier.verification.passed && !check.passed) ||
            (check.passed == earlier.verification.passed && check.psnr < earlier.verification.psnr))
            earlier.verification = check;
        return;
    }
    result.written.push_back({path, page, check});
}

}  // namespace pixavant::batch
