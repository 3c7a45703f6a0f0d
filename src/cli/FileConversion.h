#pragma once

#include <QString>
#include <cstdint>
#include <functional>

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
    int32_t code = 0;  // Failed: the engine's or the imaging component's code
    QString message;   // Failed: the message the progress window would show
    QString detail;    // why, when the code does not say it; Abandoned: why the run stopped
};

// What a conversion asks of the run while it works.
struct ConversionHooks {
    // Asked at every progress notification: true abandons the file (nothing of it is written).
    std::function<bool()> shouldStop = [] { return false; };
    // The file's own progress, 0 to 100: loading fills the first half, saving the second.
    std::function<void(int percent)> progress = [](int) {};
};

// The directory a source's output goes to. `sourceDir` ends in "/".
QString outputDirFor(const ConvertJob& job, const QString& sourceDir);
// The output path of the source at the absolute, clean path `source`.
QString outputPathFor(const ConvertJob& job, const QString& source);

// Converts the file `path` (as given; relative to `cwd`) with a batch engine of its own, on the
// calling thread, so that several conversions can run side by side. The output must not replace
// any of `sources`; with job.skipExisting an existing output is left as it is.
FileOutcome convertFile(const ConvertJob& job, const PathKeys& sources, const QString& cwd,
                        int64_t index, const QString& path, const ConversionHooks& hooks);

}  // namespace pixavant::cli
