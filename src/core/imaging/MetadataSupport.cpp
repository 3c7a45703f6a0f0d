#include "imaging/MetadataSupport.h"

// exiv2 0.27 hands images out in std::auto_ptr, deprecated since C++11: its header and this file's
// uses of Image::AutoPtr and BasicIo::AutoPtr would otherwise warn.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#include <exiv2/exiv2.hpp>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <exception>
#include <map>
#include <mutex>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {

std::mutex xmpToolkitMutex;

void lockXmpToolkit(void* data, bool lock) {
    auto* mutex = static_cast<std::mutex*>(data);
    if (lock)
        mutex->lock();
    else
        mutex->unlock();
}

// exiv2 prints its warnings unless told not to, and its XMP toolkit must be set up once, with a
// lock, before any thread uses it.
void initialiseExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::enableBMFF(true);
        Exiv2::XmpParser::initialize(lockXmpToolkit, &xmpToolkitMutex);
    });
}

std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string reason(const std::exception& e) {
    std::string text = e.what();
    if (text.size() > 120)
        text.resize(120);
    return text;
}

// The EXIF that describes the picture: the first image's directory without its storage tags, the
// EXIF, GPS and interoperability directories, and the maker note. Thumbnails and other images of
// the file go.
Exiv2::ExifData pictureExif(const Exiv2::ExifData& all, bool withMakerNote) {
    Exiv2::ExifData kept;
    for (const Exiv2::Exifdatum& datum : all) {
        const std::string group = datum.groupName();
        const bool picture = (group == "Image" && !isStorageTag(datum.tag())) || group == "Photo" ||
                             group == "GPSInfo" || group == "Iop";
        const bool makerNote =
            Exiv2::ExifTags::isMakerGroup(group) || (group == "Photo" && datum.tag() == 0x927C);
        if (makerNote ? withMakerNote : picture)
            kept.add(datum);
    }
    return kept;
}

std::vector<uint8_t> encodeExif(const Exiv2::ExifData& exif, Exiv2::ByteOrder order) {
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::bigEndian : order,
                              exif);
    return {blob.begin(), blob.end()};
}

std::vector<uint8_t> toBytes(const Exiv2::DataBuf& buffer) {
    if (buffer.pData_ == nullptr || buffer.size_ <= 0)
        return {};
    return {buffer.pData_, buffer.pData_ + buffer.size_};
}

void readExif(Exiv2::Image& image, ImageMeta& meta) {
    if (!meta.embedded.exif.empty() || image.exifData().empty())
        return;
    std::vector<uint8_t> block = encodeExif(pictureExif(image.exifData(), true), image.byteOrder());
    if (block.size() > kLargestExifBlock) {
        block = encodeExif(pictureExif(image.exifData(), false), image.byteOrder());
        meta.notes.push_back("EXIF maker note too large to carry: left out");
    }
    if (block.size() > kLargestExifBlock) {
        meta.notes.push_back("EXIF block too large to carry: left out");
        return;
    }
    // A block of nothing but its header and an empty directory says nothing.
    if (block.size() > 8 + 2 + 4)
        meta.embedded.exif = std::move(block);
}

void readIptc(Exiv2::Image& image, ImageMeta& meta) {
    if (!meta.embedded.iptc.empty() || image.iptcData().empty())
        return;
    meta.embedded.iptc = toBytes(Exiv2::IptcParser::encode(image.iptcData()));
}

void readXmp(Exiv2::Image& image, ImageMeta& meta) {
    const std::string& packet = image.xmpPacket();
    if (!meta.embedded.xmp.empty() || packet.empty())
        return;
    meta.embedded.xmp.assign(packet.begin(), packet.end());
}

bool readWholeFile(const QString& path, std::vector<uint8_t>& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray all = file.readAll();
    if (all.size() != file.size())
        return false;
    bytes.assign(all.begin(), all.end());
    return true;
}

bool writeWholeFile(const QString& path, const Exiv2::byte* data, size_t size) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = true;
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        data += n;
        size -= size_t(n);
    }
    return ::close(fd) == 0 && ok;
}

// The EXIF of `block` added to what the file already states (its image tags stay). Entries are
// matched by directory and tag number: names are not unique (maker notes name two tags alike).
void mergeExif(Exiv2::ExifData& into, const std::vector<uint8_t>& block) {
    Exiv2::ExifData carried;
    Exiv2::ExifParser::decode(carried, block.data(), uint32_t(block.size()));
    auto carries = [&](const Exiv2::Exifdatum& datum) {
        return std::any_of(carried.begin(), carried.end(), [&](const Exiv2::Exifdatum& c) {
            return c.tag() == datum.tag() && c.groupName() == datum.groupName();
        });
    };
    for (auto it = into.begin(); it != into.end();)
        it = carries(*it) ? into.erase(it) : std::next(it);
    for (const Exiv2::Exifdatum& datum : carried) {
        if (!(datum.groupName() == "Image" && isStorageTag(datum.tag())))
            into.add(datum);
    }
}

// Edits of a decoded packet, found by key text: an XmpKey of a namespace exiv2 does not know
// would throw.
class XmpEditor {
  public:
    explicit XmpEditor(Exiv2::XmpData& xmp) : xmp_(xmp) {}

    void set(const std::string& key, const std::string& value) {
        const auto it = std::find_if(xmp_.begin(), xmp_.end(),
                                     [&](const Exiv2::Xmpdatum& d) { return d.key() == key; });
        if (it != xmp_.end() && it->toString() != value) {
            it->setValue(value);
            changed_ = true;
        }
    }
    // Every property whose key is `key` or starts with it and a structure or array step.
    void erase(const std::string& key) {
        for (auto it = xmp_.begin(); it != xmp_.end();) {
            const std::string& k = it->key();
            const bool match =
                k.compare(0, key.size(), key) == 0 &&
                (k.size() == key.size() || k[key.size()] == '[' || k[key.size()] == '/');
            if (match) {
                it = xmp_.erase(it);
                changed_ = true;
            } else {
                ++it;
            }
        }
    }
    void addMissing(const Exiv2::XmpData& other) {
        for (const Exiv2::Xmpdatum& datum : other) {
            const std::string key = datum.key();
            if (std::none_of(xmp_.begin(), xmp_.end(),
                             [&](const Exiv2::Xmpdatum& d) { return d.key() == key; })) {
                xmp_.add(datum);
                changed_ = true;
            }
        }
    }
    bool changed() const { return changed_; }

  private:
    Exiv2::XmpData& xmp_;
    bool changed_ = false;
};

void makeXmpTrue(XmpEditor& edit, const WrittenImage& image, const char* mimeType) {
    const std::string width = std::to_string(image.width);
    const std::string height = std::to_string(image.height);
    edit.set("Xmp.tiff.Orientation", "1");
    edit.set("Xmp.tiff.ImageWidth", width);
    edit.set("Xmp.tiff.ImageLength", height);
    edit.set("Xmp.exif.PixelXDimension", width);
    edit.set("Xmp.exif.PixelYDimension", height);
    const int32_t x = image.xDpi > 0 ? image.xDpi : image.yDpi;
    const int32_t y = image.yDpi > 0 ? image.yDpi : image.xDpi;
    if (x > 0) {
        edit.set("Xmp.tiff.XResolution", std::to_string(x) + "/1");
        edit.set("Xmp.tiff.YResolution", std::to_string(y) + "/1");
        edit.set("Xmp.tiff.ResolutionUnit", "2");
    } else {
        edit.erase("Xmp.tiff.XResolution");
        edit.erase("Xmp.tiff.YResolution");
        edit.erase("Xmp.tiff.ResolutionUnit");
    }
    if (mimeType != nullptr)
        edit.set("Xmp.dc.format", mimeType);
    if (!image.withProfile) {
        edit.set("Xmp.exif.ColorSpace", "1");
        edit.erase("Xmp.photoshop.ICCProfile");
    }
    // How the source stored its pixels, digests of its values, its thumbnails, and the pointer to
    // extended XMP, which is not carried.
    for (const char* key :
         {"Xmp.tiff.NativeDigest", "Xmp.exif.NativeDigest", "Xmp.tiff.Compression",
          "Xmp.tiff.PhotometricInterpretation", "Xmp.tiff.BitsPerSample",
          "Xmp.tiff.SamplesPerPixel", "Xmp.tiff.PlanarConfiguration", "Xmp.tiff.YCbCrSubSampling",
          "Xmp.xmpNote.HasExtendedXMP"})
        edit.erase(key);
    edit.erase("Xmp.xmp.Thumbnails");
}

}  // namespace

void readEmbeddedMetadata(const QString& path, ImageMeta& meta) {
    initialiseExiv2();
    try {
        const std::string file = localPath(path);
        if (Exiv2::ImageFactory::getType(file) == Exiv2::ImageType::none)
            return;
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(file, false);
        if (image.get() == nullptr)
            return;
        image->readMetadata();
        readExif(*image, meta);
        readXmp(*image, meta);
        readIptc(*image, meta);
    } catch (const std::exception& e) {
        meta.notes.push_back("metadata unreadable: left out (" + reason(e) + ")");
    }
}

namespace {

// EXIF and XMP through exiv2, which rewrites the whole file in memory and puts it back.
Status addTiffExifAndXmp(const QString& path, const EmbeddedMetadata& metadata,
                         std::vector<std::string>& notes) {
    initialiseExiv2();
    std::vector<uint8_t> original;
    if (!readWholeFile(path, original))
        return kErrWrite;
    try {
        Exiv2::BasicIo::AutoPtr memory(new Exiv2::MemIo(original.data(), long(original.size())));
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(memory);
        image->readMetadata();
        if (!metadata.exif.empty())
            mergeExif(image->exifData(), metadata.exif);
        if (!metadata.xmp.empty()) {
            image->setXmpPacket(std::string(metadata.xmp.begin(), metadata.xmp.end()));
            image->writeXmpFromPacket(true);
        }
        image->writeMetadata();
        Exiv2::BasicIo& io = image->io();
        if (io.open() != 0)
            throw Exiv2::Error(Exiv2::kerDataSourceOpenFailed, "memory");
        const Exiv2::DataBuf rewritten = io.read(io.size());
        io.close();
        if (rewritten.size_ <= 0)
            throw Exiv2::Error(Exiv2::kerFailedToReadImageData);
        if (!writeWholeFile(path, rewritten.pData_, size_t(rewritten.size_)))
            return kErrWrite;
    } catch (const std::exception& e) {
        notes.push_back("EXIF and XMP could not be written to the TIFF file: left out (" +
                        reason(e) + ")");
    }
    return kSuccess;
}

int quietTiff(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// IPTC through libtiff, as the data sets came: exiv2 would re-encode them (and give a time that
// states no zone one of +00:00). The first directory is written again with the tag added.
Status addTiffIptc(const QString& path, const std::vector<uint8_t>& iptc,
                   std::vector<std::string>& notes) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr)
        return kErrNoMemory;
    TIFFOpenOptionsSetErrorHandlerExtR(options, quietTiff, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, quietTiff, nullptr);
    TIFF* tif = TIFFOpenExt(QFile::encodeName(path).constData(), "r+", options);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr)
        return kErrWrite;
    if (TIFFSetField(tif, TIFFTAG_RICHTIFFIPTC, uint32_t(iptc.size()), iptc.data()) != 1) {
        TIFFClose(tif);
        notes.push_back("IPTC data could not be written to the TIFF file: left out");
        return kSuccess;
    }
    const bool written = TIFFRewriteDirectory(tif) == 1;
    TIFFClose(tif);
    return written ? kSuccess : kErrWrite;
}

}  // namespace

Status addTiffMetadata(const QString& path, const EmbeddedMetadata& metadata,
                       std::vector<std::string>& notes) {
    if (!metadata.exif.empty() || !metadata.xmp.empty()) {
        if (const Status status = addTiffExifAndXmp(path, metadata, notes); status != kSuccess)
            return status;
    }
    if (!metadata.iptc.empty())
        return addTiffIptc(path, metadata.iptc, notes);
    return kSuccess;
}

std::vector<uint8_t> rewriteXmp(const std::vector<uint8_t>& packet, const WrittenImage& image,
                                const char* mimeType, const std::vector<uint8_t>& iptc,
                                std::vector<std::string>& notes) {
    if (packet.empty() && iptc.empty())
        return {};
    initialiseExiv2();
    try {
        Exiv2::XmpData xmp;
        bool damaged = false;
        if (!packet.empty() &&
            Exiv2::XmpParser::decode(xmp, std::string(packet.begin(), packet.end())) != 0) {
            notes.push_back("XMP packet damaged: left out");
            xmp.clear();
            damaged = true;
        }
        XmpEditor edit(xmp);
        if (!damaged)
            makeXmpTrue(edit, image, mimeType);
        if (!iptc.empty()) {
            Exiv2::IptcData records;
            if (Exiv2::IptcParser::decode(records, iptc.data(), uint32_t(iptc.size())) == 0) {
                Exiv2::XmpData fromIptc;
                Exiv2::copyIptcToXmp(records, fromIptc);
                edit.addMissing(fromIptc);
            } else {
                notes.push_back("IPTC data damaged: left out");
            }
        }
        if (!edit.changed())
            return damaged ? std::vector<uint8_t>{} : packet;
        if (xmp.empty())
            return {};
        std::string encoded;
        if (Exiv2::XmpParser::encode(encoded, xmp) != 0) {
            notes.push_back("XMP packet could not be rewritten: left out");
            return {};
        }
        return {encoded.begin(), encoded.end()};
    } catch (const std::exception& e) {
        notes.push_back("XMP packet could not be rewritten: left out (" + reason(e) + ")");
        return {};
    }
}

namespace {

// Every value of the maker note of an EXIF block, by group and tag, as exiv2 reads it.
using MakerValues = std::multimap<std::pair<std::string, uint16_t>, std::vector<uint8_t>>;

MakerValues makerValues(const std::vector<uint8_t>& block, std::string& make) {
    MakerValues values;
    Exiv2::ExifData exif;
    Exiv2::ExifParser::decode(exif, block.data(), uint32_t(block.size()));
    for (const Exiv2::Exifdatum& datum : exif) {
        const std::string group = datum.groupName();
        // exiv2's own record of where the note was found moves with it.
        if (group == "MakerNote")
            continue;
        const bool maker = Exiv2::ExifTags::isMakerGroup(group);
        if (!maker && !(group == "Photo" && datum.tag() == 0x927C))
            continue;
        if (maker && make.empty())
            make = group;
        std::vector<uint8_t> bytes(size_t(std::max<long>(datum.size(), 0)));
        if (!bytes.empty())
            datum.copy(bytes.data(), Exiv2::littleEndian);
        bytes.push_back(uint8_t(datum.typeId()));
        values.emplace(std::make_pair(group, datum.tag()), std::move(bytes));
    }
    return values;
}

}  // namespace

bool makerNoteReadsAlike(const std::vector<uint8_t>& source, const std::vector<uint8_t>& written,
                         std::string& make) {
    make.clear();
    if (source.empty())
        return true;
    initialiseExiv2();
    try {
        const MakerValues before = makerValues(source, make);
        if (before.empty())
            return true;
        std::string writtenMake;
        return makerValues(written, writtenMake) == before;
    } catch (const std::exception&) {
        return false;
    }
}

std::vector<uint8_t> iptcResources(const std::vector<uint8_t>& iptc) {
    if (iptc.empty() || iptc.size() > 0x7FFFFFF0)
        return {};
    // One resource: signature, identifier 0x0404, an empty name padded to two bytes, the size,
    // then the data sets as they came (exiv2 would re-encode them, and add a time zone to a
    // time that states none), padded to an even length.
    const uint32_t size = uint32_t(iptc.size());
    std::vector<uint8_t> resource = {'8',
                                     'B',
                                     'I',
                                     'M',
                                     0x04,
                                     0x04,
                                     0,
                                     0,
                                     uint8_t(size >> 24),
                                     uint8_t(size >> 16),
                                     uint8_t(size >> 8),
                                     uint8_t(size)};
    resource.insert(resource.end(), iptc.begin(), iptc.end());
    if (resource.size() % 2 != 0)
        resource.push_back(0);
    return resource;
}

std::vector<uint8_t> iptcOfResources(const uint8_t* resources, size_t size) {
    if (resources == nullptr || size == 0 || size > 0x7FFFFFFF)
        return {};
    initialiseExiv2();
    try {
        const Exiv2::byte* record = nullptr;
        uint32_t headerSize = 0;
        uint32_t dataSize = 0;
        if (Exiv2::Photoshop::locateIptcIrb(resources, long(size), &record, &headerSize,
                                            &dataSize) != 0 ||
            record == nullptr)
            return {};
        const Exiv2::byte* data = record + headerSize;
        if (data < resources || data + dataSize > resources + size)
            return {};
        return {data, data + dataSize};
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace pixavant::imaging
