// How often a batch run services the progress window: runs the engine over a directory of photos
// with the start-up settings and reports the longest time
// between two progress notifications, and between the start and end of each step without any.
// The progress window handles "Cancel" and repaints only inside these notifications.
//
//   progress_gaps DIR      (for example the shared benchmark photos)
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <cstdio>

#include "batch/BatchEngine.h"
#include "batch/BatchView.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

class GapView : public batch::BatchView {
  public:
    explicit GapView(QStringList files) : files_(std::move(files)) { clock_.start(); }

    void setTotalFileLeft(const QString&) override {}
    void setSingleFileName(const QString& name) override {
        finishFile();
        current_ = name;
        last_ = clock_.nsecsElapsed();
        fileGap_ = 0;
    }
    void setTotalPct(const QString&) override {}
    void setSinglePct(const QString&) override {}
    void setTotalBar(float) override {}
    void setSingleBar(float) override {}
    void setTimerEnabled(bool) override {}
    void setTimerInterval(int) override {}
    int workCount() const override { return int(files_.size()); }
    QString workEntry(int index) const override { return QLatin1Char(' ') + files_.at(index); }
    int sourceCount() const override { return 0; }
    QString sourceEntry(int) const override { return {}; }
    void addSourceEntry(const QString&) override {}
    void setSourceCountLabel(const QString&) override {}
    void showMessage(const QString& text, const QString&) override {
        std::printf("message: %s\n", qPrintable(text));
    }
    void closeWindow() override {}
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
        std::printf("%-45s longest gap %7.1f ms\n", qPrintable(current_), double(fileGap_) / 1e6);
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

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: progress_gaps DIR\n");
        return 2;
    }
    const QString dir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + QLatin1Char('/');
    const QStringList files = QDir(dir).entryList({"*.jpg", "*.JPG", "*.tif"}, QDir::Files);
    if (files.isEmpty()) {
        std::fprintf(stderr, "no photos in %s\n", qPrintable(dir));
        return 1;
    }
    QTemporaryDir out;
    CompressionSettings settings = CompressionSettings::defaults(dir);
    settings.Dpi = 72;
    settings.BitsPerPixel = 24;
    settings.FileFormat = 10;
    settings.QualityFactor = 2;
    settings.OutputExt = QStringLiteral("JPG");
    settings.OutputDir = out.path() + QLatin1Char('/');

    GapView view(files);
    batch::BatchEngine engine(view, settings, dir);
    engine.load();
    QElapsedTimer total;
    total.start();
    engine.timerEvent();
    view.finishFile();
    std::printf("%lld files in %.2f s, %d notifications; longest gap %.1f ms (aim: 100 ms)\n",
                static_cast<long long>(files.size()), double(total.nsecsElapsed()) / 1e9,
                view.notifications(), double(view.worst()) / 1e6);
    return 0;
}
