#include "batch/BatchEngine.h"

#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <exception>
#include <mutex>
#include <new>

#include "batch/BatchRules.h"
#include "imaging/ErrorDetail.h"
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
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
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
        const QFileInfo file(workSourcePath(i));
        if (file.isFile())
            state_.TotalBytes += file.size();
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

void BatchEngine::planLoadShare(const CompressionSettings& s, int16_t sourceDpi) {
    // Predicted from the file information: the loaded image has the same size.
    loadShare_ = 1.0;
    SizeRequest size{s.SizeChoice, s.OutWidth,      s.OutHeight,     s.Dpi,
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
        outputs << outputFileName(names.last(), settings_.OutputExt);
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
    outputName_.clear();
    const QString sourcePath = workSourcePath(state_.FileIndex);

    if (const int32_t result = imaging::readFileInfo(sourcePath, fileInfo_); result != 1) {
        libraryDetail_ = imaging::errorDetail();
        return result;
    }
    int16_t sourceDpi = 72;
    if (const int32_t e = sourceResolution(fileInfo_.Format, fileInfo_.XResolution, sourceDpi))
        return e;

    state_.Saving = false;
    const QFileInfo source(sourcePath);
    if (!source.isFile())
        return imaging::kErrFileNotFound;
    state_.CurrentBytes = source.size();

    planLoadShare(s, sourceDpi);
    step_ = Step::Load;
    const int16_t loaded = control_.load(sourcePath, s.BitsPerPixel, 0, 1);
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

    // The loaded image, which is the file's stored size turned by its orientation, if any.
    SizeRequest size{s.SizeChoice,
                     s.OutWidth,
                     s.OutHeight,
                     s.Dpi,
                     sourceDpi,
                     int32_t(control_.bitmapWidth()),
                     int32_t(control_.bitmapHeight())};
    ResizeTarget target;
    if (const int32_t e = resizeTarget(size, target))
        return e;
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

    outputName_ = outputFileName(fileName, s.OutputExt);
    const QString outputPath = s.OutputDir + outputName_;
    if (wouldReplaceSource(outputPath))
        return kErrReplacesSource;

    imaging::L_GetExtFileOption(extOptions_.data());
    imaging::writeInt32(&extOptions_[0], s.Dpi);
    imaging::writeInt32(&extOptions_[4], s.Dpi);
    imaging::L_SetExtFileOption(extOptions_.data());

    const int16_t saved =
        control_.save(outputPath, s.FileFormat, s.BitsPerPixel, s.QualityFactor, 0);
    if (cancelled_)
        return imaging::kErrCancelled;
    if (saved != 0) {
        libraryDetail_ = control_.lastErrorDetail();
        return saved;
    }

    control_.clear();  // the next file's image is not decoded beside this one
    state_.DoneBytes += state_.CurrentBytes;
    view_.fileConverted(sourcePath, outputPath);
    if (s.OutputDir == sourceDir_)
        view_.addToSourceList(QLatin1Char(' ') + outputName_);
    failedFile_.clear();
    return 0;
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
    QString reason = failureReason_;
    if (reason.isEmpty())
        reason = QStringLiteral("error %1").arg(code);
    fail(code, failureMessage(code, outputName_),
         failureDetails(workSourcePath(state_.FileIndex), reason));
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
