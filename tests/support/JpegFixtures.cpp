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

// "Exif\0\0" and a little-endian TIFF structure with one IFD.
QByteArray exifPayload(const ExifFields& f) {
    struct Entry {
        uint16_t tag;
        uint16_t type;  // 3 SHORT, 5 RATIONAL
        double value;
    };
    std::vector<Entry> entries;
    for (const Entry& e :
         {Entry{0x0112, 3, double(f.orientation)}, Entry{0x011A, 5, f.xResolution},
          Entry{0x011B, 5, f.yResolution}, Entry{0x0128, 3, double(f.resolutionUnit)}})
        if (e.value != 0)
            entries.push_back(e);
    QByteArray tiff("II*\0\x08\0\0\0", 8), data;
    putLe16(tiff, uint32_t(entries.size()));
    const uint32_t dataOffset = 8 + 2 + uint32_t(entries.size()) * 12 + 4;
    for (const Entry& e : entries) {
        putLe16(tiff, e.tag);
        putLe16(tiff, e.type);
        putLe32(tiff, 1);
        if (e.type == 3) {
            putLe32(tiff, uint32_t(e.value));
        } else {
            putLe32(tiff, dataOffset + uint32_t(data.size()));
            putLe32(data, uint32_t(std::lround(e.value * 100)));
            putLe32(data, 100);
        }
    }
    putLe32(tiff, 0);
    return QByteArray("Exif\0\0", 6) + tiff + data;
}

// A fixture that libjpeg refuses is a fault of the test itself.
[[noreturn]] void throwError(j_common_ptr cinfo) {
    char message[JMSG_LENGTH_MAX];
    cinfo->err->format_message(cinfo, message);
    std::fprintf(stderr, "libjpeg: %s\n", message);
    std::abort();
}

}  // namespace

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
    Raster r;
    r.width = width;
    r.height = height;
    r.format = PixelFormat::Rgb8;
    r.allocate();
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
    Raster r;
    r.width = width;
    r.height = height;
    r.format = format;
    r.allocate();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool vertical = (x % 16) < 2 && (y % 32) < 24;
            const bool horizontal = (y % 32) < 2 && (x % 16) < 10;
            r.row(y)[x] = vertical || horizontal ? 0 : 255;
        }
    return r;
}

Raster makeSolid(int width, int height, uint8_t r, uint8_t g, uint8_t b) {
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.format = PixelFormat::Rgb8;
    raster.allocate();
    for (size_t i = 0; i + 2 < raster.pixels.size(); i += 3) {
        raster.pixels[i] = r;
        raster.pixels[i + 1] = g;
        raster.pixels[i + 2] = b;
    }
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
