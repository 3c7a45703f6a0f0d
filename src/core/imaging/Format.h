#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "imaging/FileInfo.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Progress.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {

// The first bytes of a file and its name, for choosing a reader.
struct FileHeader {
    QByteArray bytes;  // up to the first 4096 bytes
    QString suffix;    // the name's extension, lower case, without the dot
};

struct ReadOptions {
    // When non-zero, the caller only displays the image within this many pixels: a reader may
    // decode at a reduced scale as long as the result still covers the box (or is the full image).
    int fitWidth = 0;
    int fitHeight = 0;
};

// One image format's reader. Readers never trust the file: every size is checked before it is
// used, an image over kMaxPixels fails with kErrNoMemory before pixels are allocated, and a damaged
// file ends in kErrCorrupt (or kErrFormat), never in a crash.
class FormatReader {
  public:
    virtual ~FormatReader() = default;
    // True when the header is this reader's format.
    virtual bool recognises(const FileHeader& header) const = 0;
    // Fills everything of `info` but SizeDisk (the caller knows the file size). Returns kSuccess or
    // a failure code.
    virtual Status readInfo(const QString& path, const FileHeader& header,
                            FileInfoRecord& info) = 0;
    // Decodes the first page into a Gray8 or Rgb8 raster, EXIF orientation applied.
    virtual Status read(const QString& path, const FileHeader& header, const ReadOptions& options,
                        DecodedImage& image, Progress& progress) = 0;
    // The pages a conversion goes through: 1 for formats of one image and for animations (their
    // first frame is the image). A file over the page budget fails with kErrLimit, a chain of
    // pages that loops or is cut short with kErrCorrupt.
    virtual Status pageCount(const QString& path, const FileHeader& header, int& pages);
    // Decodes page `page` (from 0) as read() decodes the first.
    virtual Status readPage(const QString& path, const FileHeader& header,
                            const ReadOptions& options, int page, DecodedImage& image,
                            Progress& progress);
};

// The budget of one multi-page file: beyond either figure it is refused, not converted for hours.
inline constexpr int kMaxDocumentPages = 10000;
inline constexpr int64_t kMaxDocumentPixels = int64_t{1} << 34;
// Whether files of the written format `formatCode` hold pages (the TIFF ones): the pages of a
// source then go into one file, not a file each.
bool formatHoldsPages(int formatCode);

struct SaveRequest {
    int formatCode = 0;
    int qualityFactor = 0;
    SaveResolution resolution;
    // The metadata to write, already made true of this output (OutputMetadata.h); empty blocks
    // are not written. Writers that hold a resolution record of their own still write it.
    EmbeddedMetadata metadata{};
    // Where a writer says what of the metadata it had to leave out; may be null.
    std::vector<std::string>* notes = nullptr;
    // A JPEG file whose full decode (turned by its EXIF orientation, as the reader turns it) the
    // pixels are, with nothing changed but a gray image held as RGB (no resize, no other
    // depth): a writer may carry that file's data over instead of encoding the pixels afresh.
    // Empty otherwise.
    QString jpegSource{};
    // A later page of a file that holds pages: added to the file at `path` (which holds the
    // earlier ones) instead of starting a new one. Writers of one-image formats refuse it.
    bool addPage = false;
    // PIXAVANT: the JPEG XL encoder's effort, 1 (fastest) to 9 (smallest); 0 the format's own
    // (PixavantEncoding.h).
    int effort = 0;
    // Where a writer that carried the JPEG of jpegSource over puts the bytes it carried: the
    // file's own, with any resolution it states rewritten to the one asked. The output rebuilds
    // exactly these. May be null.
    std::vector<uint8_t>* carriedJpeg = nullptr;
};

// One image format's writer. `raster` already has the depth the caller asked for; the writer writes
// the nearest depth its format holds. It writes to `path`, a new empty file, and reports a failure
// to write (disk full, file size limit) as kErrWrite; the caller removes the file on any failure.
class FormatWriter {
  public:
    virtual ~FormatWriter() = default;
    virtual bool writes(int formatCode) const = 0;
    virtual Status write(const QString& path, const Raster& raster, const ImageMeta& meta,
                         const SaveRequest& request, Progress& progress) = 0;
};

// The readers and writers of every format, one pair per source file.
std::unique_ptr<FormatReader> makeJpegReader();
std::unique_ptr<FormatWriter> makeJpegWriter();
std::unique_ptr<FormatReader> makeTiffReader();
std::unique_ptr<FormatWriter> makeTiffWriter();
std::unique_ptr<FormatReader> makePixavantReader();
std::unique_ptr<FormatWriter> makePixavantWriter();
std::unique_ptr<FormatReader> makePngReader();
std::unique_ptr<FormatReader> makeHeifReader();  // HEIF and AVIF
std::unique_ptr<FormatReader> makeWebpReader();
std::unique_ptr<FormatReader> makeTgaReader();     // the TGA images GraphicsMagick cannot read
std::unique_ptr<FormatReader> makeMagickReader();  // every other format, through GraphicsMagick

class FormatRegistry {
  public:
    // The calling thread's registry.
    static FormatRegistry& instance();
    // The reader for the file, or nullptr when no reader recognises it.
    FormatReader* readerFor(const FileHeader& header) const;
    FormatWriter* writerFor(int formatCode) const;

  private:
    FormatRegistry();
    std::vector<std::unique_ptr<FormatReader>> readers_;
    std::vector<std::unique_ptr<FormatWriter>> writers_;
};

// Reads the header of the file at `path`. Returns kSuccess, or kErrFileNotFound when the path is
// not a readable regular file.
Status readFileHeader(const QString& path, FileHeader& header, qint64& fileSize);

}  // namespace pixavant::imaging
