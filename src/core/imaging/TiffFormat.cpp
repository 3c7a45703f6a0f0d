// TIFF reading and writing on libtiff.
//
// Reading: the file information comes from the first directory's tags alone. Pixels of the first
// page are decoded by one of two roads: plain stripped gray, palette and RGB images (the bulk of
// real files) are read scanline by scanline, which keeps memory at one row and reports progress per
// row; everything else (tiles, separate planes, CMYK, YCbCr, JPEG, Lab, ...) goes through libtiff's
// RGBA image interface strip by strip or tile row by tile row. Both produce the rows in stored
// order; the Orientation tag is applied afterwards to the whole raster.
//
// Writing: uncompressed and LZW keep the raster's format (bilevel as 1-bit min-is-white, gray,
// 8-bit palette, RGB); the CCITT codes write 1-bit min-is-white only.
//
// libtiff never prints: each open installs handlers of its own that record the last message. They
// are per file, so they also win over the process-wide handlers GraphicsMagick installs (and leaves
// behind) whenever it uses libtiff itself.

#include <lcms2.h>
#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "imaging/ErrorDetail.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MetadataSupport.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {

namespace {

// More directories than this are not counted: the page count of a file with more is reported as
// this number, so that a file with a huge (or endless) chain of directories stays quick to inspect.
constexpr int kMaxCountedPages = 10000;

// Uncompressed bytes per strip the writer aims at.
constexpr size_t kStripBytes = 64 * 1024;

// The largest single allocation libtiff may make for one file: a whole image of kMaxPixels
// pixels at 4 samples of 16 bits. A header that claims more is refused before memory is asked for.
constexpr tmsize_t kMaxTiffAllocation = tmsize_t(kMaxPixels) * 8;

// What libtiff said during one operation on one file.
struct TiffMessages {
    std::string lastError;
    bool outOfMemory = false;
    // Since the pixels began to be decoded: errors, and warnings that mean pixels were lost or made
    // up (a fax line of the wrong length, a strip that ends early, damaged JPEG data).
    int damage = 0;
    std::string firstDamage;
};

std::string messageText(const char* module, const char* fmt, va_list ap) {
    char text[512];
    std::vsnprintf(text, sizeof text, fmt, ap);
    return module != nullptr && *module != '\0' ? std::string(module) + ": " + text : text;
}

void noteDamage(TiffMessages& messages, const std::string& text) {
    if (messages.damage++ == 0)
        messages.firstDamage = text;
}

int onTiffError(TIFF*, void* userData, const char* module, const char* fmt, va_list ap) {
    auto* messages = static_cast<TiffMessages*>(userData);
    if (messages != nullptr) {
        const std::string text = messageText(module, fmt, ap);
        messages->lastError = text;
        if (text.find("emory") != std::string::npos || text.find("allocate") != std::string::npos)
            messages->outOfMemory = true;
        noteDamage(*messages, text);
    }
    return 1;  // handled: the process-wide handlers are not called
}

bool meansLostData(const std::string& text) {
    static const char* const kSigns[] = {"Premature EOL",   "Premature EOF", "Line length mismatch",
                                         "Bad code word",   "Corrupt JPEG",  "Premature end",
                                         "Not enough data", "Read error",    "not terminated"};
    return std::any_of(std::begin(kSigns), std::end(kSigns),
                       [&](const char* sign) { return text.find(sign) != std::string::npos; });
}

int onTiffWarning(TIFF*, void* userData, const char* module, const char* fmt, va_list ap) {
    auto* messages = static_cast<TiffMessages*>(userData);
    if (messages != nullptr) {
        const std::string text = messageText(module, fmt, ap);
        if (meansLostData(text))
            noteDamage(*messages, text);
    }
    return 1;
}

// Messages raised outside any open file go nowhere.
void installQuietGlobalHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

// An open TIFF file with its message record; closed on destruction.
class TiffFile {
  public:
    TiffFile() = default;
    ~TiffFile() { close(); }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    bool open(const QString& path, const char* mode) {
        installQuietGlobalHandlers();
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (options == nullptr) {
            messages_.outOfMemory = true;
            return false;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, onTiffError, &messages_);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onTiffWarning, &messages_);
        TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxTiffAllocation);
        tif_ = TIFFOpenExt(QFile::encodeName(path).constData(), mode, options);
        TIFFOpenOptionsFree(options);
        return tif_ != nullptr;
    }
    void close() {
        if (tif_ != nullptr)
            TIFFClose(tif_);
        tif_ = nullptr;
    }
    TIFF* get() const { return tif_; }
    const TiffMessages& messages() const { return messages_; }
    // The code for a failed read: memory, or damaged data. libtiff's message becomes the detail.
    Status readFailure() const {
        if (!messages_.lastError.empty())
            noteErrorDetail(QString::fromStdString(messages_.lastError));
        return messages_.outOfMemory ? kErrNoMemory : kErrCorrupt;
    }
    // Counts damage from here on (what opening the file said about its tags does not count).
    void startDecoding() {
        messages_.damage = 0;
        messages_.firstDamage.clear();
    }
    // kErrCorrupt when the decoding since startDecoding() lost or made up pixels.
    Status decodingStatus() const {
        if (messages_.damage == 0)
            return kSuccess;
        noteErrorDetail(QString::fromStdString(messages_.firstDamage));
        return messages_.outOfMemory ? kErrNoMemory : kErrCorrupt;
    }

  private:
    TIFF* tif_ = nullptr;
    TiffMessages messages_;
};

// ---------------------------------------------------------------------------------------------
// Reading

bool hasTiffSignature(const QByteArray& bytes) {
    if (bytes.size() < 4)
        return false;
    const char* b = bytes.constData();
    return (std::memcmp(b, "II*\0", 4) == 0 || std::memcmp(b, "MM\0*", 4) == 0 ||
            std::memcmp(b, "II+\0", 4) == 0 || std::memcmp(b, "MM\0+", 4) == 0);
}

// The tags the reader decides on, read once from the current directory.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerSample = 1;
    uint16_t samplesPerPixel = 1;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    uint16_t orientation = ORIENTATION_TOPLEFT;
    uint16_t alpha = EXTRASAMPLE_UNSPECIFIED;  // kind of the first extra sample, if any
    uint16_t extraSamples = 0;
    uint16_t inkSet = INKSET_CMYK;
    bool tiled = false;
};

bool readLayout(TIFF* tif, TiffLayout& layout) {
    if (TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width) != 1 ||
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height) != 1)
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bitsPerSample);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &layout.compression);
    if (TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric) != 1)
        layout.photometric = layout.samplesPerPixel >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &layout.sampleFormat);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &layout.orientation);
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &layout.inkSet);
    layout.tiled = TIFFIsTiled(tif) != 0;
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 1 && count > 0 &&
        kinds != nullptr) {
        layout.extraSamples = count;
        layout.alpha = kinds[0];
    }
    return true;
}

bool isJpeg(uint16_t compression) {
    return compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG;
}

int formatCodeOf(TIFF* tif, const TiffLayout& layout) {
    namespace f = format;
    const bool cmyk = layout.photometric == PHOTOMETRIC_SEPARATED;
    const bool ycc = layout.photometric == PHOTOMETRIC_YCBCR;
    switch (layout.compression) {
        case COMPRESSION_NONE:
            return cmyk ? f::kTiffCmyk : ycc ? f::kTiffYcc : f::kTiff;
        case COMPRESSION_LZW:
            return cmyk ? f::kTiffCmykLzw : ycc ? f::kTiffYccLzw : f::kTiffLzw;
        case COMPRESSION_PACKBITS:
            return cmyk ? f::kTiffCmykPackBits : ycc ? f::kTiffYccPackBits : f::kTiffPackBits;
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
            return f::kTiffCcittRle;
        case COMPRESSION_CCITTFAX3: {
            uint32_t options = 0;
            TIFFGetField(tif, TIFFTAG_GROUP3OPTIONS, &options);
            return (options & GROUP3OPT_2DENCODING) != 0 ? f::kTiffG3_2D : f::kTiffG3_1D;
        }
        case COMPRESSION_CCITTFAX4:
            return f::kTiffG4;
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG: {
            if (!ycc)
                return f::kTiffJpeg444;  // gray, RGB or CMYK: no subsampling
            uint16_t horizontal = 2;
            uint16_t vertical = 2;
            TIFFGetFieldDefaulted(tif, TIFFTAG_YCBCRSUBSAMPLING, &horizontal, &vertical);
            if (horizontal <= 1 && vertical <= 1)
                return f::kTiffJpeg444;
            return vertical >= 2 ? f::kTiffJpeg420 : f::kTiffJpeg422;
        }
        default:
            return f::kTiff;
    }
}

QString compressionName(uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return QStringLiteral("Uncompressed");
        case COMPRESSION_CCITTRLE:
        case COMPRESSION_CCITTRLEW:
            return QStringLiteral("CCITT RLE");
        case COMPRESSION_CCITTFAX3:
            return QStringLiteral("CCITT G3");
        case COMPRESSION_CCITTFAX4:
            return QStringLiteral("CCITT G4");
        case COMPRESSION_LZW:
            return QStringLiteral("LZW");
        case COMPRESSION_OJPEG:
        case COMPRESSION_JPEG:
            return QStringLiteral("JPEG");
        case COMPRESSION_PACKBITS:
            return QStringLiteral("PackBits");
        case COMPRESSION_DEFLATE:
        case COMPRESSION_ADOBE_DEFLATE:
            return QStringLiteral("Deflate");
        case COMPRESSION_JBIG:
            return QStringLiteral("JBIG");
        case COMPRESSION_LZMA:
            return QStringLiteral("LZMA");
        case COMPRESSION_ZSTD:
            return QStringLiteral("ZSTD");
        case COMPRESSION_WEBP:
            return QStringLiteral("WebP");
        case COMPRESSION_JXL:
            return QStringLiteral("JPEG XL");
        case COMPRESSION_LERC:
            return QStringLiteral("LERC");
        case COMPRESSION_NEXT:
            return QStringLiteral("NeXT");
        case COMPRESSION_THUNDERSCAN:
            return QStringLiteral("ThunderScan");
        case COMPRESSION_PIXARLOG:
            return QStringLiteral("PixarLog");
        case COMPRESSION_SGILOG:
        case COMPRESSION_SGILOG24:
            return QStringLiteral("SGI Log");
        default:
            return QStringLiteral("Unknown");
    }
}

// Resolution in dots per inch from the current directory; 0 when the file states none or states
// one without a unit.
void readResolution(TIFF* tif, double& xDpi, double& yDpi) {
    xDpi = yDpi = 0;
    float x = 0;
    float y = 0;
    uint16_t unit = RESUNIT_INCH;
    const bool hasX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) == 1;
    const bool hasY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y) == 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    double factor = 0;
    if (unit == RESUNIT_INCH)
        factor = 1;
    if (unit == RESUNIT_CENTIMETER)
        factor = 2.54;
    auto valid = [](float v) { return std::isfinite(v) && v > 0 && v < 1e7f; };
    if (hasX && valid(x))
        xDpi = double(x) * factor;
    if (hasY && valid(y))
        yDpi = double(y) * factor;
}

int32_t roundDpi(double dpi) {
    if (!(dpi > 0))
        return 0;
    // Halves to even, as every conversion of a fraction to a whole number in this program.
    return int32_t(std::min(std::nearbyint(dpi), double(std::numeric_limits<int32_t>::max())));
}

int32_t saturate32(int64_t value) {
    return int32_t(std::clamp<int64_t>(value, 0, std::numeric_limits<int32_t>::max()));
}

// The chain of directories (pages) of a TIFF file, followed without decoding anything.
struct PageChain {
    int pages = 0;
    bool loops = false;      // a directory offset points back at one already seen
    bool cutShort = false;   // a directory lies outside the file or ends early
    bool overCount = false;  // more than the walk was allowed to follow
    int64_t pixels = 0;      // width x height summed over the pages whose size could be read
};

// The integers of a TIFF file, in its byte order.
struct FileIntegers {
    bool bigEndian = false;
    uint64_t operator()(const uint8_t* p, int bytes) const {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i)
            v |= uint64_t(p[bigEndian ? bytes - 1 - i : i]) << (8 * i);
        return v;
    }
};

// Width x height as the ImageWidth and ImageLength entries of a directory state them (0 when
// either is missing), each side capped just over kMaxPixels.
int64_t directoryPixels(const FileIntegers& value, bool bigTiff,
                        const std::vector<uint8_t>& entries, size_t count) {
    const size_t entryBytes = bigTiff ? 20 : 12;
    uint64_t width = 0;
    uint64_t height = 0;
    for (size_t e = 0; e < count; ++e) {
        const uint8_t* entry = entries.data() + e * entryBytes;
        const uint64_t tag = value(entry, 2);
        if (tag != TIFFTAG_IMAGEWIDTH && tag != TIFFTAG_IMAGELENGTH)
            continue;
        const uint64_t type = value(entry + 2, 2);
        const uint8_t* field = entry + 4 + (bigTiff ? 8 : 4);  // after tag, type and count
        uint64_t v = 0;
        if (type == TIFF_SHORT)
            v = value(field, 2);
        else if (type == TIFF_LONG)
            v = value(field, 4);
        else if (type == TIFF_LONG8 && bigTiff)
            v = value(field, 8);
        (tag == TIFFTAG_IMAGEWIDTH ? width : height) = std::min<uint64_t>(v, kMaxPixels + 1);
    }
    return int64_t(width * height);
}

// Follows the chain of directory offsets, at most `maxPages` directories, reading each one's
// ImageWidth and ImageLength entries for the pixel sum. Plain and BigTIFF, either byte order.
PageChain walkPageChain(const QString& path, int maxPages) {
    PageChain chain;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return chain;
    uint8_t head[16];
    if (file.read(reinterpret_cast<char*>(head), 16) < 8)
        return chain;
    const FileIntegers value{head[0] == 'M'};
    const bool bigTiff = value(head + 2, 2) == 43;
    const int offsetBytes = bigTiff ? 8 : 4;
    const int countBytes = bigTiff ? 8 : 2;
    const int entryBytes = bigTiff ? 20 : 12;
    uint64_t offset = bigTiff ? value(head + 8, 8) : value(head + 4, 4);
    std::unordered_set<uint64_t> seen;
    const uint64_t size = uint64_t(file.size());
    std::vector<uint8_t> entries;
    while (offset != 0) {
        if (offset >= size) {
            chain.cutShort = true;
            break;
        }
        if (chain.pages >= maxPages) {
            chain.overCount = true;
            break;
        }
        if (!seen.insert(offset).second) {
            chain.loops = true;
            break;
        }
        uint8_t buffer[8];
        if (!file.seek(qint64(offset)) ||
            file.read(reinterpret_cast<char*>(buffer), countBytes) != countBytes) {
            chain.cutShort = true;
            break;
        }
        const uint64_t count = value(buffer, countBytes);
        ++chain.pages;
        const uint64_t next = offset + uint64_t(countBytes) + count * uint64_t(entryBytes);
        if (count > size || next >= size) {
            chain.cutShort = true;
            break;
        }
        entries.resize(size_t(count) * size_t(entryBytes));
        if (file.read(reinterpret_cast<char*>(entries.data()), qint64(entries.size())) !=
            qint64(entries.size())) {
            chain.cutShort = true;
            break;
        }
        chain.pixels += directoryPixels(value, bigTiff, entries, size_t(count));
        // The entries end where the offset of the next directory begins.
        if (file.read(reinterpret_cast<char*>(buffer), offsetBytes) != offsetBytes) {
            chain.cutShort = true;
            break;
        }
        offset = value(buffer, offsetBytes);
    }
    return chain;
}

// The page count `pixavant info` shows: at most kMaxCountedPages, a loop or a damaged link ending
// the count. At least 1 (the caller has read the first directory).
int countPages(const QString& path) {
    return std::max(walkPageChain(path, kMaxCountedPages).pages, 1);
}

// The page budget and the soundness of the chain, for a conversion of every page.
Status checkPageChain(const QString& path, int& pages) {
    const PageChain chain = walkPageChain(path, kMaxDocumentPages);
    pages = std::max(chain.pages, 1);
    if (chain.overCount) {
        noteErrorDetail(QStringLiteral("more than %1 pages, the most one file may hold")
                            .arg(kMaxDocumentPages));
        return kErrLimit;
    }
    if (chain.pixels > kMaxDocumentPixels) {
        noteErrorDetail(QStringLiteral("%1 pages of %2 megapixels in all, more than the %3 one "
                                       "file may hold")
                            .arg(chain.pages)
                            .arg(chain.pixels / 1000000)
                            .arg(kMaxDocumentPixels / 1000000));
        return kErrLimit;
    }
    if (chain.loops || chain.cutShort) {
        noteErrorDetail(
            QStringLiteral("the chain of pages %1 after page %2")
                .arg(chain.loops ? QStringLiteral("loops back") : QStringLiteral("is cut short"))
                .arg(chain.pages));
        return kErrCorrupt;
    }
    return kSuccess;
}

// Makes page `page` (from 0) the current directory.
Status selectPage(TiffFile& file, int page) {
    if (page == 0)
        return kSuccess;
    if (page < 0 || page >= kMaxDocumentPages)
        return kErrInvalidArgument;
    if (TIFFSetDirectory(file.get(), tdir_t(page)) != 1) {
        noteErrorDetail(QStringLiteral("page %1 cannot be found").arg(page + 1));
        return file.messages().outOfMemory ? kErrNoMemory : kErrCorrupt;
    }
    return kSuccess;
}

uint8_t clampByte(int v) {
    return uint8_t(std::clamp(v, 0, 255));
}

// Over a white background: `c` premultiplied by `a` (associated alpha), or not.
uint8_t overWhite(int c, int a, bool premultiplied) {
    if (premultiplied)
        return clampByte(c + 255 - a);
    return uint8_t((c * a + 255 * (255 - a) + 127) / 255);
}

// The decoded rows of a contiguous image, top to bottom: scanline by scanline from strips, a row
// of tiles at a time from tiles. (libtiff 4.5's RGBA interface cannot read uncompressed gray
// tiles from a file that is not memory-mapped, and files are not mapped: a file cut short while it
// is read must fail, not end the process.)
class RowReader {
  public:
    RowReader(TiffFile& file, const TiffLayout& layout) : file_(file), l_(layout) {}

    Status prepare() {
        TIFF* tif = file_.get();
        rowBytes_ = size_t((int64_t(l_.width) * l_.samplesPerPixel * l_.bitsPerSample + 7) / 8);
        tiled_ = TIFFIsTiled(tif) != 0;
        size_t bufferBytes = 0;
        if (tiled_) {
            TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth_);
            TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileLength_);
            tileBytes_ = TIFFTileSize(tif);
            tileRowBytes_ = TIFFTileRowSize(tif);
            const uint64_t bitsAcross =
                uint64_t(tileWidth_) * l_.samplesPerPixel * l_.bitsPerSample;
            if (tileWidth_ == 0 || tileLength_ == 0 || bitsAcross % 8 != 0 || tileBytes_ <= 0 ||
                tileRowBytes_ <= 0 || uint64_t(tileRowBytes_) != bitsAcross / 8 ||
                tileLength_ > l_.height + 0x10000u)
                return kErrCorrupt;
            if (tileBytes_ > kMaxTiffAllocation ||
                rowBytes_ * tileLength_ > size_t(kMaxTiffAllocation))
                return kErrNoMemory;
            bufferBytes = rowBytes_ * tileLength_;
        } else if (l_.planar == PLANARCONFIG_SEPARATE) {
            // A strip of each plane at a time, interleaved into rows of whole pixels.
            TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &tileLength_);
            tileLength_ = std::clamp<uint32_t>(tileLength_, 1, l_.height);
            tileBytes_ = TIFFStripSize(tif);
            const uint64_t planeRow = (uint64_t(l_.width) * l_.bitsPerSample + 7) / 8;
            if (l_.bitsPerSample % 8 != 0 || tileBytes_ <= 0 ||
                uint64_t(tileBytes_) < planeRow * tileLength_)
                return kErrCorrupt;
            if (tileBytes_ > kMaxTiffAllocation ||
                rowBytes_ * tileLength_ > size_t(kMaxTiffAllocation))
                return kErrNoMemory;
            bufferBytes = rowBytes_ * tileLength_;
        } else {
            const tmsize_t scanline = TIFFScanlineSize(tif);
            if (scanline <= 0 || size_t(scanline) < rowBytes_)
                return kErrCorrupt;
            bufferBytes = size_t(scanline);
        }
        try {
            buffer_.resize(bufferBytes);
            if (tiled_ || l_.planar == PLANARCONFIG_SEPARATE)
                tile_.resize(size_t(tileBytes_));
        } catch (const std::bad_alloc&) {
            return kErrNoMemory;
        } catch (const std::length_error&) {
            return kErrNoMemory;
        }
        return kSuccess;
    }

    // Row y (rows are asked for in order); nullptr when it cannot be read.
    const uint8_t* row(uint32_t y) {
        TIFF* tif = file_.get();
        const bool separate = !tiled_ && l_.planar == PLANARCONFIG_SEPARATE;
        if (!tiled_ && !separate)
            return TIFFReadScanline(tif, buffer_.data(), y, 0) == 1 ? buffer_.data() : nullptr;
        const uint32_t bandTop = y - y % tileLength_;
        if (!bandLoaded_ || bandTop != bandTop_) {
            if (!(separate ? loadPlanes(bandTop) : loadBand(bandTop)))
                return nullptr;
        }
        return buffer_.data() + size_t(y - bandTop) * rowBytes_;
    }

  private:
    bool loadPlanes(uint32_t top) {
        TIFF* tif = file_.get();
        const uint32_t rows = std::min(tileLength_, l_.height - top);
        const size_t sampleBytes = l_.bitsPerSample / 8;
        const size_t spp = l_.samplesPerPixel;
        const uint32_t stripsPerPlane = (l_.height + tileLength_ - 1) / tileLength_;
        for (size_t plane = 0; plane < spp; ++plane) {
            const uint32_t strip = uint32_t(plane) * stripsPerPlane + top / tileLength_;
            if (TIFFReadEncodedStrip(tif, strip, tile_.data(), tileBytes_) < 0)
                return false;
            const uint8_t* in = tile_.data();
            for (uint32_t r = 0; r < rows; ++r) {
                uint8_t* out = buffer_.data() + size_t(r) * rowBytes_ + plane * sampleBytes;
                for (uint32_t x = 0; x < l_.width; ++x, in += sampleBytes, out += spp * sampleBytes)
                    std::memcpy(out, in, sampleBytes);
            }
        }
        bandTop_ = top;
        bandLoaded_ = true;
        return true;
    }

    bool loadBand(uint32_t top) {
        TIFF* tif = file_.get();
        const uint32_t rows = std::min(tileLength_, l_.height - top);
        for (uint32_t x = 0, column = 0; x < l_.width; x += tileWidth_, ++column) {
            const uint32_t index = TIFFComputeTile(tif, x, top, 0, 0);
            if (TIFFReadEncodedTile(tif, index, tile_.data(), tileBytes_) < 0)
                return false;
            const size_t offset = size_t(column) * size_t(tileRowBytes_);
            const size_t bytes = std::min(size_t(tileRowBytes_), rowBytes_ - offset);
            for (uint32_t r = 0; r < rows; ++r)
                std::memcpy(buffer_.data() + size_t(r) * rowBytes_ + offset,
                            tile_.data() + size_t(r) * size_t(tileRowBytes_), bytes);
        }
        bandTop_ = top;
        bandLoaded_ = true;
        return true;
    }

    TiffFile& file_;
    const TiffLayout& l_;
    bool tiled_ = false;
    size_t rowBytes_ = 0;
    uint32_t tileWidth_ = 0;
    uint32_t tileLength_ = 0;
    tmsize_t tileBytes_ = 0;
    tmsize_t tileRowBytes_ = 0;
    std::vector<uint8_t> buffer_;
    std::vector<uint8_t> tile_;
    uint32_t bandTop_ = 0;
    bool bandLoaded_ = false;
};

// Plain images (gray, palette, RGB, 16-bit CMYK) read row by row.
class ScanlineDecoder {
  public:
    static bool handles(const TiffLayout& l) {
        if (isJpeg(l.compression))
            return false;
        if (l.planar != PLANARCONFIG_CONTIG)  // separate planes: 16-bit CMYK in strips only
            return l.planar == PLANARCONFIG_SEPARATE && !l.tiled &&
                   l.photometric == PHOTOMETRIC_SEPARATED && l.bitsPerSample == 16 &&
                   l.inkSet == INKSET_CMYK && l.samplesPerPixel >= 4 && l.samplesPerPixel <= 8;
        const int bits = l.bitsPerSample;
        switch (l.photometric) {
            case PHOTOMETRIC_MINISBLACK:
            case PHOTOMETRIC_MINISWHITE:
                return (bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16) &&
                       l.samplesPerPixel >= 1 && l.samplesPerPixel <= 2;
            case PHOTOMETRIC_PALETTE:
                return (bits == 1 || bits == 2 || bits == 4 || bits == 8) && l.samplesPerPixel == 1;
            case PHOTOMETRIC_RGB:
                return (bits == 8 || bits == 16) && l.samplesPerPixel >= 3 &&
                       l.samplesPerPixel <= 8;
            case PHOTOMETRIC_SEPARATED:  // libtiff's RGBA interface takes 8-bit CMYK only
                return bits == 16 && l.inkSet == INKSET_CMYK && l.samplesPerPixel >= 4 &&
                       l.samplesPerPixel <= 8;
            default:
                return false;
        }
    }

    ScanlineDecoder(TiffFile& file, const TiffLayout& layout) : file_(file), l_(layout) {}

    Status decode(Raster& raster, Progress& progress) {
        TIFF* tif = file_.get();
        const bool palette = l_.photometric == PHOTOMETRIC_PALETTE;
        const bool rgb = l_.photometric == PHOTOMETRIC_RGB;
        if (palette && !loadColormap(tif))
            return kErrCorrupt;
        const bool cmyk = l_.photometric == PHOTOMETRIC_SEPARATED;
        RowReader rows(file_, l_);
        if (const Status status = rows.prepare(); status != kSuccess)
            return status;
        raster.width = int(l_.width);
        raster.height = int(l_.height);
        raster.format = (rgb || palette || cmyk) ? PixelFormat::Rgb8 : PixelFormat::Gray8;
        if (!raster.allocate())
            return kErrNoMemory;

        const int spp = l_.samplesPerPixel;
        const int colourSamples = rgb ? 3 : cmyk ? 4 : 1;
        const bool hasAlpha = spp > colourSamples && (l_.alpha == EXTRASAMPLE_ASSOCALPHA ||
                                                      l_.alpha == EXTRASAMPLE_UNASSALPHA);
        const bool premultiplied = l_.alpha == EXTRASAMPLE_ASSOCALPHA;
        const bool inverted = l_.photometric == PHOTOMETRIC_MINISWHITE;
        const int bits = l_.bitsPerSample;
        const int maxValue = (1 << bits) - 1;
        // Rows that are already what the raster holds: 8-bit gray or RGB, nothing to convert.
        const bool plain = bits == 8 && spp == colourSamples && !palette && !inverted;
        const bool bilevel = bits == 1 && spp == 1 && !palette;

        for (uint32_t y = 0; y < l_.height; ++y) {
            const uint8_t* in = rows.row(y);
            if (in == nullptr)
                return file_.readFailure();
            uint8_t* out = raster.row(int(y));
            if (plain || bilevel) {
                if (plain) {
                    std::memcpy(out, in, raster.rowBytes());
                } else {
                    const uint8_t one = inverted ? 0 : 255;
                    for (uint32_t x = 0; x < l_.width; ++x)
                        out[x] = (in[x >> 3] & (0x80u >> (x & 7))) != 0 ? one : uint8_t(255 - one);
                }
                if (!progress.report(int64_t(y) + 1, int64_t(l_.height)))
                    return kErrCancelled;
                continue;
            }
            for (uint32_t x = 0; x < l_.width; ++x) {
                const size_t first = size_t(x) * size_t(spp);
                if (palette) {
                    const unsigned index = sample(in, first, bits);
                    out[0] = map_[0][index];
                    out[1] = map_[1][index];
                    out[2] = map_[2][index];
                    out += 3;
                    continue;
                }
                if (cmyk) {
                    // As libtiff turns 8-bit CMYK into RGB: each ink scaled by the black's
                    // complement, no colour management.
                    const unsigned k = 255u - (sample(in, first + 3, 16) + 128u) / 257u;
                    for (int s = 0; s < 3; ++s)
                        *out++ = uint8_t(
                            k * (255u - (sample(in, first + size_t(s), 16) + 128u) / 257u) / 255u);
                    continue;
                }
                int c[3];
                for (int s = 0; s < colourSamples; ++s) {
                    const unsigned v = sample(in, first + size_t(s), bits);
                    c[s] = bits == 8    ? int(v)
                           : bits == 16 ? int((v + 128) / 257)
                                        : int(v * 255 / unsigned(maxValue));
                    if (inverted)
                        c[s] = 255 - c[s];
                }
                if (hasAlpha) {
                    const unsigned v = sample(in, first + size_t(colourSamples), bits);
                    const int a = bits == 8    ? int(v)
                                  : bits == 16 ? int((v + 128) / 257)
                                               : int(v * 255 / unsigned(maxValue));
                    for (int s = 0; s < colourSamples; ++s)
                        c[s] = overWhite(c[s], a, premultiplied);
                }
                for (int s = 0; s < colourSamples; ++s)
                    *out++ = uint8_t(c[s]);
            }
            if (!progress.report(int64_t(y) + 1, int64_t(l_.height)))
                return kErrCancelled;
        }
        return kSuccess;
    }

  private:
    // Sample number `n` of a row of `bits`-bit samples (libtiff has put the row in native order,
    // most significant bit first).
    static unsigned sample(const uint8_t* row, size_t n, int bits) {
        switch (bits) {
            case 8:
                return row[n];
            case 16: {
                uint16_t v;
                std::memcpy(&v, row + 2 * n, 2);
                return v;
            }
            default: {
                const size_t bit = n * size_t(bits);
                const int shift = 8 - bits - int(bit % 8);
                return (row[bit / 8] >> shift) & ((1u << bits) - 1);
            }
        }
    }

    // The colormap as 8-bit entries. Its entries are 16-bit by the standard; some writers store
    // 8-bit values, recognised (as libtiff does) by no entry exceeding 255.
    bool loadColormap(TIFF* tif) {
        uint16_t* r = nullptr;
        uint16_t* g = nullptr;
        uint16_t* b = nullptr;
        if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) != 1 || !r || !g || !b)
            return false;
        const size_t entries = size_t(1) << l_.bitsPerSample;
        bool sixteenBit = false;
        for (size_t i = 0; i < entries; ++i)
            if (r[i] > 255 || g[i] > 255 || b[i] > 255)
                sixteenBit = true;
        for (size_t i = 0; i < 256; ++i) {
            const uint16_t* maps[3] = {r, g, b};
            for (int c = 0; c < 3; ++c) {
                const unsigned v = i < entries ? maps[c][i] : 0;
                map_[c][i] = uint8_t(sixteenBit ? (v + 128) / 257 : v);
            }
        }
        return true;
    }

    TiffFile& file_;
    const TiffLayout& l_;
    uint8_t map_[3][256] = {};
};

// ---------------------------------------------------------------------------------------------
// Samples of every width and kind: 16- and 32-bit integers, signed integers, floating point, and
// separate planes, for gray and RGB. Each sample is taken to a 16-bit level first: unsigned
// integers scaled, signed ones over their full range (the least value black), floating point from
// 0.0 (black) to 1.0 (white), clipped. Sources of more than 8 bits give a deep raster.

bool knownSampleKind(uint16_t sampleFormat, int bits) {
    switch (sampleFormat) {
        case SAMPLEFORMAT_UINT:
        case SAMPLEFORMAT_VOID:
            return bits == 8 || bits == 16 || bits == 32 || (bits > 8 && bits < 16);
        case SAMPLEFORMAT_INT:
            return bits == 8 || bits == 16 || bits == 32;
        case SAMPLEFORMAT_IEEEFP:
            return bits == 32 || bits == 64;
        default:
            return false;
    }
}

// The sample at `p` (native byte order) as a 16-bit level.
uint16_t sampleLevel(const uint8_t* p, uint16_t sampleFormat, int bits) {
    switch (sampleFormat) {
        case SAMPLEFORMAT_IEEEFP: {
            double v = 0;
            if (bits == 32) {
                float f = 0;
                std::memcpy(&f, p, 4);
                v = f;
            } else {
                std::memcpy(&v, p, 8);
            }
            if (!(v > 0))  // NaN too
                return 0;
            return v >= 1 ? uint16_t(65535) : uint16_t(std::lrint(v * 65535.0));
        }
        case SAMPLEFORMAT_INT:
            if (bits == 8)
                return uint16_t(scaleSample(uint32_t(int32_t(int8_t(*p)) + 128), 8, 16));
            if (bits == 16) {
                int16_t v = 0;
                std::memcpy(&v, p, 2);
                return uint16_t(int32_t(v) + 32768);
            } else {
                int32_t v = 0;
                std::memcpy(&v, p, 4);
                return uint16_t(scaleSample(uint32_t(int64_t(v) + 2147483648LL), 32, 16));
            }
        default:
            if (bits == 8)
                return uint16_t(*p * 257u);
            if (bits == 16) {
                uint16_t v = 0;
                std::memcpy(&v, p, 2);
                return v;
            } else {
                uint32_t v = 0;
                std::memcpy(&v, p, 4);
                return uint16_t(scaleSample(v, 32, 16));
            }
    }
}

// Sample number `n` of a row of packed `bits`-bit samples, most significant bit first.
uint32_t packedSample(const uint8_t* row, size_t n, int bits) {
    uint32_t v = 0;
    for (size_t bit = n * size_t(bits), end = bit + size_t(bits); bit < end; ++bit)
        v = v << 1 | ((row[bit >> 3] >> (7 - (bit & 7))) & 1u);
    return v;
}

// A 16-bit level over a white background: premultiplied by `a` (associated alpha), or not.
uint16_t overWhite16(unsigned c, unsigned a, bool premultiplied) {
    if (premultiplied)
        return uint16_t(std::min(c + 65535u - std::min(a, 65535u), 65535u));
    return uint16_t((uint64_t(c) * a + uint64_t(65535) * (65535 - a) + 32767) / 65535);
}

class SampleDecoder {
  public:
    // Deep samples, samples other than unsigned integers and separate planes of gray and RGB
    // images; plain unsigned samples of 8 bits and fewer are the scanline decoder's.
    static bool handles(const TiffLayout& l) {
        if (isJpeg(l.compression) || (l.planar == PLANARCONFIG_SEPARATE && l.tiled))
            return false;
        if (l.photometric != PHOTOMETRIC_MINISBLACK && l.photometric != PHOTOMETRIC_MINISWHITE &&
            l.photometric != PHOTOMETRIC_RGB)
            return false;
        const int colours = l.photometric == PHOTOMETRIC_RGB ? 3 : 1;
        if (l.samplesPerPixel < colours || l.samplesPerPixel > 8 ||
            !knownSampleKind(l.sampleFormat, l.bitsPerSample) ||
            (l.planar == PLANARCONFIG_SEPARATE && l.bitsPerSample % 8 != 0))
            return false;
        const bool unsignedSamples =
            l.sampleFormat == SAMPLEFORMAT_UINT || l.sampleFormat == SAMPLEFORMAT_VOID;
        return !unsignedSamples || l.bitsPerSample > 8 || l.planar == PLANARCONFIG_SEPARATE;
    }

    SampleDecoder(TiffFile& file, const TiffLayout& layout) : file_(file), l_(layout) {}

    Status decode(Raster& raster, Progress& progress) {
        RowReader rows(file_, l_);
        if (const Status status = rows.prepare(); status != kSuccess)
            return status;
        const int colours = l_.photometric == PHOTOMETRIC_RGB ? 3 : 1;
        const bool deep = l_.bitsPerSample > 8 || l_.sampleFormat == SAMPLEFORMAT_IEEEFP;
        raster.width = int(l_.width);
        raster.height = int(l_.height);
        raster.format = colours == 3 ? (deep ? PixelFormat::Rgb16 : PixelFormat::Rgb8)
                                     : (deep ? PixelFormat::Gray16 : PixelFormat::Gray8);
        if (!raster.allocate())
            return kErrNoMemory;

        const size_t spp = l_.samplesPerPixel;
        const size_t sampleBytes = l_.bitsPerSample / 8u;
        // An extra sample of unspecified meaning is left out, as other readers do.
        const bool hasAlpha = int(spp) > colours && (l_.alpha == EXTRASAMPLE_ASSOCALPHA ||
                                                     l_.alpha == EXTRASAMPLE_UNASSALPHA);
        const bool premultiplied = l_.alpha == EXTRASAMPLE_ASSOCALPHA;
        const bool inverted = l_.photometric == PHOTOMETRIC_MINISWHITE;
        // Widths between 8 and 16 bits (10, 12, ...) are scaled to 16.
        const int bits = l_.bitsPerSample;
        const auto level = [&](const uint8_t* row, size_t n) -> unsigned {
            if (bits % 8 == 0)
                return sampleLevel(row + n * sampleBytes, l_.sampleFormat, bits);
            return scaleSample(packedSample(row, n, bits), bits, 16);
        };
        for (uint32_t y = 0; y < l_.height; ++y) {
            const uint8_t* in = rows.row(y);
            if (in == nullptr)
                return file_.readFailure();
            uint8_t* out8 = raster.row(int(y));
            uint16_t* out16 = raster.row16(int(y));
            for (uint32_t x = 0; x < l_.width; ++x) {
                const size_t first = size_t(x) * spp;
                const unsigned alpha = hasAlpha ? level(in, first + size_t(colours)) : 65535u;
                for (int s = 0; s < colours; ++s) {
                    unsigned v = level(in, first + size_t(s));
                    if (inverted)
                        v = 65535u - v;
                    if (hasAlpha)
                        v = overWhite16(v, alpha, premultiplied);
                    if (deep)
                        *out16++ = uint16_t(v);
                    else
                        *out8++ = uint8_t((v + 128u) / 257u);
                }
            }
            if (!progress.report(int64_t(y) + 1, int64_t(l_.height)))
                return kErrCancelled;
        }
        return kSuccess;
    }

  private:
    TiffFile& file_;
    const TiffLayout& l_;
};

// ---------------------------------------------------------------------------------------------
// CIE L*a*b* (the TIFF encoding, signed a* and b*, and the ICC one, offset a* and b*), 8 or 16
// bits, converted to sRGB through lcms2; 16-bit files give a deep raster. (lcms2's own Lab profiles
// are relative to D50 whatever white they are given: the white point is handled here.)

bool isLab(const TiffLayout& l) {
    return (l.photometric == PHOTOMETRIC_CIELAB || l.photometric == PHOTOMETRIC_ICCLAB) &&
           !isJpeg(l.compression) && !(l.planar == PLANARCONFIG_SEPARATE && l.tiled) &&
           (l.bitsPerSample == 8 || l.bitsPerSample == 16) && l.samplesPerPixel >= 3 &&
           l.samplesPerPixel <= 8;
}

struct LcmsProfile {
    cmsHPROFILE handle = nullptr;
    ~LcmsProfile() {
        if (handle != nullptr)
            cmsCloseProfile(handle);
    }
};

// The white the L*a*b* values are relative to, in XYZ: the one the file states (D65 unless it
// says otherwise), or for ICC L*a*b* the D50 of the profile connection space.
cmsCIEXYZ labWhite(TiffFile& file, bool icc) {
    cmsCIExyY white{0.3127, 0.3290, 1.0};
    if (icc)
        cmsXYZ2xyY(&white, cmsD50_XYZ());
    float* stated = nullptr;
    if (!icc && TIFFGetField(file.get(), TIFFTAG_WHITEPOINT, &stated) == 1 && stated != nullptr &&
        stated[0] > 0 && stated[1] > 0 && stated[0] < 1 && stated[1] < 1)
        white = {stated[0], stated[1], 1.0};
    cmsCIEXYZ whiteXYZ;
    cmsxyY2XYZ(&whiteXYZ, &white);
    return whiteXYZ;
}

// The Bradford adaptation from `white` to D50, as a matrix on XYZ. False when lcms refuses it.
bool adaptationToD50(const cmsCIEXYZ& white, double adapt[3][3]) {
    for (int c = 0; c < 3; ++c) {
        const cmsCIEXYZ unit{c == 0 ? 1.0 : 0.0, c == 1 ? 1.0 : 0.0, c == 2 ? 1.0 : 0.0};
        cmsCIEXYZ adapted;
        if (!cmsAdaptToIlluminant(&adapted, &white, cmsD50_XYZ(), &unit))
            return false;
        adapt[0][c] = adapted.X;
        adapt[1][c] = adapted.Y;
        adapt[2][c] = adapted.Z;
    }
    return true;
}

// One pixel's samples as L*a*b*: CIE a and b are signed, ICC ones offset by half the range.
cmsCIELab labOf(const uint8_t* samples, bool deep, bool icc) {
    double lab3[3];
    if (deep) {
        uint16_t v[3];
        std::memcpy(v, samples, 6);
        lab3[0] = v[0] * 100.0 / 65535.0;
        for (int c = 1; c < 3; ++c)
            lab3[c] = icc ? (v[c] - 32768.0) / 256.0 : int16_t(v[c]) / 256.0;
    } else {
        lab3[0] = samples[0] * 100.0 / 255.0;
        for (int c = 1; c < 3; ++c)
            lab3[c] = icc ? samples[c] - 128.0 : double(int8_t(samples[c]));
    }
    return cmsCIELab{lab3[0], lab3[1], lab3[2]};
}

Status decodeLab(TiffFile& file, const TiffLayout& l, Raster& raster, Progress& progress) {
    RowReader rows(file, l);
    if (const Status status = rows.prepare(); status != kSuccess)
        return status;
    const bool deep = l.bitsPerSample == 16;
    // The values go to XYZ under their white (labWhite), are adapted (Bradford) to D50, and from
    // there to sRGB.
    const bool icc = l.photometric == PHOTOMETRIC_ICCLAB;
    const cmsCIEXYZ whiteXYZ = labWhite(file, icc);
    double adapt[3][3];
    if (!adaptationToD50(whiteXYZ, adapt))
        return kErrCorrupt;
    LcmsProfile xyz{cmsCreateXYZProfile()};
    LcmsProfile srgb{cmsCreate_sRGBProfile()};
    if (xyz.handle == nullptr || srgb.handle == nullptr)
        return kErrNoMemory;
    cmsHTRANSFORM transform =
        cmsCreateTransform(xyz.handle, TYPE_XYZ_DBL, srgb.handle, deep ? TYPE_RGB_16 : TYPE_RGB_8,
                           INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE);
    if (transform == nullptr)
        return kErrNoMemory;
    struct Release {
        cmsHTRANSFORM t;
        ~Release() { cmsDeleteTransform(t); }
    } release{transform};

    raster.width = int(l.width);
    raster.height = int(l.height);
    raster.format = deep ? PixelFormat::Rgb16 : PixelFormat::Rgb8;
    if (!raster.allocate())
        return kErrNoMemory;
    std::vector<double> values;
    try {
        values.resize(size_t(l.width) * 3);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    const size_t spp = l.samplesPerPixel;
    for (uint32_t y = 0; y < l.height; ++y) {
        const uint8_t* in = rows.row(y);
        if (in == nullptr)
            return file.readFailure();
        for (uint32_t x = 0; x < l.width; ++x) {
            const cmsCIELab lab =
                labOf(deep ? in + size_t(x) * spp * 2 : in + size_t(x) * spp, deep, icc);
            cmsCIEXYZ under;
            cmsLab2XYZ(&whiteXYZ, &under, &lab);
            double* out = values.data() + size_t(x) * 3;
            for (int r = 0; r < 3; ++r)
                out[r] = adapt[r][0] * under.X + adapt[r][1] * under.Y + adapt[r][2] * under.Z;
        }
        cmsDoTransform(transform, values.data(), raster.row(int(y)), l.width);
        if (!progress.report(int64_t(y) + 1, int64_t(l.height)))
            return kErrCancelled;
    }
    return kSuccess;
}

// Every other image, through libtiff's RGBA interface.
Status decodeRgba(TiffFile& file, const TiffLayout& layout, Raster& raster, Progress& progress) {
    TIFF* tif = file.get();
    char message[1024] = "";
    if (TIFFRGBAImageOK(tif, message) != 1)
        return kErrFormat;
    TIFFRGBAImage image;
    if (TIFFRGBAImageBegin(&image, tif, 1, message) != 1)
        return file.readFailure();
    struct End {
        TIFFRGBAImage* image;
        ~End() { TIFFRGBAImageEnd(image); }
    } end{&image};
    // Rows in the order they are stored: the orientation is applied to the whole image later.
    image.req_orientation = image.orientation;

    // Whole strips or rows of tiles at a time, so that no strip is decoded twice.
    uint32_t chunk = 0;
    if (TIFFIsTiled(tif) != 0)
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &chunk);
    else
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &chunk);
    chunk = std::clamp<uint32_t>(chunk, 1, layout.height);

    std::vector<uint32_t> buffer;
    try {
        buffer.resize(size_t(layout.width) * chunk);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    } catch (const std::length_error&) {
        return kErrNoMemory;
    }
    const bool gray = layout.photometric == PHOTOMETRIC_MINISBLACK ||
                      layout.photometric == PHOTOMETRIC_MINISWHITE;
    raster.width = int(layout.width);
    raster.height = int(layout.height);
    raster.format = gray ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    if (!raster.allocate())
        return kErrNoMemory;

    for (uint32_t row = 0; row < layout.height; row += chunk) {
        const uint32_t rows = std::min(chunk, layout.height - row);
        image.row_offset = int(row);
        image.col_offset = 0;
        if (TIFFRGBAImageGet(&image, buffer.data(), layout.width, rows) != 1)
            return file.readFailure();
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t* in = buffer.data() + size_t(r) * layout.width;
            uint8_t* out = raster.row(int(row + r));
            for (uint32_t x = 0; x < layout.width; ++x) {
                const uint32_t p = in[x];
                const int a = int(TIFFGetA(p));
                if (gray) {
                    *out++ = overWhite(int(TIFFGetR(p)), a, true);
                } else {
                    *out++ = overWhite(int(TIFFGetR(p)), a, true);
                    *out++ = overWhite(int(TIFFGetG(p)), a, true);
                    *out++ = overWhite(int(TIFFGetB(p)), a, true);
                }
            }
        }
        if (!progress.report(int64_t(row) + rows, int64_t(layout.height)))
            return kErrCancelled;
    }
    return kSuccess;
}

class TiffReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        return hasTiffSignature(header.bytes);
    }

    // Files are read, never memory-mapped: a file cut short while it is read then fails cleanly.
    Status readInfo(const QString& path, const FileHeader&, FileInfoRecord& info) override {
        TiffFile file;
        if (!file.open(path, "rm"))
            return file.readFailure();
        TiffLayout layout;
        if (!readLayout(file.get(), layout))
            return kErrCorrupt;
        if (layout.width == 0 || layout.height == 0 ||
            layout.width > uint32_t(std::numeric_limits<int32_t>::max()) ||
            layout.height > uint32_t(std::numeric_limits<int32_t>::max()))
            return kErrCorrupt;
        info.Format = formatCodeOf(file.get(), layout);
        info.Width = int32_t(layout.width);
        info.Height = int32_t(layout.height);
        // Every sample of a pixel counts, extra samples (alpha) included: the depth as stored.
        info.BitsPerPixel = int32_t(layout.bitsPerSample) * int32_t(layout.samplesPerPixel);
        info.Compression = compressionName(layout.compression);
        double xDpi = 0;
        double yDpi = 0;
        readResolution(file.get(), xDpi, yDpi);
        info.XResolution = roundDpi(xDpi);
        info.YResolution = roundDpi(yDpi);
        info.SizeMem = saturate32(imageDataSize(layout.width, layout.height, info.BitsPerPixel));
        file.close();
        info.TotalPages = countPages(path);
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader& header, const ReadOptions& options,
                DecodedImage& image, Progress& progress) override {
        return readPage(path, header, options, 0, image, progress);
    }

    Status pageCount(const QString& path, const FileHeader&, int& pages) override {
        return checkPageChain(path, pages);
    }

    Status readPage(const QString& path, const FileHeader&, const ReadOptions&, int page,
                    DecodedImage& image, Progress& progress) override {
        TiffFile file;
        if (!file.open(path, "rm"))
            return file.readFailure();
        if (const Status selected = selectPage(file, page); selected != kSuccess)
            return selected;
        TIFF* tif = file.get();
        TiffLayout layout;
        if (!readLayout(tif, layout))
            return kErrCorrupt;
        if (const Status size = checkImageSize(layout.width, layout.height); size != kSuccess)
            return size;
        if (layout.sampleFormat != SAMPLEFORMAT_UINT && layout.sampleFormat != SAMPLEFORMAT_VOID &&
            !SampleDecoder::handles(layout))
            return kErrFormat;  // complex samples, or floating point of an unusual width
        if (layout.bitsPerSample == 0 || layout.samplesPerPixel == 0)
            return kErrCorrupt;

        DecodedImage decoded;
        readResolution(tif, decoded.meta.xDpi, decoded.meta.yDpi);
        uint32_t iccSize = 0;
        void* icc = nullptr;
        if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &iccSize, &icc) == 1 && icc != nullptr &&
            iccSize > 0) {
            const auto* bytes = static_cast<const uint8_t*>(icc);
            decoded.meta.iccProfile.assign(bytes, bytes + iccSize);
        }

        Status status = kSuccess;
        file.startDecoding();
        if (isLab(layout)) {
            decoded.meta.iccProfile.clear();  // the pixels are sRGB now
            status = decodeLab(file, layout, decoded.raster, progress);
        } else if (SampleDecoder::handles(layout)) {
            SampleDecoder decoder(file, layout);
            status = decoder.decode(decoded.raster, progress);
        } else if (ScanlineDecoder::handles(layout)) {
            ScanlineDecoder decoder(file, layout);
            status = decoder.decode(decoded.raster, progress);
        } else {
            status = decodeRgba(file, layout, decoded.raster, progress);
        }
        if (status == kSuccess)
            status = file.decodingStatus();
        if (status != kSuccess)
            return status;
        file.close();
        if (layout.orientation > ORIENTATION_TOPLEFT && layout.orientation <= ORIENTATION_LEFTBOT) {
            // TIFF and EXIF number the eight orientations alike.
            if (const Status turned = applyOrientation(decoded.raster, layout.orientation);
                turned != kSuccess)
                return turned;
        }
        if (page == 0)  // EXIF, XMP and IPTC describe the first page
            readEmbeddedMetadata(path, decoded.meta);
        image = std::move(decoded);
        return kSuccess;
    }
};

// ---------------------------------------------------------------------------------------------
// Writing

bool isCcitt(int code) {
    return code == format::kTiffG3_1D || code == format::kTiffG3_2D || code == format::kTiffG4;
}

// A gray raster that holds only black and white: written to 1 bit without any dithering.
bool isTwoLevel(const Raster& raster) {
    if (raster.format == PixelFormat::Bilevel)
        return true;
    if (raster.format != PixelFormat::Gray8)
        return false;
    return std::all_of(raster.pixels.begin(), raster.pixels.end(),
                       [](uint8_t v) { return v == 0 || v == 255; });
}

// The colour space an ICC profile describes ("RGB ", "GRAY", ...), from its header.
std::string iccColourSpace(const std::vector<uint8_t>& profile) {
    if (profile.size() < 128)
        return {};
    return std::string(reinterpret_cast<const char*>(profile.data()) + 16, 4);
}

// A new file for a first page; for a later one, the file that holds the earlier pages, to which
// libtiff links a new directory at the end.
bool openForPage(TiffFile& file, const QString& path, bool addPage) {
    return file.open(path, addPage ? "a" : "w");
}

// Bits per sample written: 1 for black and white, 16 for a deep raster, 8 otherwise.
uint16_t storedBitsPerSample(const Raster& image, bool oneBit) {
    if (oneBit)
        return 1;
    return uint16_t(8 * image.bytesPerSample());
}

uint16_t photometricFor(const Raster& image, bool oneBit) {
    if (oneBit)
        return PHOTOMETRIC_MINISWHITE;
    if (image.format == PixelFormat::Gray8 || image.format == PixelFormat::Gray16)
        return PHOTOMETRIC_MINISBLACK;
    if (image.format == PixelFormat::Indexed8)
        return PHOTOMETRIC_PALETTE;
    return image.channels() == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
}

uint16_t compressionFor(int code) {
    if (code == format::kTiffLzw)
        return COMPRESSION_LZW;
    if (code == format::kTiffG3_1D || code == format::kTiffG3_2D)
        return COMPRESSION_CCITTFAX3;
    if (code == format::kTiffG4)
        return COMPRESSION_CCITTFAX4;
    return COMPRESSION_NONE;
}

// The resolution asked, one side standing for both when the other is 0; none when both are.
bool setResolutionTags(TIFF* tif, const SaveResolution& resolution) {
    const int32_t xDpi = resolution.x > 0 ? resolution.x : resolution.y;
    const int32_t yDpi = resolution.y > 0 ? resolution.y : resolution.x;
    if (xDpi <= 0 || yDpi <= 0)
        return true;
    return TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(xDpi)) == 1 &&
           TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(yDpi)) == 1 &&
           TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH)) == 1;
}

// The ICC profile when its colour space is the one written, and the palette.
bool setColourTags(TIFF* tif, const Raster& image, uint16_t photometric,
                   const std::vector<uint8_t>& iccProfile) {
    bool ok = true;
    const std::string space = iccColourSpace(iccProfile);
    const bool colourOut = photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_PALETTE;
    if ((colourOut && space == "RGB ") || (!colourOut && space == "GRAY"))
        ok = TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(iccProfile.size()),
                          iccProfile.data()) == 1;
    if (photometric == PHOTOMETRIC_PALETTE) {
        std::vector<uint16_t> map(3 * 256, 0);
        for (size_t i = 0; i < image.palette.size(); ++i)
            for (size_t c = 0; c < 3; ++c)
                map[c * 256 + i] = uint16_t(image.palette[i][c] * 257);
        ok = ok && TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + 256,
                                map.data() + 512) == 1;
    }
    return ok;
}

// The pixels, strip by strip; one bit per pixel packed, set for black (min-is-white).
Status writeStrips(TiffFile& file, const Raster& image, bool oneBit, size_t lineBytes,
                   uint32_t rowsPerStrip, Progress& progress) {
    std::vector<uint8_t> strip;
    try {
        strip.resize(lineBytes * rowsPerStrip);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    const uint32_t height = uint32_t(image.height);
    for (uint32_t row = 0, index = 0; row < height; row += rowsPerStrip, ++index) {
        const uint32_t rows = std::min(rowsPerStrip, height - row);
        for (uint32_t r = 0; r < rows; ++r) {
            uint8_t* out = strip.data() + size_t(r) * lineBytes;
            const uint8_t* in = image.row(int(row + r));
            if (oneBit) {
                std::memset(out, 0, lineBytes);
                for (int x = 0; x < image.width; ++x)
                    if (in[x] < 128)
                        out[x >> 3] |= uint8_t(0x80u >> (x & 7));
            } else {
                std::memcpy(out, in, lineBytes);
            }
        }
        if (TIFFWriteEncodedStrip(file.get(), index, strip.data(), tmsize_t(lineBytes * rows)) < 0)
            return file.messages().outOfMemory ? kErrNoMemory : kErrWrite;
        if (!progress.report(int64_t(row) + rows, int64_t(height)))
            return kErrCancelled;
    }
    return kSuccess;
}

class TiffWriter final : public FormatWriter {
  public:
    bool writes(int code) const override {
        return code == format::kTiff || code == format::kTiffLzw || isCcitt(code);
    }

    Status write(const QString& path, const Raster& raster, const ImageMeta& meta,
                 const SaveRequest& request, Progress& progress) override {
        const int code = request.formatCode;
        if (!writes(code))
            return kErrInvalidArgument;
        if (raster.empty() || raster.pixels.size() < raster.rowBytes() * size_t(raster.height))
            return kErrInvalidArgument;

        // CCITT holds black and white only: anything else is dithered first.
        const Raster* source = &raster;
        Raster bilevel;
        if (isCcitt(code) && !isTwoLevel(raster)) {
            if (const Status status = convertDepth(raster, 1, bilevel); status != kSuccess)
                return status;
            if (!isTwoLevel(bilevel))
                return kErrInvalidArgument;
            source = &bilevel;
        }
        const Raster& image = *source;
        const bool oneBit = isCcitt(code) || image.format == PixelFormat::Bilevel;
        if (image.format == PixelFormat::Indexed8 && image.palette.size() > 256)
            return kErrInvalidArgument;

        const uint16_t samples = (!oneBit && image.channels() == 3) ? 3 : 1;
        const size_t lineBytes = oneBit ? (size_t(image.width) + 7) / 8 : image.rowBytes();
        const uint32_t rowsPerStrip =
            uint32_t(std::clamp<size_t>(kStripBytes / lineBytes, 1, size_t(image.height)));

        TiffFile file;
        if (!openForPage(file, path, request.addPage))
            return kErrWrite;
        TIFF* tif = file.get();

        const uint16_t photometric = photometricFor(image, oneBit);
        const uint16_t compression = compressionFor(code);

        bool ok =
            TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width)) == 1 &&
            TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height)) == 1 &&
            TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, storedBitsPerSample(image, oneBit)) == 1 &&
            TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples) == 1 &&
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric) == 1 &&
            TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG)) == 1 &&
            TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT)) == 1 &&
            TIFFSetField(tif, TIFFTAG_COMPRESSION, compression) == 1 &&
            TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip) == 1;
        if (oneBit)
            ok = ok && TIFFSetField(tif, TIFFTAG_FILLORDER, uint16_t(FILLORDER_MSB2LSB)) == 1;
        if (compression == COMPRESSION_CCITTFAX3) {
            const uint32_t options = code == format::kTiffG3_2D ? GROUP3OPT_2DENCODING : 0;
            ok = ok && TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, options) == 1;
        }
        // The horizontal predictor makes LZW markedly smaller on photographs and scans.
        if (compression == COMPRESSION_LZW && !oneBit && photometric != PHOTOMETRIC_PALETTE)
            ok = ok && TIFFSetField(tif, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL)) == 1;

        ok = ok && setResolutionTags(tif, request.resolution) &&
             setColourTags(tif, image, photometric, meta.iccProfile);
        if (!ok)
            return kErrWrite;
        if (const Status written =
                writeStrips(file, image, oneBit, lineBytes, rowsPerStrip, progress);
            written != kSuccess)
            return written;
        if (TIFFFlush(tif) != 1)
            return kErrWrite;
        file.close();
        if (request.addPage)  // the file's metadata went in with its first page
            return kSuccess;
        std::vector<std::string> dropped;
        const Status added = addTiffMetadata(path, request.metadata,
                                             request.notes != nullptr ? *request.notes : dropped);
        return added;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeTiffReader() {
    return std::make_unique<TiffReader>();
}
std::unique_ptr<FormatWriter> makeTiffWriter() {
    return std::make_unique<TiffWriter>();
}

}  // namespace pixavant::imaging
