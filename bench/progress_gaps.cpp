// How the progress window keeps up with a batch run, on a directory of photos:
//
//  1. Gaps: the engine runs on a worker thread, as in the progress window, and hands its progress
//     notifications to this thread; the longest time between two of them (and from the start of a
//     file to its first, and from its last to the file written) over the whole run. Also the
//     longest time this thread's event loop was kept from a 5 ms timer (the window's liveliness).
//  2. Cancel: the progress window itself (offscreen) runs the same work list and "Cancel" is
//     clicked at evenly spread moments of the run; for each, the time until the window has closed
//     and until the worker has stopped, and whether anything partial is left in the output
//     directory (a temporary file, or an output that does not load completely).
//
//   progress_gaps [--dpi N] [--format jpeg|pixavant|pixavant-lossless] [--samples N] [--load N]
//                 DIR
//
// Defaults: 200 dpi, JPEG at quality factor 2, 24-bit, 12 cancel samples, 2 busy processes
// (`yes`) loading the machine meanwhile (--load 0 for none). Run it on the shared photos:
//
//   QT_QPA_PLATFORM=offscreen build/bench/progress_gaps ../shared/testdata/photos
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "batch/BatchEngine.h"
#include "batch/BatchView.h"
#include "batch/ThreadedBatchView.h"
#include "compress/FileCompressWindow.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

struct Options {
    QString dir;
    int dpi = 200;
    QString format = QStringLiteral("jpeg");
    int samples = 12;
    int load = 2;
};

// Receives the worker's notifications on this thread and times the gaps between them.
class GapView : public batch::HeadlessBatchView {
  public:
    explicit GapView(QStringList files) : files_(std::move(files)) { clock_.start(); }

    void setSingleFileName(const QString& name) override {
        finishFile();
        current_ = name;
        last_ = clock_.nsecsElapsed();
        fileGap_ = 0;
    }
    int workCount() const override { return int(files_.size()); }
    QString workEntry(int index) const override { return QLatin1Char(' ') + files_.at(index); }
    int sourceCount() const override { return 0; }
    QString sourceEntry(int) const override { return {}; }
    void addSourceEntry(const QString&) override {}
    void showMessage(const QString& text, const QString&) override {
        std::printf("message: %s\n", qPrintable(text));
    }
    void progressStatus(int16_t percent, const batch::RunState& state) override {
        const qint64 now = clock_.nsecsElapsed();
        if (now - last_ > 100'000'000) {
            std::printf("  %.1f ms before %s %d %%\n", double(now - last_) / 1e6,
                        state.Saving ? "saving" : "loading", percent);
        }
        fileGap_ = std::max(fileGap_, now - last_);
        last_ = now;
        ++notifications_;
    }
    void fileConverted(const QString&, const QString&) override {
        const qint64 now = clock_.nsecsElapsed();
        fileGap_ = std::max(fileGap_, now - last_);
        last_ = now;
    }
    void finishFile() {
        if (current_.isEmpty())
            return;
        std::printf("  %-45s longest gap %7.1f ms\n", qPrintable(current_), double(fileGap_) / 1e6);
        worst_ = std::max(worst_, fileGap_);
        current_.clear();
    }
    qint64 worst() const { return worst_; }
    int notifications() const { return notifications_; }

  private:
    QStringList files_;
    QElapsedTimer clock_;
    QString current_;
    qint64 last_ = 0;
    qint64 fileGap_ = 0;
    qint64 worst_ = 0;
    int notifications_ = 0;
};

// On the worker's side: times the notifications as the engine makes them, then passes every call
// on, so that a gap the worker made can be told from one this thread took to deliver.
class ProducedGaps : public batch::BatchView {
  public:
    explicit ProducedGaps(batch::BatchView& next) : next_(next) { clock_.start(); }

    void setTotalFileLeft(const QString& t) override { next_.setTotalFileLeft(t); }
    void setSingleFileName(const QString& t) override {
        mark(false);
        next_.setSingleFileName(t);
    }
    void setTotalPct(const QString& t) override { next_.setTotalPct(t); }
    void setSinglePct(const QString& t) override { next_.setSinglePct(t); }
    void setTotalBar(float v) override { next_.setTotalBar(v); }
    void setSingleBar(float v) override { next_.setSingleBar(v); }
    void setTimerEnabled(bool on) override { next_.setTimerEnabled(on); }
    void setTimerInterval(int ms) override { next_.setTimerInterval(ms); }
    int workCount() const override { return next_.workCount(); }
    QString workEntry(int i) const override { return next_.workEntry(i); }
    int sourceCount() const override { return next_.sourceCount(); }
    QString sourceEntry(int i) const override { return next_.sourceEntry(i); }
    void addSourceEntry(const QString& e) override { next_.addSourceEntry(e); }
    void setSourceCountLabel(const QString& t) override { next_.setSourceCountLabel(t); }
    void addToSourceList(const QString& e) override { next_.addToSourceList(e); }
    void showMessage(const QString& t, const QString& d) override { next_.showMessage(t, d); }
    void closeWindow() override { next_.closeWindow(); }
    void progressStatus(int16_t percent, const batch::RunState& state) override {
        mark(true);
        next_.progressStatus(percent, state);
    }
    void fileConverted(const QString& s, const QString& o) override {
        mark(true);
        next_.fileConverted(s, o);
    }
    qint64 worst() const { return worst_; }

  private:
    void mark(bool measure) {
        const qint64 now = clock_.nsecsElapsed();
        if (measure)
            worst_ = std::max(worst_, now - last_);
        last_ = now;
    }
    batch::BatchView& next_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
    qint64 worst_ = 0;
};

// The work list the window reads: every photo of the directory.
struct PhotoLists : RunLists {
    QStringList work;
    int workCount() const override { return int(work.size()); }
    QString workEntry(int index) const override { return work.at(index); }
    int sourceCount() const override { return 0; }
    QString sourceEntry(int) const override { return {}; }
    void addSourceEntry(const QString&) override {}
    void setSourceCountLabel(const QString&) override {}
};

CompressionSettings settingsFor(const Options& o, const QString& dir, const QString& out) {
    CompressionSettings s = CompressionSettings::defaults(dir);
    s.Dpi = int16_t(o.dpi);
    s.BitsPerPixel = 24;
    s.FileFormat = 10;
    s.QualityFactor = 2;
    if (o.format == QLatin1String("pixavant")) {
        s.FileFormat = 5;
        s.QualityFactor = -1;
    } else if (o.format == QLatin1String("pixavant-lossless")) {
        s.FileFormat = 30;
    }
    s.OutputExt =
        s.FileFormat == imaging::format::kJpeg444 ? QStringLiteral("JPG") : QStringLiteral("JXL");
    s.OutputDir = out + QLatin1Char('/');
    return s;
}

// The first measurement: the gaps between progress reports. Returns the run's length in
// milliseconds.
double measureGaps(const Options& o, const QString& dir, const QStringList& files) {
    QTemporaryDir out;
    const CompressionSettings settings = settingsFor(o, dir, out.path());
    GapView view(files);
    QObject context;
    batch::ThreadedBatchView threaded(view, &context);
    ProducedGaps produced(threaded);
    batch::BatchEngine engine(produced, settings, dir);
    engine.load();

    // How late a 5 ms timer fires on this thread while the worker converts.
    QElapsedTimer tick;
    qint64 worstLate = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        worstLate = std::max(worstLate, tick.nsecsElapsed() - 5'000'000);
        tick.restart();
    });

    QElapsedTimer total;
    total.start();
    bool done = false;
    std::thread worker([&] {
        engine.timerEvent();
        QMetaObject::invokeMethod(
            &context, [&] { done = true; }, Qt::QueuedConnection);
    });
    tick.start();
    timer.start(5);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    worker.join();
    QCoreApplication::processEvents();
    view.finishFile();
    const double ms = double(total.nsecsElapsed()) / 1e6;
    std::printf(
        "gaps: %lld files in %.2f s, %d notifications; longest gap %.1f ms as received"
        " (aim: 100 ms), %.1f ms as the worker made them; event loop at most %.1f ms"
        " late\n",
        static_cast<long long>(files.size()), ms / 1000, view.notifications(),
        double(view.worst()) / 1e6, double(produced.worst()) / 1e6, double(worstLate) / 1e6);
    return ms;
}

// What is left in the output directory: temporary files, and outputs that do not load.
QStringList partialFiles(const QString& out) {
    QStringList partial;
    const QDir dir(out);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        if (name.startsWith(QLatin1Char('.'))) {
            partial << name;
            continue;
        }
        imaging::ImagingControl control;
        if (control.load(dir.filePath(name), 0) != 0)
            partial << name;
    }
    return partial;
}

struct CancelSample {
    double at = 0;        // ms after the window opened
    double closed = 0;    // ms from the moment meant for the click to the window closed
    double stopped = 0;   // ms from the moment meant for the click to the worker stopped
    int outputs = 0;      // complete outputs written before the cancel
    QStringList partial;  // left behind
};

CancelSample cancelAt(const Options& o, const QString& dir, const QStringList& files, double at) {
    QTemporaryDir out;
    compressionSettings() = settingsFor(o, dir, out.path());
    appState().SourceDir = dir;
    PhotoLists lists;
    for (const QString& f : files)
        lists.work << QLatin1Char(' ') + f;

    CancelSample sample;
    sample.at = at;
    FileCompressWindow window(lists);
    window.show();
    // Times count from the moment the click is meant for: a late timer is a click the window
    // was too busy to take.
    QElapsedTimer clock;
    bool clicked = false;
    QTimer::singleShot(int(at), Qt::PreciseTimer, &window, [&] {
        clicked = true;
        window.findChild<QPushButton*>(QStringLiteral("Cancel"))->click();
    });
    QObject::connect(&window, &QDialog::finished, [&] {
        if (clicked)
            sample.closed = std::max(0.0, double(clock.nsecsElapsed()) / 1e6 - at);
    });
    clock.start();
    window.exec();
    window.waitForWorker(600000);
    if (clicked)
        sample.stopped = std::max(0.0, double(clock.nsecsElapsed()) / 1e6 - at);
    sample.partial = partialFiles(out.path());
    sample.outputs =
        int(QDir(out.path()).entryList(QDir::Files).size()) - int(sample.partial.size());
    return sample;
}

void measureCancels(const Options& o, const QString& dir, const QStringList& files, double runMs) {
    FileCompressWindow::setDelaysForTesting(FileCompressWindow::Delays{0, 600000});
    std::vector<CancelSample> samples;
    for (int i = 0; i < o.samples; ++i) {
        // Evenly spread over the run, offset so that no two runs cancel at the same phase.
        const double at = runMs * (i + 0.5) / o.samples;
        const CancelSample s = cancelAt(o, dir, files, at);
        std::printf(
            "  cancel at %7.0f ms: closed after %6.1f ms, worker stopped after %7.1f ms,"
            " %d complete outputs, partial: %s\n",
            s.at, s.closed, s.stopped, s.outputs,
            s.partial.isEmpty() ? "none" : qPrintable(s.partial.join(QStringLiteral(", "))));
        samples.push_back(s);
    }
    double worstClosed = 0, worstStopped = 0;
    int partial = 0;
    for (const CancelSample& s : samples) {
        worstClosed = std::max(worstClosed, s.closed);
        worstStopped = std::max(worstStopped, s.stopped);
        partial += int(s.partial.size());
    }
    std::printf(
        "cancel: %d samples; window closed within %.1f ms (aim: 250 ms); worker stopped"
        " within %.1f ms; %d partial files\n",
        int(samples.size()), worstClosed, worstStopped, partial);
}

bool parse(const QStringList& args, Options& o) {
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        const bool hasValue = i + 1 < args.size();
        if (a == QLatin1String("--dpi") && hasValue)
            o.dpi = args.at(++i).toInt();
        else if (a == QLatin1String("--format") && hasValue)
            o.format = args.at(++i);
        else if (a == QLatin1String("--samples") && hasValue)
            o.samples = args.at(++i).toInt();
        else if (a == QLatin1String("--load") && hasValue)
            o.load = args.at(++i).toInt();
        else if (!a.startsWith(QLatin1String("--")) && o.dir.isEmpty())
            o.dir = a;
        else
            return false;
    }
    return !o.dir.isEmpty() && o.dpi > 0 && o.samples >= 0 && o.load >= 0 &&
           (o.format == QLatin1String("jpeg") || o.format == QLatin1String("pixavant") ||
            o.format == QLatin1String("pixavant-lossless"));
}

double loadAverage() {
    double load = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each line as it comes, also into a file
    QApplication app(argc, argv);
    Options o;
    if (!parse(app.arguments(), o)) {
        std::fprintf(stderr,
                     "usage: progress_gaps [--dpi N] [--format jpeg|pixavant|pixavant-lossless]"
                     " [--samples N] [--load N] DIR\n");
        return 2;
    }
    const QString dir = QDir(o.dir).absolutePath() + QLatin1Char('/');
    const QStringList files = QDir(dir).entryList({"*.jpg", "*.JPG", "*.tif"}, QDir::Files);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no photos in %s\n", qPrintable(dir));
        return 1;
    }

    // Busy processes, so that the figures hold on a loaded machine.
    std::vector<std::unique_ptr<QProcess>> busy;
    for (int i = 0; i < o.load; ++i) {
        auto p = std::make_unique<QProcess>();
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(QStringLiteral("yes"), {});
        busy.push_back(std::move(p));
    }
    std::printf("%lld photos, %d dpi, %s, %d busy processes, %d cores, load average %.2f\n",
                static_cast<long long>(files.size()), o.dpi, qPrintable(o.format), o.load,
                QThread::idealThreadCount(), loadAverage());

    const double runMs = measureGaps(o, dir, files);
    if (o.samples > 0)
        measureCancels(o, dir, files, runMs);

    std::printf("load average at the end %.2f\n", loadAverage());
    for (auto& p : busy) {
        p->kill();
        p->waitForFinished();
    }
    FileCompressWindow::waitForAllWorkers();
    return 0;
}
