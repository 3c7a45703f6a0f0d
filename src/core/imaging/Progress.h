#pragma once

#include <chrono>
#include <functional>

namespace pixavant::imaging {

// Progress of one load or save, reported by the codecs as often as they like (per scanline, strip
// or chunk). It passes a percentage on when it rises, and repeats the last one when 50 ms have gone
// by without a change, so that whoever listens is called often enough to keep a window serviced.
class Progress {
public:
    // The listener returns false to abandon the operation.
    using Listener = std::function<bool(int percent)>;

    Progress() = default;
    explicit Progress(Listener listener) : listener_(std::move(listener)) {}

    // Reports `percent` (clamped to 0..100, never below what was reported before). Returns false
    // when the listener asked to abandon the operation; the codec then stops with kErrCancelled.
    bool report(int percent);
    // Reports done / total as a percentage.
    bool report(long long done, long long total) {
        return report(total > 0 ? int(done * 100 / total) : 100);
    }
    bool cancelled() const { return cancelled_; }

    // A progress for one step of this operation: its 0 to 100 % are `from` to `to` % here, and a
    // cancel here stops it too.
    Progress part(int from, int to);

private:
    using Clock = std::chrono::steady_clock;
    Listener listener_;
    int last_ = -1;
    Clock::time_point lastTime_{};
    bool cancelled_ = false;
};

}  // namespace pixavant::imaging
