#include "compress/FileCompressWindow.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

#include "batch/ProgressMath.h"
#include "batch/ThreadedBatchView.h"
#include "common/FormLayout.h"
#include "common/Message.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

std::optional<FileCompressWindow::Delays>& testDelays() {
    static std::optional<FileCompressWindow::Delays> delays;
    return delays;
}

// The workers of all windows, closed ones' included, so that the application can wait for them
// before it ends.
struct Workers {
    std::mutex mutex;
    std::condition_variable stopped;
    int count = 0;
};

Workers& workers() {
    static Workers all;
    return all;
}

// A row of the window: "Status:", the bar and its percentage, the bar `top` twips down.
std::tuple<QLabel*, ProgressBar*, QLabel*> placeStatusRow(QWidget* window, const char* statusName,
                                                          const char* barName,
                                                          const char* percentName, int top,
                                                          int percentHeight) {
    return {placeNamed(new QLabel(QStringLiteral("Status:"), window), statusName,
                       twipRect(840, top + 60, 735, 315)),
            placeNamed(new ProgressBar(window), barName, twipRect(1800, top, 2715, 435)),
            placeNamed(new QLabel(QStringLiteral("100 %"), window), percentName,
                       twipRect(4650, top + 60, 615, percentHeight))};
}

}  // namespace

// What a run's worker uses. The worker holds it too, so that a window closed in mid-run can go at
// once while the worker winds down on its own.
struct FileCompressWindow::Run {
    CompressionSettings settings;  // a copy: the dialogs may change the record meanwhile
    std::unique_ptr<batch::ThreadedBatchView> view;
    std::unique_ptr<batch::BatchEngine> engine;
    std::mutex mutex;
    std::condition_variable stopped;
    bool started = false;
    bool working = false;
};

ProgressBar::ProgressBar(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
}

void ProgressBar::setBarValue(float value) {
    value_ = value;
    setValue(int(std::nearbyint(std::clamp(value, 0.0f, 100.0f))));
}

FileCompressWindow::FileCompressWindow(RunLists& lists, QWidget* parent)
    : QDialog(parent), lists_(lists), listed_(lists.workCount()) {
    lists_.setRunTotals(QString());  // until this run ends
    setObjectName(QStringLiteral("frmFileCompress"));
    setWindowTitle(QStringLiteral("File Compress"));
    setFont(formFont(8));
    setFixedSize(twipsToPixels(5310), twipsToPixels(3330));
    keepWindowFixed(this);

    filesLeftCaption_ = placeNamed(new QLabel(QStringLiteral("Files Left:"), this), "TotalFile",
                                   twipRect(600, 300, 1095, 315));
    filesLeftLabel_ = placeNamed(new QLabel(QStringLiteral("0 files"), this), "TotalFileLeft",
                                 twipRect(1860, 300, 2055, 315));
    std::tie(totalStatusCaption_, totalBar_, totalPercentLabel_) =
        placeStatusRow(this, "TotalStatus", "TotalBar", "TotalPct", 720, 315);
    fileCaption_ = placeNamed(new QLabel(QStringLiteral("File Compressed:"), this), "SingleFile",
                              twipRect(120, 1560, 1605, 375));
    fileNameLabel_ =
        placeNamed(new QLabel(QString(), this), "SingleFileName", twipRect(1920, 1560, 2835, 375));
    std::tie(fileStatusCaption_, fileBar_, filePercentLabel_) =
        placeStatusRow(this, "SingleStatus", "SingleBar", "SinglePct", 2100, 345);
    cancelButton_ = placeNamed(new QPushButton(QStringLiteral("&Cancel"), this), "Cancel",
                               twipRect(2160, 2730, 1005, 435));
    connect(cancelButton_, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    totalBar_->setAccessibleName(QStringLiteral("Total Status"));
    fileBar_->setAccessibleName(QStringLiteral("File Status"));
    nameControls(this);

    runTimer_.setObjectName(QStringLiteral("Timer1"));
    runTimer_.setInterval(testDelays() ? testDelays()->startMs : 500);
    connect(&runTimer_, &QTimer::timeout, this, [this] { Timer1_Timer(); });

    run_ = std::make_shared<Run>();
    run_->settings = compressionSettings();
    run_->view =
        std::make_unique<batch::ThreadedBatchView>(static_cast<batch::BatchView&>(*this), this);
    run_->engine =
        std::make_unique<batch::BatchEngine>(*run_->view, run_->settings, appState().SourceDir);
    static std::once_flag waitAtQuit;
    std::call_once(waitAtQuit, [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, &waitForAllWorkers);
    });
    Form_Load();
    runTimer_.start();
}

FileCompressWindow::~FileCompressWindow() {
    // However the window goes, a run in progress stops with it.
    if (running())
        run_->engine->cancel();
    letGo();
}

batch::BatchEngine& FileCompressWindow::engine() {
    return *run_->engine;
}

bool FileCompressWindow::running() const {
    std::lock_guard lock(run_->mutex);
    return run_->working;
}

bool FileCompressWindow::waitForWorker(int milliseconds) {
    std::unique_lock lock(run_->mutex);
    return run_->stopped.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                  [this] { return !run_->working; });
}

void FileCompressWindow::waitForAllWorkers() {
    Workers& all = workers();
    std::unique_lock lock(all.mutex);
    all.stopped.wait(lock, [&] { return all.count == 0; });
}

void FileCompressWindow::startWorker() {
    {
        std::lock_guard lock(run_->mutex);
        run_->started = true;
        run_->working = true;
    }
    {
        std::lock_guard lock(workers().mutex);
        ++workers().count;
    }
    std::thread([run = run_]() mutable {
        run->engine->timerEvent();
        {
            std::lock_guard lock(run->mutex);
            run->working = false;
        }
        run->stopped.notify_all();
        run.reset();  // a closed window's engine goes with the worker's reference
        Workers& all = workers();
        std::lock_guard lock(all.mutex);
        --all.count;
        all.stopped.notify_all();
    }).detach();
}

void FileCompressWindow::letGo() {
    // Nothing the worker does reaches this window any more.
    run_->view->detach();
}

void FileCompressWindow::setDelaysForTesting(std::optional<Delays> delays) {
    testDelays() = delays;
}

void FileCompressWindow::Form_Load() {
    // The engine takes the file count and the byte total of the work list, resets the bars and
    // percentages and switches the progress notifications on.
    run_->engine->load();
}

void FileCompressWindow::Timer1_Timer() {
    bool started = false;
    {
        std::lock_guard lock(run_->mutex);
        started = run_->started;
    }
    if (!started) {
        // The whole run, on the worker. It switches the timer off itself, but the request takes a
        // moment to arrive.
        runTimer_.stop();
        startWorker();
        return;
    }
    // The delayed close after a successful run: the worker has done its last step.
    waitForWorker(INT_MAX);
    run_->engine->timerEvent();
}

void FileCompressWindow::Cancel_Click() {
    close();
}

void FileCompressWindow::reject() {
    // Closing during a run abandons the file in progress and skips the rest; the engine touches
    // the window no more.
    if (running())
        run_->engine->cancel();
    letGo();
    runTimer_.stop();
    closing_ = true;
    QDialog::reject();
}

void FileCompressWindow::done(int result) {
    if (!totalsShown_) {
        totalsShown_ = true;
        lists_.setRunTotals(batch::runTotalsText(totals_, listed_));
    }
    QDialog::done(result);
}

void FileCompressWindow::setTotalFileLeft(const QString& text) {
    filesLeftLabel_->setText(text);
}

void FileCompressWindow::setSingleFileName(const QString& text) {
    // A long name is shortened in the middle; the whole name is in the tool tip.
    fileNameLabel_->setToolTip(text);
    fileNameLabel_->setText(
        fileNameLabel_->fontMetrics().elidedText(text, Qt::ElideMiddle, fileNameLabel_->width()));
}

void FileCompressWindow::setTotalPct(const QString& text) {
    totalPercentLabel_->setText(text);
}
void FileCompressWindow::setSinglePct(const QString& text) {
    filePercentLabel_->setText(text);
}
void FileCompressWindow::setTotalBar(float value) {
    totalBar_->setBarValue(value);
}
void FileCompressWindow::setSingleBar(float value) {
    fileBar_->setBarValue(value);
}

void FileCompressWindow::setTimerEnabled(bool enabled) {
    if (enabled) {
        runTimer_.start();
    } else {
        runTimer_.stop();
    }
}

void FileCompressWindow::setTimerInterval(int milliseconds) {
    // The engine sets an interval only for the close after a successful run.
    runTimer_.setInterval(testDelays() ? testDelays()->closeMs : milliseconds);
}

void FileCompressWindow::showMessage(const QString& text, const QString& details) {
    pixavant::showMessage(this, text, details);
}

void FileCompressWindow::closeWindow() {
    closing_ = true;
    runTimer_.stop();
    done(QDialog::Accepted);
}

void FileCompressWindow::progressStatus(int16_t percent, const batch::RunState& state) {
    const batch::ProgressDisplay display = batch::progressDisplay(percent, state);
    fileBar_->setBarValue(display.singleBar);
    filePercentLabel_->setText(batch::singlePctText(fileBar_->barValue()));
    totalBar_->setBarValue(float(display.totalBar));
    totalPercentLabel_->setText(display.totalPct);
}

void FileCompressWindow::fileConverted(const QString& sourcePath, const QString& outputPath) {
    totals_.add(sourcePath, outputPath);
}

void openFileCompress(QWidget* parent, RunLists& lists) {
    FileCompressWindow window(lists, parent);
    window.exec();
}

}  // namespace pixavant
