#pragma once

#include <libexif/exif-data.h>

namespace pixavant::imaging {

// A new, empty EXIF block that keeps exactly the tags it is given or loads: libexif's default would
// add the mandatory tags with invented values (a resolution of 72 dpi that no file stated).
// Returns nullptr when memory runs out; free with exif_data_unref.
ExifData* newLiteralExifData();

}  // namespace pixavant::imaging
