#include "imaging/Progress.h"

#include <algorithm>

namespace pixavant::imaging {

bool Progress::report(int percent) {
    if (cancelled_)
        return false;
    if (!listener_)
        return true;
    percent = std::clamp(percent, 0, 100);
    const auto now = Clock::now();
    if (percent <= last_) {
        if (now - lastTime_ < std::chrono::milliseconds(50))
            return true;
        percent = last_;
    }
    last_ = percent;
    lastTime_ = now;
    if (!listener_(percent))
        cancelled_ = true;
    return !cancelled_;
}

Progress Progress::part(int from, int to) {
    if (!listener_)
        return Progress();
    return Progress(
        [this, from, to](int percent) { return report(from + (to - from) * percent / 100); });
}

}  // namespace pixavant::imaging
