#pragma once

#include <QString>
#include <cstdint>

#include "batch/RunState.h"

namespace pixavant::batch {

// What the batch engine drives: the progress window, the command line, or a test. The names are
// those of the progress window's controls (TotalFileLeft, SingleFileName, ...), the work list and
// the source list of the main window.
//
// After BatchEngine::cancel() the engine calls nothing of the view any more, so a driver may close
// (but not destroy) its window from inside progressStatus(). The engine calls the view on the
// thread that runs it; ThreadedBatchView hands the calls over to a window's thread.
class BatchView {
  public:
    virtual ~BatchView() = default;

    virtual void setTotalFileLeft(const QString& text) = 0;
    virtual void setSingleFileName(const QString& text) = 0;
    virtual void setTotalPct(const QString& text) = 0;
    virtual void setSinglePct(const QString& text) = 0;
    virtual void setTotalBar(float value) = 0;
    virtual void setSingleBar(float value) = 0;

    // The timer whose events run the engine (BatchEngine::timerEvent()).
    virtual void setTimerEnabled(bool enabled) = 0;
    virtual void setTimerInterval(int milliseconds) = 0;

    // The work list: entries are one space and a file name.
    virtual int workCount() const = 0;
    virtual QString workEntry(int index) const = 0;
    // The folder (ending in "/") of the file a work-list entry names, which is the folder it was
    // added from; empty: the engine's source directory.
    virtual QString workFolder(int index) const {
        (void)index;
        return {};
    }

    // The source list, to which converted files are added when the output directory is the
    // source directory, and its count label.
    virtual int sourceCount() const = 0;
    virtual QString sourceEntry(int index) const = 0;
    virtual void addSourceEntry(const QString& entry) = 0;
    virtual void setSourceCountLabel(const QString& text) = 0;
    // Adds a converted file to the source list unless it is listed, and rewrites the count label,
    // with the main window's list-click updates off meanwhile (batch::addToSourceList()). A view
    // that forwards to another thread does the whole of it there.
    virtual void addToSourceList(const QString& entry);

    // Shows a message with an OK button, titled PIXAVANT, and returns once it is confirmed.
    // `details` (the file's name and the reason it failed) go in the box's details area.
    virtual void showMessage(const QString& text, const QString& details) = 0;
    // Closes the driving window.
    virtual void closeWindow() = 0;

    // A progress notification of the imaging control during a load or save (only while the
    // control's progress notifications are switched on). The driver shows it (ProgressMath) and
    // may service its event loop here; BatchEngine::control() gives the notification switch.
    virtual void progressStatus(int16_t percent, const RunState& state) {
        (void)percent;
        (void)state;
    }
    // A file has been converted and written to `outputPath`.
    virtual void fileConverted(const QString& sourcePath, const QString& outputPath) {
        (void)sourcePath;
        (void)outputPath;
    }
};

// A view with no window: the progress texts, bars, timer, count label and close go nowhere. Drivers
// without a window (the command line, benchmarks, tests) override what they record.
class HeadlessBatchView : public BatchView {
  public:
    void setTotalFileLeft(const QString&) override {}
    void setSingleFileName(const QString&) override {}
    void setTotalPct(const QString&) override {}
    void setSinglePct(const QString&) override {}
    void setTotalBar(float) override {}
    void setSingleBar(float) override {}
    void setTimerEnabled(bool) override {}
    void setTimerInterval(int) override {}
    void setSourceCountLabel(const QString&) override {}
    void closeWindow() override {}
};

}  // namespace pixavant::batch
