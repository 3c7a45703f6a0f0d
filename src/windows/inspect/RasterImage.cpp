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
    const size_t rowBytes = raster.rowBytes();
    for (int y = 0; y < raster.height; ++y)
        std::memcpy(image.scanLine(y), raster.row(y), rowBytes);
    return image;
}

}  // namespace pixavant
