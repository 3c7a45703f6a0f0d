#pragma once

#include <QString>

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

struct ProbedImage {
    bool ok = false;
    int width = 0;
    int height = 0;
    int channels = 0;
    double xDpi = 0;
    int compression = 0;  // TIFF only
};
ProbedImage probeJpeg(const QString& path);
ProbedImage probeTiff(const QString& path);

}  // namespace pixavant::testsupport
