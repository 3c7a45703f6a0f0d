#pragma once

#include <libexif/exif-data.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pixavant::imaging {

// A new, empty EXIF block that keeps exactly the tags it is given or loads: libexif's default would
// add the mandatory tags with invented values (a resolution of 72 dpi that no file stated).
// Returns nullptr when memory runs out; free with exif_data_unref.
ExifData* newLiteralExifData();

// The largest EXIF block libexif reads (the size limit of a JPEG APP1 marker): larger ones cannot
// be rewritten.
inline constexpr size_t kLargestExifBlock = 0xFFFE - 6;

// Whether a tag of the first directory describes how a file stores its pixels (strips,
// compression, sample layout) or points to data carried on its own (XMP, IPTC, ICC profile): such
// a tag is true of no other file.
bool isStorageTag(uint16_t tag);

// The orientation (1 to 8) an EXIF block (a TIFF structure from its byte-order mark on) states in
// its first directory; 1 when it states none, an invalid one, or the block cannot be read.
int exifOrientation(const std::vector<uint8_t>& block);

// What an output file holds, for making the metadata carried into it true of it.
struct WrittenImage {
    int width = 0;
    int height = 0;
    int32_t xDpi = 0;  // 0: the file states no resolution
    int32_t yDpi = 0;
    bool withProfile = false;  // an ICC profile is written beside the pixels
    // A TIFF file: its own tags give the size, and its EXIF records no tags of compressed data.
    bool tiff = false;
};

// The EXIF block of a source (a TIFF structure from its byte-order mark on) rewritten for an
// output: every tag is kept, in the source's byte order, but what the conversion changed is made
// true. The orientation becomes 1 (the pixels are already turned), resolution and pixel dimensions
// are the output's, the thumbnail and the tags that describe the source's own storage (strips,
// compression, sample layout) go, and a colour space of sRGB is stated when no profile is written.
// A maker note libexif knows is moved with its offsets; when the block would exceed `maxBytes`, the
// maker note is left out first; `withMakerNote` false leaves it out in any case.
//
// Damaged entries are dropped and said so in `notes`; an empty result means nothing was kept.
std::vector<uint8_t> rewriteExif(const std::vector<uint8_t>& block, const WrittenImage& image,
                                 size_t maxBytes, std::vector<std::string>& notes,
                                 bool withMakerNote = true);

// What setExifResolutionInPlace did.
enum class InPlaceEdit {
    Unchanged,   // the block already states that resolution (to the nearest dot per inch)
    Rewritten,   // the values were rewritten
    Impossible,  // the first directory holds no XResolution and YResolution to rewrite
};

// Makes the EXIF block `block` (a TIFF structure from its byte-order mark on) state xDpi by yDpi
// without moving a byte: XResolution and YResolution (one RATIONAL each) become xDpi/1 and
// yDpi/1, and ResolutionUnit, when present, inches. The block keeps its length and every other
// byte, so a file that holds it changes only there. Impossible leaves the block as it was.
InPlaceEdit setExifResolutionInPlace(uint8_t* block, size_t size, uint32_t xDpi, uint32_t yDpi);

// The TIFF structure of an EXIF payload that containers store with or without the "Exif\0\0"
// identifier in front (WebP and HEIF writers differ); empty when it starts with neither.
std::vector<uint8_t> exifTiffStructure(const uint8_t* data, size_t size);

}  // namespace pixavant::imaging
