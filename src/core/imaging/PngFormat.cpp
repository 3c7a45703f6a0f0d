// PNG reading on libpng.
//
// Every colour type and depth: palette, gray and RGB with a transparent colour key (tRNS) or an
// alpha channel are composited over white; 16-bit images give a deep raster. An animated PNG gives
// its default image, the one every PNG reader shows. The EXIF orientation of an eXIf chunk is
// applied as a JPEG's is.
//
// No declared length is trusted: before libpng sees the file, every chunk's length is checked
// against the bytes left in it, and metadata that inflates (compressed text, ICC profiles) may
// grow to kMaxMetadataBytes; a larger chunk is left out.

#include <png.h>

#include <QFile>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "imaging/ErrorDetail.h"
#include "imaging/ExifSupport.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MetadataSupport.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {

namespace {

constexpr png_alloc_size_t kMaxMetadataBytes = png_alloc_size_t(64) << 20;
constexpr char kSignature[] = "\x89PNG\r\n\x1a\n";

uint32_t bigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Whether every chunk's declared length lies within the file, up to IEND: kErrCorrupt with the
// chunk named in `problem` when one does not. `frames` gets the frame count of an animation
// (acTL), 1 otherwise.
Status checkPngChunkLengths(const QString& path, QString& problem, uint32_t& frames) {
    frames = 1;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return kErrFileNotFound;
    const qint64 size = file.size();
    qint64 at = 8;
    uint8_t head[8];
    while (at + 8 <= size) {
        if (!file.seek(at) || file.read(reinterpret_cast<char*>(head), 8) != 8)
            return kErrCorrupt;
        const uint32_t length = bigEndian32(head);
        const QString type = QString::fromLatin1(reinterpret_cast<const char*>(head + 4), 4);
        // The chunk's data and its checksum must be in the file.
        const qint64 left = size - at - 8;
        if (length > 0x7FFFFFFFu || qint64(length) + 4 > left) {
            problem = QStringLiteral("PNG chunk %1 declares %2 bytes, but the file has %3 left")
                          .arg(type.toHtmlEscaped())
                          .arg(length)
                          .arg(std::max<qint64>(left - 4, 0));
            return kErrCorrupt;
        }
        if (std::memcmp(head + 4, "IEND", 4) == 0)
            break;
        uint8_t count[4];
        if (std::memcmp(head + 4, "acTL", 4) == 0 && length >= 8 &&
            file.read(reinterpret_cast<char*>(count), 4) == 4)
            frames = std::max(bigEndian32(count), 1u);
        at += 12 + qint64(length);
    }
    return kSuccess;
}

// One libpng read of one file. libpng reports errors by longjmp: every call that may fail is
// made through guarded(), which holds the jump point and creates no object with a destructor.
class PngSession {
  public:
    PngSession() = default;
    ~PngSession() {
        if (png_ != nullptr)
            png_destroy_read_struct(&png_, &info_, nullptr);
        if (file_ != nullptr)
            std::fclose(file_);
    }
    PngSession(const PngSession&) = delete;
    PngSession& operator=(const PngSession&) = delete;

    Status open(const QString& path) {
        QString problem;
        if (const Status status = checkPngChunkLengths(path, problem, frames_);
            status != kSuccess) {
            if (!problem.isEmpty())
                noteErrorDetail(problem);
            return status;
        }
        file_ = std::fopen(QFile::encodeName(path).constData(), "rb");
        if (file_ == nullptr)
            return kErrFileNotFound;
        png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, this, &PngSession::onError,
                                      &PngSession::onWarning);
        if (png_ == nullptr)
            return kErrNoMemory;
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr)
            return kErrNoMemory;
        png_init_io(png_, file_);
        png_set_chunk_malloc_max(png_, kMaxMetadataBytes);
        png_set_user_limits(png_, 0x7FFFFFFF, 0x7FFFFFFF);
        // Animation chunks and other unknown ones are skipped (the default image stays).
        png_set_keep_unknown_chunks(png_, PNG_HANDLE_CHUNK_NEVER, nullptr, 0);
        return kSuccess;
    }

    // Runs `call` with libpng's jump point set; false when libpng reported an error.
    template <typename Call>
    bool guarded(Call call) {
        if (setjmp(png_jmpbuf(png_)) != 0)
            return false;
        call();
        return true;
    }

    // The code of a failed call, with libpng's words as the detail.
    Status failure() const {
        noteErrorDetail(QString::fromUtf8(message_));
        return outOfMemory_ ? kErrNoMemory : kErrCorrupt;
    }

    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    uint32_t frames() const { return frames_; }

  private:
    static void onError(png_structp png, png_const_charp text) {
        auto* self = static_cast<PngSession*>(png_get_error_ptr(png));
        std::snprintf(self->message_, sizeof self->message_, "%s", text);
        self->outOfMemory_ = std::strstr(text, "emory") != nullptr;
        png_longjmp(png, 1);
    }
    static void onWarning(png_structp, png_const_charp) {}

    FILE* file_ = nullptr;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = "";
    bool outOfMemory_ = false;
    uint32_t frames_ = 1;
};

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    int interlace = 0;
};

Status readHeader(PngSession& s, PngHeader& h) {
    if (!s.guarded([&] {
            png_read_info(s.png(), s.info());
            png_get_IHDR(s.png(), s.info(), &h.width, &h.height, &h.bitDepth, &h.colourType,
                         &h.interlace, nullptr, nullptr);
        }))
        return s.failure();
    return checkImageSize(h.width, h.height);
}

// Opens the file and reads as far as the pixels.
Status openHeader(PngSession& s, const QString& path, PngHeader& h) {
    if (const Status status = s.open(path); status != kSuccess)
        return status;
    return readHeader(s, h);
}

int storedChannels(int colourType) {
    switch (colourType) {
        case PNG_COLOR_TYPE_GRAY_ALPHA:
            return 2;
        case PNG_COLOR_TYPE_RGB:
            return 3;
        case PNG_COLOR_TYPE_RGB_ALPHA:
            return 4;
        default:
            return 1;  // gray, palette
    }
}

void readResolution(PngSession& s, double& xDpi, double& yDpi) {
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(s.png(), s.info(), &x, &y, &unit) == 0 || unit != PNG_RESOLUTION_METER)
        return;
    xDpi = x * 0.0254;
    yDpi = y * 0.0254;
}

// An EXIF or IPTC block that ImageMagick wrote as a "Raw profile type NAME" text: a line with
// the name, one with the length in bytes, then the bytes in hexadecimal.
std::vector<uint8_t> rawProfile(const char* text, size_t size) {
    std::vector<uint8_t> bytes;
    const std::string s(text, size);
    size_t at = s.find('\n', s.find_first_not_of('\n'));
    if (at == std::string::npos)
        return bytes;
    char* end = nullptr;
    const unsigned long length = std::strtoul(s.c_str() + at, &end, 10);
    if (end == nullptr || length == 0 || length > s.size() / 2)
        return bytes;
    bytes.reserve(length);
    int high = -1;
    for (const char* p = end; *p != '\0' && bytes.size() < length; ++p) {
        const int digit = std::isxdigit(uint8_t(*p)) == 0 ? -1
                          : *p <= '9'                     ? *p - '0'
                                                          : (std::tolower(*p) - 'a' + 10);
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(uint8_t(high << 4 | digit));
            high = -1;
        }
    }
    if (bytes.size() != length)
        bytes.clear();
    return bytes;
}

// IPTC data sets from a raw profile: Photoshop image resources, or the data sets themselves.
std::vector<uint8_t> iptcOfRawProfile(const std::vector<uint8_t>& profile) {
    if (profile.size() >= 4 && std::memcmp(profile.data(), "8BIM", 4) == 0)
        return iptcOfResources(profile.data(), profile.size());
    return profile;
}

// The EXIF block without the "Exif\0\0" identifier some writers put before it.
std::vector<uint8_t> bareExif(std::vector<uint8_t> block) {
    static const uint8_t kIdentifier[6] = {'E', 'x', 'i', 'f', 0, 0};
    if (block.size() >= 6 && std::equal(kIdentifier, kIdentifier + 6, block.begin()))
        block.erase(block.begin(), block.begin() + 6);
    return block;
}

// ICC profile, EXIF and XMP of what libpng has read so far (blocks already found stay).
void readMetadata(PngSession& s, ImageMeta& meta) {
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (meta.iccProfile.empty() &&
        png_get_iCCP(s.png(), s.info(), &name, &compression, &profile, &profileSize) != 0 &&
        profile != nullptr && profileSize >= 128)
        meta.iccProfile.assign(profile, profile + profileSize);

    EmbeddedMetadata& embedded = meta.embedded;
    png_bytep exif = nullptr;
    png_uint_32 exifSize = 0;
    if (embedded.exif.empty() && png_get_eXIf_1(s.png(), s.info(), &exifSize, &exif) != 0 &&
        exif != nullptr && exifSize > 8)
        embedded.exif = bareExif(std::vector<uint8_t>(exif, exif + exifSize));

    png_textp texts = nullptr;
    const int count = png_get_text(s.png(), s.info(), &texts, nullptr);
    for (int i = 0; i < count && texts != nullptr; ++i) {
        const png_text& t = texts[i];
        if (t.key == nullptr || t.text == nullptr)
            continue;
        const size_t size =
            t.compression >= PNG_ITXT_COMPRESSION_NONE ? t.itxt_length : t.text_length;
        if (std::strcmp(t.key, "XML:com.adobe.xmp") == 0 && embedded.xmp.empty())
            embedded.xmp.assign(t.text, t.text + size);
        else if (std::strcmp(t.key, "Raw profile type exif") == 0 && embedded.exif.empty())
            embedded.exif = bareExif(rawProfile(t.text, size));
        else if (std::strcmp(t.key, "Raw profile type iptc") == 0 && embedded.iptc.empty())
            embedded.iptc = iptcOfRawProfile(rawProfile(t.text, size));
    }
}

// Expands every colour type to 8- or 16-bit gray or RGB, with alpha where the file has any
// transparency; 16-bit samples in the machine's byte order.
void setTransforms(PngSession& s, const PngHeader& h) {
    png_structp png = s.png();
    if (h.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (h.colourType == PNG_COLOR_TYPE_GRAY && h.bitDepth < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, s.info(), PNG_INFO_tRNS) != 0)
        png_set_tRNS_to_alpha(png);
    if (h.bitDepth == 16) {
        const uint16_t one = 1;
        uint8_t first = 0;
        std::memcpy(&first, &one, 1);
        if (first == 1)
            png_set_swap(png);
    }
}

uint8_t overWhite8(unsigned c, unsigned a) {
    return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
}

uint16_t overWhite16(uint64_t c, uint64_t a) {
    return uint16_t((c * a + 65535u * (65535u - a) + 32767u) / 65535u);
}

// One decoded row (colours plus alpha when `alpha`) into row y of the raster.
void storeRow(const uint8_t* in, bool alpha, Raster& raster, int y) {
    const size_t colours = size_t(raster.channels());
    const size_t count = size_t(raster.width) * colours;
    if (!alpha) {
        std::memcpy(raster.row(y), in, raster.rowBytes());
        return;
    }
    if (raster.isDeep()) {
        const auto* samples = reinterpret_cast<const uint16_t*>(in);
        uint16_t* out = raster.row16(y);
        for (size_t i = 0, s = 0; i < count; i += colours, s += colours + 1)
            for (size_t c = 0; c < colours; ++c)
                out[i + c] = overWhite16(samples[s + c], samples[s + colours]);
        return;
    }
    uint8_t* out = raster.row(y);
    for (size_t i = 0, s = 0; i < count; i += colours, s += colours + 1)
        for (size_t c = 0; c < colours; ++c)
            out[i + c] = overWhite8(in[s + c], in[s + colours]);
}

Status decodePixels(PngSession& s, const PngHeader& h, Raster& raster, Progress& progress) {
    setTransforms(s, h);
    int passes = 1;
    if (!s.guarded([&] {
            passes = png_set_interlace_handling(s.png());
            png_read_update_info(s.png(), s.info());
        }))
        return s.failure();
    const int channels = png_get_channels(s.png(), s.info());
    const int depth = png_get_bit_depth(s.png(), s.info());
    const bool colour = (png_get_color_type(s.png(), s.info()) & PNG_COLOR_MASK_COLOR) != 0;
    const bool alpha = channels == (colour ? 4 : 2);
    if (channels < 1 || channels > 4 || (depth != 8 && depth != 16))
        return kErrCorrupt;
    raster.width = int(h.width);
    raster.height = int(h.height);
    raster.format = depth == 16 ? (colour ? PixelFormat::Rgb16 : PixelFormat::Gray16)
                                : (colour ? PixelFormat::Rgb8 : PixelFormat::Gray8);
    if (!raster.allocate())
        return kErrNoMemory;
    const size_t decodedRow = size_t(h.width) * size_t(channels) * size_t(depth / 8);
    if (png_get_rowbytes(s.png(), s.info()) != decodedRow)
        return kErrCorrupt;

    // Interlaced images are decoded whole (each pass adds to every row); others a row at a time,
    // straight into the raster when there is no alpha to composite.
    const bool whole = passes > 1;
    const bool direct = !whole && !alpha;
    std::vector<uint8_t> buffer;
    try {
        if (!direct)
            buffer.assign(decodedRow * (whole ? size_t(h.height) : 1), 0);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    const int64_t total = int64_t(passes) * h.height;
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < h.height; ++y) {
            uint8_t* row = direct  ? raster.row(int(y))
                           : whole ? buffer.data() + size_t(y) * decodedRow
                                   : buffer.data();
            if (!s.guarded([&] { png_read_row(s.png(), row, nullptr); }))
                return s.failure();
            if (!whole && alpha)
                storeRow(row, true, raster, int(y));
            if (!progress.report(int64_t(pass) * h.height + y + 1, total))
                return kErrCancelled;
        }
    }
    if (whole)
        for (png_uint_32 y = 0; y < h.height; ++y)
            storeRow(buffer.data() + size_t(y) * decodedRow, alpha, raster, int(y));
    return kSuccess;
}

class PngReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        return header.bytes.startsWith(QByteArray(kSignature, 8));
    }

    Status readInfo(const QString& path, const FileHeader&, FileInfoRecord& info) override {
        PngSession session;
        PngHeader h;
        if (const Status status = openHeader(session, path, h); status != kSuccess)
            return status;
        info.Format = format::kPng;
        info.Width = int32_t(h.width);
        info.Height = int32_t(h.height);
        info.BitsPerPixel = h.bitDepth * storedChannels(h.colourType);
        info.Compression = QStringLiteral("Deflate");
        double xDpi = 0, yDpi = 0;
        readResolution(session, xDpi, yDpi);
        info.XResolution = int32_t(std::nearbyint(std::min(xDpi, 65535.0)));
        info.YResolution = int32_t(std::nearbyint(std::min(yDpi, 65535.0)));
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader&, const ReadOptions&, DecodedImage& image,
                Progress& progress) override {
        if (!progress.report(0))
            return kErrCancelled;
        PngSession session;
        PngHeader h;
        if (const Status status = openHeader(session, path, h); status != kSuccess)
            return status;
        DecodedImage decoded;
        readResolution(session, decoded.meta.xDpi, decoded.meta.yDpi);
        readMetadata(session, decoded.meta);
        if (const Status status = decodePixels(session, h, decoded.raster, progress);
            status != kSuccess)
            return status;
        // Chunks after the pixels may hold metadata too; what cannot be read of them costs the
        // metadata, not the image.
        if (session.guarded([&] { png_read_end(session.png(), session.info()); }))
            readMetadata(session, decoded.meta);
        else
            decoded.meta.notes.push_back("the PNG chunks after the pixels are damaged: left out");

        // An animation converts as the image every PNG reader shows: the user is told so.
        if (session.frames() > 1)
            decoded.meta.notes.push_back("animated PNG of " + std::to_string(session.frames()) +
                                         " frames: its still image converted");
        const int orientation = exifOrientation(decoded.meta.embedded.exif);
        if (const Status turned = applyOrientation(decoded.raster, orientation); turned != kSuccess)
            return turned;
        image = std::move(decoded);
        return kSuccess;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makePngReader() {
    return std::make_unique<PngReader>();
}

}  // namespace pixavant::imaging
