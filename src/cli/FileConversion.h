#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <vector>

#include "batch/BatchRules.h"
#include "batch/ConversionStep.h"
#include "imaging/Verification.h"

#include "cli/ConvertOptions.h"
#include "cli/SourceList.h"

namespace pixavant::cli {

// What became of one file of a run.
struct FileOutcome {
    enum class Result { Converted, Skipped, Failed, Abandoned };

    int64_t index = 0;  // the file's place in the run's list, from 0
    QString source;     // the path as given
    QString output;     // the output path; empty when the file failed before it was named
    Result result = Result::Failed;
    int32_t code = 0;    // Failed: the conversion's or the imaging component's code
    QString message;     // Failed: the message the progress window would show
    QString detail;      // why, when the code does not say it; Abandoned: why the run stopped
    int formatCode = 0;  // Converted: the format written
    imaging::Verification
        verification;   // Converted, or failed its check: how the output was checked
    QStringList notes;  // Converted: what of the source's metadata could not be carried, and why
    // Converted: every file written, in page order (a file per page of a multi-page source in a
    // format of one image); `output` and `verification` are the first's.
    std::vector<batch::WrittenOutput> written;
    QByteArray record;  // the run's record of the file (a manifest line), made after it was written
};

// What a conversion asks of the run while it works.
struct ConversionHooks {
    // Asked at every progress notification: true abandons the file (nothing of it is written).
    std::function<bool()> shouldStop = [] { return false; };
    // The file's own progress, 0 to 100: loading fills the first half, saving the second.
    std::function<void(int percent)> progress = [](int) {};
};

// The directory a source's output goes to. `sourceDir` ends in "/". A file of a tree whose top
// lies in `treeBase` (SourceList::lastTreeBase()) keeps its place in the tree under job.outputDir.
QString outputDirFor(const ConvertJob& job, const QString& sourceDir, const QString& treeBase = {});
// How the job names its outputs.
batch::NamingRule namingRuleOf(const ConvertJob& job);
// The output path of the source at the absolute, clean path `source`.
QString outputPathFor(const ConvertJob& job, const QString& source, const QString& treeBase = {});

// Converts the file `path` (as given; relative to `cwd`) with a conversion step of its own, on the
// calling thread, so that several conversions can run side by side. The output must not replace
// any of `sources`; with job.skipExisting an existing output is left as it is. The directories of
// a tree's mirror are made as they are needed.
// `runOutputs`: the output path of every file of the run, which no page file may replace.
FileOutcome convertFile(const ConvertJob& job, const PathKeys& sources, const PathKeys& runOutputs,
                        const QString& cwd, int64_t index, const QString& path,
                        const QString& treeBase, const ConversionHooks& hooks);

}  // namespace pixavant::cli
