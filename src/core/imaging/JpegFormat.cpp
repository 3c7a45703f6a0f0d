// JPEG reading and writing on libjpeg-turbo, with EXIF (orientation, resolution) through libexif.
//
// libjpeg reports errors through a callback that must not return; ours longjmps back to the one
// function that drives the codec. That function keeps every C++ object it needs in a job structure
// made by its caller, so nothing with a destructor lives in the frames a longjmp skips.

#include <fcntl.h>
#include <libexif/exif-data.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

// jpeglib.h needs FILE and size_t declared first; jerror.h needs jpeglib.h's configuration.
#include <jpeglib.h>
// clang-format off
#include <jerror.h>
// clang-format on

#include "imaging/ExifSupport.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MetadataSupport.h"
#include "imaging/OutputMetadata.h"

namespace pixavant::imaging {

namespace {

// A progressive file with more scans than this is hostile (each scan costs a pass over the whole
// coefficient buffer); real encoders use about ten.
constexpr int kMaxScans = 500;

// ---------------------------------------------------------------------------------------------
// Errors

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    Status status = kSuccess;  // set before a deliberate abort; otherwise derived from the message
    bool sawEnd = false;       // the file ended before its end-of-image marker
};

Status statusForMessage(int code) {
    switch (code) {
        case JERR_OUT_OF_MEMORY:
            return kErrNoMemory;
        case JERR_IMAGE_TOO_BIG:
        case JERR_WIDTH_OVERFLOW:
            return kErrNoMemory;
        case JERR_FILE_WRITE:
            return kErrWrite;
        case JERR_NO_SOI:
        case JERR_SOF_UNSUPPORTED:
            return kErrFormat;
        default:
            return kErrCorrupt;
    }
}

[[noreturn]] void errorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (err->status == kSuccess)
        err->status = statusForMessage(err->pub.msg_code);
    std::longjmp(err->jump, 1);
}

// Warnings that mean the entropy-coded data is damaged or missing. libjpeg fills what it cannot
// decode with gray and carries on; a converter must not turn such a file into a good-looking
// output, so these end the decode. The end of the file itself is only noted: when the data ran
// short the decoder also reports JWRN_HIT_MARKER, and a file that lacks nothing but its final
// marker decodes whole.
bool isDamageWarning(int code) {
    switch (code) {
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
            return true;
        default:
            return false;
    }
}

void emitMessage(j_common_ptr cinfo, int level) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF)
        err->sawEnd = true;
    if (level < 0 && isDamageWarning(cinfo->err->msg_code)) {
        err->status = kErrCorrupt;
        std::longjmp(err->jump, 1);
    }
    // Other warnings (extraneous bytes between markers, an odd JFIF revision, a bad ICC chunk)
    // leave the pixels intact and are ignored; nothing is printed.
}

void outputMessage(j_common_ptr) {}

void initErrors(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = errorExit;
    err.pub.emit_message = emitMessage;
    err.pub.output_message = outputMessage;
    err.status = kSuccess;
    err.sawEnd = false;
}

[[noreturn]] void abortWith(j_common_ptr cinfo, Status status) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    err->status = status;
    std::longjmp(err->jump, 1);
}

// ---------------------------------------------------------------------------------------------
// What the markers of a file say

struct ExifFacts {
    bool present = false;
    int orientation = 1;
    double xDpi = 0;
    double yDpi = 0;
};

ExifFacts parseExif(const uint8_t* data, unsigned size) {
    ExifFacts facts;
    facts.present = true;
    ExifData* exif = newLiteralExifData();
    if (exif == nullptr)
        return facts;
    exif_data_load_data(exif, data, size);
    const ExifByteOrder order = exif_data_get_byte_order(exif);
    ExifContent* ifd0 = exif->ifd[EXIF_IFD_0];

    auto shortValue = [&](ExifTag tag, int fallback) {
        ExifEntry* entry = exif_content_get_entry(ifd0, tag);
        if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
            entry->size < 2)
            return fallback;
        return int(exif_get_short(entry->data, order));
    };
    auto rationalValue = [&](ExifTag tag) {
        ExifEntry* entry = exif_content_get_entry(ifd0, tag);
        if (entry == nullptr || entry->format != EXIF_FORMAT_RATIONAL || entry->components < 1 ||
            entry->size < 8)
            return 0.0;
        const ExifRational r = exif_get_rational(entry->data, order);
        return r.denominator == 0 ? 0.0 : double(r.numerator) / double(r.denominator);
    };

    const int orientation = shortValue(EXIF_TAG_ORIENTATION, 1);
    facts.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    // ResolutionUnit: 2 inches (also when absent), 3 centimetres, 1 no absolute unit.
    const int unit = shortValue(EXIF_TAG_RESOLUTION_UNIT, 2);
    const double perInch = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0.0;
    facts.xDpi = rationalValue(EXIF_TAG_X_RESOLUTION) * perInch;
    facts.yDpi = rationalValue(EXIF_TAG_Y_RESOLUTION) * perInch;
    if (!(facts.xDpi > 0 && facts.xDpi < 1e6))
        facts.xDpi = 0;
    if (!(facts.yDpi > 0 && facts.yDpi < 1e6))
        facts.yDpi = facts.xDpi;
    exif_data_unref(exif);
    return facts;
}

constexpr char kExifSignature[] = "Exif\0\0";
constexpr size_t kExifSignatureSize = 6;
constexpr char kXmpSignature[] = "http://ns.adobe.com/xap/1.0/";  // with its NUL: 29 bytes
constexpr size_t kXmpSignatureSize = sizeof kXmpSignature;
constexpr char kPhotoshopSignature[] = "Photoshop 3.0";  // with its NUL: 14 bytes
constexpr size_t kPhotoshopSignatureSize = sizeof kPhotoshopSignature;

bool markerStartsWith(jpeg_saved_marker_ptr m, int marker, const char* signature, size_t size) {
    return m->marker == marker && m->data_length >= size &&
           std::memcmp(m->data, signature, size) == 0;
}

constexpr char kExtendedXmpSignature[] = "http://ns.adobe.com/xmp/extension/";
constexpr size_t kExtendedXmpSignatureSize = sizeof kExtendedXmpSignature;

// The EXIF, XMP and IPTC of the saved markers. EXIF continued in further APP1 "Exif" markers (a
// layout some writers use for blocks over 64 KiB) is joined to the first; the IPTC data sets are
// taken from the Photoshop image resources of the APP13 markers. Extended XMP (the part of a
// packet too large for one marker) is not carried.
void collectMetadata(j_decompress_ptr cinfo, ImageMeta& meta) {
    EmbeddedMetadata& out = meta.embedded;
    std::vector<uint8_t> resources;
    bool extendedXmp = false;
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
        extendedXmp |=
            markerStartsWith(m, JPEG_APP0 + 1, kExtendedXmpSignature, kExtendedXmpSignatureSize);
        const uint8_t* data = m->data;
        const uint8_t* end = m->data + m->data_length;
        if (markerStartsWith(m, JPEG_APP0 + 1, kExifSignature, kExifSignatureSize))
            out.exif.insert(out.exif.end(), data + kExifSignatureSize, end);
        else if (markerStartsWith(m, JPEG_APP0 + 1, kXmpSignature, kXmpSignatureSize) &&
                 out.xmp.empty())
            out.xmp.assign(data + kXmpSignatureSize, end);
        else if (markerStartsWith(m, JPEG_APP0 + 13, kPhotoshopSignature, kPhotoshopSignatureSize))
            resources.insert(resources.end(), data + kPhotoshopSignatureSize, end);
    }
    if (!resources.empty())
        out.iptc = iptcOfResources(resources.data(), resources.size());
    if (extendedXmp)
        meta.notes.push_back("extended XMP (beyond the first 64 KiB) left out");
}

ExifFacts exifOf(j_decompress_ptr cinfo) {
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m != nullptr; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 &&
            std::memcmp(m->data, kExifSignature, 6) == 0)
            return parseExif(m->data, m->data_length);
    }
    return {};
}

// Resolution in dots per inch from the JFIF density, then from EXIF. 0 when neither states one.
void resolutionOf(j_decompress_ptr cinfo, const ExifFacts& exif, double& xDpi, double& yDpi) {
    xDpi = yDpi = 0;
    if (cinfo->saw_JFIF_marker && cinfo->X_density > 0 && cinfo->Y_density > 0) {
        if (cinfo->density_unit == 1) {
            xDpi = cinfo->X_density;
            yDpi = cinfo->Y_density;
            return;
        }
        if (cinfo->density_unit == 2) {
            xDpi = cinfo->X_density * 2.54;
            yDpi = cinfo->Y_density * 2.54;
            return;
        }
    }
    if (exif.present) {
        xDpi = exif.xDpi;
        yDpi = exif.yDpi;
    }
}

bool swapsAxes(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// Chroma subsampling of the file: 0 none (or gray), 1 in one direction only (4:2:2, and also
// 4:4:0 and 4:1:1, reported with 4:2:2), 2 in both (4:2:0, and 4:1:0 with it).
int subsamplingClass(j_decompress_ptr cinfo) {
    if (cinfo->num_components < 3)
        return 0;
    const jpeg_component_info* c = cinfo->comp_info;
    const int maxH = cinfo->max_h_samp_factor;
    const int maxV = cinfo->max_v_samp_factor;
    bool horizontal = false;
    bool vertical = false;
    for (int i = 1; i < cinfo->num_components; ++i) {
        horizontal |= c[i].h_samp_factor < maxH;
        vertical |= c[i].v_samp_factor < maxV;
    }
    return int(horizontal) + int(vertical);
}

int formatCodeOf(j_decompress_ptr cinfo, bool hasExif) {
    const int sampling = subsamplingClass(cinfo);
    if (hasExif && !cinfo->saw_JFIF_marker)
        return sampling == 2 ? format::kExifJpeg420 : format::kExifJpeg;
    return sampling == 2 ? format::kJpeg420 : sampling == 1 ? format::kJpeg422 : format::kJpeg444;
}

int roundDpi(double dpi) {
    return dpi > 0 ? int(std::nearbyint(std::min(dpi, 1e6))) : 0;
}

// ---------------------------------------------------------------------------------------------
// Placing decoded rows into the oriented raster

// Where source pixel (x, y) goes in the turned raster: base + x * stepX + y * stepY bytes.
struct Placement {
    ptrdiff_t base = 0;
    ptrdiff_t stepX = 0;
    ptrdiff_t stepY = 0;
};

Placement placementFor(int orientation, int width, int height, int channels) {
    const ptrdiff_t ch = channels;
    const ptrdiff_t w = width;
    const ptrdiff_t h = height;
    const ptrdiff_t row = w * ch;     // destination row, orientations 1 to 4
    const ptrdiff_t turned = h * ch;  // destination row, orientations 5 to 8
    switch (orientation) {
        case 2:  // mirrored left to right
            return {(w - 1) * ch, -ch, row};
        case 3:  // turned 180 degrees
            return {(h - 1) * row + (w - 1) * ch, -ch, -row};
        case 4:  // mirrored top to bottom
            return {(h - 1) * row, ch, -row};
        case 5:  // transposed
            return {0, turned, ch};
        case 6:  // turned 90 degrees clockwise
            return {(h - 1) * ch, turned, -ch};
        case 7:  // transverse
            return {(w - 1) * turned + (h - 1) * ch, -turned, -ch};
        case 8:  // turned 90 degrees counter-clockwise
            return {(w - 1) * turned, -turned, ch};
        default:
            return {0, ch, row};
    }
}

// ---------------------------------------------------------------------------------------------
// Reader

struct ReadProgress {
    jpeg_progress_mgr pub;
    Progress* progress = nullptr;
};

void readMonitor(j_common_ptr common) {
    auto* monitor = reinterpret_cast<ReadProgress*>(common->progress);
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->input_scan_number > kMaxScans)
        abortWith(common, kErrCorrupt);
    const jpeg_progress_mgr& p = monitor->pub;
    const double pass = p.pass_limit > 0 ? double(p.pass_counter) / double(p.pass_limit) : 0.0;
    const double total = std::max(p.total_passes, 1);
    const int percent = int(std::min(99.0, (p.completed_passes + pass) * 100.0 / total));
    if (!monitor->progress->report(percent))
        abortWith(common, kErrCancelled);
}

// Everything one decode needs, owned outside the function that may longjmp.
struct DecodeJob {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    ReadProgress monitor;
    FILE* file = nullptr;
    bool created = false;
    std::vector<uint8_t> strip;
    std::vector<JSAMPROW> rows;

    ~DecodeJob() {
        if (created)
            jpeg_destroy_decompress(&cinfo);
        if (file != nullptr)
            std::fclose(file);
    }
};

// Opens the file and reads its header, markers saved as asked (with the ICC profile also the
// Photoshop resources, for a load). Must be called from within the function that set err.jump.
void openHeader(DecodeJob& job, bool withIcc) {
    job.cinfo.err = &job.err.pub;
    jpeg_create_decompress(&job.cinfo);
    job.created = true;
    jpeg_stdio_src(&job.cinfo, job.file);
    jpeg_save_markers(&job.cinfo, JPEG_APP0 + 1, 0xFFFF);
    if (withIcc) {
        jpeg_save_markers(&job.cinfo, JPEG_APP0 + 2, 0xFFFF);
        jpeg_save_markers(&job.cinfo, JPEG_APP0 + 13, 0xFFFF);
    }
    if (jpeg_read_header(&job.cinfo, TRUE) != JPEG_HEADER_OK)
        abortWith(reinterpret_cast<j_common_ptr>(&job.cinfo), kErrCorrupt);
}

// The information of the file from its header alone. Width, height and resolution are those of the
// image a load gives: turned for EXIF orientations 5 to 8, so that the information and the loaded
// image always agree.
Status infoJob(DecodeJob& job, FileInfoRecord& info) {
    if (setjmp(job.err.jump))
        return job.err.status;
    openHeader(job, false);
    j_decompress_ptr cinfo = &job.cinfo;
    const ExifFacts exif = exifOf(cinfo);
    double xDpi = 0;
    double yDpi = 0;
    resolutionOf(cinfo, exif, xDpi, yDpi);
    const bool swap = swapsAxes(exif.orientation);

    info.Format = formatCodeOf(cinfo, exif.present);
    info.Width = int32_t(swap ? cinfo->image_height : cinfo->image_width);
    info.Height = int32_t(swap ? cinfo->image_width : cinfo->image_height);
    info.BitsPerPixel = cinfo->num_components == 1 ? 8 : 24;
    info.Compression = cinfo->progressive_mode ? QStringLiteral("Progressive JPEG")
                       : cinfo->arith_code     ? QStringLiteral("Arithmetic JPEG")
                                               : QStringLiteral("JPEG");
    info.XResolution = roundDpi(swap ? yDpi : xDpi);
    info.YResolution = roundDpi(swap ? xDpi : yDpi);
    info.TotalPages = 1;
    return kSuccess;
}

// The largest reduction (1/8, 1/4, 1/2) whose result still covers the display box.
int scaleDenominator(j_decompress_ptr cinfo, const ReadOptions& options, bool swap) {
    if (options.fitWidth <= 0 && options.fitHeight <= 0)
        return 1;
    const long long width = swap ? cinfo->image_height : cinfo->image_width;
    const long long height = swap ? cinfo->image_width : cinfo->image_height;
    for (int denom : {8, 4, 2}) {
        const long long w = (width + denom - 1) / denom;
        const long long h = (height + denom - 1) / denom;
        if (w >= options.fitWidth && h >= options.fitHeight)
            return denom;
    }
    return 1;
}

// Sizes the raster's pixel buffer, asking for transparent huge pages before the memory is first
// touched: a 24-megapixel image is 18,000 ordinary pages, and faulting them in one by one takes
// four times as long as faulting in 36 huge ones.
bool allocatePixels(Raster& raster) {
    const size_t bytes = raster.rowBytes() * size_t(raster.height);
    try {
        raster.pixels = {};
        raster.pixels.reserve(bytes);
    } catch (...) {
        return false;
    }
    constexpr uintptr_t kPage = 4096;
    const auto start =
        (reinterpret_cast<uintptr_t>(raster.pixels.data()) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<uintptr_t>(raster.pixels.data()) + bytes) & ~(kPage - 1);
    if (bytes >= (size_t{4} << 20) && end > start)
        ::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);  // a hint only
    raster.pixels.resize(bytes);  // within the capacity: cannot throw
    return true;
}

inline uint8_t multiply255(unsigned a, unsigned b) {
    return uint8_t((a * b + 127) / 255);
}

// The ICC profile the file holds, into `meta`.
void readIccProfile(j_decompress_ptr cinfo, ImageMeta& meta) {
    JOCTET* icc = nullptr;
    unsigned iccSize = 0;
    if (!jpeg_read_icc_profile(cinfo, &icc, &iccSize) || icc == nullptr)
        return;
    bool copied = true;
    try {
        meta.iccProfile.assign(icc, icc + iccSize);
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    std::free(icc);
    if (!copied)
        abortWith(reinterpret_cast<j_common_ptr>(cinfo), kErrNoMemory);
}

// One decoded row into the raster, each pixel `stepX` bytes after the last (the orientation
// decides the direction); CMYK becomes RGB.
void placeRow(const uint8_t* src, int width, bool cmyk, bool invertedCmyk, int channels,
              ptrdiff_t stepX, uint8_t* dst) {
    if (cmyk) {
        for (int x = 0; x < width; ++x, src += 4, dst += stepX) {
            const unsigned c = invertedCmyk ? src[0] : 255u - src[0];
            const unsigned m = invertedCmyk ? src[1] : 255u - src[1];
            const unsigned yel = invertedCmyk ? src[2] : 255u - src[2];
            const unsigned k = invertedCmyk ? src[3] : 255u - src[3];
            dst[0] = multiply255(c, k);
            dst[1] = multiply255(m, k);
            dst[2] = multiply255(yel, k);
        }
    } else if (channels == 3) {
        for (int x = 0; x < width; ++x, src += 3, dst += stepX) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    } else {
        for (int x = 0; x < width; ++x, ++src, dst += stepX)
            *dst = *src;
    }
}

Status decodeJob(DecodeJob& job, const ReadOptions& options, DecodedImage& image,
                 Progress& progress) {
    if (setjmp(job.err.jump))
        return job.err.status;
    openHeader(job, true);
    j_decompress_ptr cinfo = &job.cinfo;
    auto* common = reinterpret_cast<j_common_ptr>(cinfo);

    if (const Status size = checkImageSize(cinfo->image_width, cinfo->image_height);
        size != kSuccess)
        abortWith(common, size);

    const bool multipleScans = jpeg_has_multiple_scans(cinfo);
    const ExifFacts exif = exifOf(cinfo);
    collectMetadata(cinfo, image.meta);
    const bool swap = swapsAxes(exif.orientation);
    resolutionOf(cinfo, exif, image.meta.xDpi, image.meta.yDpi);
    if (swap)
        std::swap(image.meta.xDpi, image.meta.yDpi);
    readIccProfile(cinfo, image.meta);

    const bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
    // Adobe writes CMYK inverted (0 is full ink); files without its marker use the plain form.
    const bool invertedCmyk = cmyk && cinfo->saw_Adobe_marker;
    const bool gray = cinfo->num_components == 1;
    cinfo->out_color_space = gray ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    cinfo->scale_num = 1;
    cinfo->scale_denom = unsigned(scaleDenominator(cinfo, options, swap));
    cinfo->dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(cinfo);
    if (cinfo->scale_denom > 1) {
        image.fileWidth = int(swap ? cinfo->image_height : cinfo->image_width);
        image.fileHeight = int(swap ? cinfo->image_width : cinfo->image_height);
    }

    const int width = int(cinfo->output_width);
    const int height = int(cinfo->output_height);
    Raster& raster = image.raster;
    raster.format = gray ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    raster.width = swap ? height : width;
    raster.height = swap ? width : height;
    raster.significantBits = 8;
    if (!allocatePixels(raster))
        abortWith(common, kErrNoMemory);

    job.monitor.pub.progress_monitor = readMonitor;
    job.monitor.progress = &progress;
    cinfo->progress = &job.monitor.pub;

    const int channels = raster.channels();
    const bool direct = exif.orientation == 1 && !cmyk;
    const int stripRows = 16;
    const int sourceChannels = cmyk ? 4 : channels;
    const size_t sourceRowBytes = size_t(width) * size_t(sourceChannels);
    job.rows.assign(size_t(stripRows), nullptr);
    if (!direct) {
        job.strip.assign(sourceRowBytes * stripRows, 0);
        for (int i = 0; i < stripRows; ++i)
            job.rows[size_t(i)] = job.strip.data() + sourceRowBytes * size_t(i);
    }
    const Placement place = placementFor(exif.orientation, width, height, channels);

    jpeg_start_decompress(cinfo);
    while (cinfo->output_scanline < cinfo->output_height) {
        const int y0 = int(cinfo->output_scanline);
        const int wanted = std::min(stripRows, height - y0);
        if (direct)
            for (int i = 0; i < wanted; ++i)
                job.rows[size_t(i)] = raster.row(y0 + i);
        const int got = int(jpeg_read_scanlines(cinfo, job.rows.data(), JDIMENSION(wanted)));
        if (got <= 0)
            abortWith(common, kErrCorrupt);
        if (direct)
            continue;
        for (int i = 0; i < got; ++i) {
            uint8_t* dst = raster.pixels.data() + place.base + place.stepY * (y0 + i);
            placeRow(job.rows[size_t(i)], width, cmyk, invertedCmyk, channels, place.stepX, dst);
        }
    }
    // A file of several scans that ends early may have lost whole scans without any scan being cut
    // short (a progressive file then decodes blurred): refuse it.
    if (job.err.sawEnd && multipleScans)
        abortWith(common, kErrCorrupt);
    jpeg_finish_decompress(cinfo);
    if (job.err.sawEnd && multipleScans)
        abortWith(common, kErrCorrupt);
    return kSuccess;
}

FILE* openForReading(const QString& path) {
    return std::fopen(QFile::encodeName(path).constData(), "rbe");
}

class JpegReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        const QByteArray& b = header.bytes;
        return b.size() >= 3 && uint8_t(b[0]) == 0xFF && uint8_t(b[1]) == 0xD8 &&
               uint8_t(b[2]) == 0xFF;
    }

    Status readInfo(const QString& path, const FileHeader&, FileInfoRecord& info) override {
        DecodeJob job;
        job.file = openForReading(path);
        if (job.file == nullptr)
            return kErrFileNotFound;
        initErrors(job.err);
        FileInfoRecord found = info;
        const Status status = infoJob(job, found);
        if (status == kSuccess)
            info = found;
        return status;
    }

    Status read(const QString& path, const FileHeader&, const ReadOptions& options,
                DecodedImage& image, Progress& progress) override {
        DecodeJob job;
        job.file = openForReading(path);
        if (job.file == nullptr)
            return kErrFileNotFound;
        initErrors(job.err);
        DecodedImage decoded;
        const Status status = decodeJob(job, options, decoded, progress);
        if (status != kSuccess)
            return status;
        image = std::move(decoded);
        return kSuccess;
    }
};

// ---------------------------------------------------------------------------------------------
// Writer

// Destination that writes to a file descriptor and turns any failure (disk full, file size limit,
// I/O error) into kErrWrite.
struct FileDestination {
    static constexpr size_t kBufferSize = 256 * 1024;
    jpeg_destination_mgr pub;
    int fd = -1;
    std::vector<JOCTET> buffer;
};

bool writeAll(int fd, const JOCTET* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

void initDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer.data();
    dest->pub.free_in_buffer = dest->buffer.size();
}

boolean emptyOutputBuffer(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    if (!writeAll(dest->fd, dest->buffer.data(), dest->buffer.size()))
        abortWith(reinterpret_cast<j_common_ptr>(cinfo), kErrWrite);
    dest->pub.next_output_byte = dest->buffer.data();
    dest->pub.free_in_buffer = dest->buffer.size();
    return TRUE;
}

void termDestination(j_compress_ptr cinfo) {
    auto* dest = reinterpret_cast<FileDestination*>(cinfo->dest);
    const size_t used = dest->buffer.size() - dest->pub.free_in_buffer;
    if (!writeAll(dest->fd, dest->buffer.data(), used))
        abortWith(reinterpret_cast<j_common_ptr>(cinfo), kErrWrite);
}

// The first pass converts the colours, transforms every block and counts the symbols for the
// Huffman tables; the second codes the stored blocks with them. The first takes about three times
// as long as the second.
constexpr int kFirstPassShare = 75;

struct WriteProgress {
    jpeg_progress_mgr pub;
    Progress* progress = nullptr;
};

void writeMonitor(j_common_ptr common) {
    auto* monitor = reinterpret_cast<WriteProgress*>(common->progress);
    const jpeg_progress_mgr& p = monitor->pub;
    const double pass = p.pass_limit > 0 ? double(p.pass_counter) / double(p.pass_limit) : 0.0;
    const double percent = p.completed_passes == 0
                               ? pass * kFirstPassShare
                               : kFirstPassShare + pass * (99 - kFirstPassShare);
    if (!monitor->progress->report(int(percent)))
        abortWith(common, kErrCancelled);
}

struct EncodeJob {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    FileDestination dest;
    WriteProgress monitor;
    bool created = false;
    std::vector<uint8_t> rowBuffer;     // a palette row expanded to colour
    std::vector<uint8_t> markerBuffer;  // identifier and payload of a metadata marker
    std::vector<uint8_t> resources;     // the Photoshop resources holding the IPTC data sets

    ~EncodeJob() {
        if (created)
            jpeg_destroy_compress(&cinfo);
        if (dest.fd >= 0)
            ::close(dest.fd);
    }
};

// The libjpeg linear scale (percent of the standard tables) for a quality factor: 4 % (libjpeg
// quality 98) at 2, growing geometrically to 2000 % at 252, so that every step of ten is at least
// one percent coarser than the one before.
int scaleForQualityFactor(int qualityFactor) {
    const int qf = std::clamp(qualityFactor, 2, 252);
    return int(std::lround(4.0 * std::pow(500.0, (qf - 2) / 250.0)));
}

// The colour space an ICC profile describes, from its header ("RGB ", "GRAY", ...).
bool profileMatches(const std::vector<uint8_t>& icc, bool gray) {
    if (icc.size() < 132 || icc.size() > 0x7FFFFFFF)
        return false;
    const char* space = reinterpret_cast<const char*>(icc.data()) + 16;
    return std::memcmp(space, gray ? "GRAY" : "RGB ", 4) == 0;
}

uint16_t densityValue(int32_t dpi) {
    return uint16_t(std::clamp<int32_t>(dpi, 1, 65535));
}

// Writes a marker of an identifier and a payload; nothing when the payload is empty or too large.
void writeMarker(j_compress_ptr cinfo, int marker, const char* identifier, size_t identifierSize,
                 const std::vector<uint8_t>& payload, std::vector<uint8_t>& buffer) {
    if (payload.empty() || identifierSize + payload.size() > 65533)
        return;
    buffer.assign(identifier, identifier + identifierSize);
    buffer.insert(buffer.end(), payload.begin(), payload.end());
    jpeg_write_marker(cinfo, marker, buffer.data(), unsigned(buffer.size()));
}

Status encodeJob(EncodeJob& job, const Raster& raster, const ImageMeta& meta,
                 const SaveRequest& request, Progress& progress) {
    if (setjmp(job.err.jump))
        return job.err.status;
    j_compress_ptr cinfo = &job.cinfo;
    cinfo->err = &job.err.pub;
    jpeg_create_compress(cinfo);
    job.created = true;
    job.dest.pub.init_destination = initDestination;
    job.dest.pub.empty_output_buffer = emptyOutputBuffer;
    job.dest.pub.term_destination = termDestination;
    cinfo->dest = &job.dest.pub;
    job.monitor.pub.progress_monitor = writeMonitor;
    job.monitor.progress = &progress;
    cinfo->progress = &job.monitor.pub;

    const bool gray = raster.isGray();
    cinfo->image_width = JDIMENSION(raster.width);
    cinfo->image_height = JDIMENSION(raster.height);
    cinfo->input_components = gray ? 1 : 3;
    cinfo->in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_linear_quality(cinfo, scaleForQualityFactor(request.qualityFactor), TRUE);
    for (int i = 0; i < cinfo->num_components; ++i) {
        cinfo->comp_info[i].h_samp_factor = 1;
        cinfo->comp_info[i].v_samp_factor = 1;
    }
    cinfo->dct_method = JDCT_ISLOW;
    // Huffman tables made for the image: the same pixels in 10 to 15 % fewer bytes than with the
    // standard tables, for a second pass over the transformed blocks, which are kept in memory
    // meanwhile (2 bytes per sample).
    cinfo->optimize_coding = TRUE;
    cinfo->write_JFIF_header = TRUE;
    const int32_t xDpi = request.resolution.x;
    const int32_t yDpi = request.resolution.y > 0 ? request.resolution.y : xDpi;
    if (xDpi > 0) {
        cinfo->density_unit = 1;
        cinfo->X_density = densityValue(xDpi);
        cinfo->Y_density = densityValue(yDpi);
    } else {
        cinfo->density_unit = 0;
        cinfo->X_density = 1;
        cinfo->Y_density = 1;
    }

    jpeg_start_compress(cinfo, TRUE);
    const EmbeddedMetadata& carried = request.metadata;
    writeMarker(cinfo, JPEG_APP0 + 1, kExifSignature, kExifSignatureSize, carried.exif,
                job.markerBuffer);
    writeMarker(cinfo, JPEG_APP0 + 1, kXmpSignature, kXmpSignatureSize, carried.xmp,
                job.markerBuffer);
    if (profileMatches(meta.iccProfile, gray))
        jpeg_write_icc_profile(cinfo, meta.iccProfile.data(), unsigned(meta.iccProfile.size()));
    writeMarker(cinfo, JPEG_APP0 + 13, kPhotoshopSignature, kPhotoshopSignatureSize, job.resources,
                job.markerBuffer);

    const bool indexed = raster.format == PixelFormat::Indexed8;
    if (indexed)
        job.rowBuffer.assign(size_t(raster.width) * 3, 0);
    while (cinfo->next_scanline < cinfo->image_height) {
        const int y = int(cinfo->next_scanline);
        JSAMPROW row = const_cast<JSAMPROW>(raster.row(y));
        if (indexed) {
            const uint8_t* src = raster.row(y);
            uint8_t* dst = job.rowBuffer.data();
            for (int x = 0; x < raster.width; ++x, dst += 3) {
                const size_t index = src[x];
                if (index < raster.palette.size()) {
                    const PaletteEntry& entry = raster.palette[index];
                    dst[0] = entry[0];
                    dst[1] = entry[1];
                    dst[2] = entry[2];
                } else {
                    dst[0] = dst[1] = dst[2] = 0;
                }
            }
            row = job.rowBuffer.data();
        }
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return kSuccess;
}

class JpegWriter final : public FormatWriter {
  public:
    bool writes(int formatCode) const override { return formatCode == format::kJpeg444; }

    Status write(const QString& path, const Raster& raster, const ImageMeta& meta,
                 const SaveRequest& request, Progress& progress) override {
        if (!writes(request.formatCode))
            return kErrInvalidArgument;
        if (raster.empty() || raster.width > JPEG_MAX_DIMENSION ||
            raster.height > JPEG_MAX_DIMENSION)
            return kErrInvalidArgument;
        if (raster.pixels.size() < raster.rowBytes() * size_t(raster.height))
            return kErrInvalidArgument;
        EncodeJob job;
        job.dest.buffer.resize(FileDestination::kBufferSize);
        job.dest.fd = ::open(QFile::encodeName(path).constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (job.dest.fd < 0)
            return kErrWrite;
        initErrors(job.err);
        job.resources = iptcResources(request.metadata.iptc);
        const Status status = encodeJob(job, raster, meta, request, progress);
        if (status != kSuccess)
            return status;
        const int fd = job.dest.fd;
        job.dest.fd = -1;
        if (::close(fd) != 0)
            return kErrWrite;
        return kSuccess;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeJpegReader() {
    return std::make_unique<JpegReader>();
}
std::unique_ptr<FormatWriter> makeJpegWriter() {
    return std::make_unique<JpegWriter>();
}

}  // namespace pixavant::imaging
