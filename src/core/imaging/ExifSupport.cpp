#include "imaging/ExifSupport.h"

#include <libexif/exif-log.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <string_view>

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

namespace {

// libexif's option (bit 1 of ExifDataOption) that adds the tags the EXIF standard calls
// mandatory and rewrites some values; left off, the source's tags are carried as they are.
constexpr auto kExifAddsMandatoryTags = ExifDataOption(1 << 1);

constexpr unsigned char kExifIdentifier[6] = {'E', 'x', 'i', 'f', 0, 0};

constexpr std::initializer_list<uint16_t> kStorageTags = {
    0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x010A, 0x0111, 0x0115, 0x0116, 0x0117,
    0x0118, 0x0119, 0x011C, 0x0120, 0x0121, 0x0124, 0x0125, 0x013D, 0x0140, 0x0142,
    0x0143, 0x0144, 0x0145, 0x014A, 0x0152, 0x0153, 0x0201, 0x0202, 0x0211, 0x0212,
    0x02BC,  // XMP, carried on its own
    0x83BB,  // IPTC, carried on its own
    0x8649,  // Photoshop resources (thumbnail, resolution)
    0x8773,  // ICC profile, carried on its own
    0xC634,  // DNG private data (offsets into the raw file)
};
constexpr uint16_t kRelatedImageWidth = 0x1001;
constexpr uint16_t kRelatedImageLength = 0x1002;

struct LoadLog {
    bool corrupt = false;
    bool noMemory = false;
};

void onExifLog(ExifLog*, ExifLogCode code, const char*, const char*, va_list, void* data) {
    auto* log = static_cast<LoadLog*>(data);
    if (code == EXIF_LOG_CODE_CORRUPT_DATA)
        log->corrupt = true;
    if (code == EXIF_LOG_CODE_NO_MEMORY)
        log->noMemory = true;
}

// A loaded block and its log; both freed on destruction.
class LoadedExif {
  public:
    explicit LoadedExif(const std::vector<uint8_t>& block) {
        data_ = exif_data_new();
        log_ = exif_log_new();
        if (data_ == nullptr || log_ == nullptr) {
            state_.noMemory = true;
            return;
        }
        // Every tag is kept, unknown ones too, and nothing is added; known maker notes are
        // interpreted so that saving moves them with their offsets.
        exif_data_unset_option(data_, EXIF_DATA_OPTION_IGNORE_UNKNOWN_TAGS);
        exif_data_unset_option(data_, kExifAddsMandatoryTags);
        exif_data_unset_option(data_, EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
        exif_log_set_func(log_, onExifLog, &state_);
        exif_data_log(data_, log_);
        std::vector<uint8_t> app1(kExifIdentifier, kExifIdentifier + sizeof kExifIdentifier);
        app1.insert(app1.end(), block.begin(), block.end());
        exif_data_load_data(data_, app1.data(), unsigned(app1.size()));
    }
    ~LoadedExif() {
        if (data_ != nullptr)
            exif_data_unref(data_);
        if (log_ != nullptr)
            exif_log_unref(log_);
    }
    LoadedExif(const LoadedExif&) = delete;
    LoadedExif& operator=(const LoadedExif&) = delete;

    ExifData* data() const { return data_; }
    const LoadLog& log() const { return state_; }
    ExifContent* ifd(ExifIfd which) const { return data_->ifd[which]; }
    ExifByteOrder order() const { return exif_data_get_byte_order(data_); }

  private:
    ExifData* data_ = nullptr;
    ExifLog* log_ = nullptr;
    LoadLog state_;
};

void removeTag(ExifContent* content, uint16_t tag) {
    while (ExifEntry* entry = exif_content_get_entry(content, ExifTag(tag)))
        exif_content_remove_entry(content, entry);
}

// The entry for `tag` with the given format and one value, created (from libexif's description of
// the tag) when missing or stored otherwise. nullptr when memory runs out.
ExifEntry* singleValueEntry(ExifContent* content, ExifTag tag, ExifFormat format) {
    ExifEntry* entry = exif_content_get_entry(content, tag);
    if (entry != nullptr && entry->format == format && entry->components == 1 &&
        entry->data != nullptr && entry->size >= exif_format_get_size(format))
        return entry;
    removeTag(content, tag);
    ExifEntry* created = exif_entry_new();
    if (created == nullptr)
        return nullptr;
    created->tag = tag;
    exif_content_add_entry(content, created);
    exif_entry_unref(created);  // the directory holds it now
    exif_entry_initialize(created, tag);
    if (created->format != format || created->components != 1 || created->data == nullptr) {
        exif_content_remove_entry(content, created);
        return nullptr;
    }
    return created;
}

void setShort(ExifContent* content, ExifByteOrder order, ExifTag tag, uint16_t value) {
    if (ExifEntry* entry = singleValueEntry(content, tag, EXIF_FORMAT_SHORT))
        exif_set_short(entry->data, order, value);
}

void setResolution(ExifContent* ifd0, ExifByteOrder order, const WrittenImage& image) {
    if (image.xDpi <= 0 && image.yDpi <= 0) {
        removeTag(ifd0, EXIF_TAG_X_RESOLUTION);
        removeTag(ifd0, EXIF_TAG_Y_RESOLUTION);
        removeTag(ifd0, EXIF_TAG_RESOLUTION_UNIT);
        return;
    }
    const uint32_t x = uint32_t(image.xDpi > 0 ? image.xDpi : image.yDpi);
    const uint32_t y = uint32_t(image.yDpi > 0 ? image.yDpi : image.xDpi);
    if (ExifEntry* entry = singleValueEntry(ifd0, EXIF_TAG_X_RESOLUTION, EXIF_FORMAT_RATIONAL))
        exif_set_rational(entry->data, order, ExifRational{x, 1});
    if (ExifEntry* entry = singleValueEntry(ifd0, EXIF_TAG_Y_RESOLUTION, EXIF_FORMAT_RATIONAL))
        exif_set_rational(entry->data, order, ExifRational{y, 1});
    setShort(ifd0, order, EXIF_TAG_RESOLUTION_UNIT, 2);  // inches
}

// PixelXDimension and PixelYDimension may be SHORT or LONG; a SHORT stays one while it can hold
// the value.
void setDimension(ExifContent* exifIfd, ExifByteOrder order, ExifTag tag, int value) {
    ExifEntry* entry = exif_content_get_entry(exifIfd, tag);
    if (entry != nullptr && entry->format == EXIF_FORMAT_SHORT && entry->components == 1 &&
        entry->data != nullptr && entry->size >= 2 && value <= 0xFFFF) {
        exif_set_short(entry->data, order, uint16_t(value));
        return;
    }
    if ((entry = singleValueEntry(exifIfd, tag, EXIF_FORMAT_LONG)))
        exif_set_long(entry->data, order, uint32_t(value));
}

void makeTrue(LoadedExif& exif, const WrittenImage& image) {
    const ExifByteOrder order = exif.order();
    ExifContent* ifd0 = exif.ifd(EXIF_IFD_0);
    ExifContent* exifIfd = exif.ifd(EXIF_IFD_EXIF);
    ExifContent* interop = exif.ifd(EXIF_IFD_INTEROPERABILITY);

    // The thumbnail and its directory.
    ExifContent* ifd1 = exif.ifd(EXIF_IFD_1);
    while (ifd1->count > 0)
        exif_content_remove_entry(ifd1, ifd1->entries[ifd1->count - 1]);
    ExifData* data = exif.data();
    if (data->data != nullptr) {
        std::free(data->data);  // libexif's default allocator is malloc
        data->data = nullptr;
    }
    data->size = 0;

    for (const uint16_t tag : kStorageTags)
        removeTag(ifd0, tag);
    removeTag(interop, kRelatedImageWidth);
    removeTag(interop, kRelatedImageLength);

    if (exif_content_get_entry(ifd0, EXIF_TAG_ORIENTATION) != nullptr)
        setShort(ifd0, order, EXIF_TAG_ORIENTATION, 1);
    setResolution(ifd0, order, image);
    removeTag(exifIfd, EXIF_TAG_COMPRESSED_BITS_PER_PIXEL);  // the source's compression
    if (image.tiff) {
        // Tags EXIF records for compressed data only.
        for (const ExifTag tag : {EXIF_TAG_COMPONENTS_CONFIGURATION, EXIF_TAG_PIXEL_X_DIMENSION,
                                  EXIF_TAG_PIXEL_Y_DIMENSION})
            removeTag(exifIfd, tag);
        while (interop->count > 0)
            exif_content_remove_entry(interop, interop->entries[interop->count - 1]);
    } else if (exifIfd->count > 0) {
        setDimension(exifIfd, order, EXIF_TAG_PIXEL_X_DIMENSION, image.width);
        setDimension(exifIfd, order, EXIF_TAG_PIXEL_Y_DIMENSION, image.height);
    }
    // Without a profile a reader takes the pixels as sRGB. With one, the profile is the source's
    // own and the source's statement about it stays.
    if (!image.withProfile) {
        ExifEntry* space = exif_content_get_entry(exifIfd, EXIF_TAG_COLOR_SPACE);
        if (space != nullptr && (space->format != EXIF_FORMAT_SHORT || space->size < 2 ||
                                 exif_get_short(space->data, order) != 1)) {
            setShort(exifIfd, order, EXIF_TAG_COLOR_SPACE, 1);
            // The interoperability index named the old colour space.
            while (interop->count > 0)
                exif_content_remove_entry(interop, interop->entries[interop->count - 1]);
        }
    }
}

// Maker notes that count their offsets from their own start, or carry a TIFF header of their
// own, read the same wherever they are: these are copied byte for byte. libexif rewrites the
// others it knows (Canon, Pentax, older Olympus) with their offsets moved, and would lose the
// nested directories of these.
bool isSelfContainedMakerNote(const ExifEntry* note) {
    static constexpr std::string_view kSignatures[] = {
        std::string_view("Nikon\0\2", 7), std::string_view("FUJIFILM", 8),
        std::string_view("OLYMPUS\0", 8), std::string_view("OM SYSTEM\0", 10),
        std::string_view("Apple iOS\0", 10)};
    if (note == nullptr || note->data == nullptr)
        return false;
    const std::string_view data(reinterpret_cast<const char*>(note->data), note->size);
    return std::any_of(std::begin(kSignatures), std::end(kSignatures),
                       [&](std::string_view s) { return data.substr(0, s.size()) == s; });
}

bool hasEntries(const LoadedExif& exif) {
    return exif.ifd(EXIF_IFD_0)->count > 0 || exif.ifd(EXIF_IFD_EXIF)->count > 0 ||
           exif.ifd(EXIF_IFD_GPS)->count > 0;
}

// The saved block without libexif's APP1 identifier; empty when saving failed.
std::vector<uint8_t> save(ExifData* data) {
    unsigned char* saved = nullptr;
    unsigned int size = 0;
    exif_data_save_data(data, &saved, &size);
    std::vector<uint8_t> block;
    if (saved != nullptr && size > sizeof kExifIdentifier &&
        std::memcmp(saved, kExifIdentifier, sizeof kExifIdentifier) == 0)
        block.assign(saved + sizeof kExifIdentifier, saved + size);
    std::free(saved);
    return block;
}

}  // namespace

bool isStorageTag(uint16_t tag) {
    return std::find(kStorageTags.begin(), kStorageTags.end(), tag) != kStorageTags.end();
}

std::vector<uint8_t> rewriteExif(const std::vector<uint8_t>& block, const WrittenImage& image,
                                 size_t maxBytes, std::vector<std::string>& notes,
                                 bool withMakerNote) {
    if (block.empty())
        return {};
    if (block.size() > kLargestExifBlock) {
        notes.push_back("EXIF block too large to read: left out");
        return {};
    }
    LoadedExif exif(block);
    if (exif.log().noMemory) {
        notes.push_back("not enough memory for the EXIF block: left out");
        return {};
    }
    if (!hasEntries(exif)) {
        notes.push_back("EXIF block damaged or empty: left out");
        return {};
    }
    if (exif.log().corrupt)
        notes.push_back("damaged EXIF entries left out");

    if (isSelfContainedMakerNote(
            exif_content_get_entry(exif.ifd(EXIF_IFD_EXIF), EXIF_TAG_MAKER_NOTE)))
        exif_data_set_option(exif.data(), EXIF_DATA_OPTION_DONT_CHANGE_MAKER_NOTE);
    if (!withMakerNote)
        removeTag(exif.ifd(EXIF_IFD_EXIF), EXIF_TAG_MAKER_NOTE);
    makeTrue(exif, image);
    std::vector<uint8_t> result = save(exif.data());
    if (result.size() > maxBytes) {
        removeTag(exif.ifd(EXIF_IFD_EXIF), EXIF_TAG_MAKER_NOTE);
        result = save(exif.data());
        if (result.size() > maxBytes) {
            notes.push_back("EXIF block too large for the output format: left out");
            return {};
        }
        notes.push_back("EXIF maker note too large for the output format: left out");
    }
    if (result.empty())
        notes.push_back("EXIF block could not be written: left out");
    return result;
}

std::vector<uint8_t> exifTiffStructure(const uint8_t* data, size_t size) {
    if (size >= sizeof kExifIdentifier &&
        std::memcmp(data, kExifIdentifier, sizeof kExifIdentifier) == 0) {
        data += sizeof kExifIdentifier;
        size -= sizeof kExifIdentifier;
    }
    const bool intel = size >= 8 && std::memcmp(data, "II*\0", 4) == 0;
    const bool motorola = size >= 8 && std::memcmp(data, "MM\0*", 4) == 0;
    if (!intel && !motorola)
        return {};
    return std::vector<uint8_t>(data, data + size);
}

int exifOrientation(const std::vector<uint8_t>& block) {
    if (block.empty() || block.size() > kLargestExifBlock)
        return 1;
    const LoadedExif exif(block);
    if (exif.data() == nullptr)
        return 1;
    ExifEntry* entry = exif_content_get_entry(exif.ifd(EXIF_IFD_0), EXIF_TAG_ORIENTATION);
    if (entry == nullptr || entry->format != EXIF_FORMAT_SHORT || entry->components < 1 ||
        entry->size < 2)
        return 1;
    const int orientation = exif_get_short(entry->data, exif.order());
    return orientation >= 1 && orientation <= 8 ? orientation : 1;
}

namespace {

// The bytes of a TIFF structure read in its own byte order, every read checked against its end.
class TiffBytes {
  public:
    TiffBytes(uint8_t* data, size_t size) : data_(data), size_(size) {
        little_ = size >= 8 && data[0] == 'I' && data[1] == 'I';
        valid_ = size >= 8 && (little_ || (data[0] == 'M' && data[1] == 'M')) && read16(2) == 42;
    }
    bool valid() const { return valid_; }
    bool holds(size_t at, size_t bytes) const { return at <= size_ && bytes <= size_ - at; }
    uint32_t read16(size_t at) const {
        return little_ ? uint32_t(data_[at]) | uint32_t(data_[at + 1]) << 8
                       : uint32_t(data_[at]) << 8 | uint32_t(data_[at + 1]);
    }
    uint32_t read32(size_t at) const {
        return little_ ? read16(at) | read16(at + 2) << 16 : read16(at) << 16 | read16(at + 2);
    }
    void write16(size_t at, uint32_t value) {
        data_[at + (little_ ? 0 : 1)] = uint8_t(value);
        data_[at + (little_ ? 1 : 0)] = uint8_t(value >> 8);
    }
    void write32(size_t at, uint32_t value) {
        write16(at + (little_ ? 0 : 2), value & 0xFFFF);
        write16(at + (little_ ? 2 : 0), value >> 16);
    }

  private:
    uint8_t* data_;
    size_t size_;
    bool little_ = false;
    bool valid_ = false;
};

// Where the first directory keeps its resolution: the offsets of the two RATIONAL values and of
// the unit's SHORT (0: not held so).
struct ResolutionPlace {
    size_t x = 0;
    size_t y = 0;
    size_t unit = 0;
};

ResolutionPlace findResolution(const TiffBytes& tiff) {
    ResolutionPlace place;
    const size_t directory = tiff.read32(4);
    if (directory < 8 || !tiff.holds(directory, 2))
        return place;
    const size_t count = tiff.read16(directory);
    for (size_t i = 0; i < count; ++i) {
        const size_t entry = directory + 2 + 12 * i;
        if (!tiff.holds(entry, 12))
            break;
        const uint32_t tag = tiff.read16(entry);
        const uint32_t type = tiff.read16(entry + 2);
        if (tiff.read32(entry + 4) != 1)
            continue;
        constexpr uint32_t kShort = 3;
        constexpr uint32_t kRational = 5;
        if ((tag == EXIF_TAG_X_RESOLUTION || tag == EXIF_TAG_Y_RESOLUTION) && type == kRational) {
            const size_t value = tiff.read32(entry + 8);
            if (value >= 8 && tiff.holds(value, 8))
                (tag == EXIF_TAG_X_RESOLUTION ? place.x : place.y) = value;
        } else if (tag == EXIF_TAG_RESOLUTION_UNIT && type == kShort) {
            place.unit = entry + 8;
        }
    }
    return place;
}

}  // namespace

InPlaceEdit setExifResolutionInPlace(uint8_t* block, size_t size, uint32_t xDpi, uint32_t yDpi) {
    TiffBytes tiff(block, size);
    if (!tiff.valid())
        return InPlaceEdit::Impossible;
    const ResolutionPlace place = findResolution(tiff);
    if (place.x == 0 || place.y == 0 || (place.x == place.y && xDpi != yDpi))
        return InPlaceEdit::Impossible;
    // No unit is inches; 1 states none.
    const uint32_t unit = place.unit != 0 ? tiff.read16(place.unit) : 2;
    const double perInch = unit == 2 ? 1.0 : unit == 3 ? 2.54 : 0.0;
    auto states = [&](size_t at, uint32_t dpi) {
        const uint32_t denominator = tiff.read32(at + 4);
        return denominator != 0 &&
               std::lround(double(tiff.read32(at)) / denominator * perInch) == long(dpi);
    };
    if (states(place.x, xDpi) && states(place.y, yDpi))
        return InPlaceEdit::Unchanged;
    tiff.write32(place.x, xDpi);
    tiff.write32(place.x + 4, 1);
    tiff.write32(place.y, yDpi);
    tiff.write32(place.y + 4, 1);
    if (place.unit != 0)
        tiff.write16(place.unit, 2);
    return InPlaceEdit::Rewritten;
}

}  // namespace pixavant::imaging
