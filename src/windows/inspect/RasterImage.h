#pragma once

#include <QImage>

#include "imaging/Raster.h"

namespace pixavant {

// The raster as a QImage for painting: bilevel and gray as 8-bit gray, palette images with their
// colour table, RGB as 24-bit RGB, deep rasters at 16 bits. A null image for an empty or
// inconsistent raster.
QImage toQImage(const imaging::Raster& raster);

}  // namespace pixavant
