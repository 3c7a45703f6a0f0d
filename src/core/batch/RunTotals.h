#pragma once

#include <QString>
#include <cstdint>

namespace pixavant::batch {

// What a run achieved: the files it converted and their bytes before and after.
struct RunTotals {
    int64_t files = 0;
    int64_t bytesBefore = 0;  // the sources' sizes
    int64_t bytesAfter = 0;   // the outputs' sizes

    // Counts one output written, by the sizes on disk now. The first output of a source counts
    // the file and its bytes; further outputs of the same source (a document written as one file
    // per page) add only their own.
    void add(const QString& sourcePath, const QString& outputPath);

  private:
    QString lastSource_;
};

// A byte count as people read it: "950 bytes", "161.2 kB", "3.9 MB", "1.2 GB" (powers of 1000,
// one decimal).
QString byteCountText(int64_t bytes);

// "3.9 MB before, 1.2 MB after, 2.7 MB saved (69 %)"; an output larger than its source says
// "0.2 MB more (+25 %)" instead. The percentage is of the bytes before, rounded towards zero, so
// that a saving of 99.6 % is never called 100 %. Empty when nothing was converted.
QString bytesText(const RunTotals& totals);

// The main window's line after a run of `listed` files: "Converted 4 files: " and bytesText();
// "Converted 2 of 5 files: ..." when some were not converted; "No file converted." when none was.
QString runTotalsText(const RunTotals& totals, int64_t listed);

}  // namespace pixavant::batch
