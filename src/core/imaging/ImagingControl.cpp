#include "imaging/ImagingControl.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <new>

#include "imaging/ErrorDetail.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/OutputFile.h"
#include "imaging/OutputMetadata.h"
#include "imaging/PixelOps.h"
#include "imaging/WatchedCall.h"

namespace pixavant::imaging {

namespace {
bool validDepth(int bitsPerPixel) {
    return bitsPerPixel == 0 || bitsPerPixel == 1 || bitsPerPixel == 8 || bitsPerPixel == 16 ||
           bitsPerPixel == 24 || bitsPerPixel == kDeepColourBits;
}

// Formats whose writers take 16 bits per sample.
bool holdsDeepColour(int formatCode) {
    return formatCode == format::kTiff || formatCode == format::kTiffLzw ||
           formatCode == format::kPixavantLossless;
}

using format::holdsBlackAndWhiteOnly;

bool isBlackAndWhite(const Raster& raster) {
    if (raster.format == PixelFormat::Bilevel)
        return true;
    return raster.format == PixelFormat::Gray8 &&
           std::all_of(raster.pixels.begin(), raster.pixels.end(),
                       [](uint8_t v) { return v == 0 || v == 255; });
}

WrittenImage writtenImage(const Raster& pixels, const ImageMeta& meta, const SaveRequest& request) {
    const SaveResolution& dpi = request.resolution;
    const int code = request.formatCode;
    const bool tiff = code == format::kTiff || code == format::kTiffLzw ||
                      code == format::kTiffG3_1D || code == format::kTiffG3_2D ||
                      code == format::kTiffG4;
    return {pixels.width,
            pixels.height,
            dpi.x > 0 ? dpi.x : dpi.y,
            dpi.y > 0 ? dpi.y : dpi.x,
            profileIsWritten(meta.iccProfile, pixels, code),
            tiff};
}
}  // namespace

bool ImagingControl::notify(int percent) {
    if (progressEnabled_ && handler_ && !cancelRequested())
        handler_(int16_t(percent));
    return !cancelRequested();
}

Progress ImagingControl::makeProgress() {
    clearErrorDetail();
    lastErrorDetail_.clear();
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

// Whether pixels loaded as `held` and saved at `depth` keep the colours they were decoded with:
// the same pixels, or gray ones held as RGB.
bool keepsDecodedColours(const Raster& held, int depth) {
    if (held.significantBits != 8)
        return false;
    if (held.format == PixelFormat::Rgb8)
        return depth == 0 || depth == 24;
    return held.format == PixelFormat::Gray8 && (depth == 0 || depth == 8 || depth == 24);
}

bool isJpeg(const FileHeader& header) {
    const QByteArray& b = header.bytes;
    return b.size() >= 3 && uint8_t(b[0]) == 0xFF && uint8_t(b[1]) == 0xD8 && uint8_t(b[2]) == 0xFF;
}

}  // namespace

namespace {

// The reader for the file at `path`, its header read into `header`; nullptr with `status` set
// when the file cannot be read or no reader knows it.
FormatReader* readerOf(const QString& path, FileHeader& header, int& status) {
    qint64 fileSize = 0;
    status = readFileHeader(path, header, fileSize);
    if (status != kSuccess)
        return nullptr;
    FormatReader* reader = FormatRegistry::instance().readerFor(header);
    if (reader == nullptr)
        status = kErrFormat;
    return reader;
}

}  // namespace

void ImagingControl::clear() {
    image_ = {};
    converted_.reset();
    saved_ = false;
    jpegSource_.clear();
    loadedPath_ = ReadablePath();
    displayCache_.reset();
    pendingBits_ = 0;
    width_ = height_ = 0;
}

void ImagingControl::hold(Raster raster, ImageMeta meta, int16_t bitsPerPixel) {
    clear();
    image_.raster = std::move(raster);
    image_.meta = std::move(meta);
    pendingBits_ = bitsPerPixel;
    width_ = float(image_.raster.width);
    height_ = float(image_.raster.height);
}

Status ImagingControl::load(const QString& path, int16_t bitsPerPixel, int page) {
    if (!validDepth(bitsPerPixel) || page < 0)
        return kErrInvalidArgument;
    notes_.clear();
    loadNotes_.clear();
    ReadablePath readable(path);
    FileHeader header;
    int found = kSuccess;
    FormatReader* reader = readerOf(readable.path(), header, found);
    if (reader == nullptr)
        return Status(found);

    Progress progress = makeProgress();
    if (!progress.report(0))
        return kErrCancelled;
    DecodedImage decoded;
    Status status = kSuccess;
    try {
        status = page == 0 ? reader->read(readable.path(), header, readOptions_, decoded, progress)
                           : reader->readPage(readable.path(), header, readOptions_, page, decoded,
                                              progress);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    lastErrorDetail_ = errorDetail();
    if (status != kSuccess)
        return Status(status);
    if (decoded.raster.empty())
        return kErrCorrupt;
    if (!progress.report(100))
        return kErrCancelled;

    // Deep samples are kept only for the 48-bit depth: everything else works on 8 bits.
    if (bitsPerPixel != kDeepColourBits && decoded.raster.isDeep()) {
        Raster eightBit;
        if (const int reduced = reduceToEightBit(decoded.raster, eightBit); reduced != kSuccess)
            return Status(reduced);
        decoded.raster = std::move(eightBit);
    }
    image_ = std::move(decoded);
    notes_ = loadNotes_ = image_.meta.notes;
    converted_.reset();
    saved_ = false;
    loadedPath_ = std::move(readable);
    jpegSource_ = isJpeg(header) && image_.fileWidth == 0 ? loadedPath_.path() : QString();
    fileStamp(jpegSource_, jpegSize_, jpegModified_);
    pendingBits_ = bitsPerPixel;
    displayCache_.reset();
    // A reduced-scale decode for display still reports the file's own size.
    width_ = float(image_.fileWidth > 0 ? image_.fileWidth : image_.raster.width);
    height_ = float(image_.fileHeight > 0 ? image_.fileHeight : image_.raster.height);
    return kSuccess;
}

Status ImagingControl::save(const QString& path, const SaveOptions& options) {
    const int formatCode = options.formatCode;
    const int bitsPerPixel = options.bitsPerPixel;
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
    converted_.reset();
    saved_ = false;
    verification_ = {};
    int depth = bitsPerPixel != 0 ? bitsPerPixel : pendingBits_;
    if (depth == kDeepColourBits && !holdsDeepColour(formatCode))
        return kErrInvalidArgument;
    if (depth == 0 && image_.raster.isDeep() && !holdsDeepColour(formatCode))
        depth = 24;
    // The held image at the depth asked is written as it is: copying a photo costs as much time
    // and memory as decoding it.
    const bool asHeld = depth == 0 ||
                        (depth == 24 && image_.raster.format == PixelFormat::Rgb8 &&
                         image_.raster.significantBits == 8) ||
                        (depth == kDeepColourBits && image_.raster.isDeep());
    Status status = kSuccess;
    try {
        if (!asHeld) {
            Progress depthPart = progress.part(0, kDepthShare);
            Raster converted;
            status = convertDepth(image_.raster, depth, converted, &depthPart);
            converted_ = std::move(converted);
        }
        // Dithered here rather than in the writer, so that the pixels written are known.
        if (status == kSuccess && holdsBlackAndWhiteOnly(formatCode) &&
            !isBlackAndWhite(converted_ ? *converted_ : image_.raster)) {
            Progress ditherPart = progress.part(0, kDepthShare);
            Raster bilevel;
            status =
                convertDepth(converted_ ? *converted_ : image_.raster, 1, bilevel, &ditherPart);
            converted_ = std::move(bilevel);
        }
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess) {
        converted_.reset();
        return Status(status);
    }
    const Raster& pixels = converted_ ? *converted_ : image_.raster;
    saved_ = true;

    std::unique_ptr<OutputFile> ownOutput;
    OutputFile* outputFile = nullptr;
    int page = 0;
    if (const Status opened = openOutput(path, formatCode, ownOutput, outputFile, page);
        opened != kSuccess)
        return opened;
    OutputFile& output = *outputFile;
    SaveRequest request{formatCode, options.qualityFactor, options.resolution};
    request.addPage = page > 0;
    request.effort = encoderEffort_;
    // The source JPEG itself may be carried over, with its own metadata: not when the metadata
    // is to be left out.
    qint64 size = 0, modified = 0;
    if (keepMetadata_ && keepsDecodedColours(image_.raster, depth) &&
        fileStamp(jpegSource_, size, modified) && size == jpegSize_ && modified == jpegModified_)
        request.jpegSource = jpegSource_;
    std::vector<uint8_t> carriedJpeg;
    request.carriedJpeg = &carriedJpeg;
    Progress writePart = progress.part(converted_ ? kDepthShare : 0, 100);
    std::vector<std::string> saveNotes;
    try {
        if (keepMetadata_ && !image_.meta.embedded.empty())
            request.metadata = prepareOutputMetadata(image_.meta.embedded,
                                                     writtenImage(pixels, image_.meta, request),
                                                     formatCode, saveNotes);
        request.notes = &saveNotes;
        status = writer->write(output.temporaryPath(), pixels, image_.meta, request, writePart);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status == kErrWrite && errorDetail().isEmpty())
        noteErrorDetail(output.writeFailure(errno));
    lastErrorDetail_ = errorDetail();
    if (!carriedJpeg.empty())
        saveNotes.clear();  // the JPEG's own metadata went with it, whole
    notes_ = loadNotes_;
    notes_.insert(notes_.end(), saveNotes.begin(), saveNotes.end());
    if (status != kSuccess)
        return Status(status);
    if (verifySaves_) {
        // A JPEG carried over is checked by rebuilding it: the bytes carried, which may state
        // another resolution than the source; anything else by decoding its pixels.
        if (!carriedJpeg.empty()) {
            verification_ = verifyJpegReconstruction(output.temporaryPath(), carriedJpeg);
        } else {
            status = verifyOutput(output.temporaryPath(), pixels, formatCode, options.qualityFactor,
                                  progress, verification_, page);
            if (status != kSuccess)
                return Status(status);
        }
        if (!verification_.passed)
            return kErrVerify;
    }
    if (!progress.report(100))
        return kErrCancelled;
    if (!ownOutput)  // a document's outputs are put in place together
        return kSuccess;
    // Flushing a large file can take a while: reported, and a cancel meanwhile leaves no output.
    status = runWatched(progress, [&](CallState&) { return output.sync(); });
    if (status == kSuccess)
        status = output.commit();
    if (status == kErrWrite)
        lastErrorDetail_ = output.failure();
    if (status == kSuccess && memoryOutput_ != nullptr)
        *memoryOutput_ = output.contents();
    return Status(status);
}

Status ImagingControl::saveToMemory(QByteArray& bytes, const SaveOptions& options) {
    bytes.clear();
    if (documentOpen_)
        return kErrInvalidArgument;
    memoryOutput_ = &bytes;
    const Status status = save(QString(), options);
    memoryOutput_ = nullptr;
    if (status != kSuccess)
        bytes.clear();
    return status;
}

Status ImagingControl::openOutput(const QString& path, int formatCode,
                                  std::unique_ptr<OutputFile>& own, OutputFile*& output,
                                  int& page) {
    page = 0;
    if (!documentOpen_) {
        own = memoryOutput_ != nullptr ? std::make_unique<OutputFile>(OutputFile::InMemory{})
                                       : std::make_unique<OutputFile>(path);
        output = own.get();
        const Status created = own->create();
        lastErrorDetail_ = own->failure();
        return Status(created);
    }
    for (DocumentOutput& earlier : document_) {
        if (earlier.path != path)
            continue;
        if (!formatHoldsPages(formatCode))
            return kErrInvalidArgument;
        page = earlier.pages++;
        output = earlier.file.get();
        return kSuccess;
    }
    DocumentOutput added{path,
                         documentInMemory_ ? std::make_unique<OutputFile>(OutputFile::InMemory{})
                                           : std::make_unique<OutputFile>(path),
                         1};
    if (const int created = added.file->create(); created != kSuccess) {
        lastErrorDetail_ = added.file->failure();
        return Status(created);
    }
    output = added.file.get();
    document_.push_back(std::move(added));
    return kSuccess;
}

void ImagingControl::beginDocument(DocumentTarget target) {
    document_.clear();
    documentBytes_.clear();
    documentOpen_ = true;
    documentInMemory_ = target == DocumentTarget::Memory;
}

Status ImagingControl::commitDocument() {
    documentOpen_ = false;
    std::vector<DocumentOutput> outputs = std::move(document_);
    document_.clear();
    // Flushing is the end of the last save: its 100 % stands while the disk catches up.
    Progress progress([this](int) { return notify(100); });
    // Every file reaches the disk before any is put in place.
    for (DocumentOutput& output : outputs) {
        const Status status = runWatched(progress, [&](CallState&) { return output.file->sync(); });
        if (status != kSuccess) {
            lastErrorDetail_ = output.file->failure();
            return Status(status);
        }
    }
    for (DocumentOutput& output : outputs)
        if (const Status status = output.file->commit(); status != kSuccess) {
            lastErrorDetail_ = output.file->failure();
            documentBytes_.clear();
            return Status(status);
        } else if (documentInMemory_) {
            documentBytes_.push_back(output.file->contents());
        }
    return kSuccess;
}

void ImagingControl::abandonDocument() {
    documentOpen_ = false;
    document_.clear();  // each temporary file is removed
}

const Raster& ImagingControl::savedRaster() const {
    static const Raster kNone;
    if (!saved_)
        return kNone;
    return converted_ ? *converted_ : image_.raster;
}

Status ImagingControl::resize(float width, float height) {
    if (!hasImage())
        return kErrNoImage;
    if (!std::isfinite(width) || !std::isfinite(height))
        return kErrInvalidArgument;
    const long w = std::lrint(width);
    const long h = std::lrint(height);
    if (w < 1 || h < 1 || w > 65535 || h > 65535)
        return kErrInvalidArgument;
    if (const Status size = checkImageSize(w, h); size != kSuccess)
        return size;
    Progress progress = makeProgress();
    if (!progress.report(0))
        return kErrCancelled;
    Status status = kSuccess;
    try {
        status = resample(image_.raster, int(w), int(h), &progress);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess)
        return Status(status);
    jpegSource_.clear();
    displayCache_.reset();
    converted_.reset();
    saved_ = false;
    width_ = float(w);
    height_ = float(h);
    if (!progress.report(100))
        return kErrCancelled;
    return kSuccess;
}

Status ImagingControl::readPageCount(const QString& path, int32_t& pages) {
    pages = 1;
    lastErrorDetail_.clear();
    clearErrorDetail();
    const ReadablePath readable(path);
    FileHeader header;
    int found = kSuccess;
    FormatReader* reader = readerOf(readable.path(), header, found);
    if (reader == nullptr)
        return Status(found);
    int count = 1;
    const Status status = reader->pageCount(readable.path(), header, count);
    lastErrorDetail_ = errorDetail();
    pages = std::max(count, 1);
    return Status(status);
}

Status ImagingControl::readFileInfo(const QString& path) {
    FileInfoRecord record;
    const Status result = imaging::readFileInfo(path, record);
    lastErrorDetail_ = errorDetail();
    if (result != kSuccess)
        return result;
    width_ = float(record.Width);
    height_ = float(record.Height);
    return kSuccess;
}

Status ImagingControl::convertToGray() {
    if (!hasImage())
        return kErrNoImage;
    Status status = kSuccess;
    try {
        if (!image_.raster.isGray())
            jpegSource_.clear();
        status = imaging::convertToGray(image_.raster);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    displayCache_.reset();
    converted_.reset();
    saved_ = false;
    return Status(status);
}

const Raster& ImagingControl::displayRaster() {
    if ((pendingBits_ == 0 && !image_.raster.isDeep()) || !hasImage())
        return image_.raster;
    if (!displayCache_) {
        Raster converted;
        const int shown = pendingBits_ == 0 || pendingBits_ == kDeepColourBits ? 24 : pendingBits_;
        if (convertDepth(image_.raster, image_.raster.isGray() && shown == 24 ? 8 : shown,
                         converted) != kSuccess)
            return image_.raster;
        displayCache_ = std::move(converted);
    }
    return *displayCache_;
}

}  // namespace pixavant::imaging
