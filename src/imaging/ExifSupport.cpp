#include "imaging/ExifSupport.h"

namespace pixavant::imaging {

ExifData* newLiteralExifData() {
    ExifData* exif = exif_data_new();
    if (exif == nullptr)
        return nullptr;
    // Of libexif's options keep only the one that skips unknown tags.
    constexpr int kAllOptions = 0x7;
    exif_data_unset_option(exif,
                           ExifDataOption(kAllOptions & ~EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS));
    return exif;
}

}  // namespace pixavant::imaging
