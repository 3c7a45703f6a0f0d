// PIXAVANT's own formats: JPEG XL files in the ISO BMFF container.
//
//   code 5   lossy (XYB), quality factor -1 (visually lossless) to -9 (smallest)
//   code 26  lossless, 1 bit per sample, gray
//   code 30  lossless, gray or RGB
//
// The resolution travels in an "Exif" box (a TIFF structure with XResolution, YResolution and
// ResolutionUnit), which every JPEG XL reader understands or skips.
//
// libjxl encodes and decodes in calls that may take a second or more on a large image and report no
// progress of their own. Both directions therefore run the codec on a worker thread while the
// calling thread, the one whose progress listener is wired to the window, reports an estimate at
// least every 50 ms and passes a cancel on.

#include <brotli/decode.h>
#include <fcntl.h>
#include <jxl/decode.h>
#include <jxl/encode.h>
#include <jxl/thread_parallel_runner.h>
#include <libexif/exif-data.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>

#include "imaging/ColorProfile.h"
#include "imaging/ExifSupport.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/JpegMarkers.h"
#include "imaging/JxlRunner.h"
#include "imaging/MetadataSupport.h"
#include "imaging/PixavantEncoding.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<uint8_t, 2> kCodestreamSignature = {0xFF, 0x0A};
constexpr std::array<uint8_t, 12> kContainerSignature = {0x00, 0x00, 0x00, 0x0C, 0x4A, 0x58,
                                                         0x4C, 0x20, 0x0D, 0x0A, 0x87, 0x0A};

// Bytes handed to the decoder at a time: small enough that a cancel is noticed quickly.
constexpr size_t kInputChunk = 64 * 1024;
// An Exif box larger than this is not a resolution record: it is skipped.
constexpr uint64_t kMaxExifBox = 1 << 20;
// How often the calling thread reports while the worker runs.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Black and white pages code best in the largest modular groups (1024 x 1024): about 5 % smaller.
constexpr int kBilevelGroupSize = 3;

bool startsWith(const QByteArray& bytes, const uint8_t* signature, size_t size) {
    return size_t(bytes.size()) >= size && std::memcmp(bytes.constData(), signature, size) == 0;
}

uint32_t readBigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// ---------------------------------------------------------------------------------------------
// Files

// A read-only file descriptor that closes itself.
class InputFile {
  public:
    explicit InputFile(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC)) {}
    ~InputFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    int64_t size() const {
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        return end < 0 ? -1 : int64_t(end);
    }
    bool seek(int64_t offset) { return ::lseek(fd_, off_t(offset), SEEK_SET) == off_t(offset); }
    // Reads up to `size` bytes; returns the count (0 at the end), or -1 on an error.
    ssize_t read(uint8_t* data, size_t size) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::read(fd_, data + done, size - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return -1;
            if (n == 0)
                break;
            done += size_t(n);
        }
        return ssize_t(done);
    }

  private:
    int fd_;
};

// Writes `data` to `path` (an existing, empty file). Any failure, a short write, a full disk or a
// file-size limit, is kErrWrite.
Status writeWholeFile(const QString& path, const std::vector<uint8_t>& data, Progress& progress) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return kErrWrite;
    constexpr size_t kBlock = 1 << 20;
    size_t done = 0;
    Status status = kSuccess;
    while (done < data.size()) {
        const size_t want = std::min(kBlock, data.size() - done);
        const ssize_t n = ::write(fd, data.data() + done, want);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            status = kErrWrite;
            break;
        }
        done += size_t(n);
        if (!progress.report(99)) {
            status = kErrCancelled;
            break;
        }
    }
    if (::close(fd) != 0 && status == kSuccess)
        status = kErrWrite;
    return status;
}

// ---------------------------------------------------------------------------------------------
// The resolution record

// The payload of an "Exif" box for the given resolution: a 4-byte offset to the TIFF header (0),
// then a big-endian TIFF structure whose first directory holds XResolution, YResolution and
// ResolutionUnit (inches). Empty when there is nothing to record or libexif fails.
std::vector<uint8_t> makeExifPayload(int32_t xDpi, int32_t yDpi) {
    if (xDpi <= 0)
        xDpi = yDpi;
    if (yDpi <= 0)
        yDpi = xDpi;
    if (xDpi <= 0)
        return {};
    ExifData* exif = newLiteralExifData();
    if (exif == nullptr)
        return {};
    const ExifByteOrder order = EXIF_BYTE_ORDER_MOTOROLA;
    exif_data_set_byte_order(exif, order);
    ExifContent* ifd0 = exif->ifd[EXIF_IFD_0];
    bool ok = true;
    auto add = [&](ExifTag tag) -> ExifEntry* {
        ExifEntry* entry = exif_entry_new();
        if (entry == nullptr)
            return nullptr;
        entry->tag = tag;
        exif_content_add_entry(ifd0, entry);
        exif_entry_initialize(entry, tag);  // XResolution, YResolution: 72/1; unit: inches
        exif_entry_unref(entry);            // the directory holds it now
        return entry->data != nullptr ? entry : nullptr;
    };
    ExifEntry* x = add(EXIF_TAG_X_RESOLUTION);
    ExifEntry* y = add(EXIF_TAG_Y_RESOLUTION);
    ExifEntry* unit = add(EXIF_TAG_RESOLUTION_UNIT);
    if (x == nullptr || y == nullptr || unit == nullptr)
        ok = false;
    std::vector<uint8_t> payload;
    if (ok) {
        exif_set_rational(x->data, order, ExifRational{uint32_t(xDpi), 1});
        exif_set_rational(y->data, order, ExifRational{uint32_t(yDpi), 1});
        exif_set_short(unit->data, order, 2);
        unsigned char* saved = nullptr;
        unsigned int savedSize = 0;
        exif_data_save_data(exif, &saved, &savedSize);
        // libexif writes the APP1 identifier "Exif\0\0" before the TIFF header.
        constexpr size_t kIdentifier = 6;
        if (saved != nullptr && savedSize > kIdentifier &&
            std::memcmp(saved, "Exif\0\0", kIdentifier) == 0) {
            payload.assign(4, 0);
            payload.insert(payload.end(), saved + kIdentifier, saved + savedSize);
        }
        free(saved);
    }
    exif_data_unref(exif);
    return payload;
}

// The payload of the "Exif" box: the EXIF carried from the source (which states the output's
// resolution), or else the resolution record alone.
std::vector<uint8_t> exifBoxPayload(const SaveRequest& request) {
    if (request.metadata.exif.empty())
        return makeExifPayload(request.resolution.x, request.resolution.y);
    std::vector<uint8_t> payload(4, 0);  // offset of the TIFF header
    payload.insert(payload.end(), request.metadata.exif.begin(), request.metadata.exif.end());
    return payload;
}

// Reads the resolution from the payload of an "Exif" box. Leaves xDpi and yDpi untouched when the
// payload states none.
void parseExifResolution(const std::vector<uint8_t>& payload, double& xDpi, double& yDpi) {
    if (payload.size() < 4 + 8)
        return;
    const uint64_t offset = readBigEndian32(payload.data());
    if (offset > payload.size() - 4 - 8)
        return;
    std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
    app1.insert(app1.end(), payload.begin() + 4 + ptrdiff_t(offset), payload.end());

    ExifData* exif = newLiteralExifData();
    if (exif == nullptr)
        return;
    exif_data_load_data(exif, app1.data(), unsigned(app1.size()));
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    ExifContent* ifd0 = exif->ifd[EXIF_IFD_0];
    auto rational = [&](ExifTag tag) -> double {
        ExifEntry* entry = ifd0 != nullptr ? exif_content_get_entry(ifd0, tag) : nullptr;
        if (entry == nullptr || entry->format != EXIF_FORMAT_RATIONAL || entry->components < 1 ||
            entry->data == nullptr || entry->size < 8)
            return 0;
        const ExifRational r = exif_get_rational(entry->data, order);
        return r.denominator != 0 ? double(r.numerator) / double(r.denominator) : 0;
    };
    double scale = 1;  // TIFF's default unit is the inch
    if (ExifEntry* unit =
            ifd0 != nullptr ? exif_content_get_entry(ifd0, EXIF_TAG_RESOLUTION_UNIT) : nullptr;
        unit != nullptr && unit->format == EXIF_FORMAT_SHORT && unit->data != nullptr &&
        unit->size >= 2) {
        const int value = exif_get_short(unit->data, order);
        scale = value == 3 ? 2.54 : value == 2 ? 1 : 0;  // 1: no absolute unit
    }
    const double x = rational(EXIF_TAG_X_RESOLUTION) * scale;
    const double y = rational(EXIF_TAG_Y_RESOLUTION) * scale;
    exif_data_unref(exif);
    // Keep the values within what the file information can carry.
    if (std::isfinite(x) && x > 0 && x < 1e6)
        xDpi = x;
    if (std::isfinite(y) && y > 0 && y < 1e6)
        yDpi = y;
    if (xDpi > 0 && yDpi <= 0)
        yDpi = xDpi;
    if (yDpi > 0 && xDpi <= 0)
        xDpi = yDpi;
}

// The Brotli stream decompressed, at most kMaxExifBox bytes of it; empty on any failure.
std::vector<uint8_t> decompressBrotli(const uint8_t* data, size_t size) {
    std::unique_ptr<BrotliDecoderState, void (*)(BrotliDecoderState*)> state(
        BrotliDecoderCreateInstance(nullptr, nullptr, nullptr), BrotliDecoderDestroyInstance);
    if (!state)
        return {};
    std::vector<uint8_t> out(std::min<size_t>(size * 4 + 1024, kMaxExifBox));
    size_t availableIn = size;
    const uint8_t* nextIn = data;
    size_t used = 0;
    for (;;) {
        size_t availableOut = out.size() - used;
        uint8_t* nextOut = out.data() + used;
        const BrotliDecoderResult result = BrotliDecoderDecompressStream(
            state.get(), &availableIn, &nextIn, &availableOut, &nextOut, nullptr);
        used = size_t(nextOut - out.data());
        if (result == BROTLI_DECODER_RESULT_SUCCESS) {
            out.resize(used);
            return out;
        }
        if (result != BROTLI_DECODER_RESULT_NEEDS_MORE_OUTPUT || out.size() >= kMaxExifBox)
            return {};
        out.resize(std::min<size_t>(out.size() * 2, kMaxExifBox));
    }
}

// Finds the first "Exif" box (or box of another `type`) of a container file by walking the box
// headers (no codestream is read), plain or Brotli-compressed (as libjxl stores the metadata of a
// JPEG it carries over). A bare codestream has no boxes. Returns the payload, or nothing.
std::vector<uint8_t> findExifBox(InputFile& file, const char* type = "Exif") {
    const int64_t fileSize = file.size();
    if (fileSize < 0 || !file.seek(0))
        return {};
    std::array<uint8_t, 16> head{};
    if (file.read(head.data(), kContainerSignature.size()) != ssize_t(kContainerSignature.size()) ||
        std::memcmp(head.data(), kContainerSignature.data(), kContainerSignature.size()) != 0)
        return {};
    int64_t position = int64_t(kContainerSignature.size());
    for (int boxes = 0; boxes < 1000 && position + 8 <= fileSize; ++boxes) {
        if (!file.seek(position) || file.read(head.data(), 8) != 8)
            return {};
        uint64_t size = readBigEndian32(head.data());
        uint64_t headerSize = 8;
        if (size == 1) {
            if (file.read(head.data() + 8, 8) != 8)
                return {};
            size = uint64_t(readBigEndian32(head.data() + 8)) << 32 |
                   readBigEndian32(head.data() + 12);
            headerSize = 16;
        } else if (size == 0) {
            size = uint64_t(fileSize - position);  // the last box runs to the end of the file
        }
        if (size < headerSize || size > uint64_t(fileSize - position))
            return {};
        const bool plain = std::memcmp(head.data() + 4, type, 4) == 0;
        const bool compressed = std::memcmp(head.data() + 4, "brob", 4) == 0;
        if (plain || compressed) {
            const uint64_t payloadSize = size - headerSize;
            if (payloadSize > kMaxExifBox)
                return {};
            std::vector<uint8_t> payload(payloadSize);
            if (file.read(payload.data(), payload.size()) != ssize_t(payload.size()))
                return {};
            if (plain)
                return payload;
            // A Brotli-compressed box: its first four bytes name what it holds.
            if (payload.size() > 4 && std::memcmp(payload.data(), type, 4) == 0)
                return decompressBrotli(payload.data() + 4, payload.size() - 4);
        }
        position += int64_t(size);
    }
    return {};
}

// The EXIF and XMP of Brotli-compressed boxes (a JPEG carried over keeps its metadata so), which
// exiv2 does not read, into the blocks of `meta` that are still empty.
void readCompressedMetadata(const QString& path, ImageMeta& meta) {
    InputFile file(path);
    if (!file.isOpen())
        return;
    EmbeddedMetadata& embedded = meta.embedded;
    if (embedded.exif.empty()) {
        // The payload: the offset of the TIFF header, then the EXIF.
        const std::vector<uint8_t> payload = findExifBox(file);
        const uint64_t offset = payload.size() >= 4 ? readBigEndian32(payload.data()) : 0;
        if (payload.size() >= 4 + 8 && offset <= payload.size() - 4 - 8)
            embedded.exif.assign(payload.begin() + 4 + ptrdiff_t(offset), payload.end());
    }
    if (embedded.xmp.empty())
        embedded.xmp = findExifBox(file, "xml ");
}

void readResolution(const QString& path, double& xDpi, double& yDpi) {
    InputFile file(path);
    if (!file.isOpen())
        return;
    const std::vector<uint8_t> payload = findExifBox(file);
    if (!payload.empty())
        parseExifResolution(payload, xDpi, yDpi);
}

// ---------------------------------------------------------------------------------------------
// libjxl helpers

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};
struct EncoderDeleter {
    void operator()(JxlEncoder* encoder) const { JxlEncoderDestroy(encoder); }
};
struct RunnerDeleter {
    void operator()(void* runner) const { JxlThreadParallelRunnerDestroy(runner); }
};
using DecoderPtr = std::unique_ptr<JxlDecoder, DecoderDeleter>;
using EncoderPtr = std::unique_ptr<JxlEncoder, EncoderDeleter>;
using RunnerPtr = std::unique_ptr<void, RunnerDeleter>;

RunnerPtr makeRunner() {
    return RunnerPtr(
        JxlThreadParallelRunnerCreate(nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
}

// Width and height as shown: orientations 5 to 8 swap them.
void orientedSize(const JxlBasicInfo& info, int64_t& width, int64_t& height) {
    const bool swapped = info.orientation >= JXL_ORIENT_TRANSPOSE;
    width = swapped ? info.ysize : info.xsize;
    height = swapped ? info.xsize : info.ysize;
}

// Feeds a file to a decoder in small chunks.
class DecoderInput {
  public:
    DecoderInput(JxlDecoder* decoder, InputFile& file) : decoder_(decoder), file_(file) {}

    // Gives the decoder more input after JXL_DEC_NEED_MORE_INPUT. Returns false at the end of the
    // file (the file is truncated) or on a read error.
    bool refill() {
        const size_t kept = JxlDecoderReleaseInput(decoder_);
        if (eof_)
            return false;
        if (kept > 0)
            std::memmove(buffer_.data(), buffer_.data() + (filled_ - kept), kept);
        const size_t room = kInputChunk;
        buffer_.resize(kept + room);
        const ssize_t n = file_.read(buffer_.data() + kept, room);
        if (n < 0)
            return false;
        if (size_t(n) < room)
            eof_ = true;
        filled_ = kept + size_t(n);
        fed_ += n;
        if (filled_ == 0)
            return false;
        if (JxlDecoderSetInput(decoder_, buffer_.data(), filled_) != JXL_DEC_SUCCESS)
            return false;
        if (eof_)
            JxlDecoderCloseInput(decoder_);
        return true;
    }
    int64_t fed() const { return fed_; }

  private:
    JxlDecoder* decoder_;
    InputFile& file_;
    std::vector<uint8_t> buffer_;
    size_t filled_ = 0;
    int64_t fed_ = 0;
    bool eof_ = false;
};

bool isSrgb(const JxlColorEncoding& encoding) {
    if (encoding.white_point != JXL_WHITE_POINT_D65 ||
        encoding.transfer_function != JXL_TRANSFER_FUNCTION_SRGB)
        return false;
    return encoding.color_space == JXL_COLOR_SPACE_GRAY ||
           (encoding.color_space == JXL_COLOR_SPACE_RGB &&
            encoding.primaries == JXL_PRIMARIES_SRGB);
}

// Format code of a file from its basic information.
int formatCodeOf(const JxlBasicInfo& info) {
    if (!info.uses_original_profile)
        return format::kPixavant;
    if (info.bits_per_sample == 1)
        return format::kPixavant1Bit;
    return format::kPixavantLossless;
}

// ---------------------------------------------------------------------------------------------
// Decoding

// Where decoded pixels go: rows of the raster, alpha composited over white.
struct PixelSink {
    Raster* raster = nullptr;
    int inputChannels = 0;  // colour channels plus alpha when present
    std::atomic<int64_t> pixelsDone{0};

    // Samples of 8 bits (uint8_t) or 16 bits (uint16_t, a deep raster).
    template <typename Sample>
    static void receive(void* opaque, size_t x, size_t y, size_t count, const void* pixels) {
        auto* sink = static_cast<PixelSink*>(opaque);
        Raster& raster = *sink->raster;
        if (y >= size_t(raster.height) || x > size_t(raster.width) ||
            count > size_t(raster.width) - x)
            return;
        const size_t channels = size_t(raster.channels());
        const auto* in = static_cast<const Sample*>(pixels);
        Sample* out = reinterpret_cast<Sample*>(raster.row(int(y))) + x * channels;
        if (size_t(sink->inputChannels) == channels) {
            std::memcpy(out, in, count * channels * sizeof(Sample));
        } else {
            constexpr uint64_t kMax = std::numeric_limits<Sample>::max();
            for (size_t i = 0; i < count; ++i, in += sink->inputChannels, out += channels) {
                const uint64_t alpha = in[channels];
                for (size_t c = 0; c < channels; ++c)
                    out[c] = Sample((in[c] * alpha + kMax * (kMax - alpha) + kMax / 2) / kMax);
            }
        }
        sink->pixelsDone.fetch_add(int64_t(count), std::memory_order_relaxed);
    }
};

// Whether the decoded pixels are kept at 16 bits: the file stores more than 8 bits per sample.
bool decodesDeep(const JxlBasicInfo& info) {
    return info.bits_per_sample > 8;
}

// One decode, shared between the worker that runs it and the caller that watches it.
struct DecodeJob {
    QString path;
    DecodedImage* image = nullptr;
    PixelSink sink;
    std::atomic<bool> cancel{false};
    std::atomic<int64_t> totalPixels{0};
    std::atomic<int64_t> bytesFed{0};
    std::atomic<int64_t> fileSize{1};

    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Status status = kSuccess;
};

// Gets the colour profile of the decoded pixels into `meta`: nothing when they are sRGB, the ICC
// profile otherwise. Lossy images whose original profile is ICC are decoded to sRGB.
bool handleColorEncoding(JxlDecoder* decoder, const JxlBasicInfo& info, ImageMeta& meta) {
    JxlColorEncoding original{};
    const bool hasEnum =
        JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_ORIGINAL,
                                           &original) == JXL_DEC_SUCCESS;
    if (!info.uses_original_profile && !hasEnum) {
        // The decoder would pick linear light, which 8-bit samples cannot carry well.
        JxlColorEncoding srgb{};
        JxlColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1);
        if (JxlDecoderSetPreferredColorProfile(decoder, &srgb) != JXL_DEC_SUCCESS)
            return false;
    }
    JxlColorEncoding data{};
    if (JxlDecoderGetColorAsEncodedProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                           &data) == JXL_DEC_SUCCESS &&
        isSrgb(data))
        return true;
    size_t size = 0;
    if (JxlDecoderGetICCProfileSize(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA, &size) !=
            JXL_DEC_SUCCESS ||
        size == 0 || size > (64u << 20))
        return true;  // no profile to be had: the pixels are taken as sRGB
    meta.iccProfile.resize(size);
    if (JxlDecoderGetColorAsICCProfile(decoder, nullptr, JXL_COLOR_PROFILE_TARGET_DATA,
                                       meta.iccProfile.data(), size) != JXL_DEC_SUCCESS)
        meta.iccProfile.clear();
    return true;
}

// Shapes the raster and the pixel format the decoder writes by the basic information; the
// pixels are allocated later.
Status shapeOutput(const JxlBasicInfo& info, DecodeJob& job, JxlPixelFormat& pixelFormat) {
    int64_t width = 0;
    int64_t height = 0;
    orientedSize(info, width, height);
    if (const Status size = checkImageSize(width, height); size != kSuccess)
        return size;
    Raster& raster = job.image->raster;
    raster.width = int(width);
    raster.height = int(height);
    raster.format = info.num_color_channels == 1 ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    if (decodesDeep(info)) {
        raster.format = info.num_color_channels == 1 ? PixelFormat::Gray16 : PixelFormat::Rgb16;
        pixelFormat.data_type = JXL_TYPE_UINT16;
    }
    job.sink.raster = &raster;
    job.sink.inputChannels = raster.channels() + (info.alpha_bits > 0 ? 1 : 0);
    pixelFormat.num_channels = uint32_t(job.sink.inputChannels);
    job.totalPixels.store(width * height);
    return kSuccess;
}

Status runDecode(DecodeJob& job) {
    InputFile file(job.path);
    if (!file.isOpen())
        return kErrFileNotFound;
    job.fileSize.store(std::max<int64_t>(file.size(), 1));
    if (!file.seek(0))
        return kErrFileNotFound;

    DecoderPtr decoder(JxlDecoderCreate(nullptr));
    RunnerPtr runner = makeRunner();
    if (!decoder || !runner)
        return kErrNoMemory;
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING |
                                                     JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner, runner.get()) !=
            JXL_DEC_SUCCESS ||
        JxlDecoderSetUnpremultiplyAlpha(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS)
        return kErrNoMemory;

    DecoderInput input(decoder.get(), file);
    JxlBasicInfo info{};
    bool haveInfo = false;
    Raster& raster = job.image->raster;
    JxlPixelFormat pixelFormat{1, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};

    for (;;) {
        if (job.cancel.load())
            return kErrCancelled;
        const JxlDecoderStatus status = JxlDecoderProcessInput(decoder.get());
        switch (status) {
            case JXL_DEC_NEED_MORE_INPUT:
                if (!input.refill())
                    return kErrCorrupt;
                job.bytesFed.store(input.fed());
                break;
            case JXL_DEC_BASIC_INFO:
                if (JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
                    return kErrCorrupt;
                if (const Status shaped = shapeOutput(info, job, pixelFormat); shaped != kSuccess)
                    return shaped;
                haveInfo = true;
                break;
            case JXL_DEC_COLOR_ENCODING:
                if (!haveInfo || !handleColorEncoding(decoder.get(), info, job.image->meta))
                    return kErrCorrupt;
                break;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
                // The pixels are allocated only once the frame's header has been read: a file
                // that is damaged before its pixel data costs no memory.
                if (!haveInfo)
                    return kErrCorrupt;
                if (!raster.allocate())
                    return kErrNoMemory;
                if (JxlDecoderSetImageOutCallback(decoder.get(), &pixelFormat,
                                                  raster.isDeep() ? &PixelSink::receive<uint16_t>
                                                                  : &PixelSink::receive<uint8_t>,
                                                  &job.sink) != JXL_DEC_SUCCESS)
                    return kErrCorrupt;
                break;
            case JXL_DEC_FULL_IMAGE:
                return kSuccess;  // the first frame is the image
            case JXL_DEC_SUCCESS:
                return kErrCorrupt;  // the stream ended without an image
            default:
                return kErrCorrupt;
        }
    }
}

// Reads only as far as the basic information.
Status readBasicInfo(const QString& path, JxlBasicInfo& info) {
    InputFile file(path);
    if (!file.isOpen())
        return kErrFileNotFound;
    DecoderPtr decoder(JxlDecoderCreate(nullptr));
    if (!decoder)
        return kErrNoMemory;
    if (JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS)
        return kErrNoMemory;
    DecoderInput input(decoder.get(), file);
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_NEED_MORE_INPUT:
                if (!input.refill())
                    return kErrCorrupt;
                break;
            case JXL_DEC_BASIC_INFO:
                return JxlDecoderGetBasicInfo(decoder.get(), &info) == JXL_DEC_SUCCESS
                           ? kSuccess
                           : kErrCorrupt;
            default:
                return kErrCorrupt;
        }
    }
}

class PixavantReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        return startsWith(header.bytes, kCodestreamSignature.data(), kCodestreamSignature.size()) ||
               startsWith(header.bytes, kContainerSignature.data(), kContainerSignature.size());
    }

    Status readInfo(const QString& path, const FileHeader&, FileInfoRecord& record) override {
        JxlBasicInfo info{};
        if (const Status status = readBasicInfo(path, info); status != kSuccess)
            return status;
        int64_t width = 0;
        int64_t height = 0;
        orientedSize(info, width, height);
        if (const Status size = checkImageSize(width, height); size != kSuccess)
            return size;
        const int channels = info.num_color_channels == 1 ? 1 : 3;
        record.Format = formatCodeOf(info);
        record.Width = int32_t(width);
        record.Height = int32_t(height);
        record.BitsPerPixel = int32_t(info.bits_per_sample) * channels;
        record.Compression = record.Format == format::kPixavant
                                 ? QStringLiteral("JPEG XL")
                                 : QStringLiteral("JPEG XL lossless");
        record.SizeMem = int32_t(
            std::min<int64_t>(imageDataSize(width, height, record.BitsPerPixel), INT32_MAX));
        double xDpi = 0;
        double yDpi = 0;
        readResolution(path, xDpi, yDpi);
        record.XResolution = int32_t(std::lrint(xDpi));
        record.YResolution = int32_t(std::lrint(yDpi));
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader&, const ReadOptions&, DecodedImage& image,
                Progress& progress) override {
        auto job = std::make_shared<DecodeJob>();
        job->path = path;
        DecodedImage decoded;
        job->image = &decoded;

        std::thread worker([job] {
            Status status = kSuccess;
            try {
                status = runDecode(*job);
            } catch (const std::bad_alloc&) {
                status = kErrNoMemory;
            } catch (...) {
                status = kErrCorrupt;
            }
            std::lock_guard lock(job->mutex);
            job->status = status;
            job->done = true;
            job->finished.notify_all();
        });

        bool cancelled = false;
        {
            std::unique_lock lock(job->mutex);
            while (!job->done) {
                job->finished.wait_for(lock, kPollInterval);
                if (job->done || cancelled)
                    continue;
                lock.unlock();
                const int64_t total = job->totalPixels.load();
                const int64_t pixels = job->sink.pixelsDone.load(std::memory_order_relaxed);
                const int64_t bytes = job->bytesFed.load();
                // Pixels arrive as groups are decoded; the input read is the fallback before that.
                int percent =
                    int(std::min<int64_t>(bytes * 90 / std::max<int64_t>(job->fileSize, 1), 90));
                if (total > 0)
                    percent = std::max(percent, int(pixels * 99 / total));
                if (!progress.report(std::min(percent, 99))) {
                    cancelled = true;
                    job->cancel.store(true);
                }
                lock.lock();
            }
        }
        worker.join();
        if (cancelled)
            return kErrCancelled;
        if (job->status != kSuccess)
            return job->status;
        readResolution(path, decoded.meta.xDpi, decoded.meta.yDpi);
        readEmbeddedMetadata(path, decoded.meta);
        readCompressedMetadata(path, decoded.meta);
        image = std::move(decoded);
        return kSuccess;
    }
};

// ---------------------------------------------------------------------------------------------
// Encoding

// The pixels as the encoder takes them: gray or RGB, 8 bits per sample (16 from a deep raster).
struct EncoderInput {
    const uint8_t* pixels = nullptr;
    size_t size = 0;
    uint32_t channels = 1;
    uint32_t bitsPerSample = 8;
    std::vector<uint8_t> storage;  // when the raster had to be converted
};

// Whether an ICC profile's colour space is gray ("GRAY") or RGB ("RGB ").
bool iccMatches(const std::vector<uint8_t>& icc, uint32_t channels) {
    if (icc.size() < 128)
        return false;
    const char* space = reinterpret_cast<const char*>(icc.data()) + 16;
    return channels == 1 ? std::memcmp(space, "GRAY", 4) == 0 : std::memcmp(space, "RGB ", 4) == 0;
}

// Bilevel pixels: a raster that holds only black and white is taken as it is; anything else is
// dithered to black and white first.
Status prepareBilevel(const Raster& raster, EncoderInput& input) {
    const bool twoLevels = raster.format == PixelFormat::Bilevel ||
                           (raster.format == PixelFormat::Gray8 &&
                            std::all_of(raster.pixels.begin(), raster.pixels.end(),
                                        [](uint8_t v) { return v == 0 || v == 255; }));
    if (twoLevels) {
        input.pixels = raster.pixels.data();
        input.size = raster.pixels.size();
    } else {
        Raster bilevel;
        if (const Status status = convertDepth(raster, 1, bilevel); status != kSuccess)
            return status;
        if (bilevel.format != PixelFormat::Bilevel && bilevel.format != PixelFormat::Gray8)
            return kErrInvalidArgument;
        input.storage = std::move(bilevel.pixels);
        input.pixels = input.storage.data();
        input.size = input.storage.size();
    }
    input.channels = 1;
    input.bitsPerSample = 1;
    return kSuccess;
}

// 16 bits per sample, as the raster holds them.
Status prepareDeepInput(const Raster& raster, EncoderInput& input) {
    input.pixels = raster.pixels.data();
    input.size = raster.rowBytes() * size_t(raster.height);
    input.channels = uint32_t(raster.channels());
    input.bitsPerSample = 16;
    return kSuccess;
}

Status prepareInput(const Raster& raster, int formatCode, EncoderInput& input) {
    if (raster.empty() || raster.pixels.size() < raster.rowBytes() * size_t(raster.height))
        return kErrInvalidArgument;
    if (formatCode == format::kPixavant1Bit)
        return prepareBilevel(raster, input);
    if (raster.isDeep())
        return prepareDeepInput(raster, input);
    if (raster.format == PixelFormat::Indexed8) {
        // No palette in these files: the colours are written out.
        input.storage.resize(size_t(raster.width) * size_t(raster.height) * 3);
        uint8_t* out = input.storage.data();
        for (const uint8_t index : raster.pixels) {
            const PaletteEntry colour =
                index < raster.palette.size() ? raster.palette[index] : PaletteEntry{};
            out = std::copy(colour.begin(), colour.end(), out);
        }
        input.pixels = input.storage.data();
        input.size = input.storage.size();
        input.channels = 3;
    } else {
        input.pixels = raster.pixels.data();
        input.size = raster.rowBytes() * size_t(raster.height);
        input.channels = uint32_t(raster.channels());
    }
    // The 16-bit colour depth keeps 5 significant bits: stored as such when lossless.
    input.bitsPerSample = formatCode == format::kPixavantLossless && raster.significantBits == 5 &&
                                  raster.format != PixelFormat::Indexed8
                              ? 5
                              : 8;
    return kSuccess;
}

// One encode, shared between the worker that runs it and the caller that watches it. The worker
// owns everything it touches, so an abandoned encode can finish on its own.
struct EncodeJob {
    EncoderPtr encoder;
    JxlRunner runner;
    JxlEncoderFrameSettings* settings = nullptr;
    // The caller's pixels: valid until pixelsTaken, when libjxl has its own copy.
    const uint8_t* pixels = nullptr;
    size_t size = 0;
    JxlPixelFormat pixelFormat{1, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    // A JPEG file carried over as it is, instead of pixels.
    std::vector<uint8_t> jpeg;
    std::vector<uint8_t> output;
    Status status = kSuccess;
    std::mutex mutex;
    std::condition_variable finished;
    bool pixelsTaken = false;
    bool done = false;
};

Status encoderFailure(JxlEncoder* encoder) {
    return JxlEncoderGetError(encoder) == JXL_ENC_ERR_OOM ? kErrNoMemory : kErrInvalidArgument;
}

// How the colours of the pixels are stated: sRGB, a colour space JPEG XL names, or the file's
// own ICC profile.
struct ColourSignal {
    bool icc = false;
    std::optional<JxlColorEncoding> named;  // when not ICC; nothing: sRGB
};

// A lossy encode converts from the colour space stated: one libjxl names is converted many times
// faster than an ICC profile (and an sRGB profile of some other make is sRGB for it only when
// named so). A lossless file keeps its ICC profile exactly as it was.
ColourSignal colourSignal(const ImageMeta& meta, uint32_t channels, bool lossy) {
    ColourSignal signal;
    if (!iccMatches(meta.iccProfile, channels))
        return signal;
    if (lossy) {
        signal.named = namedColorEncoding(meta.iccProfile, int(channels));
        if (signal.named)
            return signal;
    }
    signal.icc = true;
    return signal;
}

JxlEncoderStatus setColour(JxlEncoder* encoder, const ImageMeta& meta, uint32_t channels,
                           const ColourSignal& signal) {
    if (signal.icc)
        return JxlEncoderSetICCProfile(encoder, meta.iccProfile.data(), meta.iccProfile.size());
    JxlColorEncoding encoding{};
    if (signal.named)
        encoding = *signal.named;
    else
        JxlColorEncodingSetToSRGB(&encoding, channels == 1);
    return JxlEncoderSetColorEncoding(encoder, &encoding);
}

// A new encoder on the job's runner, writing a container.
Status createEncoder(EncodeJob& job) {
    job.encoder.reset(JxlEncoderCreate(nullptr));
    JxlEncoder* encoder = job.encoder.get();
    if (!encoder || !job.runner.valid())
        return kErrNoMemory;
    if (JxlEncoderSetParallelRunner(encoder, JxlRunner::run, job.runner.opaque()) !=
            JXL_ENC_SUCCESS ||
        JxlEncoderUseContainer(encoder, JXL_TRUE) != JXL_ENC_SUCCESS)
        return encoderFailure(encoder);
    return kSuccess;
}

Status addMetadataBoxes(JxlEncoder* encoder, const std::vector<uint8_t>& exif,
                        const std::vector<uint8_t>& xmp) {
    if (exif.empty() && xmp.empty())
        return kSuccess;
    if (JxlEncoderUseBoxes(encoder) != JXL_ENC_SUCCESS ||
        (!exif.empty() && JxlEncoderAddBox(encoder, "Exif", exif.data(), exif.size(), JXL_FALSE) !=
                              JXL_ENC_SUCCESS) ||
        (!xmp.empty() &&
         JxlEncoderAddBox(encoder, "xml ", xmp.data(), xmp.size(), JXL_FALSE) != JXL_ENC_SUCCESS))
        return encoderFailure(encoder);
    JxlEncoderCloseBoxes(encoder);
    return kSuccess;
}

// Sets up the encoder; the pixels are handed over on the worker.
Status configureEncoder(EncodeJob& job, const EncoderInput& input, const Raster& raster,
                        const ImageMeta& meta, const SaveRequest& request,
                        const ColourSignal& colour) {
    if (const Status status = createEncoder(job); status != kSuccess)
        return status;
    JxlEncoder* encoder = job.encoder.get();
    const bool lossy = request.formatCode == format::kPixavant;

    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(raster.width);
    info.ysize = uint32_t(raster.height);
    info.bits_per_sample = input.bitsPerSample;
    info.num_color_channels = input.channels;
    info.uses_original_profile = lossy ? JXL_FALSE : JXL_TRUE;
    if (JxlEncoderSetBasicInfo(encoder, &info) != JXL_ENC_SUCCESS ||
        setColour(encoder, meta, input.channels, colour) != JXL_ENC_SUCCESS)
        return encoderFailure(encoder);

    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    if (settings == nullptr)
        return kErrNoMemory;
    bool ok = true;
    const int effort = effectiveEffort(request.formatCode, request.qualityFactor, request.effort);
    if (lossy) {
        ok = JxlEncoderSetFrameDistance(settings, lossyDistance(request.qualityFactor)) ==
                 JXL_ENC_SUCCESS &&
             JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort) ==
                 JXL_ENC_SUCCESS;
    } else {
        const bool bilevel = input.bitsPerSample == 1;
        ok = JxlEncoderSetFrameLossless(settings, JXL_TRUE) == JXL_ENC_SUCCESS &&
             JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, effort) ==
                 JXL_ENC_SUCCESS &&
             (!bilevel ||
              JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_MODULAR_GROUP_SIZE,
                                               kBilevelGroupSize) == JXL_ENC_SUCCESS);
    }
    if (!ok)
        return encoderFailure(encoder);
    if (const Status status =
            addMetadataBoxes(encoder, exifBoxPayload(request), request.metadata.xmp);
        status != kSuccess)
        return status;
    job.settings = settings;
    job.pixels = input.pixels;
    job.size = input.size;
    job.pixelFormat.num_channels = input.channels;
    job.pixelFormat.data_type = input.bitsPerSample > 8 ? JXL_TYPE_UINT16 : JXL_TYPE_UINT8;
    return kSuccess;
}

// Runs the encoder until the whole file is in job.output.
Status drainOutput(EncodeJob& job) {
    JxlEncoder* encoder = job.encoder.get();
    job.output.resize(1 << 16);
    size_t used = 0;
    for (;;) {
        uint8_t* next = job.output.data() + used;
        size_t avail = job.output.size() - used;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &avail);
        used = size_t(next - job.output.data());
        if (status == JXL_ENC_SUCCESS)
            break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT)
            return encoderFailure(encoder);
        job.output.resize(job.output.size() * 2);
    }
    job.output.resize(used);
    job.output.shrink_to_fit();
    return kSuccess;
}

Status runEncode(EncodeJob& job) {
    JxlEncoder* encoder = job.encoder.get();
    bool added = false;
    if (!job.jpeg.empty()) {
        added = JxlEncoderAddJPEGFrame(job.settings, job.jpeg.data(), job.jpeg.size()) ==
                JXL_ENC_SUCCESS;
    } else {
        // libjxl copies the pixels here (and converts them, which takes a while on a large
        // image); a cancel meanwhile makes it fail at once.
        job.runner.markIntake(true);
        added = JxlEncoderAddImageFrame(job.settings, &job.pixelFormat, job.pixels, job.size) ==
                JXL_ENC_SUCCESS;
        job.runner.markIntake(false);
    }
    {
        std::lock_guard lock(job.mutex);
        job.pixels = nullptr;
        job.pixelsTaken = true;
        job.finished.notify_all();
    }
    if (job.runner.refused())
        return kErrCancelled;
    if (!added)
        return encoderFailure(encoder);
    JxlEncoderCloseInput(encoder);
    return drainOutput(job);
}

// Rough time of an encode of this many pixels, for the progress estimate.
double expectedSeconds(double pixels, int formatCode, int effort, bool jpeg) {
    // Measured on one core; a JPEG carried over takes 60 ns per pixel.
    const double perPixel = jpeg ? 60e-9 : encodeSecondsPerPixel(formatCode, effort);
    const double threads =
        double(std::max<size_t>(JxlThreadParallelRunnerDefaultNumWorkerThreads(), 1));
    return std::max(pixels * perPixel / std::sqrt(threads), 0.01);
}

// The percentage shown after `elapsed` seconds of an encode expected to take `expected`: about
// two thirds at the expected time, still rising at twenty times that (a busy machine, an image
// harder than most), never reaching 99 %.
int estimatedPercent(double elapsed, double expected) {
    return 1 + int(98.0 * elapsed / (elapsed + expected / 2));
}

// ---------------------------------------------------------------------------------------------
// A JPEG carried over as it is

// The JPEG named by the request as it is to be carried over, when that keeps everything the
// caller asked for: gray or colour (CMYK is not carried), and the resolution asked stated
// wherever the file states one. EXIF and JFIF values that state another are rewritten in place,
// so that the JPEG rebuilt from the output differs from the source only there. Empty otherwise.
std::vector<uint8_t> jpegToCarryOver(const SaveRequest& request, JpegFacts& facts) {
    if (request.formatCode != format::kPixavantLossless || request.jpegSource.isEmpty())
        return {};
    const SaveResolution& asked = request.resolution;
    const int32_t xDpi = asked.x > 0 ? asked.x : asked.y;
    const int32_t yDpi = asked.y > 0 ? asked.y : asked.x;
    if (xDpi <= 0)
        return {};
    QFile file(request.jpegSource);
    constexpr qint64 kMaxJpeg = qint64(1) << 30;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxJpeg)
        return {};
    std::vector<uint8_t> jpeg(size_t(file.size()));
    if (file.read(reinterpret_cast<char*>(jpeg.data()), qint64(jpeg.size())) != qint64(jpeg.size()))
        return {};
    if (!readJpegFacts(jpeg, facts) || (facts.components != 1 && facts.components != 3))
        return {};
    // The EXIF is carried with the file and states the output's resolution: without one of its
    // own there, the resolution cannot be stated.
    if (facts.exifAt != 0 &&
        setExifResolutionInPlace(jpeg.data() + facts.exifAt, facts.exifSize, uint32_t(xDpi),
                                 uint32_t(yDpi)) == InPlaceEdit::Impossible)
        return {};
    if (facts.jfifAt != 0 && !setJfifDensityInPlace(jpeg, facts.jfifAt, xDpi, yDpi))
        return {};
    return jpeg;
}

// Sets up the encoder to carry the JPEG over (losslessly recompressed, the original file
// reconstructible bit for bit). The file's own EXIF goes with it, and libjxl signals its
// orientation in the header; without one, the resolution gets an Exif box of its own.
Status configureJpegCarryOver(EncodeJob& job, std::vector<uint8_t> jpeg, const JpegFacts& facts,
                              const SaveRequest& request) {
    if (const Status status = createEncoder(job); status != kSuccess)
        return status;
    JxlEncoder* encoder = job.encoder.get();
    if (JxlEncoderStoreJPEGMetadata(encoder, JXL_TRUE) != JXL_ENC_SUCCESS)
        return encoderFailure(encoder);
    if (facts.exifAt == 0) {
        if (const Status status = addMetadataBoxes(
                encoder, makeExifPayload(request.resolution.x, request.resolution.y), {});
            status != kSuccess)
            return status;
    }
    job.settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    if (job.settings == nullptr)
        return kErrNoMemory;
    job.jpeg = std::move(jpeg);
    return kSuccess;
}

// A JPEG carried over is recompressed at libjxl's own effort unless the caller asks for one.
Status setRequestedEffort(EncodeJob& job, const SaveRequest& request) {
    if (request.effort < kMinEffort || request.effort > kMaxEffort)
        return kSuccess;
    return JxlEncoderFrameSettingsSetOption(job.settings, JXL_ENC_FRAME_SETTING_EFFORT,
                                            request.effort) == JXL_ENC_SUCCESS
               ? kSuccess
               : encoderFailure(job.encoder.get());
}

// The orientation the header of an encoded file states; 0 when it cannot be read.
int statedOrientation(const std::vector<uint8_t>& encoded) {
    DecoderPtr decoder(JxlDecoderCreate(nullptr));
    // Told to keep the orientation, the decoder reports it instead of applying it.
    if (!decoder ||
        JxlDecoderSubscribeEvents(decoder.get(), JXL_DEC_BASIC_INFO) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(decoder.get(), JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), encoded.data(), encoded.size()) != JXL_DEC_SUCCESS)
        return 0;
    JxlDecoderCloseInput(decoder.get());
    JxlBasicInfo info{};
    if (JxlDecoderProcessInput(decoder.get()) != JXL_DEC_BASIC_INFO ||
        JxlDecoderGetBasicInfo(decoder.get(), &info) != JXL_DEC_SUCCESS)
        return 0;
    return int(info.orientation);
}

class PixavantWriter final : public FormatWriter {
  public:
    bool writes(int formatCode) const override { return format::isPixavant(formatCode); }

    Status write(const QString& path, const Raster& raster, const ImageMeta& meta,
                 const SaveRequest& request, Progress& progress) override {
        if (!writes(request.formatCode))
            return kErrInvalidArgument;
        if (const Status size = checkImageSize(raster.width, raster.height); size != kSuccess)
            return size == kErrCorrupt ? kErrInvalidArgument : size;
        const double pixels = double(raster.width) * double(raster.height);
        effort_ = effectiveEffort(request.formatCode, request.qualityFactor, request.effort);

        Status status = carryOver(request, pixels, progress);
        if (status == kErrCancelled || status == kErrNoMemory)
            return status;
        // Otherwise, a JPEG that cannot be carried over is encoded from its pixels.
        if (status != kSuccess) {
            EncoderInput input;
            if (status = prepareInput(raster, request.formatCode, input); status != kSuccess)
                return status;
            const bool lossy = request.formatCode == format::kPixavant;
            const ColourSignal colour = colourSignal(meta, input.channels, lossy);
            auto configure = [&](const ColourSignal& signal) {
                return [&, signal](EncodeJob& job) {
                    return configureEncoder(job, input, raster, meta, request, signal);
                };
            };
            status = encode(progress, pixels, request.formatCode, false, configure(colour));
            if (colour.icc && status != kSuccess && status != kErrCancelled &&
                status != kErrNoMemory) {
                // libjxl could not use the profile (for a lossy file it must convert from it):
                // the pixels are then written as sRGB.
                status =
                    encode(progress, pixels, request.formatCode, false, configure(ColourSignal{}));
            }
        }
        if (status != kSuccess)
            return status;
        return writeWholeFile(path, output_, progress);
    }

  private:
    // Carries the request's JPEG over into output_. kSuccess when it did, with the bytes carried
    // handed to the caller; any other status when the pixels are to be encoded instead.
    Status carryOver(const SaveRequest& request, double pixels, Progress& progress) {
        JpegFacts facts;
        std::vector<uint8_t> jpeg = jpegToCarryOver(request, facts);
        if (jpeg.empty())
            return kErrInvalidArgument;
        std::vector<uint8_t> carried = jpeg;
        const Status status =
            encode(progress, pixels, request.formatCode, true, [&](EncodeJob& job) {
                const Status configured =
                    configureJpegCarryOver(job, std::move(jpeg), facts, request);
                return configured == kSuccess ? setRequestedEffort(job, request) : configured;
            });
        if (status != kSuccess)
            return status;
        // The pixels were turned as the JPEG reader read the orientation: libjxl must state the
        // same one for the file to show as they do.
        if (statedOrientation(output_) != facts.orientation)
            return kErrInvalidArgument;
        if (request.carriedJpeg != nullptr)
            *request.carriedJpeg = std::move(carried);
        return kSuccess;
    }

    Status encode(Progress& progress, double pixels, int formatCode, bool jpeg,
                  const std::function<Status(EncodeJob&)>& configure) {
        output_.clear();
        auto job = std::make_shared<EncodeJob>();
        if (const Status status = configure(*job); status != kSuccess)
            return status;
        if (!progress.report(1))
            return kErrCancelled;

        std::thread worker([job] {
            Status status = kSuccess;
            try {
                status = runEncode(*job);
            } catch (const std::bad_alloc&) {
                status = kErrNoMemory;
            }
            std::lock_guard lock(job->mutex);
            job->status = status;
            job->done = true;
            job->finished.notify_all();
        });

        // The encoder says nothing until it is done: report the time gone by against the time an
        // encode of this size takes, approaching but never reaching 99 %.
        const double expected = expectedSeconds(pixels, formatCode, effort_, jpeg);
        const auto start = Clock::now();
        std::unique_lock lock(job->mutex);
        while (!job->done) {
            job->finished.wait_for(lock, kPollInterval);
            if (job->done)
                break;
            lock.unlock();
            const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
            const int percent = estimatedPercent(elapsed, expected);
            if (!progress.report(percent)) {
                // While libjxl takes the pixels in, the runner stops it at once. Later libjxl
                // cannot be interrupted safely: once it holds its own copy of the pixels, the
                // worker owns everything it touches and finishes alone.
                job->runner.refuse();
                lock.lock();
                job->finished.wait(lock, [&] { return job->pixelsTaken || job->done; });
                lock.unlock();
                worker.detach();
                return kErrCancelled;
            }
            lock.lock();
        }
        lock.unlock();
        worker.join();
        if (job->status != kSuccess)
            return job->status;
        output_ = std::move(job->output);
        return kSuccess;
    }

    std::vector<uint8_t> output_;
    int effort_ = 0;  // of the write in progress
};

}  // namespace

std::unique_ptr<FormatReader> makePixavantReader() {
    return std::make_unique<PixavantReader>();
}
std::unique_ptr<FormatWriter> makePixavantWriter() {
    return std::make_unique<PixavantWriter>();
}

}  // namespace pixavant::imaging
