#include <QFileInfo>
#include <algorithm>

#include "batch/BatchEngine.h"
#include "batch/BatchRules.h"
#include "batch/ProgressMath.h"
#include "cli/Cli.h"
#include "cli/ConvertOptions.h"
#include "imaging/ImagingStatus.h"
#include "settings/CompressionSettings.h"

namespace pixavant::cli {

namespace {

// Refuses a job in which two files would be written to one output file, before anything is
// written. False (and the message printed) when it is refused.
bool outputNamesAreDistinct(const ConvertJob& job, CliIo& io) {
    QStringList sources;
    QStringList outputs;
    for (const SourceGroup& group : job.groups) {
        const QString dir = job.outputDir.isEmpty() ? group.sourceDir : job.outputDir;
        for (const QString& name : group.names) {
            sources << group.sourceDir + name;
            outputs << dir + batch::outputFileName(name, job.outputExt);
        }
    }
    const std::vector<batch::OutputClash> clashes = batch::findOutputClashes(sources, outputs);
    if (clashes.empty())
        return true;
    io.err << "pixavant: "
           << batch::outputClashText(clashes).replace('\n', QStringLiteral("\npixavant: ")) << "\n";
    io.err.flush();
    return false;
}

// The terminal's progress line: a bar, the whole-run percentage, the file count and name.
class ProgressLine {
  public:
    explicit ProgressLine(CliIo& io) : io_(io) {}

    void draw(int percent, int fileNumber, int fileCount, const QString& name) {
        if (!io_.terminal)
            return;
        constexpr int kBarWidth = 24;
        const int filled = percent * kBarWidth / 100;
        const QString bar = QLatin1Char('[') + QString(filled, QLatin1Char('#')) +
                            QString(kBarWidth - filled, QLatin1Char('.')) + QLatin1Char(']');
        QString line = QStringLiteral("%1 %2 % %3/%4 %5")
                           .arg(bar)
                           .arg(percent, 3)
                           .arg(fileNumber)
                           .arg(fileCount)
                           .arg(name);
        const int width = std::max(20, io_.terminalWidth - 1);
        if (line.size() > width)
            line = line.left(width - 3) + QStringLiteral("...");
        if (shown_ && line == last_)
            return;
        io_.out << '\r' << line.leftJustified(last_.size());
        io_.out.flush();
        last_ = line;
        shown_ = true;
    }

    // Ends the line, if one is shown, so that a message starts on a line of its own.
    void end() {
        if (shown_)
            io_.out << "\n";
        io_.out.flush();
        shown_ = false;
        last_.clear();
    }

  private:
    CliIo& io_;
    QString last_;
    bool shown_ = false;
};

// Drives one engine run for the files of one directory, reporting to the terminal or a log.
class CliBatchView final : public batch::BatchView {
  public:
    CliBatchView(CliIo& io, ProgressLine& line, const QStringList& names, int64_t bytesBefore,
                 int64_t bytesAll, int filesBefore, int filesAll)
        : io_(io),
          line_(line),
          bytesBefore_(bytesBefore),
          bytesAll_(bytesAll),
          filesBefore_(filesBefore),
          filesAll_(filesAll) {
        for (const QString& name : names)
            work_ << QLatin1Char(' ') + name;
    }

    void setEngine(batch::BatchEngine* engine) { engine_ = engine; }

    void setTotalFileLeft(const QString&) override {}
    void setSingleFileName(const QString& text) override {
        name_ = text;
        ++started_;
        drawBar(lastPercent_);
    }
    void setTotalPct(const QString&) override {}
    void setSinglePct(const QString&) override {}
    void setTotalBar(float) override {}
    void setSingleBar(float) override {}
    void setTimerEnabled(bool) override {}
    void setTimerInterval(int) override {}
    int workCount() const override { return int(work_.size()); }
    QString workEntry(int index) const override { return work_.value(index); }
    int sourceCount() const override { return int(sources_.size()); }
    QString sourceEntry(int index) const override { return sources_.value(index); }
    void addSourceEntry(const QString& entry) override { sources_ << entry; }
    void setSourceCountLabel(const QString&) override {}
    void closeWindow() override {}

    void showMessage(const QString& text, const QString&) override {
        line_.end();
        io_.err << "pixavant: " << name_ << ": " << text;
        const QString reason = engine_ ? engine_->failureReason() : QString();
        if (!reason.isEmpty())
            io_.err << " (" << reason << ")";
        io_.err << "\n";
        io_.err.flush();
    }

    void progressStatus(int16_t percent, const batch::RunState& state) override {
        if (io_.interrupted()) {
            if (engine_)
                engine_->cancel();
            return;
        }
        drawBar(batch::totalPercent(percent, state.Saving, state.CurrentBytes,
                                    bytesBefore_ + state.DoneBytes, bytesAll_));
    }

    void fileConverted(const QString& sourcePath, const QString& outputPath) override {
        if (io_.terminal)
            return;
        io_.out << sourcePath << " -> " << outputPath << "\n";
        io_.out.flush();
    }

    void drawBar(int percent) {
        lastPercent_ = percent;
        line_.draw(percent, filesBefore_ + started_, filesAll_, name_);
    }

  private:
    CliIo& io_;
    ProgressLine& line_;
    batch::BatchEngine* engine_ = nullptr;
    QStringList work_;
    QStringList sources_;
    QString name_;
    int64_t bytesBefore_;
    int64_t bytesAll_;
    int filesBefore_;
    int filesAll_;
    int started_ = 0;
    int lastPercent_ = 0;
};

}  // namespace

int runConvert(const QStringList& args, CliIo& io) {
    const ConvertParse parse = parseConvert(args);
    if (parse.help) {
        io.out << usageText();
        return kExitOk;
    }
    if (!parse.error.isEmpty()) {
        io.err << "pixavant: " << parse.error << " (see pixavant --help)\n";
        return kExitUsage;
    }
    const ConvertJob& job = parse.job;
    if (!outputNamesAreDistinct(job, io))
        return kExitUsage;

    int64_t bytesAll = 0;
    for (const QString& path : job.sourcePaths)
        bytesAll += QFileInfo(path).size();
    int64_t bytesBefore = 0;
    int filesBefore = 0;
    const int filesAll = int(job.sourcePaths.size());

    // The one settings record, filled as the options and output dialogs would fill it.
    CompressionSettings& settings = compressionSettings();
    ProgressLine line(io);
    for (const SourceGroup& group : job.groups) {
        if (io.interrupted())
            break;
        settings = job.settings;
        settings.OutputDir = job.outputDir.isEmpty() ? group.sourceDir : job.outputDir;
        settings.OutputExt = job.outputExt;

        CliBatchView view(io, line, group.names, bytesBefore, bytesAll, filesBefore, filesAll);
        batch::BatchEngine engine(view, settings, group.sourceDir);
        view.setEngine(&engine);
        engine.addProtectedPaths(job.sourcePaths);
        engine.load();
        engine.timerEvent();
        switch (engine.outcome()) {
            case batch::BatchEngine::Outcome::Completed:
                break;
            case batch::BatchEngine::Outcome::Cancelled:
                line.end();
                io.err << "pixavant: interrupted; " << engine.failedFile()
                       << " was abandoned and nothing of it written\n";
                return kExitInterrupted;
            default:
                return kExitFailed;
        }
        view.drawBar(
            batch::totalPercent(100, true, 0, bytesBefore + engine.state().DoneBytes, bytesAll));
        bytesBefore += engine.state().TotalBytes;
        filesBefore += int(group.names.size());
    }
    line.end();
    if (io.interrupted()) {
        io.err << "pixavant: interrupted\n";
        return kExitInterrupted;
    }
    if (io.terminal) {
        io.out << filesAll << (filesAll == 1 ? " file" : " files") << " converted\n";
        io.out.flush();
    }
    return kExitOk;
}

}  // namespace pixavant::cli
