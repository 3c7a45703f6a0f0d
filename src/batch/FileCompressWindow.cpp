#include "batch/FileCompressWindow.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <algorithm>
#include <cmath>

#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "app/Message.h"
#include "app/WindowLooks.h"
#include "batch/ProgressMath.h"
#include "options/FormLayout.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

std::optional<FileCompressWindow::Delays>& testDelays() {
    static std::optional<FileCompressWindow::Delays> delays;
    return delays;
}

// Passes over the pending events per progress notification.
constexpr int kEventPasses = 8;

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
    : QDialog(parent), lists_(lists) {
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

    engine_ = std::make_unique<batch::BatchEngine>(static_cast<batch::BatchView&>(*this),
                                                   compressionSettings(), appState().SourceDir);
    Form_Load();
    Timer1.start();
}

FileCompressWindow::~FileCompressWindow() = default;

void FileCompressWindow::setDelaysForTesting(std::optional<Delays> delays) {
    testDelays() = delays;
}

void FileCompressWindow::Form_Load() {
    // The engine takes the file count and the byte total of the work list, resets the bars and
    // percentages and switches the progress notifications on.
    engine_->load();
}

void FileCompressWindow::Timer1_Timer() {
    running_ = !engine_->state().Finished;
    engine_->timerEvent();
    running_ = false;
}

void FileCompressWindow::Cancel_Click() {
    close();
}

void FileCompressWindow::reject() {
    // Closing during a run abandons the file in progress and skips the rest; the engine touches
    // the window no more.
    if (running_)
        engine_->cancel();
    Timer1.stop();
    closing_ = true;
    QDialog::reject();
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
    imaging::ImagingControl& control = engine_->control();
    control.setEnableProgressEvent(false);

    const batch::ProgressDisplay display = batch::progressDisplay(percent, state);
    SingleBar->setBarValue(display.singleBar);
    SinglePct->setText(batch::singlePctText(SingleBar->barValue()));
    TotalBar->setBarValue(float(display.totalBar));
    TotalPct->setText(display.totalPct);

    // The only place where the window is serviced during a run: painting, moving, "Cancel".
    for (int pass = 0; pass < kEventPasses && !closing_; ++pass) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }

    if (!closing_)
        control.setEnableProgressEvent(true);
}

RunLists& mainWindowLists() {
    // The main window's work list, source list and source count label (Label1).
    struct MainWindowLists final : RunLists {
        static MainWindow* window() { return MainWindow::instance(); }
        int workCount() const override { return window() ? window()->workList()->count() : 0; }
        QString workEntry(int index) const override {
            return window() ? window()->workList()->itemText(index) : QString();
        }
        int sourceCount() const override { return window() ? window()->sourceList()->count() : 0; }
        QString sourceEntry(int index) const override {
            return window() ? window()->sourceList()->itemText(index) : QString();
        }
        void addSourceEntry(const QString& entry) override {
            if (window())
                window()->sourceList()->addItem(entry);
        }
        void setSourceCountLabel(const QString& text) override {
            if (window())
                window()->sourceCountLabel()->setText(text);
        }
    };
    static MainWindowLists lists;
    return lists;
}

void openFileCompress(QWidget* parent) {
    FileCompressWindow window(mainWindowLists(), parent);
    window.exec();
}

}  // namespace pixavant
