// Reader for the TGA images GraphicsMagick's coder refuses or misreads: gray with alpha (16 bits a
// pixel, raw or run-length encoded), and images stored right to left, which it shows mirrored.
// stb_image decodes them (it takes rows top-down or bottom-up, but every row left to right: the
// mirror is undone here); every other TGA goes through GraphicsMagick.

#include <stb_image.h>

#include <QFile>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "imaging/ErrorDetail.h"
#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"
#include "imaging/PixelOps.h"

namespace pixavant::imaging {

namespace {

struct TgaHeader {
    int width = 0;
    int height = 0;
    int depth = 0;
    bool rle = false;
    bool gray = false;
    bool rightToLeft = false;
};

bool readHeader(const FileHeader& header, TgaHeader& tga) {
    static const QStringList kSuffixes = {"tga", "icb", "vda", "vst"};
    const QByteArray& b = header.bytes;
    if (!kSuffixes.contains(header.suffix) || b.size() < 18)
        return false;
    const auto byte = [&b](int at) { return unsigned(uint8_t(b.at(at))); };
    const unsigned mapType = byte(1), type = byte(2), depth = byte(16), alphaBits = byte(17) & 15;
    const bool grayAlpha = (type == 3 || type == 11) && depth == 16;
    const bool colourAlpha = (type == 2 || type == 10) && depth == 32 && alphaBits == 0;
    const bool mapped = type == 1 || type == 9;
    const bool known = mapped || type == 2 || type == 3 || type == 10 || type == 11;
    const bool rightToLeft = known && (byte(17) & 0x10) != 0;
    if (mapType != (mapped ? 1u : 0u) || !(grayAlpha || colourAlpha || rightToLeft))
        return false;
    tga.width = int(byte(12) | byte(13) << 8);
    tga.height = int(byte(14) | byte(15) << 8);
    tga.depth = int(depth);
    tga.rle = type >= 9;
    tga.gray = type == 3 || type == 11;
    tga.rightToLeft = rightToLeft;
    return true;
}

uint8_t overWhite(unsigned c, unsigned a) {
    return uint8_t((c * a + 255u * (255u - a) + 127u) / 255u);
}

struct StbFree {
    void operator()(unsigned char* pixels) const { stbi_image_free(pixels); }
};

class TgaReader final : public FormatReader {
  public:
    bool recognises(const FileHeader& header) const override {
        TgaHeader tga;
        return readHeader(header, tga);
    }

    Status readInfo(const QString&, const FileHeader& header, FileInfoRecord& info) override {
        TgaHeader tga;
        if (!readHeader(header, tga))
            return kErrFormat;
        if (const Status status = checkImageSize(tga.width, tga.height); status != kSuccess)
            return status;
        info.Format = format::kTga;
        info.Width = tga.width;
        info.Height = tga.height;
        info.BitsPerPixel = tga.depth;
        info.Compression = tga.rle ? QStringLiteral("RLE") : QStringLiteral("Uncompressed");
        return kSuccess;
    }

    Status read(const QString& path, const FileHeader& header, const ReadOptions&,
                DecodedImage& image, Progress& progress) override {
        TgaHeader tga;
        if (!readHeader(header, tga))
            return kErrFormat;
        if (const Status status = checkImageSize(tga.width, tga.height); status != kSuccess)
            return status;
        if (!progress.report(0))
            return kErrCancelled;
        std::unique_ptr<FILE, int (*)(FILE*)> file(
            std::fopen(QFile::encodeName(path).constData(), "rb"), std::fclose);
        if (!file)
            return kErrFileNotFound;
        int width = 0, height = 0, channels = 0;
        const int stored = tga.gray ? 2 : 4;
        std::unique_ptr<unsigned char, StbFree> pixels(
            stbi_load_from_file(file.get(), &width, &height, &channels, stored));
        if (!pixels) {
            noteErrorDetail(QString::fromUtf8(stbi_failure_reason()));
            return kErrCorrupt;
        }
        if (width != tga.width || height != tga.height)
            return kErrCorrupt;

        DecodedImage decoded;
        Raster& raster = decoded.raster;
        raster.width = width;
        raster.height = height;
        raster.format = tga.gray ? PixelFormat::Gray8 : PixelFormat::Rgb8;
        if (!raster.allocate())
            return kErrNoMemory;
        const size_t count = size_t(width) * size_t(height);
        const unsigned char* in = pixels.get();
        bool alpha = false;
        for (size_t i = 0; i < count && !alpha; ++i)
            alpha = in[i * size_t(stored) + size_t(stored) - 1] != 0;
        const int colours = stored - 1;
        uint8_t* out = raster.pixels.data();
        for (size_t i = 0; i < count; ++i, in += stored) {
            const unsigned a = alpha ? in[colours] : 255u;
            for (int c = 0; c < colours; ++c)
                *out++ = overWhite(in[c], a);
        }
        if (tga.rightToLeft)
            if (const Status mirrored = applyOrientation(raster, 2); mirrored != kSuccess)
                return mirrored;
        if (!progress.report(100))
            return kErrCancelled;
        image = std::move(decoded);
        return kSuccess;
    }
};

}  // namespace

std::unique_ptr<FormatReader> makeTgaReader() {
    return std::make_unique<TgaReader>();
}

}  // namespace pixavant::imaging
