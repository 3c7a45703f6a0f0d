#pragma once

#include <atomic>
#include <functional>

#include "imaging/ImagingStatus.h"
#include "imaging/Progress.h"

namespace pixavant::imaging {

// What a long library call shares with the thread that watches it.
struct CallState {
    std::atomic<int> permille{0};     // how far the call has got, 0 to 1000, set by the call
    std::atomic<bool> cancel{false};  // set by the watcher: the call should stop soon
};

// Runs `call` (which returns a status) on a thread of its own while the calling thread reports
// `state.permille` to `progress` at least every 20 ms. When `progress` asks to stop, the call is
// told so through `state.cancel` and waited for; the result is then kErrCancelled. Meant for
// library calls that report progress rarely or from threads of their own (GraphicsMagick's
// resize, a file system flush): the listener is only ever called on the calling thread.
Status runWatched(Progress& progress, const std::function<Status(CallState& state)>& call);

}  // namespace pixavant::imaging
