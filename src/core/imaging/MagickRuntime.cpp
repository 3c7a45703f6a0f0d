#include "imaging/MagickRuntime.h"

#include <magick/api.h>
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging::magick {

namespace {

void quietHandler(const ExceptionType, const char*, const char*) {}

// Writes kUnsetQuantum (little-endian, word-aligned from the block's start) into bytes [from, to).
void markUnset(void* block, size_t from, size_t to) {
    static_assert(std::endian::native == std::endian::little);
    auto* bytes = static_cast<uint8_t*>(block);
    if (from < to && (from & 1) != 0)
        bytes[from++] = uint8_t(kUnsetQuantum >> 8);
    std::fill_n(reinterpret_cast<uint16_t*>(bytes + from), (to - from) / 2, kUnsetQuantum);
    if (from < to && ((to - from) & 1) != 0)
        bytes[to - 1] = uint8_t(kUnsetQuantum & 0xff);
}

void* markedMalloc(size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block != nullptr)
        markUnset(block, 0, malloc_usable_size(block));
    return block;
}

void* markedRealloc(void* old, size_t size) {
    const size_t kept = old != nullptr ? malloc_usable_size(old) : 0;
    void* block = std::realloc(old, size == 0 ? 1 : size);
    if (block != nullptr) {
        const size_t usable = malloc_usable_size(block);
        if (usable > kept)
            markUnset(block, kept, usable);
    }
    return block;
}

// The routes of the progress monitor (MonitorScope, CallMonitor).
struct ThreadRoute {
    Progress* progress = nullptr;
    int from = 0;
    int to = 100;
};
thread_local ThreadRoute threadRoute;

struct CallRoute {
    CallState* state = nullptr;
    int from = 0;
    int to = 1000;
};
std::mutex callRoutesMutex;
std::map<const ExceptionInfo*, CallRoute>& callRoutes() {
    static std::map<const ExceptionInfo*, CallRoute> routes;
    return routes;
}

MagickPassFail monitor(const char*, const magick_int64_t quantum, const magick_uint64_t span,
                       ExceptionInfo* exception) {
    if (span == 0)
        return MagickPass;
    const double part = std::clamp(double(quantum + 1) / double(span), 0.0, 1.0);
    {
        std::lock_guard lock(callRoutesMutex);
        const auto found = callRoutes().find(exception);
        if (found != callRoutes().end()) {
            const CallRoute& route = found->second;
            CallState& state = *route.state;
            const int permille = route.from + int(part * (route.to - route.from));
            // Worker threads report out of order: keep the largest.
            int seen = state.permille.load();
            while (seen < permille && !state.permille.compare_exchange_weak(seen, permille)) {
            }
            return state.cancel.load() ? MagickFail : MagickPass;
        }
    }
    const ThreadRoute& route = threadRoute;
    if (route.progress == nullptr)
        return MagickPass;
    const int percent = route.from + int(part * (route.to - route.from));
    return route.progress->report(percent) ? MagickPass : MagickFail;
}

// Coders that must never decode: they run delegate programs (Ghostscript, camera-raw converters,
// video decoders), interpret scripts or vector descriptions that can name other files, fetch URLs,
// or read other images by name. Some of them could otherwise be reached through a format that
// embeds another image and lets GraphicsMagick guess its type. The encoders stay available.
constexpr const char* kDisarmedDecoders[] = {
    // PostScript and PDF through Ghostscript (EPS is rendered by the reader itself, with limits)
    "EPDF", "EPI", "EPS", "EPSF", "EPSI", "EPT", "EPT2", "EPT3", "PDF", "PS", "PCL",
    // camera raw through external converters
    "3FR", "ARW", "CR2", "CRW", "DCR", "DNG", "ERF", "K25", "KDC", "MEF", "MRW", "NEF", "ORF",
    "PEF", "RAF", "SR2", "SRF", "X3F",
    // scripts, vector descriptions, text and fonts
    "MSL", "MVG", "SVG", "SVGZ", "TXT", "TEXT", "CAPTION", "LABEL", "TTF", "PFA", "PFB",
    // indirect: URLs, other files, in-memory registries, directories of images
    "FILE", "FTP", "HTTP", "URL", "TILE", "PATTERN", "VID", "MPR", "MPRI", "PWP", "STEGANO",
    "IMAGE", "WPG", "X"};

// Coders that drive a video encoder or decoder program: removed altogether.
constexpr const char* kRemovedCoders[] = {"MPEG",    "MPG",  "M2V", "MP4",  "MOV", "AVI",
                                          "PREVIEW", "SHOW", "WIN", "HTML", "HTM", "SHTML"};

void disarm() {
    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    for (const char* name : kRemovedCoders)
        UnregisterMagickInfo(name);
    for (const char* name : kDisarmedDecoders) {
        const MagickInfo* existing = GetMagickInfo(name, &exception);
        if (existing == nullptr || std::strcmp(existing->name, name) != 0)
            continue;
        if (existing->decoder == nullptr)
            continue;
        EncoderHandler encoder = existing->encoder;
        if (encoder == nullptr) {
            UnregisterMagickInfo(name);
            continue;
        }
        // Keep the encoder under the same name; no decoder, no content test.
        MagickInfo* replacement = SetMagickInfo(name);
        replacement->description = existing->description;
        replacement->module = existing->module;
        replacement->encoder = encoder;
        replacement->adjoin = existing->adjoin;
        replacement->raw = existing->raw;
        replacement->seekable_stream = existing->seekable_stream;
        replacement->blob_support = existing->blob_support;
        replacement->thread_support = existing->thread_support;
        replacement->coder_class = existing->coder_class;
        replacement->stealth = existing->stealth;
        UnregisterMagickInfo(name);
        RegisterMagickInfo(replacement);
    }
    DestroyExceptionInfo(&exception);
}

void initialize() {
    MagickAllocFunctions(std::free, markedMalloc, markedRealloc);
    ExceptionInfo exception;
    GetExceptionInfo(&exception);
    InitializeMagickEx(nullptr, MAGICK_OPT_NO_SIGNAL_HANDER, &exception);
    DestroyExceptionInfo(&exception);
    SetWarningHandler(quietHandler);
    SetErrorHandler(quietHandler);
    SetMonitorHandler(monitor);

    // Limits: one image of at most kMaxPixels; heap and memory maps up to three quarters of the
    // machine's memory; the pixel cache may spill to disk up to 16 GiB; few open cache files.
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    int64_t physical = (pages > 0 && pageSize > 0) ? int64_t(pages) * pageSize : int64_t{4} << 30;
    const int64_t memory = std::max<int64_t>(physical / 4 * 3, int64_t{512} << 20);
    SetMagickResourceLimit(PixelsResource, kMaxPixels);
    SetMagickResourceLimit(WidthResource, kMaxPixels);
    SetMagickResourceLimit(HeightResource, kMaxPixels);
    SetMagickResourceLimit(MemoryResource, memory);
    SetMagickResourceLimit(MapResource, memory);
    SetMagickResourceLimit(DiskResource, int64_t{16} << 30);
    SetMagickResourceLimit(FileResource, 64);
    disarm();
}

}  // namespace

void ensureInitialized() {
    static std::once_flag once;
    std::call_once(once, initialize);
}

Status statusForSeverity(int severity) {
    if (severity == UndefinedException)
        return kSuccess;
    switch (severity) {
        case ResourceLimitWarning:
        case ResourceLimitError:
        case ResourceLimitFatalError:
            return kErrNoMemory;
        case FileOpenWarning:
        case FileOpenError:
        case FileOpenFatalError:
            return kErrFileNotFound;
        case MissingDelegateWarning:
        case MissingDelegateError:
        case MissingDelegateFatalError:
        case DelegateWarning:
        case DelegateError:
        case DelegateFatalError:
            return kErrFormat;
        default:
            return kErrCorrupt;
    }
}

MonitorScope::MonitorScope(Progress& progress, int from, int to) {
    ensureInitialized();
    threadRoute = {&progress, from, to};
}

MonitorScope::~MonitorScope() {
    threadRoute = {};
}

CallMonitor::CallMonitor(ExceptionInfo* exception, CallState& state, int fromPermille,
                         int toPermille)
    : exception_(exception) {
    ensureInitialized();
    std::lock_guard lock(callRoutesMutex);
    callRoutes()[exception] = {&state, fromPermille, toPermille};
}

CallMonitor::~CallMonitor() {
    std::lock_guard lock(callRoutesMutex);
    callRoutes().erase(exception_);
}

}  // namespace pixavant::imaging::magick
