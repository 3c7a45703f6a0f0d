#include "EngineFixtures.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

#include <jpeglib.h>
#include <tiffio.h>

#include "JpegFixtures.h"
#include "TiffFixtures.h"
#include "imaging/FileInfo.h"
#include "imaging/Format.h"

namespace pixavant::testsupport {

namespace {

// Red rises to the right, green downwards, blue is red's complement; gray is red and green's mean.
imaging::Raster gradient(int width, int height, int channels) {
    imaging::Raster image;
    image.width = width;
    image.height = height;
    image.format = channels == 1 ? imaging::PixelFormat::Gray8 : imaging::PixelFormat::Rgb8;
    image.allocate();
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const auto r = uint8_t(x * 255 / std::max(1, width - 1));
            const auto g = uint8_t(y * 255 / std::max(1, height - 1));
            uint8_t* p = image.row(y) + x * channels;
            if (channels == 1) {
                p[0] = uint8_t((r + g) / 2);
            } else {
                p[0] = r;
                p[1] = g;
                p[2] = uint8_t(255 - r);
            }
        }
    return image;
}

}  // namespace

bool writeEngineTiff(const QString& path, int width, int height, int channels, int dpi) {
    const imaging::Raster image = gradient(width, height, channels);
    testing::TiffFixture f;
    f.width = uint32_t(width);
    f.height = uint32_t(height);
    f.samplesPerPixel = uint16_t(channels);
    f.photometric = channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
    f.compression = COMPRESSION_LZW;
    f.rowsPerStrip = 16;
    f.xResolution = f.yResolution = float(dpi);
    f.data = image.pixels;
    return testing::writeTiffFixture(path, f);
}

bool writeEngineJpeg(const QString& path, int width, int height, int channels, int dpi) {
    const int sampling = channels == 1 ? 1 : 2;  // libjpeg's defaults: 4:2:0 colour
    return testing::writeBytes(
        path, testing::makeJpeg(gradient(width, height, channels), {.hSamp = sampling,
                                                                    .vSamp = sampling,
                                                                    .densityUnit = 1,
                                                                    .xDensity = dpi,
                                                                    .yDensity = dpi}));
}

ProbedImage probeJpeg(const QString& path) {
    ProbedImage probe;
    if (!testing::readBytes(path).startsWith("\xFF\xD8"))
        return probe;
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr)
        return probe;
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK)
        probe = {true,
                 int(cinfo.image_width),
                 int(cinfo.image_height),
                 cinfo.num_components,
                 cinfo.density_unit == 1 ? double(cinfo.X_density) : 0.0,
                 0};
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return probe;
}

ProbedImage probeTiff(const QString& path) {
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif == nullptr)
        return {};
    uint32_t width = 0, height = 0;
    uint16_t spp = 1, compression = 1;
    float xres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    TIFFClose(tif);
    return {true, int(width), int(height), int(spp), double(xres), int(compression)};
}

}  // namespace pixavant::testsupport
