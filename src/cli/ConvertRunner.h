#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

#include "batch/BatchRules.h"
#include "cli/ConvertOptions.h"
#include "cli/FileConversion.h"
#include "cli/SourceList.h"

namespace pixavant::cli {

// How far a run has got.
struct RunProgress {
    int64_t finished = 0;   // files whose outcome is known
    int64_t total = 0;      // files in the list
    double inProgress = 0;  // the files being converted, in files (0.5: half of one file)
    QString latest;         // the file started last, as given
};

// Receives what a run does, on the thread that called ConvertRunner::run().
class RunListener {
  public:
    virtual ~RunListener() = default;
    // One file's outcome, in list order. After a stop, the files that were abandoned come too; the
    // files never started do not.
    virtual void finished(const FileOutcome& outcome) = 0;
    // Called about ten times a second, and once at the end.
    virtual void progress(const RunProgress& progress) { (void)progress; }
};

struct RunSummary {
    int64_t converted = 0;
    int64_t skipped = 0;
    int64_t failed = 0;
    int64_t abandoned = 0;
    bool interrupted = false;
    QString listError;  // the list of files could not be read
    // Files that would be written to one output: the run was refused before anything was written.
    std::vector<batch::OutputClash> clashes;
    int64_t clashingOutputs = 0;      // outputs that more than one file would write, all told
    bool stoppedBeforeStart = false;  // the step before converting ended the run
};

// Converts the files of a source list on job.jobs threads, each with a conversion step of its own.
//
// The list is read twice: once to count its files, to know every source (so that no output ever
// replaces a file the run has yet to read) and to find files that would be written to one output
// (which refuse the run before anything is written: summary.clashes), then to convert them. Files
// are started in list order, except the last ones, which start largest first so that no core
// idles while one large file finishes alone; their outcomes are reported in list order all the
// same, and the output files are the same as with one job. Without
// job.keepGoing the first failure stops the run: the files in progress are abandoned and nothing
// of them is written. `interrupted` (Ctrl-C) does the same; it may be asked from any thread.
class ConvertRunner {
  public:
    // A step that runs on the worker after a file has been written, before its outcome is
    // reported (checking the output, recording it, carrying dates over). It may turn the outcome
    // into a failure.
    using AfterWrite = std::function<void(FileOutcome& outcome)>;

    ConvertRunner(const ConvertJob& job, std::function<bool()> interrupted);

    // Steps run in the order they were added.
    void addAfterWrite(AfterWrite step) { afterWrite_.push_back(std::move(step)); }
    // A step run once the list has been read through and found sound, before the first file is
    // converted (making the output directory, opening the manifest). False ends the run there;
    // the step says why itself.
    void setBeforeConverting(std::function<bool()> step) { beforeConverting_ = std::move(step); }

    RunSummary run(SourceList& list, RunListener& listener);

  private:
    const ConvertJob& job_;
    std::function<bool()> interrupted_;
    std::vector<AfterWrite> afterWrite_;
    std::function<bool()> beforeConverting_;
};

}  // namespace pixavant::cli
