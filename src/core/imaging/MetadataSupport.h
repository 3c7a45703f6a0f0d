#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "imaging/ExifSupport.h"
#include "imaging/ImagingStatus.h"
#include "imaging/Raster.h"

namespace pixavant::imaging {

// Metadata in the containers libexif does not read, through exiv2: TIFF directories, PNG chunks,
// JPEG XL boxes and the rest, XMP packets and IPTC records. Every function is safe on damaged
// metadata: what cannot be read or written is left out and said so in the notes, never fatal.

// Reads the EXIF, XMP and IPTC of the file at `path` into the blocks of `meta.embedded` that are
// still empty. Files of a format without metadata give nothing.
void readEmbeddedMetadata(const QString& path, ImageMeta& meta);

// Adds `metadata` to the complete TIFF file at `path`, whose pixels and image tags stay as they
// are. Returns kSuccess, also when metadata had to be left out (`notes` says so; the file is then
// as it was), or kErrWrite when the file could not be rewritten (it may then be damaged).
Status addTiffMetadata(const QString& path, const EmbeddedMetadata& metadata,
                       std::vector<std::string>& notes);

// The XMP packet of a source made true of an output (orientation, pixel size, resolution, format,
// no thumbnail or digest of the source's values), with the IPTC data sets of `iptc` added as the
// properties the IPTC Core schema gives them where the packet has none (for formats that hold no
// IPTC of their own). An unchanged packet is returned as it was. Empty when nothing is left.
std::vector<uint8_t> rewriteXmp(const std::vector<uint8_t>& packet, const WrittenImage& image,
                                const char* mimeType, const std::vector<uint8_t>& iptc,
                                std::vector<std::string>& notes);

// Whether the maker note of the EXIF block `written` reads back as that of `source` does: every
// value exiv2 reads of it (the directories of the makes it knows, the bytes of the others) the
// same. True when `source` holds none. A maker note whose values lie outside its own bytes reads
// otherwise once moved: carrying it would write it broken. `make` receives the maker's name as
// exiv2 groups it ("Nikon3", "Canon", ...), or "" when exiv2 does not know the make.
bool makerNoteReadsAlike(const std::vector<uint8_t>& source, const std::vector<uint8_t>& written,
                         std::string& make);

// Photoshop image resources holding nothing but `iptc` (the payload of a JPEG APP13 marker after
// its "Photoshop 3.0" identifier). Empty when `iptc` is.
std::vector<uint8_t> iptcResources(const std::vector<uint8_t>& iptc);

// The IPTC data sets of Photoshop image resources; empty when they hold none.
std::vector<uint8_t> iptcOfResources(const uint8_t* resources, size_t size);

}  // namespace pixavant::imaging
