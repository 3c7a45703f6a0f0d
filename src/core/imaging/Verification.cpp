#include "imaging/Verification.h"

#include <jxl/decode.h>

#include <QFile>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "imaging/Format.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {

// PSNR floors in dB per level. JPEG: quality factor 2 + 10 x level, levels 0 to 25. PIXAVANT
// lossy: quality factor -1 - level, levels 0 to 8. Each is the lowest PSNR measured at that level
// on ../shared/testdata less 10 %, rounded down (bench/verification_floors). The lowest figures
// come from small palette graphics of the BMP suite (one-pixel patterns of saturated colours);
// photographs stay 6 to 16 dB above them, so a floor catches an output that lost or garbled whole
// regions, not a slightly weaker encode.
constexpr std::array<double, 26> kJpegFloors = {38, 37, 34, 33, 32, 30, 28, 26, 25, 23, 21, 20, 18,
                                                17, 15, 14, 13, 12, 12, 12, 11, 11, 11, 11, 11, 11};
constexpr std::array<double, 9> kPixavantFloors = {16, 14, 13, 12, 11, 10, 10, 10, 10};

// The colour of pixel `i` of a raster: gray in c[0] (channels 1) or R, G, B (channels 3). Deep
// samples are given as they are when `deep`, otherwise reduced to 8 bits.
struct Sampler {
    const Raster& r;
    bool deep = false;
    int channels() const {
        return r.format == PixelFormat::Rgb8 || r.format == PixelFormat::Indexed8 ||
                       r.format == PixelFormat::Rgb16
                   ? 3
                   : 1;
    }
    int deepSample(size_t n) const {
        uint16_t v = 0;
        std::memcpy(&v, r.pixels.data() + 2 * n, 2);
        return deep ? int(v) : int((unsigned(v) + 128u) / 257u);
    }
    void at(size_t i, std::array<int, 3>& c) const {
        switch (r.format) {
            case PixelFormat::Rgb16:
                c = {deepSample(3 * i), deepSample(3 * i + 1), deepSample(3 * i + 2)};
                return;
            case PixelFormat::Gray16:
                c[0] = c[1] = c[2] = deepSample(i);
                return;
            case PixelFormat::Rgb8:
                c = {r.pixels[3 * i], r.pixels[3 * i + 1], r.pixels[3 * i + 2]};
                return;
            case PixelFormat::Indexed8: {
                const size_t index = r.pixels[i];
                const PaletteEntry entry =
                    index < r.palette.size() ? r.palette[index] : PaletteEntry{};
                c = {entry[0], entry[1], entry[2]};
                return;
            }
            default:
                c = {r.pixels[i], r.pixels[i], r.pixels[i]};
                return;
        }
    }
};

bool wellFormed(const Raster& r) {
    return !r.empty() && r.pixels.size() >= r.rowBytes() * size_t(r.height);
}

bool readBack(const QString& path, int page, DecodedImage& decoded, Progress& progress,
              Status& status, std::string& detail) {
    FileHeader header;
    qint64 size = 0;
    status = readFileHeader(path, header, size);
    if (status != kSuccess) {
        detail = "the output cannot be opened";
        return false;
    }
    FormatReader* reader = FormatRegistry::instance().readerFor(header);
    if (reader == nullptr) {
        detail = "the output is not in a format that can be read";
        status = kErrFormat;
        return false;
    }
    try {
        status = reader->readPage(path, header, ReadOptions{}, page, decoded, progress);
    } catch (const std::bad_alloc&) {
        status = kErrNoMemory;
    }
    if (status != kSuccess)
        detail = "the output cannot be read back (code " + std::to_string(status) + ")";
    return status == kSuccess;
}

int levelOf(int formatCode, int qualityFactor) {
    if (formatCode == format::kJpeg444)
        return std::clamp((std::clamp(qualityFactor, 2, 252) - 2 + 9) / 10, 0, 25);
    return std::clamp(-qualityFactor, 1, 9) - 1;
}

std::string formatted(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

}  // namespace

bool isLosslessFormat(int formatCode) {
    return formatCode != format::kJpeg444 && formatCode != format::kPixavant;
}

double psnrFloor(int formatCode, int qualityFactor) {
    if (formatCode == format::kJpeg444)
        return kJpegFloors[size_t(levelOf(formatCode, qualityFactor))];
    if (formatCode == format::kPixavant)
        return kPixavantFloors[size_t(levelOf(formatCode, qualityFactor))];
    return std::numeric_limits<double>::infinity();
}

double psnrOf(const Raster& written, const Raster& decoded) {
    if (!wellFormed(written) || !wellFormed(decoded) || written.width != decoded.width ||
        written.height != decoded.height)
        return -1;
    // Two deep rasters are compared at 16 bits, anything else at 8.
    const bool deep = written.isDeep() && decoded.isDeep();
    const Sampler a{written, deep};
    const Sampler b{decoded, deep};
    const int channels = std::max(a.channels(), b.channels());
    const size_t pixels = size_t(written.width) * size_t(written.height);
    double squared = 0;
    std::array<int, 3> ca{};
    std::array<int, 3> cb{};
    for (size_t i = 0; i < pixels; ++i) {
        a.at(i, ca);
        b.at(i, cb);
        for (int c = 0; c < channels; ++c) {
            const double d = ca[size_t(c)] - cb[size_t(c)];
            squared += d * d;
        }
    }
    if (squared == 0)
        return std::numeric_limits<double>::infinity();
    const double mse = squared / (double(pixels) * channels);
    const double peak = deep ? 65535.0 : 255.0;
    return 10.0 * std::log10(peak * peak / mse);
}

Status verifyOutput(const QString& path, const Raster& written, int formatCode, int qualityFactor,
                    Progress& progress, Verification& result, int page) {
    result = {};
    const bool lossless = isLosslessFormat(formatCode);
    result.method = lossless ? VerifyMethod::Identical : VerifyMethod::Psnr;
    result.floor = psnrFloor(formatCode, qualityFactor);
    DecodedImage decoded;
    Status status = kSuccess;
    if (!readBack(path, page, decoded, progress, status, result.detail))
        return status == kErrCancelled || status == kErrNoMemory ? status : kSuccess;
    const Raster& back = decoded.raster;
    if (back.width != written.width || back.height != written.height) {
        result.detail = "the output reads back as " + std::to_string(back.width) + " x " +
                        std::to_string(back.height) + " pixels instead of " +
                        std::to_string(written.width) + " x " + std::to_string(written.height);
        return kSuccess;
    }
    result.psnr = psnrOf(written, back);
    if (lossless) {
        result.passed = std::isinf(result.psnr) && result.psnr > 0;
        if (!result.passed)
            result.detail =
                "the output reads back with other pixels (PSNR " + formatted(result.psnr) + " dB)";
    } else {
        result.passed = result.psnr >= result.floor;
        if (!result.passed)
            result.detail = "the output reads back at a PSNR of " + formatted(result.psnr) +
                            " dB, below the level's floor of " + formatted(result.floor) + " dB";
    }
    return kSuccess;
}

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

// The JPEG file a PIXAVANT file rebuilds; false with `detail` when it holds none or is damaged.
bool reconstructJpeg(const QByteArray& input, std::vector<uint8_t>& jpeg, std::string& detail) {
    std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder ||
        JxlDecoderSubscribeEvents(
            decoder.get(), JXL_DEC_JPEG_RECONSTRUCTION | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder.get(), reinterpret_cast<const uint8_t*>(input.constData()),
                           size_t(input.size())) != JXL_DEC_SUCCESS) {
        detail = "not enough memory to read the output";
        return false;
    }
    JxlDecoderCloseInput(decoder.get());
    bool rebuilding = false;
    size_t used = 0;
    auto release = [&] { used = jpeg.size() - JxlDecoderReleaseJPEGBuffer(decoder.get()); };
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
            case JXL_DEC_JPEG_RECONSTRUCTION:
                rebuilding = true;
                jpeg.resize(size_t(input.size()) + 65536);
                if (JxlDecoderSetJPEGBuffer(decoder.get(), jpeg.data(), jpeg.size()) !=
                    JXL_DEC_SUCCESS)
                    break;
                continue;
            case JXL_DEC_JPEG_NEED_MORE_OUTPUT:
                release();
                jpeg.resize(jpeg.size() * 2);
                if (JxlDecoderSetJPEGBuffer(decoder.get(), jpeg.data() + used,
                                            jpeg.size() - used) != JXL_DEC_SUCCESS)
                    break;
                continue;
            case JXL_DEC_FULL_IMAGE:
                if (!rebuilding)
                    break;
                release();
                jpeg.resize(used);
                return true;
            case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
            case JXL_DEC_SUCCESS:
                detail = "the output holds no JPEG reconstruction data";
                return false;
            default:
                break;
        }
        detail = "the output's JPEG reconstruction data is damaged";
        return false;
    }
}

}  // namespace

Verification verifyJpegReconstruction(const QString& path, const QString& sourceJpegPath) {
    QFile source(sourceJpegPath);
    if (!source.open(QIODevice::ReadOnly)) {
        Verification result;
        result.method = VerifyMethod::JpegReconstruction;
        result.detail = "the output or its source cannot be opened";
        return result;
    }
    try {
        const QByteArray original = source.readAll();
        return verifyJpegReconstruction(path,
                                        std::vector<uint8_t>(original.begin(), original.end()));
    } catch (const std::bad_alloc&) {
        Verification result;
        result.method = VerifyMethod::JpegReconstruction;
        result.detail = "not enough memory to rebuild the JPEG";
        return result;
    }
}

Verification verifyJpegReconstruction(const QString& path, const std::vector<uint8_t>& sourceJpeg) {
    Verification result;
    result.method = VerifyMethod::JpegReconstruction;
    QFile output(path);
    if (!output.open(QIODevice::ReadOnly)) {
        result.detail = "the output or its source cannot be opened";
        return result;
    }
    std::vector<uint8_t> rebuilt;
    try {
        if (!reconstructJpeg(output.readAll(), rebuilt, result.detail))
            return result;
        result.passed = rebuilt == sourceJpeg;
    } catch (const std::bad_alloc&) {
        result.detail = "not enough memory to rebuild the JPEG";
        return result;
    }
    if (!result.passed)
        result.detail = "the JPEG rebuilt from the output differs from the source";
    else
        result.psnr = std::numeric_limits<double>::infinity();
    return result;
}

}  // namespace pixavant::imaging
