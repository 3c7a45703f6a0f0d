#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <vector>

#include "batch/BatchRules.h"
#include "batch/BatchView.h"
#include "batch/ConversionStep.h"
#include "batch/RunState.h"
#include "imaging/FileInfo.h"
#include "imaging/ImagingControl.h"
#include "settings/CompressionSettings.h"

namespace pixavant::batch {

// Converts every file of a work list into the output directory, as the settings record prescribes,
// each through a ConversionStep.
//
// Use: construct it for one run, call load() when the driving window loads, then timerEvent() on
// each event of the view's timer. The first timer event converts the whole work list, one file
// after the other, and ends the run (normally: the timer is re-armed at 6000 ms, and the next
// event closes the window; after a failure: one message, then the window closes at once).
//
// A window drives it like this: construct it with a copy of compressionSettings() and
// appState().SourceDir; its timer starts on at 500 ms and calls timerEvent() on a worker thread,
// through a ThreadedBatchView; its progressStatus() shows progressDisplay() (ProgressMath.h); its
// Cancel calls cancel() and closes the window. The engine must outlive the worker.
//
// Threads: everything but cancel() and cancelled() runs on one thread at a time; cancel() may be
// called from any thread while the run goes on.
//
// Progress: loading (and the resize, when there is one) reports 0 to 100 % with Saving false,
// the resize taking the part of it that its share of the work predicts; saving reports 0 to
// 100 % with Saving true.
class BatchEngine {
  public:
    enum class Outcome { NotRun, Completed, Failed, Cancelled };

    using ResolutionRule = batch::ResolutionRule;

    // `settings` and `sourceDir` (ending in "/") are read, never changed.
    BatchEngine(BatchView& view, const CompressionSettings& settings, QString sourceDir);
    BatchEngine(const BatchEngine&) = delete;
    BatchEngine& operator=(const BatchEngine&) = delete;

    // Takes the file count and the total size of the work list and resets the display.
    void load();
    // Runs the whole work list, or closes the window when the run has finished.
    void timerEvent();
    // Stops the run: the file in progress is abandoned (nothing of it is written), the remaining
    // files are skipped, no message is shown and the view is not touched again. May be called
    // from inside BatchView::progressStatus() or from another thread; the operation in progress
    // stops at its next progress point.
    void cancel();

    void setResolutionRule(ResolutionRule rule) { resolutionRule_ = rule; }
    // The files the last file converted wrote, in page order.
    const std::vector<WrittenOutput>& writtenOutputs() const { return outputs_; }

    // How outputs are named after their sources (by default up to the first dot).
    void setNamingRule(NamingRule rule) { namingRule_ = rule; }

    const RunState& state() const { return state_; }
    Outcome outcome() const { return outcome_; }
    bool cancelled() const { return cancelled_.load(); }
    int32_t errorCode() const { return errorCode_; }
    QString errorMessage() const { return errorMessage_; }
    // The failed file's name and why it failed, as the message's details.
    QString errorDetails() const { return errorDetails_; }
    // Why the file failed: the reason for the code, with the library's own words when it gave any.
    QString failureReason() const { return failureReason_; }
    // The work-list file the run failed on (its name), empty when none.
    QString failedFile() const { return failedFile_; }
    imaging::ImagingControl& control() { return step_.control(); }
    // The information of the file last examined.
    const imaging::FileInfoRecord& fileInfo() const { return fileInfo_; }

  private:
    int32_t convertFile();
    int32_t checkOutputs(const QString& fileName, const QStringList& names);
    void setResolutionOptions(int16_t dpi);
    bool refusePageClash(const QString& fileName, const QString& pageName);
    int32_t convertFileGuarded();
    void endNormally();
    void fail(int32_t code);
    void fail(int32_t code, const QString& message, const QString& details);
    bool refuseOutputClashes();
    void showCompleted();
    bool wouldReplaceSource(const QString& outputPath) const;
    // The file work-list entry `index` names, in the folder it was added from.
    QString workSourcePath(int index) const;
    void onProgress(int16_t percent, int page, bool saving);

    BatchView& view_;
    const CompressionSettings& settings_;
    QString sourceDir_;
    ConversionStep step_;
    imaging::FileInfoRecord fileInfo_;
    imaging::ExtFileOptionBlock extOptions_{};
    RunState state_;
    Outcome outcome_ = Outcome::NotRun;
    std::atomic<bool> cancelled_{false};
    int32_t errorCode_ = 0;
    QString errorMessage_;
    QString errorDetails_;
    QString failureReason_;
    QString libraryDetail_;  // of the failure in progress
    QString failedFile_;
    QString outputName_;  // of the file in progress
    int failedPage_ = 0;  // of a file of several pages: the page in progress, from 1
    QString pageClash_;   // the message of a page file that would replace another output
    std::vector<WrittenOutput> outputs_;
    ResolutionRule resolutionRule_ = ResolutionRule::Settings;
    NamingRule namingRule_ = NamingRule::FirstDot;
    std::set<QString> protectedPaths_;
    std::set<std::pair<uint64_t, uint64_t>> protectedFiles_;  // device and inode
};

// Adds `entry` to the view's source list unless an entry of exactly that text is there, and
// rewrites the source count label; the main window's list-click updates are off meanwhile.
void addToSourceList(BatchView& view, const QString& entry);

}  // namespace pixavant::batch
