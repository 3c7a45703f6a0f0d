#pragma once

#include "imaging/ImagingStatus.h"
#include "imaging/Progress.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {

// Pixel conversions of the imaging component. Each returns kSuccess or a failure code
// (kErrNoMemory when the result cannot be allocated). Those that take a `progress` report to it
// as they go and stop with kErrCancelled when it asks them to.

// The raster at the depth asked for by a load or save: 0 keeps it as it is; 1 bilevel by
// Floyd-Steinberg error diffusion from gray; 8 a 256-colour palette, or 8-bit gray when the image
// is gray; 16 each channel reduced to 5 bits; 24 RGB; 48 keepDeepColour(). Any other depth is
// kErrInvalidArgument. A deep raster is reduced to 8 bits per sample for every depth but 0 and 48.
Status convertDepth(const Raster& source, int bitsPerPixel, Raster& result,
                    Progress* progress = nullptr);

// A deep (16-bit) raster at 8 bits per sample, each sample round(v x 255 / 65535); any other
// raster is copied.
Status reduceToEightBit(const Raster& source, Raster& result);

// The raster as the 48-bit depth keeps it: a deep raster as it is; one of 8 bits per sample gray
// when it is gray, colour otherwise.
Status keepDeepColour(const Raster& source, Raster& result, Progress* progress = nullptr);

// Gray from colour (Rec. 601 luma); a gray raster stays as it is.
Status convertToGray(Raster& raster);

// Colour from any format (palette expanded, gray replicated).
Status convertToRgb(const Raster& source, Raster& result);

// Resamples a raster to width x height with a Lanczos filter (bilevel and palette images as gray
// or colour). The raster is unchanged when this fails or is cancelled.
Status resample(Raster& raster, int width, int height, Progress* progress = nullptr);

// Turns the raster by an EXIF orientation (1 to 8); other values change nothing.
Status applyOrientation(Raster& raster, int orientation);

}  // namespace pixavant::imaging
