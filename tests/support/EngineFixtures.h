#pragma once

#include <QString>
#include <vector>

#include "Bytes.h"

namespace pixavant::testsupport {

// Image files for the batch engine's and the command line's tests, written with libtiff and
// libjpeg (not through the component under test). The pixels are a colour gradient.

// An LZW TIFF, 8 bits per sample, 1 (gray) or 3 (RGB) channels. dpi 0: no resolution tags.
bool writeEngineTiff(const QString& path, int width, int height, int channels, int dpi);
// A JFIF JPEG, quality 90, 1 or 3 components, with the given density in dots per inch.
bool writeEngineJpeg(const QString& path, int width, int height, int channels, int dpi);
// Writes `bytes` arbitrary bytes (a file that is no image).
inline bool writeEngineFile(const QString& path, const QByteArray& bytes) {
    return testing::writeBytes(path, bytes);
}

// One page of a multi-page TIFF for a test: a gradient (black and white: its threshold).
struct EnginePage {
    int width = 64;
    int height = 48;
    int channels = 1;  // 0: black and white in CCITT G4; 1 gray, 3 RGB, in LZW
    float xDpi = 0;    // 0: no resolution tags
    float yDpi = 0;
    bool damaged = false;        // black and white: the middle of its data zeroed (bad code words)
    bool perCentimetre = false;  // the resolution stated in dots per centimetre
};
bool writeEngineDocument(const QString& path, const std::vector<EnginePage>& pages);

struct ProbedImage {
    bool ok = false;
    int width = 0;
    int height = 0;
    int channels = 0;
    double xDpi = 0;
    int compression = 0;     // TIFF only
    int lumaQuantFirst = 0;  // JPEG only: the first and last entries of the first quantisation
    int lumaQuantLast = 0;   // table, in natural order
};
ProbedImage probeJpeg(const QString& path);
ProbedImage probeTiff(const QString& path, int page = 0);
// The directories of a TIFF file, as libtiff counts them.
int tiffPageCount(const QString& path);

}  // namespace pixavant::testsupport
