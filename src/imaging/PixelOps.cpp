#include "imaging/PixelOps.h"

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

int convertDepth(const Raster& source, int bitsPerPixel, Raster& result) {
    if (bitsPerPixel != 0 && bitsPerPixel != 24) return kErrInvalidArgument;
    result = source;
    return kSuccess;
}

int convertToGray(Raster&) { return kErrInvalidArgument; }
int convertToRgb(const Raster& source, Raster& result) {
    result = source;
    return kSuccess;
}
int resample(Raster&, int, int) { return kErrInvalidArgument; }
int applyOrientation(Raster&, int) { return kSuccess; }

}  // namespace pixavant::imaging
