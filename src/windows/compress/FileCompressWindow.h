#pragma once

#include <QDialog>
#include <QProgressBar>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

#include "batch/BatchEngine.h"
#include "batch/BatchView.h"
#include "batch/RunTotals.h"
#include "compress/RunLists.h"

class QLabel;
class QPushButton;

namespace pixavant {

// A progress bar that holds a fractional value (12.5) and shows it to the nearest step.
class ProgressBar : public QProgressBar {
  public:
    explicit ProgressBar(QWidget* parent = nullptr);
    void setBarValue(float value);
    float barValue() const { return value_; }

  private:
    float value_ = 0;
};

// "File Compress": runs one batch and shows how far it has got. Half a second after it opens, its
// timer starts the conversion of the whole work list (the batch engine) on a worker thread, which
// hands everything it shows to this window's thread in order; the window repaints and answers
// input all the while. It closes itself 6 seconds after a successful run and at once after a
// failure; "Cancel" closes it at any time, abandoning a run in progress without leaving a partial
// file: the worker stops on its own shortly after and never touches the closed window. Opening it
// empties the main window's line of run totals; closing it, however, writes there what the run
// converted.
class FileCompressWindow : public QDialog, public batch::BatchView {
    Q_OBJECT

  public:
    FileCompressWindow(RunLists& lists, QWidget* parent = nullptr);
    ~FileCompressWindow() override;

    // Delays of the start and of the close after success, shortened by tests (nullopt: the usual
    // 500 ms and 6 s).
    struct Delays {
        int startMs = 500;
        int closeMs = 6000;
    };
    static void setDelaysForTesting(std::optional<Delays> delays);

    // The run's engine. While the worker runs, only cancel() and cancelled() may be used.
    batch::BatchEngine& engine();
    bool running() const;
    // Waits until the worker has stopped (at most `milliseconds`); true when it has.
    bool waitForWorker(int milliseconds);
    // Waits until every worker of every window has stopped, closed windows' included.
    static void waitForAllWorkers();

    void reject() override;
    void done(int result) override;

    // What the run has converted so far.
    const batch::RunTotals& totals() const { return totals_; }

  private:
    struct Run;
    void Form_Load();
    void Timer1_Timer();
    void Cancel_Click();

    // The engine's view of the window.
    void setTotalFileLeft(const QString& text) override;
    void setSingleFileName(const QString& text) override;
    void setTotalPct(const QString& text) override;
    void setSinglePct(const QString& text) override;
    void setTotalBar(float value) override;
    void setSingleBar(float value) override;
    void setTimerEnabled(bool enabled) override;
    void setTimerInterval(int milliseconds) override;
    int workCount() const override { return lists_.workCount(); }
    QString workEntry(int index) const override { return lists_.workEntry(index); }
    QString workFolder(int index) const override { return lists_.workFolder(index); }
    int sourceCount() const override { return lists_.sourceCount(); }
    QString sourceEntry(int index) const override { return lists_.sourceEntry(index); }
    void addSourceEntry(const QString& entry) override { lists_.addSourceEntry(entry); }
    void setSourceCountLabel(const QString& text) override { lists_.setSourceCountLabel(text); }
    void showMessage(const QString& text, const QString& details) override;
    void closeWindow() override;
    void progressStatus(int16_t percent, const batch::RunState& state) override;
    void fileConverted(const QString& sourcePath, const QString& outputPath) override;

    void startWorker();
    void letGo();

    RunLists& lists_;
    int listed_ = 0;  // work-list files when the window opened
    batch::RunTotals totals_;
    bool totalsShown_ = false;
    std::shared_ptr<Run> run_;
    QTimer runTimer_;
    bool closing_ = false;

    QLabel* filesLeftCaption_ = nullptr;
    QLabel* filesLeftLabel_ = nullptr;
    QLabel* totalStatusCaption_ = nullptr;
    ProgressBar* totalBar_ = nullptr;
    QLabel* totalPercentLabel_ = nullptr;
    QLabel* fileCaption_ = nullptr;
    QLabel* fileNameLabel_ = nullptr;
    QLabel* fileStatusCaption_ = nullptr;
    ProgressBar* fileBar_ = nullptr;
    QLabel* filePercentLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

// Opens the progress window modally over `parent`, running the work list of `lists`, and returns
// when it has closed.
void openFileCompress(QWidget* parent, RunLists& lists);

}  // namespace pixavant
