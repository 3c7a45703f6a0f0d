#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imaging/FileInfo.h"
#include "imaging/FileNames.h"
#include "imaging/Format.h"
#include "imaging/OutputFile.h"
#include "imaging/Raster.h"
#include "imaging/Verification.h"

namespace pixavant::imaging {

// The depth that keeps 16 bits per sample (TIFF and PIXAVANT lossless only): a load at any
// other depth reduces deep samples to 8 bits at once.
inline constexpr int kDeepColourBits = 48;

// What a save writes: the format, the depth (0: the one asked at load), the quality factor and the
// resolution recorded in the file (0 x 0: none stated).
struct SaveOptions {
    SaveOptions() = default;
    SaveOptions(int format, int bits = 0, int quality = 0, SaveResolution dpi = {})
        : formatCode(int16_t(format)),
          bitsPerPixel(int16_t(bits)),
          qualityFactor(int16_t(quality)),
          resolution(dpi) {}

    int16_t formatCode = 0;
    int16_t bitsPerPixel = 0;
    int16_t qualityFactor = 0;
    SaveResolution resolution;
};

// The imaging control: holds one image, loads, resizes and saves it, and reports progress.
// Operations return a 16-bit status, 0 for success (ImagingStatus.h).
//
// The depth asked for at load is remembered and applied when the image is saved or shown, so a
// resize always resamples the full-depth pixels, never dithered ones.
class ImagingControl {
  public:
    using ProgressStatusHandler = std::function<void(int16_t percent)>;

    // Loads page `page` (from 0) of `path`; one page is held at a time.
    // bitsPerPixel: 0 native, 1, 8, 16, 24 or kDeepColourBits.
    Status load(const QString& path, int16_t bitsPerPixel, int page = 0);
    // The pages a conversion of `path` goes through (1 for one image or an animation). Fails
    // with kErrLimit beyond the page budget and kErrCorrupt when the chain of pages is broken;
    // lastErrorDetail() then says how.
    Status readPageCount(const QString& path, int32_t& pages);
    // Writes the image to `path` as `options` ask. The file appears complete or not at all.
    Status save(const QString& path, const SaveOptions& options);
    // Encodes the image exactly as save() writes it, through the same writer, into `bytes`
    // instead of a file: nothing is written to any file system. Not inside a document.
    Status saveToMemory(QByteArray& bytes, const SaveOptions& options);
    // The outputs of one multi-page source: from beginDocument() on, saves go to temporary files
    // that commitDocument() puts in place together, after the last page; abandonDocument() removes
    // them all, as does destroying the control. A save to a path saved to before in the document
    // adds a page to that file (the TIFF formats; any other fails with kErrInvalidArgument).
    // In memory, the paths only tell the outputs apart: nothing is written to any file system,
    // and after commitDocument() documentBytes() holds each output's bytes, in the order of
    // their first saves.
    enum class DocumentTarget { Files, Memory };
    void beginDocument(DocumentTarget target = DocumentTarget::Files);
    Status commitDocument();
    const std::vector<QByteArray>& documentBytes() const { return documentBytes_; }
    void abandonDocument();
    bool documentOpen() const { return documentOpen_; }
    // Resamples the image to width x height (rounded to whole pixels).
    Status resize(float width, float height);
    // Reads the file's information; bitmapWidth() and bitmapHeight() then give the file's size.
    Status readFileInfo(const QString& path);
    // Turns the held image gray (the depth asked at load still applies).
    Status convertToGray();

    float bitmapWidth() const { return width_; }
    float bitmapHeight() const { return height_; }
    bool hasImage() const { return !image_.raster.empty(); }

    // The progress notification, raised synchronously inside load, resize and save while enabled.
    void onProgressStatus(ProgressStatusHandler handler) { handler_ = std::move(handler); }
    void setEnableProgressEvent(bool enabled) { progressEnabled_ = enabled; }
    bool enableProgressEvent() const { return progressEnabled_; }
    // The one way to stop: while `flag` is set (from any thread, or from inside the progress
    // notification), every operation stops at its next progress point with kErrCancelled, and
    // none starts. nullptr: none.
    void setCancelFlag(const std::atomic<bool>* flag) { cancelFlag_ = flag; }

    // Limits decoding to what a display of this size needs (0 x 0: full size). The held image may
    // then be smaller than the file (JPEG decodes at 1/2, 1/4 or 1/8 scale); bitmapWidth() and
    // bitmapHeight() still give the file's size. Meant for display only: resize and save work on
    // the held pixels.
    void setDisplayFit(int width, int height) { readOptions_ = {width, height}; }

    // Holds `raster` with `meta` as if a load at `bitsPerPixel` had given them (pixels a caller
    // prepared itself, such as a part of another control's image).
    void hold(Raster raster, ImageMeta meta, int16_t bitsPerPixel);
    // The image held, at the depth it was loaded (the depth asked at load not yet applied).
    const Raster& heldRaster() const { return image_.raster; }
    // The image as it is shown: the depth asked at load applied. Empty when nothing is loaded.
    const Raster& displayRaster();
    const ImageMeta& meta() const { return image_.meta; }
    // The library's own words on why the last operation failed, when it gave any (ErrorDetail.h).
    const QString& lastErrorDetail() const { return lastErrorDetail_; }

    // Whether saves carry the source's EXIF, XMP and IPTC, made true of the output (on by
    // default). Off writes the pixels with only their resolution and colour profile.
    void setKeepMetadata(bool keep) { keepMetadata_ = keep; }
    bool keepMetadata() const { return keepMetadata_; }
    // The JPEG XL effort PIXAVANT saves encode at, 1 (fastest) to 9 (smallest); 0, the
    // default, each PIXAVANT format's own. Other formats ignore it.
    void setEncoderEffort(int effort) { encoderEffort_ = effort; }
    int encoderEffort() const { return encoderEffort_; }
    // What the last load and save could not carry of the file's metadata, and why; for the user
    // to be told (a conversion never fails for it). Cleared by each load.
    const std::vector<std::string>& notes() const { return notes_; }

    // Whether each save reads its output back before putting it in place (off by default). An
    // output that does not read back as written fails the save with kErrVerify and leaves
    // nothing behind; lastVerification() then says why.
    void setVerifySaves(bool verify) { verifySaves_ = verify; }
    bool verifySaves() const { return verifySaves_; }
    // The check of the last save; method None when it was not checked.
    const Verification& lastVerification() const { return verification_; }
    // The pixels the last save handed to the writer, at the depth written (black and white for
    // the fax and 1-bit formats). Valid until the image changes; empty before the first save.
    const Raster& savedRaster() const;

    void clear();

  private:
    // The file a save writes to: its own (in `own`), or in a document the one of its path,
    // `page` being the pages it holds already.
    Status openOutput(const QString& path, int formatCode, std::unique_ptr<OutputFile>& own,
                      OutputFile*& output, int& page);
    bool notify(int percent);
    Progress makeProgress();
    bool cancelRequested() const { return cancelFlag_ != nullptr && cancelFlag_->load(); }

    DecodedImage image_;
    std::optional<Raster> converted_;  // the held image at the depth of the last save
    bool saved_ = false;
    bool keepMetadata_ = true;
    int encoderEffort_ = 0;
    bool verifySaves_ = false;
    Verification verification_;
    std::vector<std::string> loadNotes_;
    std::vector<std::string> notes_;  // the load's, then the last save's
    int pendingBits_ = 0;
    std::optional<Raster> displayCache_;
    float width_ = 0;
    float height_ = 0;
    bool progressEnabled_ = false;
    const std::atomic<bool>* cancelFlag_ = nullptr;
    ProgressStatusHandler handler_;
    ReadOptions readOptions_;
    QString lastErrorDetail_;
    // The JPEG file the held pixels are the full decode of, while nothing has changed them, and
    // its size and modification time then (a file changed since is not the one decoded).
    // The outputs of the open document, each with the pages it holds.
    struct DocumentOutput {
        QString path;
        std::unique_ptr<OutputFile> file;
        int pages = 0;
    };
    std::vector<DocumentOutput> document_;
    bool documentOpen_ = false;
    bool documentInMemory_ = false;
    std::vector<QByteArray> documentBytes_;
    QByteArray* memoryOutput_ = nullptr;  // during saveToMemory(): where the bytes go
    QString jpegSource_;
    ReadablePath loadedPath_;  // what jpegSource_ may name: the loaded file, by a path it opens by
    qint64 jpegSize_ = 0;
    qint64 jpegModified_ = 0;
};

}  // namespace pixavant::imaging
