#include "batch/ProgressMath.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pixavant::batch {

float singleBarValue(int percent, bool saving) {
    const float half = float(percent) / 2.0f;
    return saving ? half + 50.0f : half;
}

float fileBarValue(int percent, const RunState& state) {
    const float page = singleBarValue(percent, state.Saving);
    if (state.PageCount <= 1)
        return page;
    const int index = std::clamp(state.PageIndex, 0, state.PageCount - 1);
    return (float(index) * 100.0f + page) / float(state.PageCount);
}

QString singlePctText(float barValue) {
    char buffer[64];
    // Shortest text that reads back as the same value, never with an exponent.
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, barValue, std::chars_format::fixed);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (barValue < 10.0f)
        text.prepend(QLatin1Char(' '));
    return text + QStringLiteral(" %");
}

int totalPercent(int percent, bool saving, int64_t currentBytes, int64_t doneBytes,
                 int64_t totalBytes) {
    if (totalBytes <= 0)
        return 0;
    const double current = double(currentBytes);
    const double share =
        saving ? (double(percent) + 100.0) * current / 2.0 : current * double(percent) / 2.0;
    const auto value = float((share + double(doneBytes) * 100.0) / double(totalBytes));
    const double rounded = std::nearbyint(double(value));
    return int(std::clamp(rounded, 0.0, 100.0));
}

QString totalPctText(int percent) {
    return QString::number(percent) + QStringLiteral(" %");
}

ProgressDisplay progressDisplay(int percent, const RunState& state) {
    ProgressDisplay display;
    display.singleBar = fileBarValue(percent, state);
    display.singlePct = singlePctText(display.singleBar);
    display.totalBar = state.PageCount <= 1
                           ? totalPercent(percent, state.Saving, state.CurrentBytes,
                                          state.DoneBytes, state.TotalBytes)
                           : totalPercent(int(std::lround(display.singleBar * 2.0f)) - 100, true,
                                          state.CurrentBytes, state.DoneBytes, state.TotalBytes);
    display.totalPct = totalPctText(display.totalBar);
    return display;
}

}  // namespace pixavant::batch
