#include "MagickFixtures.h"

#include <QByteArray>
#include <QFile>
#include <algorithm>
#include <bit>
#include <cstring>

#include "imaging/Format.h"
#include "imaging/ImagingStatus.h"
#include "imaging/MagickRuntime.h"

namespace pixavant::testsupport {

namespace magick = imaging::magick;
using testing::putLe16;
using testing::putLe32;

std::vector<uint8_t> quadrantPattern(int width, int height) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
            const bool right = x >= width / 2, bottom = y >= height / 2;
            p[0] = uint8_t((!bottom && !right) || (bottom && right) ? 255 : 0);
            p[1] = uint8_t(right ? 255 : 0);
            p[2] = uint8_t(bottom ? 255 : 0);
        }
    return rgb;
}

namespace {

magick::ImagePtr makeImage(int width, int height, const std::vector<uint8_t>& rgb,
                           const MagickWriteOptions& options) {
    magick::Exception exception;
    std::vector<uint8_t> pixels;
    const char* map = "RGB";
    if (options.alpha) {
        map = "RGBA";
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* p = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
                pixels.insert(pixels.end(), {p[0], p[1], p[2], uint8_t(x >= width / 2 ? 0 : 255)});
            }
    } else {
        pixels = rgb;
    }
    magick::ImagePtr image(ConstituteImage(static_cast<unsigned long>(width),
                                           static_cast<unsigned long>(height), map, CharPixel,
                                           pixels.data(), exception.get()));
    if (!image)
        return nullptr;
    if (options.gray)
        SetImageType(image.get(), GrayscaleType);
    if (options.palette)
        SetImageType(image.get(), PaletteType);
    if (!options.icc.isEmpty())
        SetImageProfile(image.get(), "ICM",
                        reinterpret_cast<const unsigned char*>(options.icc.constData()),
                        size_t(options.icc.size()));
    if (options.dpi > 0) {
        image->x_resolution = image->y_resolution = options.dpi;
        image->units = PixelsPerInchResolution;
    }
    return image;
}

}  // namespace

bool writeMagickImage(const QString& path, int width, int height, const std::vector<uint8_t>& rgb,
                      const MagickWriteOptions& options) {
    magick::ensureInitialized();
    std::vector<uint8_t> pixels = rgb;
    if (options.manyColours)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                pixels[(size_t(height / 2) * size_t(width) + size_t(x)) * 3 + size_t(c)] =
                    uint8_t(x * 255 / std::max(1, width - 1));
    if (options.frames > 1) {
        // The first frame, then the blocks of a solid blue one repeated before the trailer.
        MagickWriteOptions single = options;
        single.frames = 1;
        std::vector<uint8_t> blue(rgb.size(), 0);
        for (size_t i = 2; i < blue.size(); i += 3)
            blue[i] = 255;
        const QString other = path + ".frame";
        if (!writeMagickImage(path, width, height, pixels, single) ||
            !writeMagickImage(other, width, height, blue, single))
            return false;
        QByteArray head = testing::readBytes(path);
        const QByteArray frame = testing::readBytes(other).mid(13).chopped(1);
        QFile::remove(other);
        if (!head.endsWith(';') || frame.isEmpty())
            return false;
        head.chop(1);
        return writeBytes(path, head + frame.repeated(options.frames - 1) + ';');
    }
    magick::ImagePtr image = makeImage(width, height, pixels, options);
    if (!image)
        return false;
    magick::ImageInfoPtr info(CloneImageInfo(nullptr));
    const QByteArray name = options.coder.toLatin1() + ':' + QFile::encodeName(path);
    if (name.size() >= MaxTextExtent)
        return false;
    std::strcpy(info->filename, name.constData());
    std::strcpy(image->filename, name.constData());
    info->adjoin = MagickTrue;
    if (options.rle) {
        info->compression = RLECompression;
        image->compression = RLECompression;
    } else {
        image->compression = NoCompression;
    }
    if (!WriteImage(info.get(), image.get()))
        return false;
    return image->exception.severity < ErrorException;
}

QByteArray bmpFile(int width, int height, const BmpLayout& layout) {
    const std::vector<uint8_t> rgb = quadrantPattern(width, height);
    const int bits = layout.bits;
    const int stride = (width * bits + 31) / 32 * 4;
    const bool fieldsAfterHeader = layout.headerSize == 40 && layout.compression != 0;
    const int fieldBytes = fieldsAfterHeader ? (layout.compression == 6 ? 16 : 12) : 0;
    const uint32_t offset = uint32_t(14 + layout.headerSize + fieldBytes);
    std::array<uint32_t, 4> masks = layout.masks;
    if (layout.compression == 0)  // the fixed layouts
        masks = bits == 16 ? std::array<uint32_t, 4>{0x7c00, 0x3e0, 0x1f, 0}
                           : std::array<uint32_t, 4>{0xff0000, 0xff00, 0xff, 0xff000000};

    QByteArray b("BM");
    putLe32(b, offset + uint32_t(stride * height));
    putLe32(b, 0);
    putLe32(b, offset);
    QByteArray header;
    for (const int v : {layout.headerSize, width, height})
        putLe32(header, uint32_t(v));
    putLe16(header, 1);
    putLe16(header, uint32_t(bits));
    for (const uint32_t v : {layout.compression, uint32_t(stride * height), 2835u, 2835u, 0u, 0u})
        putLe32(header, v);       // 2835 per metre: 72 dpi
    if (layout.headerSize != 64)  // OS/2 2.x has fields of its own here: left zero
        for (int i = 0; i < 4 && header.size() < layout.headerSize; ++i)
            putLe32(header, layout.masks[size_t(i)]);
    b += header + QByteArray(layout.headerSize - header.size(), '\0');
    for (int i = 0; i < fieldBytes / 4; ++i)
        putLe32(b, layout.masks[size_t(i)]);

    const auto field = [](uint32_t mask, unsigned value) {
        if (mask == 0)
            return 0u;
        const int shift = std::countr_zero(mask);
        return uint32_t((value * (mask >> shift) + 127) / 255) << shift;
    };
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = rgb.data() + (size_t(y) * size_t(width) + size_t(x)) * 3;
            const uint32_t value = field(masks[0], p[0]) | field(masks[1], p[1]) |
                                   field(masks[2], p[2]) | field(masks[3], layout.alpha);
            for (int i = 0; i < bits / 8; ++i)
                row += char(value >> (8 * i));
        }
        b += row + QByteArray(stride - row.size(), '\0');
    }
    return b;
}

QByteArray iconFile(int type) {
    QByteArray b;
    for (const uint32_t v : {0, type, 1})
        putLe16(b, v);
    b += QByteArray("\x04\x04\0\0", 4);  // directory entry: 4 x 4, no palette
    putLe16(b, type == 1 ? 1 : 0);       // planes and bit count, or the cursor's hot spot
    putLe16(b, type == 1 ? 32 : 0);
    for (const uint32_t v : {40 + 4 * 4 * 4 + 4 * 4, 6 + 16, 40, 4, 8})  // 8: image and mask
        putLe32(b, v);
    putLe16(b, 1);
    putLe16(b, 32);
    b += QByteArray(24, '\0');
    for (int y = 3; y >= 0; --y)  // bottom-up, BGRA
        for (int x = 0; x < 4; ++x)
            b += y < 2 ? QByteArray("\0\0\xff\xff", 4) : QByteArray("\xff\0\0\xff", 4);
    return b + QByteArray(16, '\0');  // AND mask: all opaque
}

int decodeFile(const QString& path, imaging::DecodedImage& image, imaging::Progress& progress) {
    imaging::FileHeader header;
    qint64 size = 0;
    if (const int status = imaging::readFileHeader(path, header, size); status != imaging::kSuccess)
        return status;
    imaging::FormatReader* reader = imaging::FormatRegistry::instance().readerFor(header);
    if (reader == nullptr)
        return imaging::kErrFormat;
    return reader->read(path, header, imaging::ReadOptions{}, image, progress);
}

}  // namespace pixavant::testsupport
