#pragma once

#include <string>
#include <vector>

#include "imaging/ExifSupport.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {

// The largest payloads a JPEG marker takes after its identifier ("Exif\0\0", the XMP namespace,
// "Photoshop 3.0\0").
inline constexpr size_t kJpegExifLimit = 65533 - 6;
inline constexpr size_t kJpegXmpLimit = 65533 - 29;
inline constexpr size_t kJpegResourceLimit = 65533 - 14;

// The metadata of a source made ready for one output in the format `formatCode`: EXIF and XMP made
// true of what is written, in the sizes the format's containers take. A PIXAVANT file holds no
// IPTC record, so its IPTC data sets travel as XMP properties. `notes` receives what was left out.
EmbeddedMetadata prepareOutputMetadata(const EmbeddedMetadata& source, const WrittenImage& image,
                                       int formatCode, std::vector<std::string>& notes);

// Whether a writer of `formatCode` writes `profile` with these pixels: its colour space is the
// output's (gray for gray and black-and-white output, RGB otherwise).
bool profileIsWritten(const std::vector<uint8_t>& profile, const Raster& pixels, int formatCode);

}  // namespace pixavant::imaging
