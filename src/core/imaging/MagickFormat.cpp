// Reader for every format other than JPEG, TIFF and JPEG XL, through GraphicsMagick.
//
// The format is chosen here, from the file's signature (or, for TGA, its suffix and a sane header),
// and GraphicsMagick is always told which coder to use ("GIF:/path"): it never guesses a format
// from the content, so video files, scripts and other formats that would run a delegate program
// cannot reach one. EPS and PostScript are rendered by Ghostscript run here, in SAFER mode, with a
// time, memory and output-size limit, and the page it writes is read back as PNM.

#include <sys/resource.h>
#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <mutex>
#include <optional>

#include "imaging/AnimationNote.h"
#include "imaging/ErrorDetail.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MagickRuntime.h"
#include "imaging/MetadataSupport.h"

namespace pixavant::imaging {

namespace {

// ---------------------------------------------------------------------------------------------
// Header fields

uint8_t byteAt(const QByteArray& b, qsizetype at) {
    return at >= 0 && at < b.size() ? uint8_t(b.at(at)) : 0;
}
uint32_t le16(const QByteArray& b, qsizetype at) {
    return uint32_t(byteAt(b, at)) | uint32_t(byteAt(b, at + 1)) << 8;
}
uint32_t le32(const QByteArray& b, qsizetype at) {
    return le16(b, at) | le16(b, at + 2) << 16;
}
uint32_t be16(const QByteArray& b, qsizetype at) {
    return uint32_t(byteAt(b, at)) << 8 | uint32_t(byteAt(b, at + 1));
}
uint32_t be32(const QByteArray& b, qsizetype at) {
    return be16(b, at) << 16 | be16(b, at + 2);
}
bool hasAt(const QByteArray& b, qsizetype at, const char* text, qsizetype length) {
    return at >= 0 && b.size() >= at + length &&
           std::memcmp(b.constData() + at, text, size_t(length)) == 0;
}

// ---------------------------------------------------------------------------------------------
// What the header says

enum class Kind { None, Magick, PostScript };

struct Detected {
    Kind kind = Kind::None;
    const char* coder = "";  // the GraphicsMagick coder
    int code = format::kUnknown;
    // From the header where the format has a fixed one (0: ask GraphicsMagick).
    int64_t width = 0;
    int64_t height = 0;
    int bitsPerPixel = 0;
    QString compression;
    int dpi = -1;  // horizontal resolution from the header (-1: ask GraphicsMagick)
    // BMP: the header alone says whether there is alpha (GraphicsMagick also takes the unused
    // byte of plain 32-bit pixels, or a mask that does not apply, for one).
    bool alphaFromHeader = false;
    bool headerAlpha = false;
    // Bits of red, green, blue and alpha as stored, when the file packs them into fewer (or more)
    // than 8: rescaled to 0..255 here. 0: the sample as decoded.
    std::array<int, 4> sampleBits{};
    // GIF: the image is the logical screen, with the first frame at its offset.
    bool logicalScreen = false;
    // OS/2 2.x BMP: the colour table as the file has it (GraphicsMagick reads its four-byte entries
    // as three-byte ones); empty for every other file.
    std::vector<PaletteEntry> palette;
};

Detected magickFormat(const char* coder, int code) {
    Detected d;
    d.kind = Kind::Magick;
    d.coder = coder;
    d.code = code;
    return d;
}

// The channel layout of 16- and 32-bit pixels. Plain ones (BI_RGB) are 5-5-5 or 8-8-8 with the
// rest unused; bit fields (BI_BITFIELDS, BI_ALPHABITFIELDS) give their masks, in the header from
// 52 bytes on or right after a 40-byte one. Only a non-zero alpha mask of bit fields makes alpha.
void describeBmpSamples(const QByteArray& b, uint32_t headerSize, uint32_t compression,
                        Detected& d) {
    std::array<uint32_t, 4> masks{};
    if (compression == 0) {
        masks = d.bitsPerPixel == 16 ? std::array<uint32_t, 4>{0x7c00, 0x03e0, 0x001f, 0}
                                     : std::array<uint32_t, 4>{0xff0000, 0x00ff00, 0x0000ff, 0};
    } else if (compression == 3 || compression == 6) {
        masks = {le32(b, 54), le32(b, 58), le32(b, 62), 0};
        if (headerSize >= 56 || compression == 6)
            masks[3] = le32(b, 66);
    }
    d.headerAlpha = masks[3] != 0;
    for (size_t c = 0; c < 4; ++c)
        d.sampleBits[c] = std::popcount(masks[c]);
}

std::optional<Detected> detectBmp(const QByteArray& b) {
    if (!hasAt(b, 0, "BM", 2) || b.size() < 26)
        return std::nullopt;
    const uint32_t headerSize = le32(b, 14);
    Detected d = magickFormat("BMP", format::kBmp);
    uint32_t planes = 0, compression = 0;
    if (headerSize == 12) {  // OS/2 1.x: 16-bit sizes
        d.code = format::kOs2BmpV1;
        d.width = le16(b, 18);
        d.height = le16(b, 20);
        planes = le16(b, 22);
        d.bitsPerPixel = int(le16(b, 24));
    } else if (headerSize >= 16 && headerSize <= 124) {
        d.width = int32_t(le32(b, 18));
        d.height = std::abs(int64_t(int32_t(le32(b, 22))));
        planes = le16(b, 26);
        d.bitsPerPixel = int(le16(b, 28));
        compression = headerSize >= 20 ? le32(b, 30) : 0;
        if (headerSize >= 28)  // pixels per metre
            d.dpi = int(std::min(std::nearbyint(le32(b, 38) * 0.0254), 65535.0));
        const bool windows = headerSize == 40 || headerSize == 52 || headerSize == 56 ||
                             headerSize == 108 || headerSize == 124;
        if (!windows && headerSize <= 64)
            d.code = format::kOs2BmpV2;
        else if (!windows)
            return std::nullopt;
        else if (compression == 1 || compression == 2)
            d.code = format::kBmpRle;
    } else {
        return std::nullopt;
    }
    static constexpr int kDepths[] = {1, 2, 4, 8, 16, 24, 32};
    if (planes != 1 ||
        std::find(std::begin(kDepths), std::end(kDepths), d.bitsPerPixel) == std::end(kDepths))
        return std::nullopt;
    const bool os2 = d.code == format::kOs2BmpV2;
    d.alphaFromHeader = true;
    if (!os2 && (d.bitsPerPixel == 16 || d.bitsPerPixel == 32))
        describeBmpSamples(b, headerSize, compression, d);
    if (os2 && headerSize == 64 && d.bitsPerPixel <= 8) {
        const uint32_t used = le32(b, 46);
        const uint32_t entries = used != 0 && used < 256 ? used : 1u << d.bitsPerPixel;
        for (uint32_t i = 0; i < entries && 14 + 64 + 4 * (i + 1) <= uint32_t(b.size()); ++i) {
            const qsizetype at = 14 + 64 + 4 * qsizetype(i);  // blue, green, red, unused
            d.palette.push_back({byteAt(b, at + 2), byteAt(b, at + 1), byteAt(b, at)});
        }
    }
    if (compression == 1 || compression == 2 || (os2 && compression == 4))
        d.compression = "RLE";
    else if (os2 && compression == 3)
        d.compression = "Huffman";
    else
        d.compression = "Uncompressed";
    return d;
}

std::optional<Detected> detectPcx(const QByteArray& b) {
    if (b.size() < 128 || byteAt(b, 0) != 0x0A)
        return std::nullopt;
    const uint8_t version = byteAt(b, 1), encoding = byteAt(b, 2), bits = byteAt(b, 3);
    const uint8_t planes = byteAt(b, 65);
    if (version > 5 || version == 1 || encoding > 1)
        return std::nullopt;
    if (bits != 1 && bits != 2 && bits != 4 && bits != 8)
        return std::nullopt;
    if (planes < 1 || planes > 4)
        return std::nullopt;
    const int64_t xmin = le16(b, 4), ymin = le16(b, 6), xmax = le16(b, 8), ymax = le16(b, 10);
    if (xmax < xmin || ymax < ymin)
        return std::nullopt;
    Detected d = magickFormat("PCX", format::kPcx);
    d.width = xmax - xmin + 1;
    d.height = ymax - ymin + 1;
    d.bitsPerPixel = bits * planes;
    d.compression = encoding == 1 ? "RLE" : "Uncompressed";
    return d;
}

std::optional<Detected> detectTga(const FileHeader& h) {
    static const QStringList kSuffixes = {"tga", "icb", "vda", "vst"};
    const QByteArray& b = h.bytes;
    if (!kSuffixes.contains(h.suffix) || b.size() < 18)
        return std::nullopt;
    const uint8_t mapType = byteAt(b, 1), type = byteAt(b, 2), depth = byteAt(b, 16);
    const uint32_t mapLength = le16(b, 5);
    const uint8_t mapEntry = byteAt(b, 7);
    const bool mapped = type == 1 || type == 9;
    const bool known = mapped || type == 2 || type == 3 || type == 10 || type == 11;
    if (!known || mapType > 1 || (mapped && (mapType != 1 || mapLength == 0)))
        return std::nullopt;
    if (mapType == 1 && mapEntry != 15 && mapEntry != 16 && mapEntry != 24 && mapEntry != 32)
        return std::nullopt;
    if (depth != 1 && depth != 8 && depth != 15 && depth != 16 && depth != 24 && depth != 32)
        return std::nullopt;
    if (((type == 3 || type == 11) && depth == 16) ||
        ((type == 2 || type == 10) && depth == 32 && (byteAt(b, 17) & 15) == 0))
        return std::nullopt;  // TgaFormat.cpp
    Detected d = magickFormat("TGA", format::kTga);
    d.width = le16(b, 12);
    d.height = le16(b, 14);
    d.bitsPerPixel = depth;
    d.compression = type >= 9 ? "RLE" : "Uncompressed";
    return d;
}

std::optional<Detected> detectIcon(const QByteArray& b) {
    if (b.size() < 22 || le16(b, 0) != 0)
        return std::nullopt;
    const uint32_t type = le16(b, 2), count = le16(b, 4);
    if ((type != 1 && type != 2) || count == 0 || byteAt(b, 9) != 0)
        return std::nullopt;
    const uint32_t offset = le32(b, 18);
    if (offset < 6 + 16 * count)
        return std::nullopt;
    Detected d =
        type == 1 ? magickFormat("ICO", format::kIcon) : magickFormat("CUR", format::kCursor);
    d.bitsPerPixel = type == 1 ? int(le16(b, 12)) : 0;
    return d;
}

std::optional<Detected> detectPict(const FileHeader& h) {
    static const QStringList kSuffixes = {"pict", "pct", "pic"};
    const QByteArray& b = h.bytes;
    const auto versionAt = [&](qsizetype at) {
        // Version 2 opcode with its version word, or the version 1 opcode.
        if (hasAt(b, at, "\x00\x11\x02\xff", 4))
            return 2;
        if (hasAt(b, at, "\x11\x01", 2))
            return 1;
        return 0;
    };
    const auto frameOk = [&](qsizetype at) {
        const int top = int16_t(be16(b, at)), left = int16_t(be16(b, at + 2));
        const int bottom = int16_t(be16(b, at + 4)), right = int16_t(be16(b, at + 6));
        return bottom > top && right > left;
    };
    const bool suffix = kSuffixes.contains(h.suffix);
    // With the 512-byte application header; without it (only for PICT names).
    int version = versionAt(522);
    if (!(version == 2 || (version == 1 && suffix)) || !frameOk(514)) {
        version = suffix ? versionAt(10) : 0;
        if (version == 0 || !frameOk(2))
            return std::nullopt;
    }
    Detected d = magickFormat("PICT", format::kPict);
    d.compression = "PackBits";
    return d;
}

std::optional<Detected> detectPostScript(const QByteArray& b) {
    if (hasAt(b, 0, "%!", 2) || hasAt(b, 0, "\xc5\xd0\xd3\xc6", 4)) {
        Detected d;
        d.kind = Kind::PostScript;
        d.code = format::kEps;
        d.bitsPerPixel = 24;
        d.compression = "PostScript";
        return d;
    }
    return std::nullopt;
}

std::optional<Detected> detectWmf(const QByteArray& b) {
    const bool placeable = hasAt(b, 0, "\xd7\xcd\xc6\x9a", 4);
    const qsizetype at = placeable ? 22 : 0;
    const uint32_t type = le16(b, at), headerWords = le16(b, at + 2), version = le16(b, at + 4);
    if (!placeable && !((type == 1 || type == 2) && headerWords == 9))
        return std::nullopt;
    if (!placeable && version != 0x0100 && version != 0x0300)
        return std::nullopt;
    Detected d = magickFormat("WMF", format::kWmf);
    d.bitsPerPixel = 24;
    d.compression = "Metafile";
    return d;
}

Detected detectFormat(const FileHeader& h) {
    const QByteArray& b = h.bytes;
    if (hasAt(b, 0, "GIF87a", 6) || hasAt(b, 0, "GIF89a", 6)) {
        Detected d = magickFormat("GIF", format::kGif);
        d.width = le16(b, 6);
        d.height = le16(b, 8);
        const uint8_t flags = byteAt(b, 10);
        d.bitsPerPixel = (flags & 0x80) ? (flags & 7) + 1 : 8;
        d.compression = "LZW";
        d.logicalScreen = true;
        return d;
    }
    if (hasAt(b, 0, "\x89PNG\r\n\x1a\n", 8)) {
        Detected d = magickFormat("PNG", format::kPng);
        if (hasAt(b, 12, "IHDR", 4)) {
            d.width = be32(b, 16);
            d.height = be32(b, 20);
            static constexpr int kChannels[] = {1, 0, 3, 1, 2, 0, 4};
            const uint8_t type = byteAt(b, 25);
            d.bitsPerPixel = byteAt(b, 24) * (type < 7 ? kChannels[type] : 0);
        }
        d.compression = "Deflate";
        return d;
    }
    if (auto bmp = detectBmp(b))
        return *bmp;  // before any suffix: ".rle" files are BMPs
    if (hasAt(b, 0, "8BPS", 4) && be16(b, 4) == 1) {
        Detected d = magickFormat("PSD", format::kPsd);
        d.height = be32(b, 14);
        d.width = be32(b, 18);
        d.bitsPerPixel = int(std::min<uint32_t>(be16(b, 12), 4) * be16(b, 22));
        return d;
    }
    if (hasAt(b, 0, "\x59\xa6\x6a\x95", 4)) {
        Detected d = magickFormat("SUN", format::kSunRaster);
        d.width = be32(b, 4);
        d.height = be32(b, 8);
        d.bitsPerPixel = int(std::min<uint32_t>(be32(b, 12), 32));
        d.compression = be32(b, 20) == 2 ? "RLE" : "Uncompressed";
        return d;
    }
    if (auto ps = detectPostScript(b))
        return *ps;
    if (hasAt(b, 2048, "PCD_IPI", 7)) {
        Detected d = magickFormat("PCD", format::kPhotoCd);
        d.bitsPerPixel = 24;
        d.compression = "PhotoCD";
        return d;
    }
    if (auto tga = detectTga(h))
        return *tga;  // a TGA header can look like an icon's
    if (auto icon = detectIcon(b))
        return *icon;
    if (auto wmf = detectWmf(b))
        return *wmf;
    if (auto pict = detectPict(h))
        return *pict;
    if (auto pcx = detectPcx(b))
        return *pcx;
    if (b.size() >= 3 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7' &&
        (b[2] == '\n' || b[2] == '\r' || b[2] == ' ' || b[2] == '\t')) {
        Detected d = magickFormat(b[1] == '7' ? "PAM" : "PNM", format::kUnknown);
        d.compression = "Uncompressed";
        return d;
    }
    if (hasAt(b, 0, "\x52\xcc", 2) && b.size() >= 15)  // Utah RLE
        return magickFormat("RLE", format::kUnknown);
    if (be16(b, 0) == 0x01DA && byteAt(b, 2) <= 1)
        return magickFormat("SGI", format::kUnknown);
    if (hasAt(b, 0, "SDPX", 4) || hasAt(b, 0, "XPDS", 4))
        return magickFormat("DPX", format::kUnknown);
    if (hasAt(b, 0, "RIFF", 4) && hasAt(b, 8, "WEBP", 4))
        return magickFormat("WEBP", format::kUnknown);
    return {};
}

// True when this GraphicsMagick has a decoder for the coder.
bool canDecode(const char* coder) {
    magick::ensureInitialized();
    magick::Exception exception;
    const MagickInfo* info = GetMagickInfo(coder, exception.get());
    return info != nullptr && info->decoder != nullptr && std::strcmp(info->name, coder) == 0;
}

Detected detect(const FileHeader& h) {
    Detected d = detectFormat(h);
    if (d.kind == Kind::Magick && !canDecode(d.coder))
        return {};
    return d;
}

// ---------------------------------------------------------------------------------------------
// GraphicsMagick calls

// "CODER:/absolute/path": the coder is fixed, and an absolute path can never be read as a pipe.
bool setFilename(ImageInfo* info, const char* coder, const QString& path) {
    const QByteArray name =
        QByteArray(coder) + ':' + QFile::encodeName(QFileInfo(path).absoluteFilePath());
    if (name.size() >= MaxTextExtent)
        return false;
    std::memcpy(info->filename, name.constData(), size_t(name.size()) + 1);
    return true;
}

// Failure of a GraphicsMagick read: the image, the exception it left. A corrupt-image warning
// counts as a failure too: the pixels of a truncated file are not all there.
Status readStatus(const Image* image, magick::Exception& exception, Progress* progress,
                  const QString& path) {
    if (progress != nullptr && progress->cancelled())
        return kErrCancelled;
    // Coders report to the exception they are given or to the image's own.
    const ExceptionInfo* worst = exception.get();
    if (image != nullptr && image->exception.severity > worst->severity)
        worst = &image->exception;
    const int severity = int(worst->severity);
    Status status = kSuccess;
    if (image == nullptr) {
        status = magick::statusForSeverity(severity);
        if (status == kSuccess)
            status = kErrCorrupt;
    } else if (severity >= ErrorException || severity == CorruptImageWarning) {
        status = magick::statusForSeverity(severity);
    }
    if (status != kSuccess && worst->reason != nullptr) {
        // The library's words, without the file's path (the caller names the file).
        QString description = QString::fromUtf8(worst->description ? worst->description : "");
        description.remove(QFileInfo(path).absoluteFilePath());
        description = description.trimmed();
        while (description.endsWith(QLatin1Char(',')) || description.endsWith(QLatin1Char(':')))
            description.chop(1);
        QString text = QString::fromUtf8(worst->reason);
        if (!description.isEmpty())
            text += QStringLiteral(" (") + description + QLatin1Char(')');
        noteErrorDetail(text);
    }
    return status;
}

magick::ImagePtr openImage(const char* coder, const QString& path, bool ping, Status& status,
                           Progress* progress) {
    magick::ensureInitialized();
    magick::ImageInfoPtr info(CloneImageInfo(nullptr));
    if (!info || !setFilename(info.get(), coder, path)) {
        status = info ? kErrFileNotFound : kErrNoMemory;
        return nullptr;
    }
    // The first frame only. (PhotoCD's coder reads its frame range as the resolution: left alone,
    // it decodes the 768 x 512 base image.)
    if (std::strcmp(coder, "PCD") != 0) {
        info->subimage = 0;
        info->subrange = 1;
    }
    magick::Exception exception;
    magick::ImagePtr image(ping ? PingImage(info.get(), exception.get())
                                : ReadImage(info.get(), exception.get()));
    status = readStatus(image.get(), exception, progress, path);
    if (status == kSuccess && !image)
        status = kErrCorrupt;
    if (status != kSuccess)
        image.reset();
    return image;
}

int dpiOf(const Image* image, double value) {
    if (!(value > 0) || !std::isfinite(value))
        return 0;
    switch (image->units) {
        case PixelsPerInchResolution:
            break;
        case PixelsPerCentimeterResolution:
            value *= 2.54;
            break;
        default:
            return 0;  // an aspect ratio only
    }
    return int(std::clamp(std::nearbyint(value), 0.0, 65535.0));
}

QString compressionName(CompressionType compression) {
    switch (compression) {
        case NoCompression:
            return "Uncompressed";
        case RLECompression:
            return "RLE";
        case LZWCompression:
            return "LZW";
        case ZipCompression:
            return "Deflate";
        case JPEGCompression:
            return "JPEG";
        case FaxCompression:
            return "CCITT G3";
        case Group4Compression:
            return "CCITT G4";
        default:
            return "Uncompressed";
    }
}

int bitsOf(const Image* image) {
    if (image->storage_class == PseudoClass && image->colors > 0) {
        if (image->colors <= 2)
            return 1;
        if (image->colors <= 16)
            return 4;
        return 8;
    }
    const int depth = image->depth > 8 ? 16 : 8;
    return depth * (image->matte ? 4 : 3);
}

// Where the first frame lies: its own size, or for a GIF the logical screen (grown to hold the
// frame, as no pixel of it is dropped) with the frame at its offset.
struct Canvas {
    int64_t width = 0;
    int64_t height = 0;
    int64_t x = 0;
    int64_t y = 0;
};

Canvas canvasOf(const Detected& d, const Image* image) {
    Canvas c{int64_t(image->columns), int64_t(image->rows), 0, 0};
    if (!d.logicalScreen)
        return c;
    c.x = std::max<int64_t>(0, image->page.x);
    c.y = std::max<int64_t>(0, image->page.y);
    c.width = std::max(d.width, c.x + int64_t(image->columns));
    c.height = std::max(d.height, c.y + int64_t(image->rows));
    return c;
}

// An 8-bit sample from a quantum that holds `bits` significant bits at its top (0: an ordinary
// 16-bit quantum).
uint8_t sampleOf(unsigned quantum, int bits) {
    if (bits <= 0 || bits > 16 || bits == 8)
        return uint8_t(quantum / 257u);
    const unsigned value = quantum >> (16 - bits);
    const unsigned top = (1u << bits) - 1;
    return uint8_t((value * 255u + top / 2) / top);
}

uint8_t overWhite(unsigned c, unsigned a) {
    return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
}

bool unset(const PixelPacket& p) {
    return p.red == magick::kUnsetQuantum && p.green == magick::kUnsetQuantum &&
           p.blue == magick::kUnsetQuantum;
}

// What the coder left in the pixel cache. A row whose every pixel still holds the allocator's mark
// was never written: the decode stopped short without saying so, and the file counts as damaged.
// An opacity channel that was never written anywhere is no alpha.
Status checkWritten(Image* image, bool& alphaWritten) {
    magick::Exception exception;
    alphaWritten = false;
    for (long y = 0; y < long(image->rows); ++y) {
        const PixelPacket* row =
            AcquireImagePixels(image, 0, y, image->columns, 1, exception.get());
        if (row == nullptr)
            return kErrCorrupt;
        const PixelPacket* end = row + image->columns;
        if (std::all_of(row, end, unset))
            return kErrCorrupt;
        if (!alphaWritten && image->matte)
            alphaWritten = std::any_of(
                row, end, [](const PixelPacket& p) { return p.opacity != magick::kUnsetQuantum; });
    }
    return kSuccess;
}

// The first frame on its canvas as Gray8 (gray images) or Rgb8, transparency composited over white.
Status toRaster(Image* image, const Detected& d, DecodedImage& out, Progress& progress) {
    const Canvas canvas = canvasOf(d, image);
    if (const Status status = checkImageSize(canvas.width, canvas.height); status != kSuccess)
        return status;
    bool alphaWritten = false;
    if (const Status status = checkWritten(image, alphaWritten); status != kSuccess)
        return status;
    magick::Exception exception;
    const bool recolour = !d.palette.empty() && image->storage_class == PseudoClass;
    const bool gray = !recolour && IsGrayImage(image, exception.get()) != MagickFalse;
    const bool alpha = alphaWritten && (!d.alphaFromHeader || d.headerAlpha);
    Raster& raster = out.raster;
    raster = Raster{};
    raster.width = int(canvas.width);
    raster.height = int(canvas.height);
    raster.format = gray ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    if (!raster.allocate())
        return kErrNoMemory;
    if (canvas.width != int64_t(image->columns) || canvas.height != int64_t(image->rows))
        std::fill(raster.pixels.begin(), raster.pixels.end(), uint8_t(255));  // transparent

    const std::array<int, 4>& bits = d.sampleBits;
    const int channels = raster.channels();
    const long columns = long(image->columns);
    for (long y = 0; y < long(image->rows); ++y) {
        const PixelPacket* p = AcquireImagePixels(image, 0, y, image->columns, 1, exception.get());
        if (p == nullptr)
            return kErrCorrupt;
        uint8_t* q = raster.row(int(canvas.y + y)) + canvas.x * channels;
        if (recolour) {
            const IndexPacket* index = AccessImmutableIndexes(image);
            if (index == nullptr)
                return kErrCorrupt;
            for (long x = 0; x < columns; ++x, ++index) {
                if (size_t(*index) >= d.palette.size())
                    return kErrCorrupt;
                const PaletteEntry& colour = d.palette[size_t(*index)];
                q = std::copy_n(colour.begin(), channels, q);
            }
            continue;
        }
        for (long x = 0; x < columns; ++x, ++p) {
            const unsigned a = alpha ? sampleOf(MaxRGB - p->opacity, bits[3]) : 255u;
            *q++ = overWhite(sampleOf(p->red, bits[0]), a);
            if (!gray) {
                *q++ = overWhite(sampleOf(p->green, bits[1]), a);
                *q++ = overWhite(sampleOf(p->blue, bits[2]), a);
            }
        }
        if ((y & 63) == 63 && !progress.report(90 + 10LL * (y + 1) / long(image->rows)))
            return kErrCancelled;
    }

    out.meta = ImageMeta{};
    out.meta.xDpi = dpiOf(image, image->x_resolution);
    out.meta.yDpi = dpiOf(image, image->y_resolution);
    size_t length = 0;
    if (const unsigned char* icc = GetImageProfile(image, "ICM", &length); icc && length > 0)
        out.meta.iccProfile.assign(icc, icc + length);
    return kSuccess;
}

// ---------------------------------------------------------------------------------------------
// PostScript through Ghostscript

constexpr int kGhostscriptSeconds = 60;
constexpr int kPostScriptDpi = 72;

struct BoundingBox {
    double llx = 0, lly = 0, urx = 0, ury = 0;
};

struct PageSize {
    int64_t width = 0;
    int64_t height = 0;
};

// The page rendered for a bounding box: whole pixels that cover it. The information and the
// rendering both use it, and Ghostscript is given it, so they always agree.
PageSize pageSizeOf(const BoundingBox& box) {
    const double scale = kPostScriptDpi / 72.0;
    const auto pixels = [](double extent) {
        return std::max<int64_t>(1, int64_t(std::ceil(std::min(extent, 1e12) - 1e-6)));
    };
    return {pixels((box.urx - box.llx) * scale), pixels((box.ury - box.lly) * scale)};
}

std::optional<BoundingBox> parseBoundingBox(const QByteArray& text) {
    qsizetype at = 0;
    while ((at = text.indexOf("%%BoundingBox:", at)) >= 0) {
        at += 14;
        const qsizetype end = text.indexOf('\n', at);
        QByteArray line = text.mid(at, end < 0 ? -1 : end - at).trimmed();
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 4)
            continue;  // "(atend)": the value follows later
        BoundingBox box;
        bool ok[4];
        box.llx = parts[0].toDouble(&ok[0]);
        box.lly = parts[1].toDouble(&ok[1]);
        box.urx = parts[2].toDouble(&ok[2]);
        box.ury = parts[3].toDouble(&ok[3]);
        if (ok[0] && ok[1] && ok[2] && ok[3] && box.urx > box.llx && box.ury > box.lly)
            return box;
    }
    return std::nullopt;
}

// Where the PostScript of the file is: the section of a DOS EPS binary, or the whole file.
Status postScriptSection(const QString& path, const QByteArray& header, qint64& offset,
                         qint64& length) {
    QFileInfo info(path);
    offset = 0;
    length = info.size();
    if (hasAt(header, 0, "\xc5\xd0\xd3\xc6", 4)) {
        offset = le32(header, 4);
        length = le32(header, 8);
        if (offset < 30 || length <= 0 || offset + length > info.size())
            return kErrCorrupt;
    }
    return kSuccess;
}

std::optional<BoundingBox> findBoundingBox(const QString& path, const QByteArray& header) {
    qint64 offset = 0, length = 0;
    if (postScriptSection(path, header, offset, length) != kSuccess)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr qint64 kWindow = 64 * 1024;
    file.seek(offset);
    if (auto box = parseBoundingBox(file.read(std::min(length, kWindow))))
        return box;
    if (length > kWindow) {  // "%%BoundingBox: (atend)"
        file.seek(offset + length - kWindow);
        return parseBoundingBox(file.read(kWindow));
    }
    return std::nullopt;
}

// Renders the first page of the PostScript file into `ppm` with Ghostscript.
Status renderPostScript(const QString& path, const QByteArray& header,
                        const std::optional<BoundingBox>& box, const QTemporaryDir& dir,
                        QString& ppm, Progress& progress) {
    const QString gs = QStandardPaths::findExecutable("gs");
    if (gs.isEmpty())
        return kErrFormat;
    qint64 offset = 0, length = 0;
    if (const Status status = postScriptSection(path, header, offset, length); status != kSuccess)
        return status;
    QString input = QFileInfo(path).absoluteFilePath();
    if (offset > 0) {  // DOS EPS binary: hand Ghostscript the PostScript section alone
        QFile source(path);
        QFile section(dir.filePath("section.ps"));
        if (!source.open(QIODevice::ReadOnly) || !section.open(QIODevice::WriteOnly))
            return kErrFileNotFound;
        source.seek(offset);
        for (qint64 left = length; left > 0;) {
            const QByteArray chunk = source.read(std::min<qint64>(left, 1 << 20));
            if (chunk.isEmpty() || section.write(chunk) != chunk.size())
                return kErrCorrupt;
            left -= chunk.size();
        }
        input = section.fileName();
    }
    ppm = dir.filePath("page1.ppm");
    QStringList arguments = {"-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dNOPROMPT", "-dFirstPage=1",
                             "-dLastPage=1", "-dTextAlphaBits=4", "-dGraphicsAlphaBits=4",
                             "-sDEVICE=ppmraw", QStringLiteral("-r%1").arg(kPostScriptDpi),
                             // Later pages, if any, go to files of their own and are not read.
                             "-sOutputFile=" + dir.filePath("page%d.ppm")};
    if (box) {
        // The page is exactly the box: its size fixed, its lower left corner at the origin.
        const PageSize page = pageSizeOf(*box);
        arguments << "-dFIXEDMEDIA"
                  << QStringLiteral("-g%1x%2").arg(page.width).arg(page.height)
                  // (a leading blank: an argument that starts with "-" would be an option)
                  << "-c"
                  << QStringLiteral(" %1 %2 translate")
                         .arg(-box->llx, 0, 'g', 12)
                         .arg(-box->lly, 0, 'g', 12);
    }
    // An EPS file need not end its page: when it has not, the page is ended for it.
    arguments << "-f" << input << "-c"
              << "currentpagedevice /PageCount get 0 eq {showpage} if";

    QProcess process;
    process.setProgram(gs);
    process.setArguments(arguments);
    // Safe mode still lets a job delete, rename and write files in the temporary directory it is
    // told of: give it only its own scratch directory, so it cannot touch the user's files there.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"TMPDIR", "TEMP", "TMP"})
        environment.insert(QString::fromLatin1(name), dir.path());
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(dir.filePath("messages.txt"));
    process.setChildProcessModifier([] {
        // Memory, CPU time and output size of the renderer: a page of at most kMaxPixels.
        const rlimit memory{rlim_t(3) << 30, rlim_t(3) << 30};
        const rlimit cpu{kGhostscriptSeconds, kGhostscriptSeconds + 5};
        const rlimit output{rlim_t(kMaxPixels) * 3 + 4096, rlim_t(kMaxPixels) * 3 + 4096};
        setrlimit(RLIMIT_AS, &memory);
        setrlimit(RLIMIT_CPU, &cpu);
        setrlimit(RLIMIT_FSIZE, &output);
    });
    process.start();
    if (!process.waitForStarted(10000))
        return kErrFormat;
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(50)) {
        const qint64 elapsed = clock.elapsed();
        const bool cancelled = !progress.report(int(elapsed * 50 / (kGhostscriptSeconds * 1000)));
        if (cancelled || elapsed > kGhostscriptSeconds * 1000) {
            process.kill();
            process.waitForFinished(5000);
            return cancelled ? kErrCancelled : kErrLimit;
        }
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return kErrLimit;
    // A page that was written is usable even when the document failed later.
    if (QFileInfo(ppm).size() <= 0) {
        QFile messages(dir.filePath("messages.txt"));
        if (messages.open(QIODevice::ReadOnly))
            noteErrorDetail(QString::fromUtf8(messages.read(300)).section(QLatin1Char('\n'), 0, 1));
        return kErrCorrupt;
    }
    return kSuccess;
}

// ---------------------------------------------------------------------------------------------

// The frames of a GIF file, counted by walking its blocks without decoding any (at most
// kMaxCountedFrames; a block cut short ends the count).
int gifFrameCount(const QString& path) {
    constexpr int kMaxCountedFrames = 100000;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 size = file.size();
    // The file is read, never mapped: one cut short meanwhile must not end the process.
    const auto at = [&file, size](qint64 i) {
        char c = 0;
        return i < size && file.seek(i) && file.getChar(&c) ? uint8_t(c) : uint8_t(0);
    };
    // Skips a chain of sub-blocks; returns the offset after its terminator, or -1.
    const auto skipSubBlocks = [&](qint64 i) -> qint64 {
        while (i < size) {
            const uint8_t length = at(i);
            i += 1 + length;
            if (length == 0)
                return i;
        }
        return -1;
    };
    qint64 i = 13;
    if (size < i)
        return 0;
    if (at(10) & 0x80)
        i += 3 * (qint64(1) << ((at(10) & 7) + 1));
    int frames = 0;
    while (i < size && frames < kMaxCountedFrames) {
        const uint8_t block = at(i);
        if (block == 0x21) {
            i = skipSubBlocks(i + 2);
        } else if (block == 0x2C) {
            ++frames;
            const uint8_t flags = at(i + 9);
            i += 10;
            if (flags & 0x80)
                i += 3 * (qint64(1) << ((flags & 7) + 1));
            i = skipSubBlocks(i + 1);  // after the LZW code size
        } else if (block == 0x3B) {
            break;  // the trailer
        } else {
            ++i;  // a stray byte, which decoders pass over as GraphicsMagick's does
        }
        if (i < 0)
            break;
    }
    return frames;
}

// An animation converts as its first frame: the user is told so.
void noteAnimation(int frames, ImageMeta& meta) {
    if (frames > 1)
        meta.notes.push_back(animationNote(frames));
}

class MagickReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        return detect(header).kind != Kind::None;
    }

    Status readInfo(const QString& path, const FileHeader& header, FileInfoRecord& info) override {
        const Detected d = detect(header);
        if (d.kind == Kind::None)
            return kErrFormat;
        info.Format = d.code;
        info.BitsPerPixel = d.bitsPerPixel;
        info.Compression = d.compression;
        if (d.kind == Kind::PostScript)
            return postScriptInfo(path, header, info);

        if (d.width > 0 && d.height > 0)
            if (const Status status = checkImageSize(d.width, d.height); status != kSuccess)
                return status;
        Status status = kSuccess;
        magick::ImagePtr image = openImage(d.coder, path, true, status, nullptr);
        if (!image)
            return status;
        const Canvas canvas = canvasOf(d, image.get());
        if (const Status sizeStatus = checkImageSize(canvas.width, canvas.height);
            sizeStatus != kSuccess)
            return sizeStatus;
        info.Width = int32_t(canvas.width);
        info.Height = int32_t(canvas.height);
        info.XResolution = dpiOf(image.get(), image->x_resolution);
        info.YResolution = dpiOf(image.get(), image->y_resolution);
        if (d.dpi >= 0)
            info.XResolution = info.YResolution = d.dpi;  // not all pings give it
        if (info.BitsPerPixel <= 0)
            info.BitsPerPixel = bitsOf(image.get());
        if (info.Compression.isEmpty())
            info.Compression = compressionName(image->compression);
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader& header, const ReadOptions&,
                DecodedImage& out, Progress& progress) override {
        const Detected d = detect(header);
        if (d.kind == Kind::None)
            return kErrFormat;
        if (!progress.report(0))
            return kErrCancelled;
        if (d.kind == Kind::PostScript)
            return readPostScript(path, header, out, progress);

        // Sizes first: from the header, then from GraphicsMagick without decoding.
        if (d.width > 0 && d.height > 0)
            if (const Status status = checkImageSize(d.width, d.height); status != kSuccess)
                return status;
        Status status = kSuccess;
        if (magick::ImagePtr pinged = openImage(d.coder, path, true, status, nullptr)) {
            const Canvas canvas = canvasOf(d, pinged.get());
            status = checkImageSize(canvas.width, canvas.height);
            if (status != kSuccess)
                return status;
        } else {
            return status;
        }
        status = decode(d, path, out, progress, 0);
        if (status == kSuccess)
            readEmbeddedMetadata(path, out.meta);
        if (status == kSuccess && d.code == format::kGif)
            noteAnimation(gifFrameCount(path), out.meta);
        return status;
    }

  private:
    static Status decode(const Detected& d, const QString& path, DecodedImage& out,
                         Progress& progress, int from) {
        Status status = kSuccess;
        magick::ImagePtr image;
        {
            magick::MonitorScope scope(progress, from, 90);
            image = openImage(d.coder, path, false, status, &progress);
        }
        if (!image)
            return status;
        if ((status = toRaster(image.get(), d, out, progress)) != kSuccess)
            return status;
        return progress.report(100) ? kSuccess : kErrCancelled;
    }

    static Status postScriptInfo(const QString& path, const FileHeader& header,
                                 FileInfoRecord& info) {
        if (auto box = findBoundingBox(path, header.bytes)) {
            const PageSize page = pageSizeOf(*box);
            if (const Status status = checkImageSize(page.width, page.height); status != kSuccess)
                return status;
            info.Width = int32_t(page.width);
            info.Height = int32_t(page.height);
        } else {
            // No bounding box: the size is the page Ghostscript renders.
            DecodedImage page;
            Progress silent;
            if (const Status status = readPostScript(path, header, page, silent);
                status != kSuccess)
                return status;
            info.Width = page.raster.width;
            info.Height = page.raster.height;
        }
        info.XResolution = info.YResolution = kPostScriptDpi;
        return kSuccess;
    }

    static Status readPostScript(const QString& path, const FileHeader& header, DecodedImage& out,
                                 Progress& progress) {
        const std::optional<BoundingBox> box = findBoundingBox(path, header.bytes);
        if (box) {
            const PageSize page = pageSizeOf(*box);
            if (const Status status = checkImageSize(page.width, page.height); status != kSuccess)
                return status;
        }
        QTemporaryDir dir;
        if (!dir.isValid())
            return kErrWrite;
        QString ppm;
        if (const Status status = renderPostScript(path, header.bytes, box, dir, ppm, progress);
            status != kSuccess)
            return status;
        Detected pnm = magickFormat("PNM", format::kUnknown);
        const Status status = decode(pnm, ppm, out, progress, 50);
        if (status == kSuccess)
            out.meta.xDpi = out.meta.yDpi = kPostScriptDpi;
        return status;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeMagickReader() {
    return std::make_unique<MagickReader>();
}

}  // namespace pixavant::imaging
