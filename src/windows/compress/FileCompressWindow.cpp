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

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, QRect design) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    placeControl(label, design);
    return label;
}

ProgressBar* makeBar(QWidget* parent, const char* name, QRect design) {
    auto* bar = new ProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(design);
    return bar;
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

    filesLeftCaption_ =
        makeLabel(this, "TotalFile", QStringLiteral("Files Left:"), twipRect(600, 300, 1095, 315));
    filesLeftLabel_ =
        makeLabel(this, "TotalFileLeft", QStringLiteral("0 files"), twipRect(1860, 300, 2055, 315));
    totalStatusCaption_ =
        makeLabel(this, "TotalStatus", QStringLiteral("Status:"), twipRect(840, 780, 735, 315));
    totalBar_ = makeBar(this, "TotalBar", twipRect(1800, 720, 2715, 435));
    totalPercentLabel_ =
        makeLabel(this, "TotalPct", QStringLiteral("100 %"), twipRect(4650, 780, 615, 315));
    fileCaption_ = makeLabel(this, "SingleFile", QStringLiteral("File Compressed:"),
                             twipRect(120, 1560, 1605, 375));
    fileNameLabel_ = makeLabel(this, "SingleFileName", QString(), twipRect(1920, 1560, 2835, 375));
    fileStatusCaption_ =
        makeLabel(this, "SingleStatus", QStringLiteral("Status:"), twipRect(840, 2160, 735, 315));
    fileBar_ = makeBar(this, "SingleBar", twipRect(1800, 2100, 2715, 435));
    filePercentLabel_ =
        makeLabel(this, "SinglePct", QStringLiteral("100 %"), twipRect(4650, 2160, 615, 345));
    cancelButton_ = new QPushButton(QStringLiteral("&Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("Cancel"));
    placeControl(cancelButton_, twipRect(2160, 2730, 1005, 435));
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
