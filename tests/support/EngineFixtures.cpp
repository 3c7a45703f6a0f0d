#include "EngineFixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

#include "imaging/FileInfo.h"
#include "imaging/Format.h"
#include "imaging/ImagingControl.h"

namespace pixavant::testsupport {

namespace {

std::vector<uint8_t> gradientRow(int y, int width, int height, int channels) {
    std::vector<uint8_t> row(size_t(width) * size_t(channels));
    for (int x = 0; x < width; ++x) {
        const auto r = uint8_t(x * 255 / std::max(1, width - 1));
        const auto g = uint8_t(y * 255 / std::max(1, height - 1));
        const auto b = uint8_t(255 - r);
        if (channels == 1) {
            row[size_t(x)] = uint8_t((r + g) / 2);
        } else {
            row[size_t(x) * 3] = r;
            row[size_t(x) * 3 + 1] = g;
            row[size_t(x) * 3 + 2] = b;
        }
    }
    return row;
}

}  // namespace

bool writeEngineTiff(const QString& path, int width, int height, int channels, int dpi) {
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    if (tif == nullptr)
        return false;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(channels));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC,
                 channels == 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
    if (dpi > 0) {
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    }
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        std::vector<uint8_t> row = gradientRow(y, width, height, channels);
        ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
    }
    TIFFClose(tif);
    return ok;
}

bool writeEngineJpeg(const QString& path, int width, int height, int channels, int dpi) {
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (file == nullptr)
        return false;
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = channels;
    cinfo.in_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.write_JFIF_header = TRUE;
    cinfo.density_unit = 1;
    cinfo.X_density = UINT16(dpi);
    cinfo.Y_density = UINT16(dpi);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < height; ++y) {
        std::vector<uint8_t> row = gradientRow(y, width, height, channels);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return std::fclose(file) == 0;
}

bool writeEngineFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

ProbedImage probeJpeg(const QString& path) {
    ProbedImage probe;
    FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (file == nullptr)
        return probe;
    unsigned char magic[2] = {0, 0};
    const bool isJpeg = std::fread(magic, 1, 2, file) == 2 && magic[0] == 0xFF && magic[1] == 0xD8;
    if (!isJpeg) {
        std::fclose(file);
        return probe;
    }
    std::rewind(file);
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr jerr{};
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        probe.ok = true;
        probe.width = int(cinfo.image_width);
        probe.height = int(cinfo.image_height);
        probe.channels = cinfo.num_components;
        probe.xDpi = cinfo.density_unit == 1 ? cinfo.X_density : 0;
    }
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return probe;
}

ProbedImage probeTiff(const QString& path) {
    ProbedImage probe;
    TIFFSetErrorHandler(nullptr);
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (tif == nullptr)
        return probe;
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t spp = 1;
    uint16_t compression = 1;
    float xres = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres);
    probe = {true, int(width), int(height), int(spp), double(xres), int(compression)};
    TIFFClose(tif);
    return probe;
}

bool engineCodecsReady(QString& why) {
    QTemporaryDir dir;
    const QString tiff = dir.filePath(QStringLiteral("probe.tif"));
    const QString jpeg = dir.filePath(QStringLiteral("probe.jpg"));
    writeEngineTiff(tiff, 8, 8, 3, 72);
    writeEngineJpeg(jpeg, 8, 8, 3, 72);
    imaging::FileInfoRecord info;
    QStringList missing;
    if (imaging::readFileInfo(tiff, info) != 1)
        missing << QStringLiteral("TIFF reader");
    if (imaging::readFileInfo(jpeg, info) != 1)
        missing << QStringLiteral("JPEG reader");
    auto& registry = imaging::FormatRegistry::instance();
    if (registry.writerFor(10) == nullptr)
        missing << QStringLiteral("JPEG writer");
    if (registry.writerFor(17) == nullptr)
        missing << QStringLiteral("TIFF writer");
    why = QStringLiteral("codecs not present yet: ") + missing.join(QStringLiteral(", "));
    return missing.isEmpty();
}

}  // namespace pixavant::testsupport
