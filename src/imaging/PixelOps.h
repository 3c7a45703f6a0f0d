#pragma once

#include "imaging/Raster.h"

namespace pixavant::imaging {

// Pixel conversions of the imaging component. Each returns kSuccess or a failure code
// (kErrNoMemory when the result cannot be allocated).

// The raster at the depth asked for by a load or save: 0 keeps it as it is; 1 bilevel by
// Floyd-Steinberg error diffusion from gray; 8 a 256-colour palette, or 8-bit gray when the image is
// gray; 16 each channel reduced to 5 bits; 24 RGB. Any other depth is kErrInvalidArgument.
int convertDepth(const Raster& source, int bitsPerPixel, Raster& result);

// Gray from colour (Rec. 601 luma); a gray raster stays as it is.
int convertToGray(Raster& raster);

// Colour from any format (palette expanded, gray replicated).
int convertToRgb(const Raster& source, Raster& result);

// Resamples a Gray8 or Rgb8 raster to width x height with a Lanczos filter.
int resample(Raster& raster, int width, int height);

// Turns the raster by an EXIF orientation (1 to 8); other values change nothing.
int applyOrientation(Raster& raster, int orientation);

}  // namespace pixavant::imaging
