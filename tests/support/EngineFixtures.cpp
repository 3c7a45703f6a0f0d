#include "EngineFixtures.h"

#include <QFile>
#include <cstdio>

#include <jpeglib.h>
#include <tiffio.h>

#include "JpegFixtures.h"
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
    return writeEngineDocument(path, {{width, height, channels, float(dpi), float(dpi)}});
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
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        probe = {true,
                 int(cinfo.image_width),
                 int(cinfo.image_height),
                 cinfo.num_components,
                 cinfo.density_unit == 1 ? double(cinfo.X_density) : 0.0,
                 0};
        if (const JQUANT_TBL* table = cinfo.quant_tbl_ptrs[0]) {
            probe.lumaQuantFirst = table->quantval[0];
            probe.lumaQuantLast = table->quantval[63];
        }
    }
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return probe;
}

ProbedImage probeTiff(const QString& path, int page) {
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif == nullptr)
        return {};
    if (page > 0 && TIFFSetDirectory(tif, tdir_t(page)) != 1) {
        TIFFClose(tif);
        return {};
    }
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

bool writeEngineDocument(const QString& path, const std::vector<EnginePage>& pages) {
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (tif == nullptr)
        return false;
    bool ok = true;
    for (const EnginePage& page : pages) {
        const bool bilevel = page.channels == 0;
        const imaging::Raster image =
            gradient(page.width, page.height, bilevel ? 1 : page.channels);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(page.width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(page.height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(bilevel ? 1 : 8));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bilevel ? 1 : page.channels));
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                     uint16_t(bilevel              ? PHOTOMETRIC_MINISWHITE
                              : page.channels == 1 ? PHOTOMETRIC_MINISBLACK
                                                   : PHOTOMETRIC_RGB));
        TIFFSetField(tif, TIFFTAG_COMPRESSION,
                     uint16_t(bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_LZW));
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(page.height));
        if (page.xDpi > 0) {
            TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(page.xDpi));
            TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(page.yDpi > 0 ? page.yDpi : page.xDpi));
            TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT,
                         uint16_t(page.perCentimetre ? RESUNIT_CENTIMETER : RESUNIT_INCH));
        }
        if (bilevel) {
            const size_t rowBytes = (size_t(page.width) + 7) / 8;
            std::vector<uint8_t> packed(rowBytes * size_t(page.height), 0);
            for (int y = 0; y < page.height; ++y)
                for (int x = 0; x < page.width; ++x)
                    if (image.row(y)[x] < 128)  // min-is-white: a set bit is black
                        packed[size_t(y) * rowBytes + size_t(x) / 8] |= uint8_t(0x80u >> (x & 7));
            ok = ok && TIFFWriteEncodedStrip(tif, 0, packed.data(), tmsize_t(packed.size())) >= 0;
        } else {
            ok = ok && TIFFWriteEncodedStrip(tif, 0, const_cast<uint8_t*>(image.pixels.data()),
                                             tmsize_t(image.pixels.size())) >= 0;
        }
        ok = ok && TIFFWriteDirectory(tif) == 1;
    }
    TIFFClose(tif);
    // Damage: the middle half of the page's data zeroed (no code word is a run of zeros).
    for (size_t index = 0; index < pages.size() && ok; ++index) {
        if (!pages[index].damaged)
            continue;
        tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
        uint64_t* offsets = nullptr;
        uint64_t* counts = nullptr;
        ok = tif != nullptr && TIFFSetDirectory(tif, tdir_t(index)) == 1 &&
             TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) == 1 &&
             TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &counts) == 1;
        const qint64 offset = ok ? qint64(offsets[0]) : 0;
        const qint64 count = ok ? qint64(counts[0]) : 0;
        if (tif != nullptr)
            TIFFClose(tif);
        QFile file(path);
        ok = ok && count >= 4 && file.open(QIODevice::ReadWrite) && file.seek(offset + count / 4) &&
             file.write(QByteArray(int(count / 2), '\0')) == count / 2;
    }
    return ok;
}

int tiffPageCount(const QString& path) {
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif == nullptr)
        return 0;
    const int pages = int(TIFFNumberOfDirectories(tif));
    TIFFClose(tif);
    return pages;
}

}  // namespace pixavant::testsupport
