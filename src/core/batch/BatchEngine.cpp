#include "batch/BatchEngine.h"

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <new>

#include "batch/BatchRules.h"
#include "imaging/ErrorDetail.h"
#include "imaging/FileNames.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "settings/AppState.h"
#include "settings/ListEntry.h"

namespace pixavant::batch {

namespace {

constexpr int kCloseDelayMs = 6000;

// Relative cost of the steps of a file, per pixel, for the share of the bar each gets: decoding
// per source pixel; Lanczos resampling per pixel of the larger of the source and the result.
constexpr double kLoadCost = 1.0;
constexpr double kResizeCost = 5.0;

QString absoluteClean(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

bool fileIdentity(const QString& path, std::pair<uint64_t, uint64_t>& id) {
    struct stat st {};
    if (::stat(imaging::encodeFileName(path).constData(), &st) != 0)
        return false;
    id = {uint64_t(st.st_dev), uint64_t(st.st_ino)};
    return true;
}

}  // namespace

BatchEngine::BatchEngine(BatchView& view, const CompressionSettings& settings, QString sourceDir)
    : view_(view), settings_(settings), sourceDir_(std::move(sourceDir)) {
    control_.onProgressStatus([this](int16_t percent) { onProgressStatus(percent); });
    control_.setCancelFlag(&cancelled_);
}

void BatchEngine::load() {
    state_ = {};
    state_.FileCount = view_.workCount();
    for (int i = 0; i < state_.FileCount; ++i) {
        // A file that cannot be sized counts 0 bytes; the run fails on it when it gets there.
        const imaging::FileStatus file = imaging::fileStatus(workSourcePath(i));
        if (file.isFile)
            state_.TotalBytes += file.size;
    }
    view_.setTotalPct(QStringLiteral("0 %"));
    view_.setTotalBar(0);
    view_.setSingleBar(0);
    view_.setSinglePct(QStringLiteral("0 %"));
    control_.setEnableProgressEvent(true);
}

void BatchEngine::addProtectedPaths(const QStringList& paths) {
    extraProtected_ += paths;
}

void BatchEngine::cancel() {
    cancelled_ = true;
    control_.abortOperation();
}

void BatchEngine::onProgressStatus(int16_t percent) {
    if (cancelled_)
        return;
    // Loading and resizing share the first half of the file's bar.
    if (step_ == Step::Load)
        percent = int16_t(percent * loadShare_);
    else if (step_ == Step::Resize)
        percent = int16_t(100 * loadShare_ + percent * (1 - loadShare_));
    view_.progressStatus(percent, state_);
}

void BatchEngine::planLoadShare(const CompressionSettings& s, int16_t dpi, int16_t sourceDpi) {
    // Predicted from the file information: the loaded image has the same size.
    loadShare_ = 1.0;
    SizeRequest size{s.SizeChoice, s.OutWidth,      s.OutHeight,     dpi,
                     sourceDpi,    fileInfo_.Width, fileInfo_.Height};
    ResizeTarget target;
    if (resizeTarget(size, target) != 0 || !target.resize)
        return;
    const double source = double(fileInfo_.Width) * double(fileInfo_.Height);
    const double result = double(target.width) * double(target.height);
    const double load = kLoadCost * source;
    const double resize = kResizeCost * std::max(source, result);
    loadShare_ = std::clamp(load / (load + resize), 0.05, 0.95);
}

void BatchEngine::timerEvent() {
    if (cancelled_)
        return;
    if (state_.Finished) {
        view_.setTimerEnabled(false);
        view_.closeWindow();
        return;
    }
    view_.setTimerEnabled(false);
    extOptions_.fill(0);

    protectedPaths_.clear();
    protectedFiles_.clear();
    QStringList sources = extraProtected_;
    for (int i = 0; i < state_.FileCount; ++i)
        sources << workSourcePath(i);
    for (const QString& source : sources) {
        protectedPaths_.insert(absoluteClean(source));
        const QString canonical = QFileInfo(source).canonicalFilePath();
        if (!canonical.isEmpty())
            protectedPaths_.insert(canonical);
        std::pair<uint64_t, uint64_t> id;
        if (fileIdentity(source, id))
            protectedFiles_.insert(id);
    }

    if (refuseOutputClashes())
        return;
    for (state_.FileIndex = 0; state_.FileIndex < state_.FileCount; ++state_.FileIndex) {
        const int32_t code = cancelled_ ? int32_t(imaging::kErrCancelled) : convertFileGuarded();
        if (cancelled_) {
            control_.setEnableProgressEvent(false);
            state_.Finished = true;
            outcome_ = Outcome::Cancelled;
            return;
        }
        if (code != 0) {
            fail(code);
            return;
        }
    }
    endNormally();
}

// Two work-list files that map onto one output name would overwrite each other's output: such a
// run is refused before anything is written.
bool BatchEngine::refuseOutputClashes() {
    QStringList names;
    QStringList outputs;
    for (int i = 0; i < state_.FileCount; ++i) {
        names << listItemFileName(view_.workEntry(i));
        outputs << outputFileName(names.last(), settings_.OutputExt, namingRule_);
    }
    const std::vector<OutputClash> clashes = findOutputClashes(names, outputs);
    if (clashes.empty())
        return false;
    QStringList details;
    for (const OutputClash& clash : clashes)
        details << QStringLiteral("%1: %2").arg(clash.output,
                                                clash.sources.join(QStringLiteral(", ")));
    failedFile_.clear();
    fail(kErrOutputClash, outputClashText(clashes),
         QStringLiteral("Output directory: %1\n").arg(settings_.OutputDir) + details.join('\n'));
    return true;
}

int32_t BatchEngine::convertFileGuarded() {
    libraryDetail_.clear();
    try {
        return convertFile();
    } catch (const std::bad_alloc&) {
        return imaging::kErrNoMemory;
    } catch (const std::exception&) {
        return kErrInternal;
    }
}

QString BatchEngine::workSourcePath(int index) const {
    const QString folder = view_.workFolder(index);
    return (folder.isEmpty() ? sourceDir_ : folder) + listItemFileName(view_.workEntry(index));
}

bool BatchEngine::wouldReplaceSource(const QString& outputPath) const {
    if (protectedPaths_.count(absoluteClean(outputPath)) != 0)
        return true;
    const QString canonical = QFileInfo(outputPath).canonicalFilePath();
    if (!canonical.isEmpty() && protectedPaths_.count(canonical) != 0)
        return true;
    std::pair<uint64_t, uint64_t> id;
    return fileIdentity(outputPath, id) && protectedFiles_.count(id) != 0;
}

int32_t BatchEngine::convertFile() {
    const CompressionSettings& s = settings_;
    view_.setTotalFileLeft(filesLeftText(state_.FileCount - state_.FileIndex));
    const QString fileName = listItemFileName(view_.workEntry(state_.FileIndex));
    view_.setSingleFileName(fileName);
    failedFile_ = fileName;
    failedPage_ = 0;
    outputName_.clear();
    outputs_.clear();
    state_.PageIndex = 0;
    state_.PageCount = 1;
    const QString sourcePath = workSourcePath(state_.FileIndex);

    if (const int32_t result = imaging::readFileInfo(sourcePath, fileInfo_); result != 1) {
        libraryDetail_ = imaging::errorDetail();
        return result;
    }
    int16_t sourceDpi = 72;
    if (const int32_t e = sourceResolution(fileInfo_.Format, fileInfo_.XResolution, sourceDpi))
        return e;

    state_.Saving = false;
    const imaging::FileStatus source = imaging::fileStatus(sourcePath);
    if (!source.isFile)
        return imaging::kErrFileNotFound;
    state_.CurrentBytes = source.size;

    int32_t pages = 1;
    if (const int16_t counted = control_.readPageCount(sourcePath, pages); counted != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return counted;
    }
    outputName_ = outputFileName(fileName, s.OutputExt, namingRule_);
    const QStringList names = outputFileNames(outputName_, s.OutputExt, pages, s.FileFormat);
    for (const QString& name : names) {
        if (wouldReplaceSource(s.OutputDir + name)) {
            outputName_ = name;
            return kErrReplacesSource;
        }
        if (names.size() > 1 && refusePageClash(fileName, name))
            return kErrPageClash;
    }

    planLoadShare(s, resolutionRule_ == ResolutionRule::FileOwn ? sourceDpi : s.Dpi, sourceDpi);
    state_.PageCount = pages;
    control_.beginDocument();
    for (int page = 0; page < pages; ++page) {
        failedPage_ = pages > 1 ? page + 1 : 0;
        const QString& name = names.size() > 1 ? names[page] : names.first();
        const int32_t code = convertPage(sourcePath, page, s.OutputDir + name);
        control_.clear();  // the next page's image is not decoded beside this one
        if (code != 0) {
            control_.abandonDocument();
            return code;
        }
        addOutput(s.OutputDir + name, names.size() > 1 ? page + 1 : 0);
    }
    failedPage_ = 0;
    const int16_t committed = control_.commitDocument();
    if (cancelled_)
        return imaging::kErrCancelled;
    if (committed != 0)
        return committed;

    state_.DoneBytes += state_.CurrentBytes;
    for (const WrittenOutput& output : outputs_) {
        view_.fileConverted(sourcePath, output.path);
        if (s.OutputDir == sourceDir_)
            view_.addToSourceList(QLatin1Char(' ') + QFileInfo(output.path).fileName());
    }
    failedFile_.clear();
    return 0;
}

int32_t BatchEngine::convertPage(const QString& sourcePath, int page, const QString& outputPath) {
    const CompressionSettings& s = settings_;
    state_.PageIndex = page;
    state_.Saving = false;
    step_ = Step::Load;
    const int16_t loaded = control_.load(sourcePath, s.BitsPerPixel, int16_t(page), 1);
    if (cancelled_)
        return imaging::kErrCancelled;
    if (loaded != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return loaded;
    }
    if (s.DepthChoice == 1) {
        if (const int16_t result = control_.convertToGray(); result != 0)
            return result;
    }

    // The loaded image, which is the page's stored size turned by its orientation, if any.
    const auto width = int32_t(control_.bitmapWidth());
    const auto height = int32_t(control_.bitmapHeight());
    PageResolution resolution;
    if (const int32_t e = pageResolution(height, resolution))
        return e;
    SizeRequest size{s.SizeChoice,           s.OutWidth,           s.OutHeight,
                     resolution.outputDpi,   resolution.sourceDpi, width,
                     resolution.squareHeight};
    ResizeTarget target;
    if (const int32_t e = resizeTarget(size, target))
        return e;
    if (!target.resize && resolution.squareHeight != height) {
        int16_t w = 0;
        int16_t h = 0;
        if (const int32_t e = scaleRounded(width, 1, 1, w))
            return e;
        if (const int32_t e = scaleRounded(resolution.squareHeight, 1, 1, h))
            return e;
        target = {true, w, h};
    }
    if (target.resize) {
        step_ = Step::Resize;
        const int16_t result = control_.resize(float(target.width), float(target.height), 1);
        if (cancelled_)
            return imaging::kErrCancelled;
        if (result != 0)
            return result;
    }
    step_ = Step::Save;
    state_.Saving = true;

    imaging::L_GetExtFileOption(extOptions_.data());
    imaging::writeInt32(&extOptions_[0], resolution.outputDpi);
    imaging::writeInt32(&extOptions_[4], resolution.outputDpi);
    imaging::L_SetExtFileOption(extOptions_.data());

    const int16_t saved =
        control_.save(outputPath, s.FileFormat, s.BitsPerPixel, s.QualityFactor, 0);
    if (cancelled_)
        return imaging::kErrCancelled;
    if (saved != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return saved;
    }
    return 0;
}

int32_t BatchEngine::pageResolution(int32_t height, PageResolution& resolution) const {
    const imaging::ImageMeta& meta = control_.meta();
    resolution = {kDefaultDpi, settings_.Dpi, height};
    const bool own = resolutionRule_ == ResolutionRule::FileOwn;
    // The window counts every file but a TIFF as 72 dpi: its stated resolution plays no part.
    if (!own && !formatCarriesResolution(fileInfo_.Format))
        return 0;
    int32_t x = statedDpi(meta.xDpi);
    int32_t y = statedDpi(meta.yDpi);
    // A figure no device has (a BMP claiming 762000 dpi) states nothing usable: 72, as none.
    if (own && (x > std::numeric_limits<int16_t>::max() || y > std::numeric_limits<int16_t>::max()))
        x = y = 0;
    int16_t dpi = kDefaultDpi;
    if (const int32_t e = sourceResolution(imaging::format::kTiff, x, dpi))
        return e;
    resolution.sourceDpi = dpi;
    if (own)
        resolution.outputDpi = dpi;
    if (x > 0)
        return squarePixelHeight(height, x, y, resolution.squareHeight);
    return 0;
}

int32_t BatchEngine::statedDpi(double dpi) {
    if (!(dpi > 0) || !std::isfinite(dpi))
        return 0;
    return int32_t(std::min(std::nearbyint(dpi), 1e9));
}

void BatchEngine::addOutput(const QString& path, int page) {
    const imaging::Verification& check = control_.lastVerification();
    for (WrittenOutput& earlier : outputs_) {
        if (earlier.path != path)
            continue;
        // A file holding pages: its check is that of its worst page.
        if ((earlier.verification.passed && !check.passed) ||
            (check.passed == earlier.verification.passed && check.psnr < earlier.verification.psnr))
            earlier.verification = check;
        return;
    }
    outputs_.push_back({path, page, check});
}

bool BatchEngine::refusePageClash(const QString& fileName, const QString& pageName) {
    QString other;
    for (int i = 0; i < state_.FileCount && other.isEmpty(); ++i) {
        const QString name = listItemFileName(view_.workEntry(i));
        if (i != state_.FileIndex &&
            outputFileName(name, settings_.OutputExt, namingRule_) == pageName)
            other = name;
    }
    if (other.isEmpty() && otherOutputs_)
        other = otherOutputs_(settings_.OutputDir + pageName);
    if (other.isEmpty())
        return false;
    outputName_ = pageName;
    pageClash_ = QStringLiteral("%1, a page of %2, would replace the output of %3.")
                     .arg(pageName, fileName, other);
    return true;
}

void BatchView::addToSourceList(const QString& entry) {
    batch::addToSourceList(*this, entry);
}

void addToSourceList(BatchView& view, const QString& entry) {
    // Engines running side by side would otherwise switch the list-click updates back on while
    // another one is still changing its list.
    static std::mutex listUpdate;
    std::lock_guard lock(listUpdate);
    AppState& app = appState();
    app.ListClickUpdatesEnabled = false;
    bool listed = false;
    for (int i = 0, n = view.sourceCount(); i < n && !listed; ++i)
        listed = view.sourceEntry(i) == entry;
    if (!listed)
        view.addSourceEntry(entry);
    view.setSourceCountLabel(sourceCountText(view.sourceCount()));
    app.ListClickUpdatesEnabled = true;
}

void BatchEngine::showCompleted() {
    control_.setEnableProgressEvent(false);
    view_.setTotalFileLeft(filesLeftText(0));
    view_.setTotalPct(QStringLiteral("100 %"));
    view_.setTotalBar(100);
    view_.setSingleBar(100);
    view_.setSinglePct(QStringLiteral("100 %"));
}

void BatchEngine::endNormally() {
    showCompleted();
    state_.Finished = true;
    outcome_ = Outcome::Completed;
    view_.setTimerInterval(kCloseDelayMs);
    view_.setTimerEnabled(true);
}

void BatchEngine::fail(int32_t code) {
    failureReason_ = batch::failureReason(code, libraryDetail_);
    if (failedPage_ > 0)
        failureReason_ = QStringLiteral("page %1 of %2: %3")
                             .arg(failedPage_)
                             .arg(state_.PageCount)
                             .arg(failureReason_);
    QString reason = failureReason_;
    if (reason.isEmpty())
        reason = QStringLiteral("error %1").arg(code);
    const QString message = code == kErrPageClash
                                ? pageClash_
                                : failureMessage(code, imaging::displayFileName(outputName_));
    fail(code, message,
         failureDetails(imaging::displayFileName(workSourcePath(state_.FileIndex)), reason));
}

void BatchEngine::fail(int32_t code, const QString& message, const QString& details) {
    errorCode_ = code;
    errorMessage_ = message;
    errorDetails_ = details;
    view_.showMessage(errorMessage_, errorDetails_);
    showCompleted();
    state_.Finished = true;
    outcome_ = Outcome::Failed;
    view_.setTimerInterval(kCloseDelayMs);
    view_.setTimerEnabled(false);
    view_.closeWindow();
}

}  // namespace pixavant::batch
