#include "ModernFixtures.h"

#include <libheif/heif.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <memory>

namespace pixavant::testing {

namespace {

heif_error writeToBytes(heif_context*, const void* data, size_t size, void* target) {
    static_cast<QByteArray*>(target)->append(static_cast<const char*>(data), qsizetype(size));
    return {heif_error_Ok, heif_suberror_Unspecified, "Success"};
}

uint8_t alphaOf(const uint8_t* rgb) {
    return uint8_t(255 - rgb[0]);
}

// The raster as interleaved RGB or RGBA samples of the given depth (little-endian 16-bit ones
// above 8 bits).
heif_image* heifImageOf(const imaging::Raster& rgb, const HeifFixture& f) {
    const bool deep = f.bitDepth > 8;
    const heif_chroma chroma =
        deep ? (f.alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
        : f.alpha ? heif_chroma_interleaved_RGBA
                  : heif_chroma_interleaved_RGB;
    heif_image* image = nullptr;
    if (heif_image_create(rgb.width, rgb.height, heif_colorspace_RGB, chroma, &image).code !=
        heif_error_Ok)
        return nullptr;
    heif_image_add_plane(image, heif_channel_interleaved, rgb.width, rgb.height, f.bitDepth);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    const int channels = f.alpha ? 4 : 3;
    const uint32_t top = (1u << f.bitDepth) - 1;
    for (int y = 0; y < rgb.height; ++y) {
        const uint8_t* in = rgb.row(y);
        uint8_t* out = plane + size_t(stride) * size_t(y);
        for (int x = 0; x < rgb.width; ++x, in += 3) {
            const uint8_t samples[4] = {in[0], in[1], in[2], alphaOf(in)};
            for (int c = 0; c < channels; ++c) {
                const uint32_t v = (samples[c] * top * 2 + 255) / 510;
                const size_t at = size_t(x) * size_t(channels) + size_t(c);
                if (deep) {
                    out[2 * at] = uint8_t(v & 0xff);
                    out[2 * at + 1] = uint8_t(v >> 8);
                } else {
                    out[at] = uint8_t(v);
                }
            }
        }
    }
    return image;
}

}  // namespace

QByteArray makeHeif(const imaging::Raster& rgb, const HeifFixture& f) {
    std::unique_ptr<heif_context, void (*)(heif_context*)> context(heif_context_alloc(),
                                                                   heif_context_free);
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(
            context.get(), f.av1 ? heif_compression_AV1 : heif_compression_HEVC, &encoder)
            .code != heif_error_Ok)
        return {};
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> ownEncoder(encoder,
                                                                      heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_encoder_set_parameter(encoder, "chroma", "444");
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(heifImageOf(rgb, f),
                                                                   heif_image_release);
    if (!image)
        return {};
    if (!f.icc.empty())
        heif_image_set_raw_color_profile(image.get(), "prof", f.icc.data(), f.icc.size());
    heif_encoding_options* options = heif_encoding_options_alloc();
    heif_color_profile_nclx* nclx = heif_nclx_color_profile_alloc();
    if (f.nclxPrimaries != 0) {
        heif_nclx_color_profile_set_color_primaries(nclx, uint16_t(f.nclxPrimaries));
        heif_nclx_color_profile_set_transfer_characteristics(nclx, uint16_t(f.nclxTransfer));
        heif_nclx_color_profile_set_matrix_coefficients(nclx, 6);
        nclx->full_range_flag = 1;
        heif_image_set_nclx_color_profile(image.get(), nclx);
        options->output_nclx_profile = nclx;
    }
    options->image_orientation = heif_orientation(f.transform);
    heif_image_handle* handle = nullptr;
    const heif_error encoded =
        heif_context_encode_image(context.get(), image.get(), encoder, options, &handle);
    heif_encoding_options_free(options);
    heif_nclx_color_profile_free(nclx);
    if (encoded.code != heif_error_Ok)
        return {};
    if (!f.exif.empty())
        heif_context_add_exif_metadata(context.get(), handle, f.exif.data(), int(f.exif.size()));
    if (!f.xmp.isEmpty())
        heif_context_add_XMP_metadata(context.get(), handle, f.xmp.constData(), int(f.xmp.size()));
    heif_image_handle_release(handle);
    QByteArray bytes;
    heif_writer writer{1, writeToBytes};
    if (heif_context_write(context.get(), &writer, &bytes).code != heif_error_Ok)
        return {};
    return bytes;
}

namespace {

// The frame's samples, colours inverted when asked, alpha added when the fixture has it.
bool encodeFrame(const imaging::Raster& rgb, const WebpFixture& f, bool invert, WebPPicture& pic) {
    if (!WebPPictureInit(&pic))
        return false;
    pic.use_argb = 1;
    pic.width = rgb.width;
    pic.height = rgb.height;
    std::vector<uint8_t> samples;
    for (size_t i = 0; i + 2 < rgb.pixels.size(); i += 3) {
        for (size_t c = 0; c < 3; ++c)
            samples.push_back(invert ? uint8_t(255 - rgb.pixels[i + c]) : rgb.pixels[i + c]);
        if (f.alpha)
            samples.push_back(alphaOf(&rgb.pixels[i]));
    }
    return f.alpha ? WebPPictureImportRGBA(&pic, samples.data(), rgb.width * 4) != 0
                   : WebPPictureImportRGB(&pic, samples.data(), rgb.width * 3) != 0;
}

}  // namespace

QByteArray makeWebp(const imaging::Raster& rgb, const WebpFixture& f) {
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return {};
    config.lossless = f.lossless ? 1 : 0;
    config.quality = 90;
    WebPData image;
    WebPDataInit(&image);
    if (f.frames <= 1) {
        WebPPicture pic;
        if (!encodeFrame(rgb, f, false, pic))
            return {};
        WebPMemoryWriter memory;
        WebPMemoryWriterInit(&memory);
        pic.writer = WebPMemoryWrite;
        pic.custom_ptr = &memory;
        const bool ok = WebPEncode(&config, &pic) != 0;
        WebPPictureFree(&pic);
        if (!ok)
            return {};
        image.bytes = memory.mem;
        image.size = memory.size;
    } else {
        WebPAnimEncoderOptions options;
        WebPAnimEncoderOptionsInit(&options);
        WebPAnimEncoder* encoder = WebPAnimEncoderNew(rgb.width, rgb.height, &options);
        for (int i = 0; i < f.frames; ++i) {
            WebPPicture pic;
            encodeFrame(rgb, f, i % 2 == 1, pic);
            WebPAnimEncoderAdd(encoder, &pic, i * 100, &config);
            WebPPictureFree(&pic);
        }
        WebPAnimEncoderAdd(encoder, nullptr, f.frames * 100, &config);
        WebPAnimEncoderAssemble(encoder, &image);
        WebPAnimEncoderDelete(encoder);
    }
    // Metadata chunks through the muxer.
    WebPMux* mux = WebPMuxCreate(&image, 1);
    WebPDataClear(&image);
    if (mux == nullptr)
        return {};
    const auto add = [mux](const char* fourcc, const uint8_t* data, size_t size) {
        if (size == 0)
            return;
        const WebPData chunk{data, size};
        WebPMuxSetChunk(mux, fourcc, &chunk, 1);
    };
    add("EXIF", f.exif.data(), f.exif.size());
    add("XMP ", reinterpret_cast<const uint8_t*>(f.xmp.constData()), size_t(f.xmp.size()));
    add("ICCP", f.icc.data(), f.icc.size());
    WebPData assembled;
    WebPDataInit(&assembled);
    const bool ok = WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK;
    WebPMuxDelete(mux);
    QByteArray bytes =
        ok ? QByteArray(reinterpret_cast<const char*>(assembled.bytes), qsizetype(assembled.size))
           : QByteArray();
    WebPDataClear(&assembled);
    return bytes;
}

}  // namespace pixavant::testing
