#include "TiffFixtures.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <QFile>
#include <algorithm>
#include <cstring>

namespace pixavant::testing {

namespace {
int quietHandler(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

bool writePage(TIFF* tif, const TiffFixture& f, int page) {
    bool ok = true;
    const auto set = [&](uint32_t tag, auto... values) {
        ok = ok && TIFFSetField(tif, tag, values...) == 1;
    };
    set(TIFFTAG_IMAGEWIDTH, f.width);
    set(TIFFTAG_IMAGELENGTH, f.height);
    set(TIFFTAG_BITSPERSAMPLE, f.bitsPerSample);
    set(TIFFTAG_SAMPLESPERPIXEL, f.samplesPerPixel);
    set(TIFFTAG_PHOTOMETRIC, f.photometric);
    set(TIFFTAG_PLANARCONFIG, f.planar);
    set(TIFFTAG_SAMPLEFORMAT, f.sampleFormat);
    set(TIFFTAG_ORIENTATION, f.orientation);
    set(TIFFTAG_COMPRESSION, f.compression);
    if (f.photometric == PHOTOMETRIC_SEPARATED)
        set(TIFFTAG_INKSET, uint16_t(INKSET_CMYK));
    uint16_t kinds[1] = {f.extraSample};
    if (f.extraSample != 0)
        set(TIFFTAG_EXTRASAMPLES, uint16_t(1), kinds);
    if (f.compression == COMPRESSION_CCITTFAX3)
        set(TIFFTAG_GROUP3OPTIONS, f.group3Options);
    if (f.ycbcrHorizontal != 0)
        set(TIFFTAG_YCBCRSUBSAMPLING, f.ycbcrHorizontal, f.ycbcrVertical);
    if (f.compression == COMPRESSION_JPEG)
        set(TIFFTAG_JPEGQUALITY, 90);
    if (f.compression == COMPRESSION_JPEG && f.jpegRgbInput)
        set(TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    if (f.xResolution > 0) {
        set(TIFFTAG_XRESOLUTION, double(f.xResolution));
        set(TIFFTAG_YRESOLUTION, double(f.yResolution));
        set(TIFFTAG_RESOLUTIONUNIT, f.resolutionUnit);
    }
    std::vector<uint16_t> map = f.colormap;
    const size_t n = map.size() / 3;
    if (n != 0)
        set(TIFFTAG_COLORMAP, map.data(), map.data() + n, map.data() + 2 * n);
    if (!f.icc.empty())
        set(TIFFTAG_ICCPROFILE, uint32_t(f.icc.size()), f.icc.data());
    if (f.pages > 1) {
        set(TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE));
        set(TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(f.pages));
    }
    if (f.tileWidth != 0) {
        set(TIFFTAG_TILEWIDTH, f.tileWidth);
        set(TIFFTAG_TILELENGTH, f.tileHeight);
    } else {
        set(TIFFTAG_ROWSPERSTRIP,
            f.rowsPerStrip != 0 ? f.rowsPerStrip : TIFFDefaultStripSize(tif, 0));
    }
    if (!ok)
        return false;

    std::vector<uint8_t> data = f.data;
    if (page > 0)  // later pages differ from the first
        for (uint8_t& v : data)
            v = uint8_t(~v);
    if (f.tileWidth != 0) {
        if (f.planar != PLANARCONFIG_CONTIG || (f.bitsPerSample != 8 && f.bitsPerSample != 16))
            return false;
        const size_t pixelBytes = size_t(f.samplesPerPixel) * f.bitsPerSample / 8;
        std::vector<uint8_t> tile(size_t(TIFFTileSize(tif)));
        for (uint32_t ty = 0; ty < f.height; ty += f.tileHeight)
            for (uint32_t tx = 0; tx < f.width; tx += f.tileWidth) {
                std::fill(tile.begin(), tile.end(), 0);
                for (uint32_t y = 0; y < f.tileHeight && ty + y < f.height; ++y)
                    for (uint32_t x = 0; x < f.tileWidth && tx + x < f.width; ++x)
                        std::memcpy(&tile[(size_t(y) * f.tileWidth + x) * pixelBytes],
                                    &data[(size_t(ty + y) * f.width + tx + x) * pixelBytes],
                                    pixelBytes);
                if (TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) < 0)
                    return false;
            }
        return TIFFWriteDirectory(tif) == 1;
    }

    const int planes = f.planar == PLANARCONFIG_SEPARATE ? f.samplesPerPixel : 1;
    const size_t line = size_t(TIFFScanlineSize(tif));
    for (int plane = 0; plane < planes; ++plane)
        for (uint32_t y = 0; y < f.height; ++y) {
            uint8_t* row = data.data() + (size_t(plane) * f.height + y) * line;
            if (TIFFWriteScanline(tif, row, y, uint16_t(plane)) != 1)
                return false;
        }
    return TIFFWriteDirectory(tif) == 1;
}

}  // namespace

bool writeTiffFixture(const QString& path, const TiffFixture& fixture) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietHandler, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietHandler, nullptr);
    TIFF* tif =
        TIFFOpenExt(QFile::encodeName(path).constData(), fixture.bigTiff ? "w8" : "w", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        ADD_FAILURE() << "cannot create " << path.toStdString();
        return false;
    }
    bool ok = true;
    for (int page = 0; page < fixture.pages && ok; ++page)
        ok = writePage(tif, fixture, page);
    TIFFClose(tif);
    if (!ok)
        ADD_FAILURE() << "libtiff refused the fixture " << path.toStdString();
    return ok;
}

QByteArray buildRawTiff(const RawTiff& raw) {
    constexpr int kEntries = 9;
    constexpr uint32_t kDirectoryBytes = 2 + kEntries * 12 + 4;
    const int directories = std::max(raw.directories, 1);
    const uint32_t dataOffset = 8 + uint32_t(directories) * kDirectoryBytes;
    const uint32_t stripOffset = raw.stripOffset != 0 ? raw.stripOffset : dataOffset;
    const uint32_t byteCount = raw.stripByteCount != 0
                                   ? raw.stripByteCount
                                   : uint32_t(uint64_t(raw.width) * raw.height *
                                              raw.samplesPerPixel * raw.bitsPerSample / 8);

    QByteArray b("II*\0", 4);
    putLe32(b, 8);
    for (int d = 0; d < directories; ++d) {
        putLe16(b, kEntries);
        const uint32_t entries[kEntries][3] = {
            {256, 4, raw.width},           {257, 4, raw.height},      {258, 3, raw.bitsPerSample},
            {259, 3, raw.compression},     {262, 3, raw.photometric}, {273, 4, stripOffset},
            {277, 3, raw.samplesPerPixel}, {278, 4, raw.height},      {279, 4, byteCount}};
        for (const auto& [tag, type, value] : entries) {  // SHORT values fill the field's start
            putLe16(b, tag);
            putLe16(b, type);
            putLe32(b, 1);
            putLe32(b, value);
        }
        uint32_t next = 0;
        if (d + 1 < directories)
            next = 8 + uint32_t(d + 1) * kDirectoryBytes;
        else if (raw.loop)
            next = 8;
        putLe32(b, next);
    }
    b.append(raw.stripData);
    return b;
}

}  // namespace pixavant::testing
