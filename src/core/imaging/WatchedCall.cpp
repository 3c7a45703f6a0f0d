#include "imaging/WatchedCall.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <thread>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {
constexpr auto kPollInterval = std::chrono::milliseconds(20);
}  // namespace

Status runWatched(Progress& progress, const std::function<Status(CallState& state)>& call) {
    CallState state;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Status status = kSuccess;

    std::thread worker([&] {
        Status result = kSuccess;
        try {
            result = call(state);
        } catch (const std::bad_alloc&) {
            result = kErrNoMemory;
        } catch (const std::exception&) {
            result = kErrInvalidArgument;
        }
        std::lock_guard lock(mutex);
        status = result;
        done = true;
        finished.notify_all();
    });

    bool cancelled = false;
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, kPollInterval, [&] { return done; })) {
            if (cancelled)
                continue;
            lock.unlock();
            // Never 100 % before the call has returned.
            if (!progress.report(std::min(state.permille.load(), 999) / 10)) {
                cancelled = true;
                state.cancel.store(true);
            }
            lock.lock();
        }
    }
    worker.join();
    if (cancelled)
        return kErrCancelled;
    // How far it got, also when it ended before the first look.
    if (status == kSuccess && !progress.report(std::min(state.permille.load(), 999) / 10))
        return kErrCancelled;
    return status;
}

}  // namespace pixavant::imaging
