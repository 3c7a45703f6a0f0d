#include "cli/FileConversion.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cerrno>

#include "batch/BatchEngine.h"
#include "batch/BatchRules.h"
#include "batch/ProgressMath.h"
#include "imaging/FileNames.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::cli {

namespace {

// The engine's view of a one-file run: no window, no lists; progress and stop go to the hooks.
class FileView final : public batch::HeadlessBatchView {
  public:
    FileView(const QString& fileName, const ConversionHooks& hooks)
        : entry_(QLatin1Char(' ') + fileName), hooks_(hooks) {}

    void setEngine(batch::BatchEngine* engine) { engine_ = engine; }
    const QString& output() const { return output_; }

    int workCount() const override { return 1; }
    QString workEntry(int index) const override { return index == 0 ? entry_ : QString(); }
    int sourceCount() const override { return int(sources_.size()); }
    QString sourceEntry(int index) const override { return sources_.value(index); }
    void addSourceEntry(const QString& entry) override { sources_ << entry; }
    void showMessage(const QString&, const QString&) override {}

    void progressStatus(int16_t percent, const batch::RunState& state) override {
        if (hooks_.shouldStop()) {
            if (engine_ != nullptr)
                engine_->cancel();
            return;
        }
        hooks_.progress(int(batch::fileBarValue(percent, state)));
    }

    void fileConverted(const QString&, const QString& outputPath) override {
        if (output_.isEmpty())
            output_ = outputPath;
    }

  private:
    QString entry_;
    const ConversionHooks& hooks_;
    batch::BatchEngine* engine_ = nullptr;
    QStringList sources_;
    QString output_;
};

FileOutcome failed(FileOutcome outcome, int32_t code, const QString& detail = {}) {
    outcome.result = FileOutcome::Result::Failed;
    outcome.code = code;
    const QString outputName = QFileInfo(outcome.output).fileName();
    outcome.message = batch::failureMessage(code, outputName);
    outcome.detail = detail;
    return outcome;
}

}  // namespace

QString outputDirFor(const ConvertJob& job, const QString& sourceDir, const QString& treeBase) {
    if (job.outputDir.isEmpty())
        return sourceDir;
    if (!treeBase.isEmpty() && sourceDir.startsWith(treeBase))
        return job.outputDir + sourceDir.mid(treeBase.size());
    return job.outputDir;
}

batch::NamingRule namingRuleOf(const ConvertJob& job) {
    return job.fullNames ? batch::NamingRule::LastDot : batch::NamingRule::FirstDot;
}

QString outputPathFor(const ConvertJob& job, const QString& source, const QString& treeBase) {
    const qsizetype slash = source.lastIndexOf(QLatin1Char('/'));
    return outputDirFor(job, source.left(slash + 1), treeBase) +
           batch::outputFileName(source.mid(slash + 1), job.outputExt, namingRuleOf(job));
}

FileOutcome convertFile(const ConvertJob& job, const PathKeys& sources, const PathKeys& runOutputs,
                        const QString& cwd, int64_t index, const QString& path,
                        const QString& treeBase, const ConversionHooks& hooks) {
    FileOutcome outcome;
    outcome.index = index;
    outcome.source = path;

    const QString absolute = absoluteCleanPath(path, cwd);
    const imaging::FileStatus source = imaging::fileStatus(absolute);
    if (!source.exists)
        return failed(outcome, imaging::kErrFileNotFound, QStringLiteral("no such file"));
    if (source.isDir)
        return failed(outcome, imaging::kErrFileNotFound,
                      QStringLiteral("a directory (give --recursive to convert its tree)"));
    if (!source.isFile)
        return failed(outcome, imaging::kErrFileNotFound, QStringLiteral("not a regular file"));
    const qsizetype slash = absolute.lastIndexOf(QLatin1Char('/'));
    const QString sourceDir = absolute.left(slash + 1);
    const QString name = absolute.mid(slash + 1);

    CompressionSettings settings = job.settings;
    settings.OutputDir = outputDirFor(job, sourceDir, treeBase);
    settings.OutputExt = job.outputExt;
    outcome.output = outputPathFor(job, absolute, treeBase);

    FileView view(name, hooks);
    batch::BatchEngine engine(view, settings, sourceDir);
    engine.setNamingRule(namingRuleOf(job));
    view.setEngine(&engine);
    imaging::ImagingControl& control = engine.control();

    // The engine itself guards its own source; the other files of the run are known by their
    // keys. An output that reaches a source through a link is caught by its resolved path. A
    // source of several pages may write a file per page: all of them count.
    int32_t pages = 1;
    control.readPageCount(absolute, pages);  // a failure shows when the engine gets to it
    const QString outputName = batch::outputFileName(name, job.outputExt, namingRuleOf(job));
    bool allExist = true;
    for (const QString& file :
         batch::outputFileNames(outputName, job.outputExt, pages, settings.FileFormat)) {
        const QString outputPath = settings.OutputDir + file;
        const QString resolved = imaging::resolvedPath(outputPath);
        if (sources.contains(QDir::cleanPath(outputPath)) ||
            (!resolved.isEmpty() && sources.contains(resolved))) {
            outcome.output = outputPath;
            return failed(outcome, batch::kErrReplacesSource);
        }
        allExist = allExist && imaging::fileStatus(outputPath).isFile;
    }
    if (job.skipExisting && allExist) {
        outcome.result = FileOutcome::Result::Skipped;
        return outcome;
    }

    if (!treeBase.isEmpty() && !imaging::makeDirectories(settings.OutputDir))
        return failed(
            outcome, imaging::kErrWrite,
            QStringLiteral("the folder %1 cannot be made (%2)")
                .arg(imaging::displayFileName(settings.OutputDir), imaging::failureCause(errno)));

    engine.setResolutionRule(job.keepOwnResolution ? batch::BatchEngine::ResolutionRule::FileOwn
                                                   : batch::BatchEngine::ResolutionRule::Settings);
    engine.setOtherOutputs([&runOutputs](const QString& outputPath) {
        return runOutputs.contains(QDir::cleanPath(outputPath))
                   ? QStringLiteral("another file of this run")
                   : QString();
    });
    control.setKeepMetadata(!job.strip);
    control.setVerifySaves(job.verify);
    control.setEncoderEffort(job.effort);
    engine.load();
    engine.timerEvent();
    outcome.verification = control.lastVerification();
    switch (engine.outcome()) {
        case batch::BatchEngine::Outcome::Completed:
            outcome.result = FileOutcome::Result::Converted;
            outcome.output = view.output();
            outcome.formatCode = settings.FileFormat;
            outcome.written = engine.writtenOutputs();
            for (const std::string& note : control.notes())
                outcome.notes << QString::fromStdString(note);
            return outcome;
        case batch::BatchEngine::Outcome::Cancelled:
            outcome.result = FileOutcome::Result::Abandoned;
            return outcome;
        default:
            outcome.result = FileOutcome::Result::Failed;
            outcome.code = engine.errorCode();
            outcome.message = engine.errorMessage();
            outcome.detail = engine.failureReason();
            if (outcome.code == imaging::kErrVerify && !outcome.verification.detail.empty())
                outcome.detail +=
                    QStringLiteral(": ") + QString::fromStdString(outcome.verification.detail);
            return outcome;
    }
}

}  // namespace pixavant::cli
