#include <fcntl.h>
#include <sys/stat.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "batch/BatchRules.h"
#include "batch/Manifest.h"
#include "batch/RunTotals.h"
#include "cli/Cli.h"
#include "cli/ConvertOptions.h"
#include "cli/ConvertRunner.h"
#include "cli/SourceList.h"
#include "imaging/FileNames.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::cli {

namespace {

// The clashes that refused a run shown at most.
constexpr size_t kClashesShown = 20;

// Says why a run was refused: the files that would be written to one output file.
void reportClashes(const ConvertJob& job, const RunSummary& summary, CliIo& io) {
    std::vector<batch::OutputClash> shown;
    for (const batch::OutputClash& clash : summary.clashes) {
        if (shown.size() == kClashesShown)
            break;
        batch::OutputClash named{imaging::displayFileName(clash.output), {}};
        for (const QString& source : clash.sources)
            named.sources << imaging::displayFileName(source);
        shown.push_back(named);
    }
    QString text = batch::outputClashText(shown);
    if (summary.clashingOutputs > int64_t(shown.size()))
        text.insert(text.lastIndexOf(QLatin1Char('\n')) + 1,
                    QStringLiteral("... %1 output files in all would each be written by more than "
                                   "one file.\n")
                        .arg(summary.clashingOutputs));
    if (!job.fullNames)
        text +=
            QStringLiteral(
                "\nGive --full-names to name each output up to the last dot of its source's name "
                "instead of the first (2024.06.01 beach.jpg -> 2024.06.01 beach.%1).")
                .arg(job.outputExt);
    io.err << "pixavant: " << text.replace('\n', QStringLiteral("\npixavant: ")) << "\n";
    io.err.flush();
}

// Makes the output directory that --output names when it is missing, and says so. False (and why
// printed) when it cannot be made.
bool makeOutputDirectory(const ConvertJob& job, CliIo& io) {
    if (!job.makeOutputDir)
        return true;
    const QString shown = imaging::displayFileName(job.outputDir);
    if (!imaging::makeDirectories(job.outputDir)) {
        io.err << "pixavant: --output: the folder " << shown << " cannot be made ("
               << imaging::failureCause(errno) << ")\n";
        io.err.flush();
        return false;
    }
    io.err << "pixavant: made the folder " << shown << "\n";
    io.err.flush();
    return true;
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
        // Unchanged: shown already, or shown before a message and still true.
        if (line == last_)
            return;
        io_.out << '\r' << line.leftJustified(shown_ ? last_.size() : 0);
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
    }

  private:
    CliIo& io_;
    QString last_;
    bool shown_ = false;
};

// Gives `output` the modification time of `source`, to the nanosecond. False with `error` set
// when it cannot.
bool carryModificationTime(const QString& source, const QString& output, QString& error) {
    struct stat st {};
    if (::stat(imaging::encodeFileName(source).constData(), &st) == 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        if (::utimensat(AT_FDCWD, imaging::encodeFileName(output).constData(), times, 0) == 0)
            return true;
    }
    error = imaging::failureCause(errno);
    return false;
}

// How an output was checked, as the per-file line says it.
QString verificationText(const imaging::Verification& check) {
    switch (check.method) {
        case imaging::VerifyMethod::Identical:
            return QStringLiteral("verified: identical pixels");
        case imaging::VerifyMethod::JpegReconstruction:
            return QStringLiteral("verified: the source JPEG rebuilt byte for byte");
        case imaging::VerifyMethod::Psnr:
            return QStringLiteral("verified: PSNR %1 dB, floor %2 dB")
                .arg(check.psnr, 0, 'f', 2)
                .arg(check.floor, 0, 'f', 2);
        case imaging::VerifyMethod::None:
            break;
    }
    return QStringLiteral("not verified");
}

// The files a converted source wrote: one, or one per page.
std::vector<batch::WrittenOutput> writtenOf(const FileOutcome& outcome) {
    if (!outcome.written.empty())
        return outcome.written;
    return {{outcome.output, 0, outcome.verification}};
}

// Reports a run: one line per file in list order, or one bar for the whole run on a terminal
// (with --verify, the line of each file as well), and every failure. Writes the manifest's
// lines in list order.
class CliReporter final : public RunListener {
  public:
    CliReporter(CliIo& io, ProgressLine& line, const ConvertJob& job,
                batch::ManifestWriter* manifest)
        : io_(io), line_(line), job_(job), manifest_(manifest) {}

    bool manifestFailed() const { return manifestFailed_; }
    const batch::RunTotals& totals() const { return totals_; }

    void finished(const FileOutcome& outcome) override {
        switch (outcome.result) {
            case FileOutcome::Result::Converted:
                for (const QString& note : outcome.notes) {
                    line_.end();
                    io_.err << "pixavant: " << shown(outcome.source) << ": " << note << "\n";
                }
                for (const batch::WrittenOutput& written : writtenOf(outcome)) {
                    if (job_.verify) {
                        line_.end();
                        io_.out << shown(outcome.source) << " -> " << shown(written.path) << " ("
                                << verificationText(written.verification) << ")\n";
                    } else if (!io_.terminal) {
                        io_.out << shown(outcome.source) << " -> " << shown(written.path) << "\n";
                    }
                }
                writeRecord(outcome);
                totals_.add(outcome.source, outcome.output);
                break;
            case FileOutcome::Result::Skipped:
                if (!io_.terminal)
                    io_.out << shown(outcome.source) << " -> " << shown(outcome.output)
                            << " (already there, skipped)\n";
                break;
            case FileOutcome::Result::Failed: {
                line_.end();
                io_.err << "pixavant: " << shown(outcome.source) << ": " << outcome.message;
                const QString detail =
                    outcome.detail.isEmpty() ? batch::failureReason(outcome.code) : outcome.detail;
                if (!detail.isEmpty())
                    io_.err << " (" << detail << ")";
                io_.err << "\n";
                break;
            }
            case FileOutcome::Result::Abandoned:
                stopping_ = true;  // the bar would only interrupt these lines
                line_.end();
                io_.err << "pixavant: " << shown(outcome.source) << ": abandoned ("
                        << outcome.detail << "); nothing of it was written\n";
                break;
        }
        io_.out.flush();
        io_.err.flush();
    }

    void progress(const RunProgress& progress) override {
        if (!io_.terminal || stopping_)
            return;
        int percent = 100;
        if (progress.finished < progress.total) {
            const double done = double(progress.finished) + progress.inProgress;
            percent = std::clamp(int(done * 100.0 / double(progress.total)), 0, 99);
        }
        line_.draw(percent, int(std::min<int64_t>(progress.finished, INT32_MAX)),
                   int(std::min<int64_t>(progress.total, INT32_MAX)),
                   imaging::displayFileName(QFileInfo(progress.latest).fileName()));
    }

  private:
    static QString shown(const QString& path) { return imaging::displayFileName(path); }

    void writeRecord(const FileOutcome& outcome) {
        if (manifest_ == nullptr || manifestFailed_ || manifest_->writeLine(outcome.record))
            return;
        manifestFailed_ = true;
        line_.end();
        io_.err << "pixavant: " << shown(job_.manifestPath)
                << ": the manifest cannot be written; the files after " << shown(outcome.source)
                << " are not recorded\n";
    }

    CliIo& io_;
    ProgressLine& line_;
    const ConvertJob& job_;
    batch::ManifestWriter* manifest_;
    bool stopping_ = false;
    bool manifestFailed_ = false;
    batch::RunTotals totals_;
};

QString filesText(int64_t count) {
    return QString::number(count) +
           (count == 1 ? QStringLiteral(" file") : QStringLiteral(" files"));
}

// After each write with --keep-dates: every output gets its source's modification time, or the
// file fails saying so.
void giveSourceDate(FileOutcome& outcome) {
    QString error;
    for (const batch::WrittenOutput& written : writtenOf(outcome)) {
        if (carryModificationTime(outcome.source, written.path, error))
            continue;
        outcome.result = FileOutcome::Result::Failed;
        outcome.code = imaging::kErrWrite;
        outcome.message = QStringLiteral("The date of %1 could not be set.")
                              .arg(imaging::displayFileName(QFileInfo(written.path).fileName()));
        outcome.detail = QStringLiteral("the output is written, with today's date: ") + error;
        return;
    }
}

// After each write with --manifest: the lines the manifest gets for the file's outputs, with
// paths relative to the manifest's folder.
void makeManifestRecord(const QString& manifestPath, FileOutcome& outcome) {
    const QString cwd = imaging::currentDirectory();
    const QString manifestDir = manifestPath.left(manifestPath.lastIndexOf(QLatin1Char('/')) + 1);
    QByteArrayList lines;
    for (const batch::WrittenOutput& written : writtenOf(outcome)) {
        batch::ManifestEntry entry = batch::describeConversion(
            absoluteCleanPath(outcome.source, cwd), absoluteCleanPath(written.path, cwd),
            outcome.formatCode, written.verification);
        entry.page = written.page;
        entry.source = batch::manifestRelativePath(entry.source, manifestDir);
        entry.output = batch::manifestRelativePath(entry.output, manifestDir);
        lines << batch::toJsonLine(entry);
    }
    outcome.record = lines.join('\n');
}

// The last line on a terminal: what the run did, and the bytes it saved.
void printTotals(const RunSummary& summary, const batch::RunTotals& totals, CliIo& io) {
    io.out << filesText(summary.converted) << " converted";
    if (summary.skipped > 0)
        io.out << ", " << summary.skipped << " skipped";
    if (summary.failed > 0)
        io.out << ", " << summary.failed << " failed";
    if (summary.abandoned > 0)
        io.out << ", " << summary.abandoned << " abandoned";
    if (summary.converted > 0)
        io.out << ": " << batch::bytesText(totals);
    io.out << "\n";
}

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

    // Made and opened once the whole list is known to be sound: a refused run writes nothing.
    batch::ManifestWriter manifest;
    bool manifestRefused = false;
    const auto beforeConverting = [&] {
        if (!makeOutputDirectory(job, io))
            return false;
        QString error;
        if (!job.manifestPath.isEmpty() && !manifest.open(job.manifestPath, error)) {
            io.err << "pixavant: --manifest: " << imaging::displayFileName(job.manifestPath) << ": "
                   << error << "\n";
            manifestRefused = true;
            return false;
        }
        return true;
    };

    SourceList sources(job.sourcePaths, job.filesFrom, job.nulSeparated, io.inputFd, job.treeRoots);
    if (job.outputDir.isEmpty() && !job.outputExt.isEmpty())
        sources.skipInTrees(QLatin1Char('.') + job.outputExt);
    ConvertRunner runner(job, io.interrupted);
    runner.setBeforeConverting(beforeConverting);
    if (job.keepDates)
        runner.addAfterWrite(giveSourceDate);
    if (!job.manifestPath.isEmpty())
        runner.addAfterWrite(
            [&job](FileOutcome& outcome) { makeManifestRecord(job.manifestPath, outcome); });
    ProgressLine line(io);
    CliReporter reporter(io, line, job, job.manifestPath.isEmpty() ? nullptr : &manifest);
    const RunSummary summary = runner.run(sources, reporter);
    line.end();
    if (!summary.clashes.empty()) {
        reportClashes(job, summary, io);
        return kExitUsage;
    }
    if (summary.stoppedBeforeStart)
        return manifestRefused ? kExitUsage : kExitFailed;

    if (!summary.listError.isEmpty()) {
        const QString list = job.filesFrom == QLatin1String("-")
                                 ? QStringLiteral("standard input")
                                 : imaging::displayFileName(job.filesFrom);
        io.err << "pixavant: " << list << ": the list of files cannot be read ("
               << summary.listError << ")\n";
    }
    if (summary.interrupted) {
        io.err << "pixavant: interrupted\n";
        io.err.flush();
        return kExitInterrupted;
    }
    if (io.terminal && summary.listError.isEmpty())
        printTotals(summary, reporter.totals(), io);
    io.out.flush();
    io.err.flush();
    const bool failed =
        summary.failed > 0 || !summary.listError.isEmpty() || reporter.manifestFailed();
    return failed ? kExitFailed : kExitOk;
}

}  // namespace pixavant::cli
