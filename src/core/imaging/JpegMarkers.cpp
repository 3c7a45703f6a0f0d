// The JPEG marker walker: what the markers before the first scan say, and the JFIF density
// rewritten in place.

#include "imaging/JpegMarkers.h"

#include <libexif/exif-data.h>

#include <cmath>
#include <cstring>

#include "imaging/ExifSupport.h"

namespace pixavant::imaging {

namespace {

// The orientation the JPEG reader turns the pixels by: the first EXIF block's, 1 to 8, anything
// else 1.
int exifOrientation(const uint8_t* app1, size_t size) {
    ExifData* exif = newLiteralExifData();
    if (exif == nullptr)
        return 1;
    exif_data_load_data(exif, app1, unsigned(size));
    ExifContent* ifd0 = exif->ifd[EXIF_IFD_0];
    ExifEntry* e = ifd0 != nullptr ? exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION) : nullptr;
    int orientation = 1;
    if (e != nullptr && e->format == EXIF_FORMAT_SHORT && e->components >= 1 &&
        e->data != nullptr && e->size >= 2)
        orientation = exif_get_short(e->data, exif_data_get_byte_order(exif));
    exif_data_unref(exif);
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

}  // namespace

bool readJpegFacts(const std::vector<uint8_t>& jpeg, JpegFacts& facts) {
    size_t at = 2;
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8)
        return false;
    while (at + 4 <= jpeg.size()) {
        if (jpeg[at] != 0xFF)
            return false;
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (length < 2 || at + 2 + length > jpeg.size())
            return false;
        const uint8_t* body = jpeg.data() + at + 4;
        const size_t bodySize = length - 2;
        if (marker == 0xDA)  // start of scan
            return facts.components > 0;
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && bodySize >= 6)
            facts.components = body[5];
        // Identifier, version, unit, two densities and the thumbnail's size: 14 bytes.
        if (marker == 0xE0 && bodySize >= 14 && std::memcmp(body, "JFIF\0", 5) == 0 &&
            facts.jfifAt == 0)
            facts.jfifAt = at + 4;
        if (marker == 0xE1 && bodySize >= 6 && std::memcmp(body, "Exif\0\0", 6) == 0 &&
            facts.exifAt == 0) {
            facts.exifAt = at + 4 + 6;
            facts.exifSize = bodySize - 6;
            facts.orientation = exifOrientation(body, bodySize);
        }
        at += 2 + length;
    }
    return false;
}

bool setJfifDensityInPlace(std::vector<uint8_t>& jpeg, size_t body, int32_t xDpi, int32_t yDpi) {
    uint8_t* jfif = jpeg.data() + body;
    const int unit = jfif[7];
    const int x = jfif[8] << 8 | jfif[9];
    const int y = jfif[10] << 8 | jfif[11];
    if ((unit != 1 && unit != 2) || x == 0 || y == 0)
        return true;
    const double perInch = unit == 1 ? 1.0 : 2.54;
    if (std::lround(x * perInch) == xDpi && std::lround(y * perInch) == yDpi)
        return true;
    if (xDpi > 0xFFFF || yDpi > 0xFFFF)
        return false;
    jfif[7] = 1;
    jfif[8] = uint8_t(xDpi >> 8);
    jfif[9] = uint8_t(xDpi);
    jfif[10] = uint8_t(yDpi >> 8);
    jfif[11] = uint8_t(yDpi);
    return true;
}

}  // namespace pixavant::imaging
