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
#include "imaging/ImagingStatus.h"

namespace pixavant::cli {

namespace {

// Refuses a job in which two files named on the command line would be written to one output file,
// before anything is written. False (and the message printed) when it is refused. Files of a list
// (--files-from) are not known up front: those that share an output take turns in list order.
bool outputNamesAreDistinct(const ConvertJob& job, CliIo& io) {
    QStringList outputs;
    for (const QString& source : job.sourcePaths)
        outputs << outputPathFor(job, source);
    const std::vector<batch::OutputClash> clashes =
        batch::findOutputClashes(job.sourcePaths, outputs);
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
    if (::stat(QFile::encodeName(source).constData(), &st) == 0) {
        const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        if (::utimensat(AT_FDCWD, QFile::encodeName(output).constData(), times, 0) == 0)
            return true;
    }
    error = QString::fromLocal8Bit(std::strerror(errno));
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
                    io_.err << "pixavant: " << outcome.source << ": " << note << "\n";
                }
                for (const batch::WrittenOutput& written : writtenOf(outcome)) {
                    if (job_.verify) {
                        line_.end();
                        io_.out << outcome.source << " -> " << written.path << " ("
                                << verificationText(written.verification) << ")\n";
                    } else if (!io_.terminal) {
                        io_.out << outcome.source << " -> " << written.path << "\n";
                    }
                }
                writeRecord(outcome);
                totals_.add(outcome.source, outcome.output);
                break;
            case FileOutcome::Result::Skipped:
                if (!io_.terminal)
                    io_.out << outcome.source << " -> " << outcome.output
                            << " (already there, skipped)\n";
                break;
            case FileOutcome::Result::Failed: {
                line_.end();
                io_.err << "pixavant: " << outcome.source << ": " << outcome.message;
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
                io_.err << "pixavant: " << outcome.source << ": abandoned (" << outcome.detail
                        << "); nothing of it was written\n";
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
                   QFileInfo(progress.latest).fileName());
    }

  private:
    void writeRecord(const FileOutcome& outcome) {
        if (manifest_ == nullptr || manifestFailed_ || manifest_->writeLine(outcome.record))
            return;
        manifestFailed_ = true;
        line_.end();
        io_.err << "pixavant: " << job_.manifestPath
                << ": the manifest cannot be written; the files after " << outcome.source
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

    batch::ManifestWriter manifest;
    if (!job.manifestPath.isEmpty()) {
        QString error;
        if (!manifest.open(job.manifestPath, error)) {
            io.err << "pixavant: --manifest: " << job.manifestPath << ": " << error << "\n";
            return kExitUsage;
        }
    }

    SourceList sources(job.sourcePaths, job.filesFrom, job.nulSeparated, io.inputFd, job.treeRoots);
    if (job.outputDir.isEmpty() && !job.outputExt.isEmpty())
        sources.skipInTrees(QLatin1Char('.') + job.outputExt);
    ConvertRunner runner(job, io.interrupted);
    if (job.keepDates)
        runner.addAfterWrite([](FileOutcome& outcome) {
            QString error;
            for (const batch::WrittenOutput& written : writtenOf(outcome)) {
                if (carryModificationTime(outcome.source, written.path, error))
                    continue;
                outcome.result = FileOutcome::Result::Failed;
                outcome.code = imaging::kErrWrite;
                outcome.message = QStringLiteral("The date of %1 could not be set.")
                                      .arg(QFileInfo(written.path).fileName());
                outcome.detail =
                    QStringLiteral("the output is written, with today's date: ") + error;
                return;
            }
        });
    if (!job.manifestPath.isEmpty())
        runner.addAfterWrite([](FileOutcome& outcome) {
            const QString cwd = QDir::currentPath();
            QByteArrayList lines;
            for (const batch::WrittenOutput& written : writtenOf(outcome)) {
                batch::ManifestEntry entry = batch::describeConversion(
                    absoluteCleanPath(outcome.source, cwd), absoluteCleanPath(written.path, cwd),
                    outcome.formatCode, written.verification);
                entry.page = written.page;
                lines << batch::toJsonLine(entry);
            }
            outcome.record = lines.join('\n');
        });
    ProgressLine line(io);
    CliReporter reporter(io, line, job, job.manifestPath.isEmpty() ? nullptr : &manifest);
    const RunSummary summary = runner.run(sources, reporter);
    line.end();

    if (!summary.listError.isEmpty()) {
        const QString list =
            job.filesFrom == QLatin1String("-") ? QStringLiteral("standard input") : job.filesFrom;
        io.err << "pixavant: " << list << ": the list of files cannot be read ("
               << summary.listError << ")\n";
    }
    if (summary.interrupted) {
        io.err << "pixavant: interrupted\n";
        io.err.flush();
        return kExitInterrupted;
    }
    if (io.terminal && summary.listError.isEmpty()) {
        io.out << filesText(summary.converted) << " converted";
        if (summary.skipped > 0)
            io.out << ", " << summary.skipped << " skipped";
        if (summary.failed > 0)
            io.out << ", " << summary.failed << " failed";
        if (summary.abandoned > 0)
            io.out << ", " << summary.abandoned << " abandoned";
        if (summary.converted > 0)
            io.out << ": " << batch::bytesText(reporter.totals());
        io.out << "\n";
    }
    io.out.flush();
    io.err.flush();
    const bool failed =
        summary.failed > 0 || !summary.listError.isEmpty() || reporter.manifestFailed();
    return failed ? kExitFailed : kExitOk;
}

}  // namespace pixavant::cli
