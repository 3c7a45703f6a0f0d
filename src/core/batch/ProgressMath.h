#pragma once

#include <QString>
#include <cstdint>

#include "batch/RunState.h"

namespace pixavant::batch {

// The per-file bar: loading fills 0 to 50, saving 50 to 100 (halves occur: 25 % loading is 12.5).
float singleBarValue(int percent, bool saving);

// The per-file bar of a file of several pages: each page takes an equal share, in which loading
// and saving fill their halves as above. The same as singleBarValue() for a file of one page.
float fileBarValue(int percent, const RunState& state);

// The per-file percentage as shown: the bar value as its shortest decimal text, a space in front
// below 10, then " %" (" 7.5 %", "12.5 %", "100 %").
QString singlePctText(float barValue);

// The whole-run percentage, weighted by bytes: the finished files plus the current file's share
// as far as its bar has got, rounded to the nearest integer (halves to even) and kept within
// 0..100. 0 while no file has any bytes (totalBytes 0).
int totalPercent(int percent, bool saving, int64_t currentBytes, int64_t doneBytes,
                 int64_t totalBytes);

// "44 %": no leading space.
QString totalPctText(int percent);

// What a progress notification shows.
struct ProgressDisplay {
    float singleBar = 0;
    QString singlePct;
    int totalBar = 0;
    QString totalPct;
};

// The display for a notification of `percent` during the run in `state`.
ProgressDisplay progressDisplay(int percent, const RunState& state);

}  // namespace pixavant::batch
