#pragma once

#include <magick/api.h>

#include <cstdint>
#include <memory>

#include "imaging/ImagingStatus.h"
#include "imaging/Progress.h"
#include "imaging/WatchedCall.h"

namespace pixavant::imaging::magick {

static_assert(QuantumDepth == 16, "the unset-pixel mark below is a 16-bit quantum");

// Every block GraphicsMagick allocates starts with this value in each 16-bit word, so a pixel its
// coder never wrote holds a known value, never what the heap held before. No 8-bit or smaller
// sample scales to it (those become multiples of 257, or repeat their top byte).
inline constexpr uint16_t kUnsetQuantum = 0x5AA5;

// Starts GraphicsMagick once per process (thread-safe; later calls return at once): the marking
// allocator above, no signal handlers, silent warning and error handlers, resource limits for
// pixels, memory, disk and open files, and every coder that runs a delegate program, a script or
// reads other files disabled for reading. Call it before any other GraphicsMagick function.
void ensureInitialized();

// An ExceptionInfo that is set up and released with its scope.
class Exception {
  public:
    Exception() { GetExceptionInfo(&info_); }
    ~Exception() { DestroyExceptionInfo(&info_); }
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;
    ExceptionInfo* get() { return &info_; }
    int severity() const { return int(info_.severity); }

  private:
    ExceptionInfo info_;
};

struct ImageDeleter {
    void operator()(Image* image) const { DestroyImageList(image); }
};
using ImagePtr = std::unique_ptr<Image, ImageDeleter>;

struct ImageInfoDeleter {
    void operator()(ImageInfo* info) const { DestroyImageInfo(info); }
};
using ImageInfoPtr = std::unique_ptr<ImageInfo, ImageInfoDeleter>;

// Maps a GraphicsMagick exception severity onto a status code (kSuccess for none).
Status statusForSeverity(int severity);

// GraphicsMagick has one progress monitor for the whole process; these scopes route what it
// reports to whoever started the operation.
//
// Progress of the GraphicsMagick calls this thread makes (a coder reading a file) goes to
// `progress`, mapped onto from..to, for the lifetime of the scope.
class MonitorScope {
  public:
    MonitorScope(Progress& progress, int from, int to);
    ~MonitorScope();
    MonitorScope(const MonitorScope&) = delete;
    MonitorScope& operator=(const MonitorScope&) = delete;
};

// Progress of the calls given `exception` goes to `state` (mapped onto fromPermille..toPermille),
// and they stop when `state.cancel` is set, whichever thread reports it: image operations report
// from GraphicsMagick's own worker threads.
class CallMonitor {
  public:
    CallMonitor(ExceptionInfo* exception, CallState& state, int fromPermille, int toPermille);
    ~CallMonitor();
    CallMonitor(const CallMonitor&) = delete;
    CallMonitor& operator=(const CallMonitor&) = delete;

  private:
    ExceptionInfo* exception_;
};

}  // namespace pixavant::imaging::magick
