// WebP reading through libwebp: stills (lossy, lossless, with alpha) decoded incrementally, so
// that progress is reported and a cancel stops the decode; animations give their first frame on
// the canvas, with a note saying how many frames there were. EXIF, XMP and ICC profile chunks are
// carried, and an EXIF orientation is applied as a JPEG's is.

#include <webp/decode.h>
#include <webp/demux.h>

#include <QFile>
#include <algorithm>
#include <memory>
#include <string>

#include "imaging/AnimationNote.h"
#include "imaging/ErrorDetail.h"
#include "imaging/ExifSupport.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {

namespace {

// A RIFF chunk size is 32 bits: no WebP file is larger.
constexpr qint64 kMaxFileSize = qint64{1} << 32;
// Bytes handed to the incremental decoder at a time, between progress reports.
constexpr size_t kFeedBytes = 64 * 1024;

struct DemuxDelete {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
struct IdecDelete {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};
struct AnimDelete {
    void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using DemuxPtr = std::unique_ptr<WebPDemuxer, DemuxDelete>;

const char* statusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            return "out of memory";
        case VP8_STATUS_INVALID_PARAM:
            return "invalid parameter";
        case VP8_STATUS_BITSTREAM_ERROR:
            return "bitstream error";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "unsupported feature";
        case VP8_STATUS_SUSPENDED:
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "not enough data: the file is cut short";
        case VP8_STATUS_USER_ABORT:
            return "decoding abandoned";
        default:
            return "decoding failed";
    }
}

Status failWith(VP8StatusCode status) {
    noteErrorDetail(QString::fromLatin1(statusText(status)));
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            return kErrNoMemory;
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return kErrFormat;
        default:
            return kErrCorrupt;
    }
}

Status readWholeFile(const QString& path, QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kErrFileNotFound;
    if (file.size() > kMaxFileSize)
        return kErrCorrupt;
    bytes = file.readAll();
    return bytes.size() == file.size() ? kSuccess : kErrCorrupt;
}

// The file's container, complete and consistent, or nothing (the reason noted).
DemuxPtr demuxOf(const QByteArray& bytes) {
    const WebPData data{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    DemuxPtr demux(WebPDemuxPartial(&data, &state));
    if (demux && state == WEBP_DEMUX_DONE)
        return demux;
    noteErrorDetail(state == WEBP_DEMUX_PARSE_ERROR
                        ? QStringLiteral("the WebP container is damaged")
                        : QStringLiteral("the WebP container is cut short"));
    return nullptr;
}

std::vector<uint8_t> chunkOf(WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator chunk;
    std::vector<uint8_t> bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &chunk))
        bytes.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
    WebPDemuxReleaseChunkIterator(&chunk);
    return bytes;
}

void readMetadata(WebPDemuxer* demux, ImageMeta& meta) {
    const std::vector<uint8_t> exif = chunkOf(demux, "EXIF");
    if (!exif.empty()) {
        meta.embedded.exif = exifTiffStructure(exif.data(), exif.size());
        if (meta.embedded.exif.empty())
            meta.notes.push_back("EXIF chunk damaged: left out");
    }
    meta.embedded.xmp = chunkOf(demux, "XMP ");
    meta.iccProfile = chunkOf(demux, "ICCP");
}

// What the file is, from its container and first frame's bitstream.
struct WebpFacts {
    int width = 0;  // the canvas
    int height = 0;
    int frames = 1;
    bool alpha = false;
    bool animated = false;
    int bitstream = 0;  // 1 lossy, 2 lossless (of an animation: its first frame), 0 unknown
    int orientation = 1;
};

Status factsOf(const QByteArray& bytes, WebPDemuxer* demux, WebpFacts& facts) {
    facts.width = int(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH));
    facts.height = int(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT));
    facts.frames = std::max(1, int(WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT)));
    const uint32_t flags = WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS);
    facts.animated = (flags & ANIMATION_FLAG) != 0;
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(
        reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()), &features);
    if (status != VP8_STATUS_OK)
        return failWith(status);
    facts.alpha = features.has_alpha != 0 || (flags & ALPHA_FLAG) != 0;
    facts.bitstream = features.format;
    WebPIterator frame;
    if (facts.animated && WebPDemuxGetFrame(demux, 1, &frame)) {  // the first frame's coding
        WebPBitstreamFeatures first;
        if (WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &first) == VP8_STATUS_OK)
            facts.bitstream = first.format;
        WebPDemuxReleaseIterator(&frame);
    }
    const std::vector<uint8_t> exif = chunkOf(demux, "EXIF");
    facts.orientation = exifOrientation(exifTiffStructure(exif.data(), exif.size()));
    return checkImageSize(facts.width, facts.height);
}

uint8_t overWhite(unsigned c, unsigned a) {
    return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
}

// RGBA rows (tightly packed) into the raster, over white.
void compositeRgba(const uint8_t* rgba, Raster& raster) {
    const size_t count = size_t(raster.width) * size_t(raster.height);
    uint8_t* q = raster.pixels.data();
    for (size_t i = 0; i < count; ++i, rgba += 4) {
        *q++ = overWhite(rgba[0], rgba[3]);
        *q++ = overWhite(rgba[1], rgba[3]);
        *q++ = overWhite(rgba[2], rgba[3]);
    }
}

Status prepareRaster(const WebpFacts& facts, Raster& raster) {
    raster.width = facts.width;
    raster.height = facts.height;
    raster.format = PixelFormat::Rgb8;
    return raster.allocate() ? kSuccess : kErrNoMemory;
}

// A still through the incremental decoder, fed a piece at a time.
Status decodeStill(const QByteArray& bytes, const WebpFacts& facts, Raster& raster,
                   Progress& progress) {
    if (const Status status = prepareRaster(facts, raster); status != kSuccess)
        return status;
    std::vector<uint8_t> rgba;
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return kErrFormat;
    WebPDecBuffer& output = config.output;
    output.is_external_memory = 1;
    if (facts.alpha) {
        const size_t size = size_t(facts.width) * size_t(facts.height) * 4;
        try {
            rgba.resize(size);
        } catch (const std::bad_alloc&) {
            return kErrNoMemory;
        }
        output.colorspace = MODE_RGBA;
        output.u.RGBA = {rgba.data(), facts.width * 4, size};
    } else {
        output.colorspace = MODE_RGB;
        output.u.RGBA = {raster.pixels.data(), facts.width * 3, raster.pixels.size()};
    }
    std::unique_ptr<WebPIDecoder, IdecDelete> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return kErrNoMemory;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    const size_t size = size_t(bytes.size());
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (size_t at = 0; at < size && status == VP8_STATUS_SUSPENDED; at += kFeedBytes) {
        status = WebPIAppend(decoder.get(), data + at, std::min(kFeedBytes, size - at));
        if (!progress.report(5 + 85LL * std::min(at + kFeedBytes, size) / size))
            return kErrCancelled;
    }
    if (status != VP8_STATUS_OK)
        return failWith(status);
    if (facts.alpha)
        compositeRgba(rgba.data(), raster);
    return kSuccess;
}

// The first frame of an animation on its canvas (transparent where the frame leaves it uncovered).
Status decodeFirstFrame(const QByteArray& bytes, const WebpFacts& facts, Raster& raster,
                        Progress& progress) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return kErrFormat;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())};
    std::unique_ptr<WebPAnimDecoder, AnimDelete> decoder(WebPAnimDecoderNew(&data, &options));
    if (!decoder) {
        noteErrorDetail(QStringLiteral("the animation cannot be decoded"));
        return kErrCorrupt;
    }
    WebPAnimInfo info;
    if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || int(info.canvas_width) != facts.width ||
        int(info.canvas_height) != facts.height)
        return kErrCorrupt;
    if (!progress.report(10))
        return kErrCancelled;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
        noteErrorDetail(QStringLiteral("the first frame of the animation is damaged"));
        return kErrCorrupt;
    }
    if (!progress.report(90))
        return kErrCancelled;
    if (const Status status = prepareRaster(facts, raster); status != kSuccess)
        return status;
    compositeRgba(canvas, raster);
    return kSuccess;
}

QString compressionOf(const WebpFacts& facts) {
    // At most 20 characters: "VP8L lossless", "VP8 animated".
    const QString coding = facts.bitstream == 1   ? QStringLiteral("VP8")
                           : facts.bitstream == 2 ? QStringLiteral("VP8L")
                                                  : QStringLiteral("VP8/VP8L");
    if (facts.animated)
        return coding + QStringLiteral(" animated");
    return coding + (facts.bitstream == 2 ? QStringLiteral(" lossless") : QStringLiteral(" lossy"));
}

// The file's bytes, its container and what they say.
struct OpenWebp {
    QByteArray bytes;
    DemuxPtr demux;
    WebpFacts facts;
};

Status openWebp(const QString& path, OpenWebp& file) {
    if (const Status status = readWholeFile(path, file.bytes); status != kSuccess)
        return status;
    file.demux = demuxOf(file.bytes);
    if (!file.demux)
        return kErrCorrupt;
    return factsOf(file.bytes, file.demux.get(), file.facts);
}

class WebpReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        const QByteArray& b = header.bytes;
        return b.size() >= 12 && b.startsWith("RIFF") && b.mid(8, 4) == "WEBP";
    }

    Status readInfo(const QString& path, const FileHeader&, FileInfoRecord& info) override {
        OpenWebp file;
        if (const Status status = openWebp(path, file); status != kSuccess)
            return status;
        const WebpFacts& facts = file.facts;
        const bool swap = facts.orientation >= 5;
        info.Format = format::kWebp;
        info.Width = swap ? facts.height : facts.width;
        info.Height = swap ? facts.width : facts.height;
        info.BitsPerPixel = facts.alpha ? 32 : 24;
        info.Compression = compressionOf(facts);
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader&, const ReadOptions&, DecodedImage& image,
                Progress& progress) override {
        if (!progress.report(0))
            return kErrCancelled;
        OpenWebp file;
        if (const Status status = openWebp(path, file); status != kSuccess)
            return status;
        const WebpFacts& facts = file.facts;
        DecodedImage decoded;
        const Status status = facts.animated
                                  ? decodeFirstFrame(file.bytes, facts, decoded.raster, progress)
                                  : decodeStill(file.bytes, facts, decoded.raster, progress);
        if (status != kSuccess)
            return status;
        if (const Status turned = applyOrientation(decoded.raster, facts.orientation);
            turned != kSuccess)
            return turned;
        readMetadata(file.demux.get(), decoded.meta);
        if (facts.animated && facts.frames > 1)
            decoded.meta.notes.push_back(animationNote(facts.frames));
        image = std::move(decoded);
        return kSuccess;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeWebpReader() {
    return std::make_unique<WebpReader>();
}

}  // namespace pixavant::imaging
