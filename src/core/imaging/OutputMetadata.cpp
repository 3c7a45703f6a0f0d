#include "imaging/OutputMetadata.h"

#include <cstring>

#include "imaging/FormatCodes.h"
#include "imaging/MetadataSupport.h"

namespace pixavant::imaging {

namespace {

const char* mimeTypeOf(int code) {
    if (code == format::kJpeg444)
        return "image/jpeg";
    return format::isPixavant(code) ? "image/jxl" : "image/tiff";
}

}  // namespace

EmbeddedMetadata prepareOutputMetadata(const EmbeddedMetadata& source, const WrittenImage& image,
                                       int formatCode, std::vector<std::string>& notes) {
    EmbeddedMetadata out;
    const bool jpeg = formatCode == format::kJpeg444;
    const size_t exifLimit = jpeg ? kJpegExifLimit : kLargestExifBlock;
    out.exif = rewriteExif(source.exif, image, exifLimit, notes);
    if (std::string make; !out.exif.empty() && !makerNoteReadsAlike(source.exif, out.exif, make)) {
        std::vector<std::string> again;  // the notes of the first rewrite hold
        out.exif = rewriteExif(source.exif, image, exifLimit, again, false);
        notes.push_back("EXIF maker note" + (make.empty() ? std::string() : " (" + make + ")") +
                        " cannot be carried intact: left out");
    }

    const bool iptcAsXmp = format::isPixavant(formatCode);
    out.xmp = rewriteXmp(source.xmp, image, mimeTypeOf(formatCode),
                         iptcAsXmp ? source.iptc : std::vector<uint8_t>{}, notes);
    if (jpeg && out.xmp.size() > kJpegXmpLimit) {
        notes.push_back("XMP packet too large for a JPEG marker: left out");
        out.xmp.clear();
    }
    if (!iptcAsXmp)
        out.iptc = source.iptc;
    if (jpeg && out.iptc.size() > kJpegResourceLimit - 12) {
        notes.push_back("IPTC data too large for a JPEG marker: left out");
        out.iptc.clear();
    }
    return out;
}

bool profileIsWritten(const std::vector<uint8_t>& profile, const Raster& pixels, int formatCode) {
    if (profile.size() < 128)
        return false;
    const bool gray = pixels.isGray() || format::holdsBlackAndWhiteOnly(formatCode);
    return std::memcmp(profile.data() + 16, gray ? "GRAY" : "RGB ", 4) == 0;
}

}  // namespace pixavant::imaging
