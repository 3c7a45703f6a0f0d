#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "batch/ConversionStep.h"
#include "imaging/ImagingControl.h"
#include "imaging/Raster.h"
#include "settings/CompressionSettings.h"

namespace pixavant::batch {

// What one file becomes with a set of choices, made in memory.
struct TrialOutput {
    int32_t code = 0;  // 0, or the code a run fails the file with
    QString message;   // a run's message for the code ("Compression error.")
    QString details;   // and its details: the file and the reason
    // The output, byte for byte what a run writes: of a source of several pages, the file that
    // holds them all, or page 1's file where each page gets a file of its own.
    QByteArray bytes;
    qint64 outputBytes = 0;  // of every file the output is, all told
    qint64 sourceBytes = 0;
    int16_t formatCode = 0;
    // Page 1 as loaded, before any gray, resize or depth change (shared, never changed).
    std::shared_ptr<const imaging::Raster> original;
    // Page 1 of the output, decoded again.
    imaging::Raster result;
    // Lossy formats: the PSNR in dB of `result` against the pixels the writer was handed (after
    // any resize and depth change); infinite when they are equal.
    std::optional<double> psnr;
    // The size of the whole output's page 1, and for a part where it lies in it (a reduced copy
    // covers all of it).
    int width = 0;
    int height = 0;
    int partX = 0;
    int partY = 0;

    bool ok() const { return code == 0; }
};

// Converts a file as a run converts it, through the same ConversionStep, into memory: no file is
// written anywhere. Meant for showing the result of choices before a run. Page 1 is shown; a
// source of several pages is converted whole, every page, for the bytes of its output.
//
// The prepared image (loaded, turned gray and resized) is kept between calls: a call for the same
// file and the same load, depth and size choices only encodes again. Not thread-safe: one thread
// at a time.
class TrialConverter {
  public:
    TrialConverter();
    TrialConverter(const TrialConverter&) = delete;
    TrialConverter& operator=(const TrialConverter&) = delete;

    // `settings` as the options dialog would store them (OutputDir and OutputExt are not used).
    TrialOutput convert(const QString& sourcePath, const CompressionSettings& settings);

    // The same choices applied to a part of the image only, as it is just before the save: width x
    // height pixels around the point (centreX, centreY), in fractions of its width and height,
    // moved inside it (partX, partY say where it landed). A quick look at that part before the
    // whole file is encoded. `bytes` holds the part's own output. The image it prepared serves the
    // next convert() of the same file and choices.
    TrialOutput convertPart(const QString& sourcePath, const CompressionSettings& settings,
                            double centreX, double centreY, int width, int height);

    // The same choices applied to a copy of the whole image, as it is just before the save,
    // reduced to fit in width x height pixels (never enlarged): a quick look at the whole picture
    // before the whole file is encoded. `bytes` holds the reduced copy's own output, not the
    // file's; `width` and `height` give the size of the whole output's page 1. The reduced copy
    // is kept, so a call that changes only the type or level encodes it again and nothing more;
    // the image it prepared serves the next convert() of the same file and choices.
    TrialOutput convertReduced(const QString& sourcePath, const CompressionSettings& settings,
                               int width, int height);

    // While `flag` is set (from any thread), the conversion in progress stops at its next progress
    // point with kErrCancelled. nullptr: none.
    void setCancelFlag(const std::atomic<bool>* flag);

  private:
    // What the prepared image was made from: the file as it was, and the choices up to the save.
    struct Preparation {
        QString path;
        qint64 size = -1;
        qint64 modified = 0;
        int16_t bitsPerPixel = 0;
        bool gray = false;
        int16_t sizeChoice = 0;
        int16_t outWidth = 0;
        int16_t outHeight = 0;
        int16_t dpi = 0;
        bool operator==(const Preparation&) const = default;
    };

    // What the reduced copy was made of and its size.
    struct Reduction {
        Preparation from;
        int width = 0;
        int height = 0;
        bool operator==(const Reduction&) const = default;
    };

    int32_t prepare(const QString& sourcePath, const CompressionSettings& settings,
                    TrialOutput& out);
    TrialOutput guarded(const QString& sourcePath,
                        const std::function<int32_t(TrialOutput&)>& steps);
    int32_t reducePrepared(const CompressionSettings& settings, int width, int height);
    int32_t encode(imaging::ImagingControl& control, const CompressionSettings& settings,
                   TrialOutput& out);
    int32_t encodeAllPages(TrialOutput& out);
    void finish(const QString& sourcePath, TrialOutput& out);

    ConversionStep step_;
    imaging::ImagingControl& control_ = step_.control();  // holds the prepared page 1
    imaging::ImagingControl part_;                        // holds a part of it
    ConversionStep pages_;                                // a source of several pages, whole
    ConversionRequest request_;                           // of the prepared image
    int16_t preparedDpi_ = 72;                            // the resolution it is saved at
    imaging::ImagingControl reduced_;                     // holds a reduced copy of it
    std::optional<Reduction> reduction_;
    std::optional<Preparation> prepared_;
    std::shared_ptr<const imaging::Raster> original_;
    QString libraryDetail_;
    int failedPage_ = 0;  // of a source of several pages: the page that failed, from 1
    const std::atomic<bool>* cancel_ = nullptr;
};

// Decodes the first page of an image held in memory, as a load of a file with those bytes would.
// Returns 0 or the load's failure code.
int32_t decodeBytes(const QByteArray& bytes, imaging::Raster& raster);

}  // namespace pixavant::batch
