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
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, f.width) == 1 &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, f.height) == 1 &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, f.bitsPerSample) == 1 &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, f.samplesPerPixel) == 1 &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, f.photometric) == 1 &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, f.planar) == 1 &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, f.sampleFormat) == 1 &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, f.orientation) == 1 &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, f.compression) == 1;
    if (f.photometric == PHOTOMETRIC_SEPARATED)
        ok = ok && TIFFSetField(tif, TIFFTAG_INKSET, uint16_t(INKSET_CMYK)) == 1;
    if (f.extraSample != 0) {
        uint16_t kinds[1] = {f.extraSample};
        ok = ok && TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), kinds) == 1;
    }
    if (f.compression == COMPRESSION_CCITTFAX3)
        ok = ok && TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, f.group3Options) == 1;
    if (f.ycbcrHorizontal != 0)
        ok = ok &&
             TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, f.ycbcrHorizontal, f.ycbcrVertical) == 1;
    if (f.compression == COMPRESSION_JPEG) {
        ok = ok && TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 90) == 1;
        if (f.jpegRgbInput)
            ok = ok && TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB) == 1;
    }
    if (f.xResolution > 0) {
        ok = ok && TIFFSetField(tif, TIFFTAG_XRESOLUTION, double(f.xResolution)) == 1 &&
             TIFFSetField(tif, TIFFTAG_YRESOLUTION, double(f.yResolution)) == 1 &&
             TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, f.resolutionUnit) == 1;
    }
    if (!f.colormap.empty()) {
        const size_t n = f.colormap.size() / 3;
        std::vector<uint16_t> map = f.colormap;
        ok = ok && TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data() + n,
                                map.data() + 2 * n) == 1;
    }
    if (!f.icc.empty())
        ok = ok && TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(f.icc.size()), f.icc.data()) == 1;
    if (f.pages > 1) {
        ok = ok && TIFFSetField(tif, TIFFTAG_SUBFILETYPE, uint32_t(FILETYPE_PAGE)) == 1 &&
             TIFFSetField(tif, TIFFTAG_PAGENUMBER, uint16_t(page), uint16_t(f.pages)) == 1;
    }
    if (!ok)
        return false;

    std::vector<uint8_t> data = f.data;
    if (page > 0)  // later pages differ from the first
        for (uint8_t& v : data)
            v = uint8_t(~v);
    if (f.tileWidth != 0) {
        ok = TIFFSetField(tif, TIFFTAG_TILEWIDTH, f.tileWidth) == 1 &&
             TIFFSetField(tif, TIFFTAG_TILELENGTH, f.tileHeight) == 1;
        if (!ok || f.planar != PLANARCONFIG_CONTIG ||
            (f.bitsPerSample != 8 && f.bitsPerSample != 16))
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

    const uint32_t rows = f.rowsPerStrip != 0 ? f.rowsPerStrip : TIFFDefaultStripSize(tif, 0);
    if (TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows) != 1)
        return false;
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
        auto entry = [&b](uint16_t tag, uint16_t type, uint32_t value) {
            putLe16(b, tag);
            putLe16(b, type);
            putLe32(b, 1);
            if (type == 3) {
                putLe16(b, uint16_t(value));
                putLe16(b, 0);
            } else {
                putLe32(b, value);
            }
        };
        entry(256, 4, raw.width);
        entry(257, 4, raw.height);
        entry(258, 3, raw.bitsPerSample);
        entry(259, 3, raw.compression);
        entry(262, 3, raw.photometric);
        entry(273, 4, stripOffset);
        entry(277, 3, raw.samplesPerPixel);
        entry(278, 4, raw.height);
        entry(279, 4, byteCount);
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
