#pragma once

namespace pixavant::imaging {

// How PIXAVANT files are encoded: the JPEG XL distance of each lossy level, the encoder effort
// of each kind of file, and what an effort costs in time (for the progress estimate).

inline constexpr int kMinEffort = 1;
inline constexpr int kMaxEffort = 9;

// The effort a PIXAVANT file of `formatCode` (5, 26 or 30) is written at unless the caller asks
// for another; a lossy file's depends on its quality factor.
int defaultEffort(int formatCode, int qualityFactor = -1);

// The effort used for a request: `requested` (1 to 9) when given, else the default.
int effectiveEffort(int formatCode, int qualityFactor, int requested);

// The JPEG XL distance of a lossy quality factor, -1 (visually lossless) to -9 (smallest); each
// level strictly larger than the one before. Factors out of range count as the nearest level.
float lossyDistance(int qualityFactor);

// The CPU time an encode takes per pixel, in seconds, measured on one core.
double encodeSecondsPerPixel(int formatCode, int effort);

}  // namespace pixavant::imaging
