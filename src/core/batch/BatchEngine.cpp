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
    step_.onProgress(
        [this](int16_t percent, int page, bool saving) { onProgress(percent, page, saving); });
    step_.onSaving([this](int page, int16_t dpi) {
        state_.PageIndex = page;
        state_.Saving = true;
        setResolutionOptions(dpi);
    });
    step_.setCancelFlag(&cancelled_);
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
    control().setEnableProgressEvent(true);
}

void BatchEngine::cancel() {
    cancelled_ = true;
}

void BatchEngine::onProgress(int16_t percent, int page, bool saving) {
    if (cancelled_)
        return;
    state_.PageIndex = page;
    state_.Saving = saving;
    view_.progressStatus(percent, state_);
}

// The extended save options, set before each save as the engine always has: the block's two
// resolution fields. The save itself is told its resolution by the step.
void BatchEngine::setResolutionOptions(int16_t dpi) {
    imaging::L_GetExtFileOption(extOptions_.data());
    imaging::writeInt32(&extOptions_[0], dpi);
    imaging::writeInt32(&extOptions_[4], dpi);
    imaging::L_SetExtFileOption(extOptions_.data());
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
    QStringList sources;
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
            control().setEnableProgressEvent(false);
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
    state_.Saving = false;
    ConversionRequest request = requestFor(workSourcePath(state_.FileIndex), s);
    request.resolutionRule = resolutionRule_;

    const int32_t examined = step_.examine(request.sourcePath, request.source);
    fileInfo_ = request.source.info;
    if (examined != 0) {
        libraryDetail_ = step_.libraryDetail();
        return examined;
    }
    state_.CurrentBytes = request.source.bytes;
    const int32_t pages = request.source.pages;
    outputName_ = outputFileName(fileName, s.OutputExt, namingRule_);
    const QStringList names = outputFileNames(outputName_, s.OutputExt, pages, s.FileFormat);
    if (const int32_t refused = checkOutputs(fileName, names))
        return refused;
    for (const QString& name : names)
        request.outputPaths << s.OutputDir + name;

    state_.PageCount = pages;
    const ConversionResult result = step_.run(request);
    if (!result.ok()) {
        libraryDetail_ = result.libraryDetail;
        failedPage_ = result.failedPage;
        return result.status;
    }
    outputs_ = result.written;
    state_.DoneBytes += state_.CurrentBytes;
    for (const WrittenOutput& output : outputs_) {
        view_.fileConverted(request.sourcePath, output.path);
        if (s.OutputDir == sourceDir_)
            view_.addToSourceList(QLatin1Char(' ') + QFileInfo(output.path).fileName());
    }
    failedFile_.clear();
    return 0;
}

// No output may replace a source of the run, nor a page file the output of another file.
int32_t BatchEngine::checkOutputs(const QString& fileName, const QStringList& names) {
    for (const QString& name : names) {
        if (wouldReplaceSource(settings_.OutputDir + name)) {
            outputName_ = name;
            return kErrReplacesSource;
        }
        if (names.size() > 1 && refusePageClash(fileName, name))
            return kErrPageClash;
    }
    return 0;
}

bool BatchEngine::refusePageClash(const QString& fileName, const QString& pageName) {
    QString other;
    for (int i = 0; i < state_.FileCount && other.isEmpty(); ++i) {
        const QString name = listItemFileName(view_.workEntry(i));
        if (i != state_.FileIndex &&
            outputFileName(name, settings_.OutputExt, namingRule_) == pageName)
            other = name;
    }
    if (other.isEmpty())
        return false;
    outputName_ = pageName;
    pageClash_ = pageClashText(pageName, fileName, other);
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
    control().setEnableProgressEvent(false);
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
    ConversionResult failure;
    failure.status = imaging::Status(code);
    failure.libraryDetail = libraryDetail_;
    failure.failedPage = failedPage_;
    failure.pages = state_.PageCount;
    failureReason_ = failure.reason();
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
