#include "imaging/ImagingControl.h"

#include <QDateTime>
#include <QFileInfo>
#include <cmath>
#include <csignal>
#include <new>

#include "imaging/ImagingStatus.h"
#include "imaging/OutputFile.h"
#include "imaging/PixelOps.h"
#include "imaging/WatchedCall.h"

namespace pixavant::imaging {

namespace {
bool validDepth(int bitsPerPixel) {
    return bitsPerPixel == 0 || bitsPerPixel == 1 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
           bitsPerPixel == 24;
}
}  // namespace

ImagingControl::ImagingControl() {
    // A write past the file-size limit must fail with EFBIG, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool ImagingControl::notify(int percent) {
    if (progressEnabled_ && handler_ && !cancelRequested())
        handler_(int16_t(percent));
    return !abortRequested_ && !cancelRequested();
}

Progress ImagingControl::makeProgress() {
    abortRequested_ = false;
    return Progress([this](int percent) { return notify(percent); });
}

namespace {

// Share of a save spent reducing the depth, when it has to be reduced.
constexpr int kDepthShare = 25;

// Size and modification time of a file (false when there is none).
bool fileStamp(const QString& path, qint64& size, qint64& modified) {
    const QFileInfo file(path);
    size = file.size();
    modified = file.lastModified().toMSecsSinceEpoch();
    return !path.isEmpty() && file.isFile();
}

bool isJpeg(const FileHeader& header) {
    const QByteArray& b = header.bytes;
    return b.size() >= 3 && uint8_t(b[0]) == 0xFF && uint8_t(b[1]) == 0xD8 && uint8_t(b[2]) == 0xFF;
}

}  // namespace

void ImagingControl::clear() {
    image_ = {};
    jpegSource_.clear();
    displayCache_.reset();
    pendingBits_ = 0;
    width_ = height_ = 0;
}

int16_t ImagingControl::load(const QString& path, int16_t bitsPerPixel, int16_t page,
                             int16_t pageCount) {
    if (!validDepth(bitsPerPixel) || page < 0 || pageCount < 1)
        return kErrInvalidArgument;
    FileHeader header;
    qint64 fileSize = 0;
    if (const int status = readFileHeader(path, header, fileSize); status != kSuccess)
        return int16_t(status);
    FormatReader* reader = FormatRegistry::instance().readerFor(header);
    if (reader == nullptr)
        return kErrFormat;

    Progress progress = makeProgress();
    if (!progress.report(0))
        return kErrCancelled;
    DecodedImage decoded;
    int status = kSuccess;
    try {
        status = reader->read(path, header, readOptions_, decoded, progress);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess)
        return int16_t(status);
    if (decoded.raster.empty())
        return kErrCorrupt;
    if (!progress.report(100))
        return kErrCancelled;

    image_ = std::move(decoded);
    jpegSource_ = isJpeg(header) && image_.fileWidth == 0 ? path : QString();
    fileStamp(jpegSource_, jpegSize_, jpegModified_);
    pendingBits_ = bitsPerPixel;
    displayCache_.reset();
    // A reduced-scale decode for display still reports the file's own size.
    width_ = float(image_.fileWidth > 0 ? image_.fileWidth : image_.raster.width);
    height_ = float(image_.fileHeight > 0 ? image_.fileHeight : image_.raster.height);
    return kSuccess;
}

int16_t ImagingControl::save(const QString& path, int16_t formatCode, int16_t bitsPerPixel,
                             int16_t qualityFactor, int16_t flags) {
    (void)flags;
    if (!hasImage())
        return kErrNoImage;
    if (!validDepth(bitsPerPixel))
        return kErrInvalidArgument;
    FormatWriter* writer = FormatRegistry::instance().writerFor(formatCode);
    if (writer == nullptr)
        return kErrInvalidArgument;

    Progress progress = makeProgress();
    if (!progress.report(0))
        return kErrCancelled;
    Raster converted;
    const int depth = bitsPerPixel != 0 ? bitsPerPixel : pendingBits_;
    // The held image at the depth asked is written as it is: copying a photo costs as much time
    // and memory as decoding it.
    const bool asHeld =
        depth == 0 || (depth == 24 && image_.raster.format == PixelFormat::Rgb8 &&
                       image_.raster.significantBits == 8);
    int status = kSuccess;
    if (!asHeld) {
        Progress depthPart = progress.part(0, kDepthShare);
        try {
            status = convertDepth(image_.raster, depth, converted, &depthPart);
        } catch (const std::bad_alloc&) {
            status = kErrNoMemory;
        }
    }
    if (status != kSuccess)
        return int16_t(status);
    const Raster& pixels = asHeld ? image_.raster : converted;

    OutputFile output(path);
    if (const int created = output.create(); created != kSuccess)
        return int16_t(created);
    SaveRequest request{formatCode, qualityFactor, currentSaveResolution(), QString()};
    qint64 size = 0, modified = 0;
    if (asHeld && image_.raster.format == PixelFormat::Rgb8 && image_.raster.significantBits == 8 &&
        fileStamp(jpegSource_, size, modified) && size == jpegSize_ && modified == jpegModified_)
        request.jpegSource = jpegSource_;
    Progress writePart = progress.part(asHeld ? 0 : kDepthShare, 100);
    try {
        status = writer->write(output.temporaryPath(), pixels, image_.meta, request, writePart);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess)
        return int16_t(status);
    if (!progress.report(100))
        return kErrCancelled;
    // Flushing a large file can take a while: reported, and a cancel meanwhile leaves no output.
    status = runWatched(progress, [&](CallState&) { return output.sync(); });
    if (status != kSuccess)
        return int16_t(status);
    return int16_t(output.commit());
}

int16_t ImagingControl::resize(float width, float height, int16_t flags) {
    (void)flags;
    if (!hasImage())
        return kErrNoImage;
    if (!std::isfinite(width) || !std::isfinite(height))
        return kErrInvalidArgument;
    const long w = std::lrint(width);
    const long h = std::lrint(height);
    if (w < 1 || h < 1 || w > 65535 || h > 65535)
        return kErrInvalidArgument;
    if (const int16_t size = checkImageSize(w, h); size != kSuccess)
        return size;
    Progress progress = makeProgress();
    if (!progress.report(0))
        return kErrCancelled;
    int status = kSuccess;
    try {
        status = resample(image_.raster, int(w), int(h), &progress);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess)
        return int16_t(status);
    jpegSource_.clear();
    displayCache_.reset();
    width_ = float(w);
    height_ = float(h);
    if (!progress.report(100))
        return kErrCancelled;
    return kSuccess;
}

int16_t ImagingControl::readFileInfo(const QString& path, int16_t flags) {
    (void)flags;
    FileInfoRecord record;
    const int32_t result = imaging::readFileInfo(path, record);
    if (result != 1)
        return int16_t(result);
    width_ = float(record.Width);
    height_ = float(record.Height);
    return kSuccess;
}

int16_t ImagingControl::convertToGray() {
    if (!hasImage())
        return kErrNoImage;
    int status = kSuccess;
    try {
        if (!image_.raster.isGray())
            jpegSource_.clear();
        status = imaging::convertToGray(image_.raster);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    displayCache_.reset();
    return int16_t(status);
}

const Raster& ImagingControl::displayRaster() {
    if (pendingBits_ == 0 || !hasImage())
        return image_.raster;
    if (!displayCache_) {
        Raster converted;
        if (convertDepth(image_.raster, pendingBits_, converted) != kSuccess)
            return image_.raster;
        displayCache_ = std::move(converted);
    }
    return *displayCache_;
}

}  // namespace pixavant::imaging
