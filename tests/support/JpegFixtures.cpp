#include "JpegFixtures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace pixavant::testing {

using imaging::PixelFormat;
using imaging::Raster;

namespace {

// "Exif\0\0" and the block of the fields given; resolutions as hundredths.
QByteArray exifPayload(const ExifFields& f) {
    std::vector<TiffEntry> entries;
    for (const TiffEntry& e :
         {TiffEntry{0x0112, 3, uint32_t(f.orientation)},
          TiffEntry{0x011A, 5, uint32_t(std::lround(f.xResolution * 100)), 100},
          TiffEntry{0x011B, 5, uint32_t(std::lround(f.yResolution * 100)), 100},
          TiffEntry{0x0128, 3, uint32_t(f.resolutionUnit)}})
        if (e.numerator != 0)
            entries.push_back(e);
    return QByteArray("Exif\0\0", 6) + toBytes(exifBlock(entries));
}

// A fixture that libjpeg refuses is a fault of the test itself.
[[noreturn]] void throwError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, message);
    std::fprintf(stderr, "libjpeg: %s\n", message);
    std::abort();
}

}  // namespace

std::vector<uint8_t> exifBlock(const std::vector<TiffEntry>& entries, bool bigEndian,
                               bool sharedValue) {
    std::vector<uint8_t> b =
        bigEndian ? std::vector<uint8_t>{'M', 'M'} : std::vector<uint8_t>{'I', 'I'};
    const auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(uint8_t(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
    };
    put(42, 2);
    put(8, 4);
    put(uint32_t(entries.size()), 2);
    uint32_t data = 8 + 2 + 12 * uint32_t(entries.size()) + 4;
    for (const TiffEntry& e : entries) {
        put(e.tag, 2);
        put(e.type, 2);
        put(1, 4);
        if (e.type == 3) {
            put(e.numerator, 2);
            put(0, 2);
        } else {
            put(data, 4);
            if (!sharedValue)
                data += 8;
        }
    }
    put(0, 4);
    for (const TiffEntry& e : entries)
        if (e.type == 5 && (!sharedValue || &e == &entries.front())) {
            put(e.numerator, 4);
            put(e.denominator, 4);
        }
    return b;
}

QByteArray makeJpeg(const Raster& image, const JpegFixture& fixture) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = throwError;
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);

    const bool gray = image.format == PixelFormat::Gray8;
    cinfo.image_width = JDIMENSION(image.width);
    cinfo.image_height = JDIMENSION(image.height);
    cinfo.input_components = gray ? 1 : 3;
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, fixture.quality, TRUE);
    cinfo.comp_info[0].h_samp_factor = fixture.hSamp;
    cinfo.comp_info[0].v_samp_factor = fixture.vSamp;
    for (int i = 1; i < cinfo.num_components; ++i) {
        cinfo.comp_info[i].h_samp_factor = 1;
        cinfo.comp_info[i].v_samp_factor = 1;
    }
    cinfo.write_JFIF_header = fixture.jfif ? TRUE : FALSE;
    cinfo.density_unit = UINT8(fixture.densityUnit);
    cinfo.X_density = UINT16(fixture.xDensity);
    cinfo.Y_density = UINT16(fixture.yDensity);
    if (fixture.progressive)
        jpeg_simple_progression(&cinfo);

    jpeg_start_compress(&cinfo, TRUE);
    if (fixture.exif) {
        const QByteArray payload = exifPayload(fixture.exifFields);
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(payload.data()),
                          unsigned(payload.size()));
    }
    if (!fixture.icc.empty())
        jpeg_write_icc_profile(&cinfo, fixture.icc.data(), unsigned(fixture.icc.size()));
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(image.row(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(buffer), qsizetype(size));
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

Raster makePhotoLike(int width, int height, uint32_t seed) {
    Raster r{
        width, height, PixelFormat::Rgb8, std::vector<uint8_t>(size_t(width) * height * 3), {}};
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 4.0);
    for (int y = 0; y < height; ++y) {
        uint8_t* p = r.row(y);
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width;
            const double v = double(y) / height;
            // Sky-like gradient, a soft disc, a band of fine texture and sensor noise.
            double red = 60 + 120 * v + 40 * std::sin(6.0 * u);
            double green = 90 + 80 * u + 30 * std::cos(5.0 * v);
            double blue = 200 - 110 * v;
            const double dx = u - 0.6;
            const double dy = v - 0.4;
            const double disc = std::exp(-(dx * dx + dy * dy) * 30);
            red += 80 * disc;
            green += 40 * disc;
            if (v > 0.7) {
                const double texture = 25 * std::sin(x * 0.9) * std::cos(y * 1.3);
                red += texture;
                green += texture;
                blue += texture;
            }
            const double n = noise(random);
            p[3 * x] = uint8_t(std::clamp(red + n, 0.0, 255.0));
            p[3 * x + 1] = uint8_t(std::clamp(green + n, 0.0, 255.0));
            p[3 * x + 2] = uint8_t(std::clamp(blue + n, 0.0, 255.0));
        }
    }
    return r;
}

Raster makeTextLike(int width, int height, PixelFormat format) {
    Raster r{width, height, format, std::vector<uint8_t>(size_t(width) * height), {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool vertical = (x % 16) < 2 && (y % 32) < 24;
            const bool horizontal = (y % 32) < 2 && (x % 16) < 10;
            r.row(y)[x] = vertical || horizontal ? 0 : 255;
        }
    return r;
}

Raster makeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Raster raster{width, height, PixelFormat::Rgb8, {}, {}};
    for (int i = 0; i < width * height; ++i)
        raster.pixels.insert(raster.pixels.end(), {r, g, b});
    return raster;
}

std::vector<uint8_t> makeIccProfile(const char space[4], size_t size) {
    std::vector<uint8_t> icc(size);
    for (size_t i = 0; i < size; ++i)
        icc[i] = uint8_t(i * 7 + 3);
    icc[0] = uint8_t(size >> 24);
    icc[1] = uint8_t(size >> 16);
    icc[2] = uint8_t(size >> 8);
    icc[3] = uint8_t(size);
    std::memcpy(&icc[12], "mntr", 4);
    std::memcpy(&icc[16], space, 4);
    std::memcpy(&icc[36], "acsp", 4);
    return icc;
}

}  // namespace pixavant::testing
