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

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int left, int top,
                  int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    placeControl(label, left, top, width, height);
    return label;
}

ProgressBar* makeBar(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* bar = new ProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setGeometry(left, top, width, height);
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
    setFixedSize(354, 222);
    keepWindowFixed(this);

    TotalFile = makeLabel(this, "TotalFile", QStringLiteral("Files Left:"), 40, 20, 73, 21);
    TotalFileLeft = makeLabel(this, "TotalFileLeft", QStringLiteral("0 files"), 124, 20, 137, 21);
    TotalStatus = makeLabel(this, "TotalStatus", QStringLiteral("Status:"), 56, 52, 49, 21);
    TotalBar = makeBar(this, "TotalBar", 120, 48, 181, 29);
    TotalPct = makeLabel(this, "TotalPct", QStringLiteral("100 %"), 310, 52, 41, 21);
    SingleFile = makeLabel(this, "SingleFile", QStringLiteral("File Compressed:"), 8, 104, 107, 25);
    SingleFileName = makeLabel(this, "SingleFileName", QString(), 128, 104, 189, 25);
    SingleStatus = makeLabel(this, "SingleStatus", QStringLiteral("Status:"), 56, 144, 49, 21);
    SingleBar = makeBar(this, "SingleBar", 120, 140, 181, 29);
    SinglePct = makeLabel(this, "SinglePct", QStringLiteral("100 %"), 310, 144, 41, 23);
    Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));
    placeControl(Cancel, 144, 182, 67, 29);
    connect(Cancel, &QPushButton::clicked, this, [this] { Cancel_Click(); });
    TotalBar->setAccessibleName(QStringLiteral("Total Status"));
    SingleBar->setAccessibleName(QStringLiteral("File Status"));
    nameControls(this);

    Timer1.setObjectName(QStringLiteral("Timer1"));
    Timer1.setInterval(testDelays() ? testDelays()->startMs : 500);
    connect(&Timer1, &QTimer::timeout, this, [this] { Timer1_Timer(); });

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
    Timer1.start();
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
        Timer1.stop();
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
    Timer1.stop();
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
    TotalFileLeft->setText(text);
}

void FileCompressWindow::setSingleFileName(const QString& text) {
    // A long name is shortened in the middle; the whole name is in the tool tip.
    SingleFileName->setToolTip(text);
    SingleFileName->setText(
        SingleFileName->fontMetrics().elidedText(text, Qt::ElideMiddle, SingleFileName->width()));
}

void FileCompressWindow::setTotalPct(const QString& text) {
    TotalPct->setText(text);
}
void FileCompressWindow::setSinglePct(const QString& text) {
    SinglePct->setText(text);
}
void FileCompressWindow::setTotalBar(float value) {
    TotalBar->setBarValue(value);
}
void FileCompressWindow::setSingleBar(float value) {
    SingleBar->setBarValue(value);
}

void FileCompressWindow::setTimerEnabled(bool enabled) {
    if (enabled) {
        Timer1.start();
    } else {
        Timer1.stop();
    }
}

void FileCompressWindow::setTimerInterval(int milliseconds) {
    // The engine sets an interval only for the close after a successful run.
    Timer1.setInterval(testDelays() ? testDelays()->closeMs : milliseconds);
}

void FileCompressWindow::showMessage(const QString& text, const QString& details) {
    pixavant::showMessage(this, text, details);
}

void FileCompressWindow::closeWindow() {
    closing_ = true;
    Timer1.stop();
    done(QDialog::Accepted);
}

void FileCompressWindow::progressStatus(int16_t percent, const batch::RunState& state) {
    const batch::ProgressDisplay display = batch::progressDisplay(percent, state);
    SingleBar->setBarValue(display.singleBar);
    SinglePct->setText(batch::singlePctText(SingleBar->barValue()));
    TotalBar->setBarValue(float(display.totalBar));
    TotalPct->setText(display.totalPct);
}

void FileCompressWindow::fileConverted(const QString& sourcePath, const QString& outputPath) {
    totals_.add(sourcePath, outputPath);
}

void openFileCompress(QWidget* parent, RunLists& lists) {
    FileCompressWindow window(lists, parent);
    window.exec();
}

}  // namespace pixavant
