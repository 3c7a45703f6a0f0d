#include "inspect/RasterImage.h"

#include <cstring>

namespace pixavant {

using imaging::PixelFormat;
using imaging::Raster;

QImage toQImage(const Raster& raster) {
    if (raster.empty() || raster.pixels.size() < raster.rowBytes() * size_t(raster.height))
        return {};
    QImage::Format format = QImage::Format_RGB888;
    switch (raster.format) {
        case PixelFormat::Bilevel:
        case PixelFormat::Gray8:
            format = QImage::Format_Grayscale8;
            break;
        case PixelFormat::Indexed8:
            format = QImage::Format_Indexed8;
            break;
        case PixelFormat::Rgb8:
            format = QImage::Format_RGB888;
            break;
        case PixelFormat::Gray16:
            format = QImage::Format_Grayscale16;
            break;
        case PixelFormat::Rgb16:
            format = QImage::Format_RGBX64;
            break;
    }
    QImage image(raster.width, raster.height, format);
    if (image.isNull())
        return {};  // not enough memory
    if (raster.format == PixelFormat::Indexed8) {
        // Every index gets a colour: one past the palette shows black rather than garbage.
        QList<QRgb> colours(256, qRgb(0, 0, 0));
        for (size_t i = 0; i < raster.palette.size() && i < 256; ++i) {
            const auto& entry = raster.palette[i];
            colours[qsizetype(i)] = qRgb(entry[0], entry[1], entry[2]);
        }
        image.setColorTable(colours);
    }
    if (raster.format == PixelFormat::Rgb16) {
        // Qt's 16-bit colour has four channels: the fourth is opaque.
        for (int y = 0; y < raster.height; ++y) {
            const uint16_t* in = raster.row16(y);
            auto* out = reinterpret_cast<QRgba64*>(image.scanLine(y));
            for (int x = 0; x < raster.width; ++x, in += 3)
                out[x] = QRgba64::fromRgba64(in[0], in[1], in[2], 0xffff);
        }
        return image;
    }
    const size_t rowBytes = raster.rowBytes();
    for (int y = 0; y < raster.height; ++y)
        std::memcpy(image.scanLine(y), raster.row(y), rowBytes);
    return image;
}

}  // namespace pixavant
