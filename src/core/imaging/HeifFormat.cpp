// HEIF (HEIC) and AVIF reading through libheif: the primary image only (no thumbnail, depth map or
// other image of the file), with the file's own transforms (rotation, mirroring, crop) applied.
//
// The HEIF rules place the orientation in those transforms: an EXIF orientation tag inside the file
// describes the picture before them and is never applied again (the EXIF carried to an output is
// rewritten to say 1). Decoding is strict, and anything libheif only warns about counts as damage.

#include <libheif/heif.h>

#include <QFile>
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "imaging/ColorProfile.h"
#include "imaging/ErrorDetail.h"
#include "imaging/ExifSupport.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/SampleWidth.h"

namespace pixavant::imaging {

namespace {

// The largest metadata block or colour profile taken from a file; a larger one is left out.
constexpr size_t kMaxMetadataBlock = size_t{64} << 20;

struct ContextFree {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(const heif_image* image) const { heif_image_release(image); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};
struct NclxFree {
    void operator()(heif_color_profile_nclx* nclx) const { heif_nclx_color_profile_free(nclx); }
};
using ContextPtr = std::unique_ptr<heif_context, ContextFree>;
using HandlePtr = std::unique_ptr<heif_image_handle, HandleRelease>;
using ImagePtr = std::unique_ptr<heif_image, ImageRelease>;
using NclxPtr = std::unique_ptr<heif_color_profile_nclx, NclxFree>;

// The status for a libheif error, its message kept as the reason.
Status statusOf(const heif_error& error) {
    if (error.code == heif_error_Ok)
        return kSuccess;
    if (error.message != nullptr && *error.message != '\0')
        noteErrorDetail(QString::fromUtf8(error.message));
    switch (error.code) {
        case heif_error_Input_does_not_exist:
            return kErrFileNotFound;
        case heif_error_Unsupported_filetype:
        case heif_error_Unsupported_feature:
            return kErrFormat;
        case heif_error_Memory_allocation_error:
            return kErrNoMemory;
        default:
            return kErrCorrupt;
    }
}

bool isAvif(const QByteArray& bytes) {
    const char* mime = heif_get_file_mime_type(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                               int(bytes.size()));
    return mime != nullptr && std::strcmp(mime, "image/avif") == 0;
}

// The opened file and its primary image.
struct OpenFile {
    ContextPtr context;
    HandlePtr primary;
};

Status openFile(const QString& path, OpenFile& file) {
    file.context.reset(heif_context_alloc());
    if (!file.context)
        return kErrNoMemory;
    const QByteArray name = QFile::encodeName(path);
    if (const Status status =
            statusOf(heif_context_read_from_file(file.context.get(), name.constData(), nullptr));
        status != kSuccess)
        return status;
    heif_image_handle* primary = nullptr;
    if (const Status status =
            statusOf(heif_context_get_primary_image_handle(file.context.get(), &primary));
        status != kSuccess)
        return status;
    file.primary.reset(primary);
    // The size as shown (after the transforms) and as coded: neither may exceed the pixel limit.
    const heif_image_handle* h = primary;
    if (const Status status =
            checkImageSize(heif_image_handle_get_width(h), heif_image_handle_get_height(h));
        status != kSuccess)
        return status;
    const int codedWidth = heif_image_handle_get_ispe_width(h);
    const int codedHeight = heif_image_handle_get_ispe_height(h);
    if (codedWidth > 0 && codedHeight > 0)
        return checkImageSize(codedWidth, codedHeight);
    return kSuccess;
}

int bitsOf(const heif_image_handle* handle) {
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    return bits > 0 && bits <= 16 ? bits : 8;
}

// Whether the primary image is gray: a monochrome coding, as far as the file says.
bool isMonochrome(const heif_image_handle* handle) {
    return heif_image_handle_get_chroma_bits_per_pixel(handle) <= 0;
}

// ---------------------------------------------------------------------------------------------
// Colour

// The colour encoding an nclx description names; nothing for plain sRGB (what an image without a
// description means anyway) and for what no profile holds.
std::optional<JxlColorEncoding> encodingOfNclx(const heif_color_profile_nclx& nclx, bool gray,
                                               std::vector<std::string>& notes) {
    JxlColorEncoding e{};
    e.color_space = gray ? JXL_COLOR_SPACE_GRAY : JXL_COLOR_SPACE_RGB;
    e.rendering_intent = JXL_RENDERING_INTENT_PERCEPTUAL;
    e.white_point = JXL_WHITE_POINT_D65;
    bool srgbPrimaries = false;
    switch (nclx.color_primaries) {
        case heif_color_primaries_ITU_R_BT_709_5:
        case heif_color_primaries_unspecified:
            e.primaries = JXL_PRIMARIES_SRGB;
            srgbPrimaries = true;
            break;
        case heif_color_primaries_ITU_R_BT_2020_2_and_2100_0:
            e.primaries = JXL_PRIMARIES_2100;
            break;
        case heif_color_primaries_SMPTE_EG_432_1:
            e.primaries = JXL_PRIMARIES_P3;
            break;
        default:  // the chromaticities libheif decoded from the code point
            e.primaries = JXL_PRIMARIES_CUSTOM;
            e.white_point = JXL_WHITE_POINT_CUSTOM;
            e.primaries_red_xy[0] = nclx.color_primary_red_x;
            e.primaries_red_xy[1] = nclx.color_primary_red_y;
            e.primaries_green_xy[0] = nclx.color_primary_green_x;
            e.primaries_green_xy[1] = nclx.color_primary_green_y;
            e.primaries_blue_xy[0] = nclx.color_primary_blue_x;
            e.primaries_blue_xy[1] = nclx.color_primary_blue_y;
            e.white_point_xy[0] = nclx.color_primary_white_x;
            e.white_point_xy[1] = nclx.color_primary_white_y;
            break;
    }
    bool srgbCurve = false;
    switch (nclx.transfer_characteristics) {
        case heif_transfer_characteristic_IEC_61966_2_1:
        case heif_transfer_characteristic_unspecified:
            e.transfer_function = JXL_TRANSFER_FUNCTION_SRGB;
            srgbCurve = true;
            break;
        case heif_transfer_characteristic_ITU_R_BT_709_5:
        case heif_transfer_characteristic_ITU_R_BT_601_6:
        case heif_transfer_characteristic_ITU_R_BT_2020_2_10bit:
        case heif_transfer_characteristic_ITU_R_BT_2020_2_12bit:
            e.transfer_function = JXL_TRANSFER_FUNCTION_709;
            break;
        case heif_transfer_characteristic_linear:
            e.transfer_function = JXL_TRANSFER_FUNCTION_LINEAR;
            break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
            e.transfer_function = JXL_TRANSFER_FUNCTION_GAMMA;
            e.gamma = 1 / 2.2;
            break;
        case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
            e.transfer_function = JXL_TRANSFER_FUNCTION_GAMMA;
            e.gamma = 1 / 2.8;
            break;
        case heif_transfer_characteristic_SMPTE_ST_428_1:
            e.transfer_function = JXL_TRANSFER_FUNCTION_DCI;
            break;
        default:
            notes.push_back("colour description (nclx transfer characteristics " +
                            std::to_string(int(nclx.transfer_characteristics)) +
                            ") has no ICC equivalent: left out");
            return std::nullopt;
    }
    if ((srgbPrimaries || gray) && srgbCurve)
        return std::nullopt;
    return e;
}

// The colour of the primary image: its ICC profile, or the equivalent of its nclx description
// (from a colour box, else from the decoded image's coded description).
void readColour(const heif_image_handle* handle, const heif_image* image, bool gray,
                ImageMeta& meta) {
    const size_t iccSize = heif_image_handle_get_raw_color_profile_size(handle);
    if (iccSize > 0 && iccSize <= kMaxMetadataBlock) {
        std::vector<uint8_t> icc(iccSize);
        if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok) {
            meta.iccProfile = std::move(icc);
            return;
        }
    }
    heif_color_profile_nclx* raw = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok &&
        (image == nullptr || heif_image_get_nclx_color_profile(image, &raw).code != heif_error_Ok))
        return;
    const NclxPtr nclx(raw);
    if (!nclx)
        return;
    if (const auto encoding = encodingOfNclx(*nclx, gray, meta.notes))
        meta.iccProfile = iccProfileOf(*encoding);
}

// ---------------------------------------------------------------------------------------------
// Metadata

void readMetadata(const heif_image_handle* handle, ImageMeta& meta) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    if (count <= 0)
        return;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    const int listed =
        heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (int i = 0; i < listed; ++i) {
        const heif_item_id id = ids[size_t(i)];
        const std::string type = heif_image_handle_get_metadata_type(handle, id);
        const char* contentType = heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = type == "Exif";
        const bool xmp = type == "mime" && contentType != nullptr &&
                         std::strcmp(contentType, "application/rdf+xml") == 0;
        if (!exif && !xmp)
            continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if (size == 0)
            continue;
        if (size > kMaxMetadataBlock) {
            meta.notes.push_back(type + " block of " + std::to_string(size) + " bytes: left out");
            continue;
        }
        std::vector<uint8_t> block(size);
        if (heif_image_handle_get_metadata(handle, id, block.data()).code != heif_error_Ok) {
            meta.notes.push_back(type + " block unreadable: left out");
            continue;
        }
        if (xmp && meta.embedded.xmp.empty()) {
            meta.embedded.xmp = std::move(block);
        } else if (exif && meta.embedded.exif.empty()) {
            // A 4-byte offset from its end to the TIFF header, then the EXIF data.
            const size_t offset = size >= 4 ? size_t(block[0]) << 24 | size_t(block[1]) << 16 |
                                                  size_t(block[2]) << 8 | size_t(block[3])
                                            : size;
            if (offset <= size - 4)
                meta.embedded.exif =
                    exifTiffStructure(block.data() + 4 + offset, size - 4 - offset);
            if (meta.embedded.exif.empty())
                meta.notes.push_back("EXIF block damaged: left out");
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Pixels

struct DecodeProgress {
    Progress* progress = nullptr;
    int tiles = 0;
    bool cancelled = false;
};

void startProgress(heif_progress_step, int maximum, void* data) {
    static_cast<DecodeProgress*>(data)->tiles = maximum;
}

// libheif reports tiles of a grid image as they decode; it cannot be stopped midway, so a cancel
// takes effect when the decode returns.
void onProgress(heif_progress_step, int done, void* data) {
    auto* p = static_cast<DecodeProgress*>(data);
    if (p->tiles > 0 && !p->progress->report(5 + 80LL * done / p->tiles))
        p->cancelled = true;
}

void endProgress(heif_progress_step, void*) {}

uint8_t overWhite(unsigned c, unsigned a) {
    return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
}

uint8_t premultipliedOverWhite(unsigned c, unsigned a) {
    return uint8_t(std::min(255u, c + 255u - a));
}

// One sample of the decoded plane at 8 bits; samples of more than 8 bits are narrowed here, the one
// place that would keep them for an image of more than 8 bits per sample.
struct SampleReader {
    int bits = 8;
    uint32_t operator()(const uint8_t* row, size_t index) const {
        if (bits <= 8)
            return row[index];
        uint16_t v = 0;
        std::memcpy(&v, row + 2 * index, 2);  // libheif stores them in the machine's order
        return rescaleSample(v, bits, 8);
    }
};

// The decoded image into the raster: gray or colour, alpha composited over white.
Status copyPixels(const heif_image* image, bool gray, bool alpha, bool premultiplied,
                  DecodedImage& out, Progress& progress) {
    const heif_channel channel = gray ? heif_channel_Y : heif_channel_interleaved;
    const int width = heif_image_get_width(image, channel);
    const int height = heif_image_get_height(image, channel);
    if (const Status status = checkImageSize(width, height); status != kSuccess)
        return status;
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(image, channel, &stride);
    const int bits = heif_image_get_bits_per_pixel_range(image, channel);
    const int channels = gray ? 1 : alpha ? 4 : 3;
    const size_t sampleBytes = bits > 8 ? 2 : 1;
    if (plane == nullptr || bits < 1 || bits > 16 ||
        size_t(std::max(stride, 0)) < size_t(width) * channels * sampleBytes)
        return kErrCorrupt;

    Raster& raster = out.raster;
    raster.width = width;
    raster.height = height;
    raster.format = gray ? PixelFormat::Gray8 : PixelFormat::Rgb8;
    if (!raster.allocate())
        return kErrNoMemory;
    const SampleReader sample{bits};
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = plane + size_t(stride) * size_t(y);
        uint8_t* q = raster.row(y);
        for (int x = 0; x < width; ++x) {
            const size_t at = size_t(x) * size_t(channels);
            if (gray) {
                *q++ = uint8_t(sample(row, at));
                continue;
            }
            const unsigned a = alpha ? sample(row, at + 3) : 255u;
            for (size_t c = 0; c < 3; ++c) {
                const unsigned v = sample(row, at + c);
                *q++ = !alpha          ? uint8_t(v)
                       : premultiplied ? premultipliedOverWhite(v, a)
                                       : overWhite(v, a);
            }
        }
        if ((y & 63) == 63 && !progress.report(90 + 10LL * (y + 1) / height))
            return kErrCancelled;
    }
    return kSuccess;
}

Status decode(const OpenFile& file, DecodedImage& out, Progress& progress) {
    const heif_image_handle* handle = file.primary.get();
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    // Gray with alpha is decoded as colour: libheif has no interleaved gray-and-alpha layout.
    const bool gray = isMonochrome(handle) && !alpha;
    const bool deep = bitsOf(handle) > 8;
    const heif_colorspace space = gray ? heif_colorspace_monochrome : heif_colorspace_RGB;
    const heif_chroma chroma =
        gray    ? heif_chroma_monochrome
        : deep  ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
        : alpha ? heif_chroma_interleaved_RGBA
                : heif_chroma_interleaved_RGB;

    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (!options)
        return kErrNoMemory;
    DecodeProgress decodeProgress{&progress};
    options->ignore_transformations = 0;
    options->strict_decoding = 1;
    options->start_progress = startProgress;
    options->on_progress = onProgress;
    options->end_progress = endProgress;
    options->progress_user_data = &decodeProgress;
    options->convert_hdr_to_8bit = 0;

    if (!progress.report(5))
        return kErrCancelled;
    heif_image* decoded = nullptr;
    const heif_error error = heif_decode_image(handle, &decoded, space, chroma, options.get());
    const ImagePtr image(decoded);
    if (const Status status = statusOf(error); status != kSuccess)
        return status;
    if (!image)
        return kErrCorrupt;
    if (decodeProgress.cancelled || !progress.report(90))
        return kErrCancelled;
    if (heif_image_get_decoding_warnings(image.get(), 0, nullptr, 0) > 0) {
        heif_error warning{};
        heif_image_get_decoding_warnings(image.get(), 0, &warning, 1);
        statusOf(warning);
        return kErrCorrupt;
    }
    const bool premultiplied = heif_image_handle_is_premultiplied_alpha(handle) != 0;
    if (const Status status = copyPixels(image.get(), gray, alpha, premultiplied, out, progress);
        status != kSuccess)
        return status;
    readColour(handle, image.get(), gray, out.meta);
    readMetadata(handle, out.meta);
    return kSuccess;
}

class HeifReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        const QByteArray& b = header.bytes;
        if (b.size() < 12 || b.mid(4, 4) != "ftyp")
            return false;
        const heif_filetype_result kind =
            heif_check_filetype(reinterpret_cast<const uint8_t*>(b.constData()), int(b.size()));
        return kind == heif_filetype_yes_supported || kind == heif_filetype_yes_unsupported;
    }

    Status readInfo(const QString& path, const FileHeader& header, FileInfoRecord& info) override {
        OpenFile file;
        if (const Status status = openFile(path, file); status != kSuccess)
            return status;
        const heif_image_handle* handle = file.primary.get();
        const bool avif = isAvif(header.bytes);
        const int bits = bitsOf(handle);
        const int channels = (isMonochrome(handle) ? 1 : 3) +
                             (heif_image_handle_has_alpha_channel(handle) != 0 ? 1 : 0);
        info.Format = avif ? format::kAvif : format::kHeif;
        info.Width = heif_image_handle_get_width(handle);
        info.Height = heif_image_handle_get_height(handle);
        info.BitsPerPixel = bits * channels;
        info.Compression = avif ? QStringLiteral("AV1") : QStringLiteral("HEVC");
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader&, const ReadOptions&, DecodedImage& image,
                Progress& progress) override {
        if (!progress.report(0))
            return kErrCancelled;
        OpenFile file;
        if (const Status status = openFile(path, file); status != kSuccess)
            return status;
        DecodedImage decoded;
        if (const Status status = decode(file, decoded, progress); status != kSuccess)
            return status;
        image = std::move(decoded);
        return kSuccess;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeHeifReader() {
    return std::make_unique<HeifReader>();
}

}  // namespace pixavant::imaging
