#include "cli/FileConversion.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <atomic>
#include <cerrno>

#include "batch/BatchRules.h"
#include "batch/ConversionStep.h"
#include "batch/ProgressMath.h"
#include "imaging/FileNames.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::cli {

namespace {

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

namespace {

// The output path names the source itself, or a file of the run (by its path, or through a link).
bool replacesSource(const PathKeys& sources, const imaging::FileStatus& source,
                    const QString& outputPath) {
    const QString resolved = imaging::resolvedPath(outputPath);
    if (sources.contains(QDir::cleanPath(outputPath)) ||
        (!resolved.isEmpty() && sources.contains(resolved)))
        return true;
    const imaging::FileStatus output = imaging::fileStatus(outputPath);
    return output.exists && output.device == source.device && output.inode == source.inode;
}

// The conversion's progress and its stop, as the run's hooks want them.
void connectHooks(batch::ConversionStep& step, const ConversionHooks& hooks,
                  std::atomic<bool>& stop, batch::RunState& state) {
    step.setCancelFlag(&stop);
    step.control().setEnableProgressEvent(true);
    step.onProgress([&](int16_t percent, int page, bool saving) {
        if (hooks.shouldStop()) {
            stop = true;
            return;
        }
        state.PageIndex = page;
        state.Saving = saving;
        hooks.progress(int(batch::fileBarValue(percent, state)));
    });
}

FileOutcome converted(FileOutcome outcome, const batch::ConversionResult& result, int formatCode) {
    outcome.verification = result.verification;
    if (result.ok()) {
        outcome.result = FileOutcome::Result::Converted;
        outcome.output = result.written.front().path;
        outcome.formatCode = formatCode;
        outcome.written = result.written;
        outcome.notes = result.notes;
        return outcome;
    }
    if (result.status == imaging::kErrCancelled) {
        outcome.result = FileOutcome::Result::Abandoned;
        return outcome;
    }
    outcome.result = FileOutcome::Result::Failed;
    outcome.code = result.status;
    outcome.message = batch::failureMessage(
        result.status, imaging::displayFileName(QFileInfo(outcome.output).fileName()));
    outcome.detail = result.reason();
    if (outcome.code == imaging::kErrVerify && !outcome.verification.detail.empty())
        outcome.detail +=
            QStringLiteral(": ") + QString::fromStdString(outcome.verification.detail);
    return outcome;
}

}  // namespace

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
    const QString name = absolute.mid(slash + 1);
    const QString outputDir = outputDirFor(job, absolute.left(slash + 1), treeBase);
    outcome.output = outputPathFor(job, absolute, treeBase);

    batch::ConversionStep step;
    batch::ConversionRequest request = batch::requestFor(absolute, job.settings);
    std::atomic<bool> stop{false};
    batch::RunState state;
    connectHooks(step, hooks, stop, state);
    // A failure here shows once the checks below have passed, as a conversion's failure.
    const int32_t examined = step.examine(absolute, request.source);
    // A source of several pages may write a file per page: none may replace a source of the run.
    const int32_t pages = request.source.pages;
    const QString outputName = batch::outputFileName(name, job.outputExt, namingRuleOf(job));
    const QStringList names =
        batch::outputFileNames(outputName, job.outputExt, pages, job.settings.FileFormat);
    bool allExist = true;
    for (const QString& file : names) {
        const QString outputPath = outputDir + file;
        if (replacesSource(sources, source, outputPath)) {
            outcome.output = outputPath;
            return failed(outcome, batch::kErrReplacesSource);
        }
        allExist = allExist && imaging::fileStatus(outputPath).isFile;
        request.outputPaths << outputPath;
    }
    if (job.skipExisting && allExist) {
        outcome.result = FileOutcome::Result::Skipped;
        return outcome;
    }
    if (!treeBase.isEmpty() && !imaging::makeDirectories(outputDir))
        return failed(outcome, imaging::kErrWrite,
                      QStringLiteral("the folder %1 cannot be made (%2)")
                          .arg(imaging::displayFileName(outputDir), imaging::failureCause(errno)));

    if (examined != 0) {
        batch::ConversionResult result;
        result.status = imaging::Status(examined);
        result.libraryDetail = step.libraryDetail();
        return converted(outcome, result, job.settings.FileFormat);
    }
    // Nor may a page file replace the output of another file.
    for (const QString& outputPath : request.outputPaths) {
        if (names.size() > 1 && runOutputs.contains(QDir::cleanPath(outputPath))) {
            outcome =
                failed(outcome, batch::kErrPageClash, batch::failureReason(batch::kErrPageClash));
            outcome.message = batch::pageClashText(QFileInfo(outputPath).fileName(), name,
                                                   QStringLiteral("another file of this run"));
            return outcome;
        }
    }
    request.resolutionRule =
        job.keepOwnResolution ? batch::ResolutionRule::FileOwn : batch::ResolutionRule::Settings;
    request.keepMetadata = !job.strip;
    request.verify = job.verify;
    request.effort = job.effort;
    state.PageCount = pages;
    return converted(outcome, step.run(request), job.settings.FileFormat);
}

}  // namespace pixavant::cli
