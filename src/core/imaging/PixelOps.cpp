#include "imaging/PixelOps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "imaging/ImagingStatus.h"
#include "imaging/MagickRuntime.h"
#include "imaging/WatchedCall.h"

namespace pixavant::imaging {

namespace {

uint8_t luma(uint8_t r, uint8_t g, uint8_t b) {
    // Rec. 601 weights, rounded to the nearest level.
    return uint8_t((299u * r + 587u * g + 114u * b + 500u) / 1000u);
}

// Reports that `y + 1` of `height` rows are done; false when the work is to stop.
bool rowDone(Progress& progress, int y, int height) {
    return progress.report(int64_t(y) + 1, int64_t(height));
}

// A raster of the given size and format, with its pixel buffer; false when memory is short.
bool makeRaster(Raster& raster, int width, int height, PixelFormat format, int significantBits) {
    raster = Raster{};
    raster.width = width;
    raster.height = height;
    raster.format = format;
    raster.significantBits = significantBits;
    return raster.allocate();
}

Status toGray(const Raster& source, Raster& result, Progress& progress) {
    if (source.format == PixelFormat::Gray8 || source.format == PixelFormat::Bilevel) {
        try {
            result = source;
        } catch (const std::bad_alloc&) {
            return kErrNoMemory;
        }
        return kSuccess;
    }
    if (!makeRaster(result, source.width, source.height, PixelFormat::Gray8,
                    source.significantBits))
        return kErrNoMemory;
    const size_t width = size_t(source.width);
    std::array<uint8_t, 256> levels{};
    for (size_t i = 0; i < source.palette.size() && i < levels.size(); ++i) {
        const PaletteEntry& e = source.palette[i];
        levels[i] = luma(e[0], e[1], e[2]);
    }
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* in = source.row(y);
        uint8_t* out = result.row(y);
        if (source.format == PixelFormat::Indexed8) {
            for (size_t x = 0; x < width; ++x)
                out[x] = levels[in[x]];
        } else {
            for (size_t x = 0; x < width; ++x, in += 3)
                out[x] = luma(in[0], in[1], in[2]);
        }
        if (!rowDone(progress, y, source.height))
            return kErrCancelled;
    }
    return kSuccess;
}

// Floyd-Steinberg error diffusion of a Gray8 raster into 0 / 255, serpentine scan.
Status ditherToBilevel(const Raster& gray, Raster& result, Progress& progress) {
    if (!makeRaster(result, gray.width, gray.height, PixelFormat::Bilevel, 8))
        return kErrNoMemory;
    const int width = gray.width;
    std::vector<int> current, next;
    try {
        current.assign(size_t(width) + 2, 0);
        next.assign(size_t(width) + 2, 0);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    // Errors are kept in sixteenths of a level; index x + 1 holds column x.
    for (int y = 0; y < gray.height; ++y) {
        const uint8_t* in = gray.row(y);
        uint8_t* out = result.row(y);
        std::fill(next.begin(), next.end(), 0);
        const bool leftToRight = (y % 2) == 0;
        const int step = leftToRight ? 1 : -1;
        for (int i = 0; i < width; ++i) {
            const int x = leftToRight ? i : width - 1 - i;
            const int wanted = int(in[x]) * 16 + current[size_t(x) + 1];
            const int level = wanted >= 128 * 16 ? 255 : 0;
            out[x] = uint8_t(level);
            const int error = wanted - level * 16;
            // 7/16 ahead on this row; 3/16 behind, 5/16 below and 1/16 ahead on the next.
            current[size_t(x + step) + 1] += error * 7 / 16;
            next[size_t(x - step) + 1] += error * 3 / 16;
            next[size_t(x) + 1] += error * 5 / 16;
            next[size_t(x + step) + 1] += error / 16;
        }
        std::swap(current, next);
        if (!rowDone(progress, y, gray.height))
            return kErrCancelled;
    }
    return kSuccess;
}

struct RgbHash {
    size_t operator()(uint32_t v) const { return std::hash<uint32_t>{}(v * 2654435761u); }
};

// An exact palette when the colour raster has at most 256 colours; false otherwise.
// (Cancelled: true, with status kErrCancelled.)
bool exactPalette(const Raster& rgb, Raster& result, Status& status, Progress& progress) {
    std::unordered_map<uint32_t, uint8_t, RgbHash> index;
    std::vector<PaletteEntry> palette;
    const size_t count = size_t(rgb.width) * size_t(rgb.height);
    for (int y = 0; y < rgb.height; ++y) {
        const uint8_t* in = rgb.row(y);
        for (int x = 0; x < rgb.width; ++x, in += 3) {
            const uint32_t key = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
            if (index.find(key) != index.end())
                continue;
            if (palette.size() == 256)
                return false;
            index.emplace(key, uint8_t(palette.size()));
            palette.push_back({in[0], in[1], in[2]});
        }
        if (!rowDone(progress, y, rgb.height)) {
            status = kErrCancelled;
            return true;
        }
    }
    if (!makeRaster(result, rgb.width, rgb.height, PixelFormat::Indexed8, 8)) {
        status = kErrNoMemory;
        return true;
    }
    result.palette = std::move(palette);
    const uint8_t* in = rgb.pixels.data();
    uint8_t* out = result.pixels.data();
    for (size_t i = 0; i < count; ++i, in += 3)
        out[i] = index.find(uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2])->second;
    status = kSuccess;
    return true;
}

// Builds a GraphicsMagick image from a Gray8 or Rgb8 raster.
magick::ImagePtr constitute(const Raster& raster, magick::Exception& exception) {
    const char* map = raster.channels() == 3 ? "RGB" : "I";
    return magick::ImagePtr(ConstituteImage(
        static_cast<unsigned long>(raster.width), static_cast<unsigned long>(raster.height), map,
        raster.isDeep() ? ShortPixel : CharPixel, raster.pixels.data(), exception.get()));
}

Status failureOf(magick::Exception& exception) {
    const Status status = magick::statusForSeverity(exception.severity());
    return status == kSuccess ? kErrNoMemory : status;
}

// Pixels GraphicsMagick's quantiser looks at to choose a palette: larger images are sampled
// (every n-th pixel of every n-th row), which chooses nearly the same colours many times faster.
constexpr int64_t kPaletteSamplePixels = int64_t{1} << 19;

// The palette GraphicsMagick's colour quantiser chooses for the image (at most 256 colours).
Status choosePalette(const Raster& rgb, std::vector<PaletteEntry>& palette) {
    const int64_t pixels = int64_t(rgb.width) * rgb.height;
    int step = 1;
    while (pixels / (int64_t(step) * step) > kPaletteSamplePixels)
        ++step;
    Raster sample;
    const Raster* source = &rgb;
    if (step > 1) {
        if (!makeRaster(sample, (rgb.width + step - 1) / step, (rgb.height + step - 1) / step,
                        PixelFormat::Rgb8, 8))
            return kErrNoMemory;
        for (int y = 0; y < sample.height; ++y) {
            const uint8_t* in = rgb.row(y * step);
            uint8_t* out = sample.row(y);
            for (int x = 0; x < sample.width; ++x, out += 3)
                std::memcpy(out, in + size_t(x) * size_t(step) * 3, 3);
        }
        source = &sample;
    }
    magick::ensureInitialized();
    magick::Exception exception;
    magick::ImagePtr image = constitute(*source, exception);
    if (!image)
        return failureOf(exception);
    QuantizeInfo options;
    GetQuantizeInfo(&options);
    options.number_colors = 256;
    options.dither = 1;
    options.colorspace = RGBColorspace;
    if (!QuantizeImage(&options, image.get()) || image->storage_class != PseudoClass ||
        image->colors == 0 || image->colors > 256)
        return image->exception.severity != UndefinedException
                   ? magick::statusForSeverity(image->exception.severity)
                   : kErrNoMemory;
    palette.resize(image->colors);
    for (unsigned long i = 0; i < image->colors; ++i) {
        const PixelPacket& c = image->colormap[i];
        palette[i] = {ScaleQuantumToChar(c.red), ScaleQuantumToChar(c.green),
                      ScaleQuantumToChar(c.blue)};
    }
    return kSuccess;
}

// The nearest palette entry of a colour, cached for cells of 4 x 4 x 4 levels.
class NearestColour {
  public:
    explicit NearestColour(const std::vector<PaletteEntry>& palette)
        : palette_(palette), cache_(size_t(1) << 18, -1) {}

    uint8_t operator()(int r, int g, int b) {
        const size_t cell = size_t(r >> 2) << 12 | size_t(g >> 2) << 6 | size_t(b >> 2);
        int16_t& cached = cache_[cell];
        if (cached < 0)
            cached = int16_t(search((r & ~3) + 2, (g & ~3) + 2, (b & ~3) + 2));
        return uint8_t(cached);
    }

  private:
    size_t search(int r, int g, int b) const {
        size_t best = 0;
        int bestDistance = 1 << 30;
        for (size_t i = 0; i < palette_.size(); ++i) {
            const int dr = r - palette_[i][0], dg = g - palette_[i][1], db = b - palette_[i][2];
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        return best;
    }

    const std::vector<PaletteEntry>& palette_;
    std::vector<int16_t> cache_;
};

// A 256-colour image: the palette GraphicsMagick's quantiser chooses, the pixels mapped onto it
// with Floyd-Steinberg error diffusion.
Status quantize(const Raster& rgb, Raster& result, Progress& progress) {
    std::vector<PaletteEntry> palette;
    if (const Status status = choosePalette(rgb, palette); status != kSuccess)
        return status;
    if (!progress.report(10))
        return kErrCancelled;
    if (!makeRaster(result, rgb.width, rgb.height, PixelFormat::Indexed8, 8))
        return kErrNoMemory;
    std::vector<int> current, next;
    try {
        current.assign((size_t(rgb.width) + 2) * 3, 0);
        next.assign((size_t(rgb.width) + 2) * 3, 0);
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    NearestColour nearest(palette);
    // Errors in sixteenths of a level; entry (x + 1) * 3 + c holds column x.
    for (int y = 0; y < rgb.height; ++y) {
        const uint8_t* in = rgb.row(y);
        uint8_t* out = result.row(y);
        std::fill(next.begin(), next.end(), 0);
        const bool leftToRight = (y % 2) == 0;
        const int step = leftToRight ? 1 : -1;
        for (int i = 0; i < rgb.width; ++i) {
            const int x = leftToRight ? i : rgb.width - 1 - i;
            const size_t at = size_t(x + 1) * 3;
            // The colour wanted here, in sixteenths, kept within the cube so errors stay bounded.
            int wanted[3];
            for (size_t c = 0; c < 3; ++c)
                wanted[c] =
                    std::clamp(int(in[size_t(x) * 3 + c]) * 16 + current[at + c], 0, 255 * 16);
            const uint8_t index =
                nearest((wanted[0] + 8) / 16, (wanted[1] + 8) / 16, (wanted[2] + 8) / 16);
            out[x] = index;
            for (size_t c = 0; c < 3; ++c) {
                const int error = wanted[c] - int(palette[index][c]) * 16;
                current[size_t(int(at) + step * 3) + c] += error * 7 / 16;
                next[size_t(int(at) - step * 3) + c] += error * 3 / 16;
                next[at + c] += error * 5 / 16;
                next[size_t(int(at) + step * 3) + c] += error / 16;
            }
        }
        std::swap(current, next);
        if (!progress.report(10 + 90 * (int64_t(y) + 1) / rgb.height))
            return kErrCancelled;
    }
    result.palette = std::move(palette);
    return kSuccess;
}

uint8_t fiveBits(uint8_t v) {
    const unsigned level = (v * 31u + 127u) / 255u;
    return uint8_t((level * 255u + 15u) / 31u);
}

}  // namespace

namespace {

// Colour from any format, row by row; `transform` is applied to every sample on the way.
template <typename Transform>
Status toRgb(const Raster& source, Raster& result, Progress& progress, Transform transform) {
    Raster out;
    if (!makeRaster(out, source.width, source.height, PixelFormat::Rgb8, source.significantBits))
        return kErrNoMemory;
    const size_t width = size_t(source.width);
    for (int y = 0; y < source.height; ++y) {
        const uint8_t* in = source.row(y);
        uint8_t* o = out.row(y);
        if (source.format == PixelFormat::Rgb8) {
            for (size_t i = 0; i < width * 3; ++i)
                o[i] = transform(in[i]);
        } else if (source.format == PixelFormat::Indexed8) {
            for (size_t x = 0; x < width; ++x, o += 3) {
                const PaletteEntry e =
                    in[x] < source.palette.size() ? source.palette[in[x]] : PaletteEntry{0, 0, 0};
                o[0] = transform(e[0]);
                o[1] = transform(e[1]);
                o[2] = transform(e[2]);
            }
        } else {
            for (size_t x = 0; x < width; ++x, o += 3)
                o[0] = o[1] = o[2] = transform(in[x]);
        }
        if (!rowDone(progress, y, source.height))
            return kErrCancelled;
    }
    result = std::move(out);
    return kSuccess;
}

uint8_t unchanged(uint8_t v) {
    return v;
}

Status copyOf(const Raster& source, Raster& result) {
    try {
        result = source;
    } catch (const std::bad_alloc&) {
        return kErrNoMemory;
    }
    return kSuccess;
}

// 16-bit colour to 16-bit gray, by the weights of luma() at full precision.
Status deepToGray(Raster& raster) {
    Raster gray;
    if (!makeRaster(gray, raster.width, raster.height, PixelFormat::Gray16, 8))
        return kErrNoMemory;
    for (int y = 0; y < raster.height; ++y) {
        const uint16_t* in = raster.row16(y);
        uint16_t* out = gray.row16(y);
        for (int x = 0; x < raster.width; ++x, in += 3)
            out[x] = uint16_t((299u * in[0] + 587u * in[1] + 114u * in[2] + 500u) / 1000u);
    }
    raster = std::move(gray);
    return kSuccess;
}

}  // namespace

Status reduceToEightBit(const Raster& source, Raster& result) {
    if (!source.isDeep())
        return copyOf(source, result);
    Raster out;
    const PixelFormat format =
        source.format == PixelFormat::Rgb16 ? PixelFormat::Rgb8 : PixelFormat::Gray8;
    if (!makeRaster(out, source.width, source.height, format, 8))
        return kErrNoMemory;
    const size_t samples = size_t(source.width) * size_t(source.channels());
    for (int y = 0; y < source.height; ++y) {
        const uint16_t* in = source.row16(y);
        uint8_t* to = out.row(y);
        for (size_t i = 0; i < samples; ++i)
            to[i] = uint8_t((unsigned(in[i]) + 128u) / 257u);
    }
    result = std::move(out);
    return kSuccess;
}

Status keepDeepColour(const Raster& source, Raster& result, Progress* progress) {
    if (source.isDeep())
        return copyOf(source, result);
    // Sources of 8 bits per sample stay at 8: gray as gray, everything else as colour.
    Progress none;
    Progress& whole = progress != nullptr ? *progress : none;
    Raster out;
    Status status = kSuccess;
    if (source.isGray()) {
        status = toGray(source, out, whole);
        out.format = PixelFormat::Gray8;
    } else {
        status = source.format == PixelFormat::Rgb8 ? copyOf(source, out)
                                                    : toRgb(source, out, whole, unchanged);
    }
    if (status != kSuccess)
        return status;
    out.significantBits = 8;
    result = std::move(out);
    return kSuccess;
}

Status convertToRgb(const Raster& source, Raster& result) {
    if (source.format == PixelFormat::Rgb8)
        return copyOf(source, result);
    if (source.isDeep()) {
        Raster eightBit;
        if (const Status status = reduceToEightBit(source, eightBit); status != kSuccess)
            return status;
        return convertToRgb(eightBit, result);
    }
    Progress none;
    return toRgb(source, result, none, unchanged);
}

Status convertToGray(Raster& raster) {
    if (raster.isGray())
        return kSuccess;
    if (raster.format == PixelFormat::Rgb16)
        return deepToGray(raster);
    Raster gray;
    Progress none;
    if (const Status status = toGray(raster, gray, none); status != kSuccess)
        return status;
    raster = std::move(gray);
    return kSuccess;
}

Status convertDepth(const Raster& source, int bitsPerPixel, Raster& result, Progress* progress) {
    if (bitsPerPixel != 0 && bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
        bitsPerPixel != 24 && bitsPerPixel != 48)
        return kErrInvalidArgument;
    if (source.empty())
        return kErrNoImage;
    if (bitsPerPixel == 48)
        return keepDeepColour(source, result, progress);
    if (source.isDeep() && bitsPerPixel != 0) {
        Raster eightBit;
        if (const Status status = reduceToEightBit(source, eightBit); status != kSuccess)
            return status;
        return convertDepth(eightBit, bitsPerPixel, result, progress);
    }
    Progress none;
    Progress& whole = progress != nullptr ? *progress : none;
    Raster out;
    Status status = kSuccess;
    switch (bitsPerPixel) {
        case 0:
            status = copyOf(source, out);
            break;
        case 1: {
            if (source.format == PixelFormat::Bilevel) {
                status = copyOf(source, out);
                break;
            }
            Raster gray;
            Progress toGrayPart = whole.part(0, 20);
            if ((status = toGray(source, gray, toGrayPart)) != kSuccess)
                return status;
            Progress ditherPart = whole.part(20, 100);
            status = ditherToBilevel(gray, out, ditherPart);
            break;
        }
        case 8: {
            if (source.isGray()) {
                if ((status = toGray(source, out, whole)) != kSuccess)
                    return status;
                out.format = PixelFormat::Gray8;
                break;
            }
            if (source.format == PixelFormat::Indexed8 && source.significantBits == 8) {
                status = copyOf(source, out);
                break;
            }
            Raster rgbCopy;
            if (source.format != PixelFormat::Rgb8) {
                Progress toRgbPart = whole.part(0, 10);
                if ((status = toRgb(source, rgbCopy, toRgbPart, unchanged)) != kSuccess)
                    return status;
            }
            const Raster& rgb = source.format == PixelFormat::Rgb8 ? source : rgbCopy;
            Progress scanPart = whole.part(10, 20);
            if (!exactPalette(rgb, out, status, scanPart)) {
                Progress quantizePart = whole.part(20, 100);
                status = quantize(rgb, out, quantizePart);
            }
            break;
        }
        case 16:
            // 5 bits per channel of colour: a gray image gives gray-valued colour pixels.
            status = toRgb(source, out, whole, fiveBits);
            out.significantBits = 5;
            break;
        case 24:
            status = source.format == PixelFormat::Rgb8 ? copyOf(source, out)
                                                        : toRgb(source, out, whole, unchanged);
            break;
        default:
            return kErrInvalidArgument;
    }
    if (status != kSuccess)
        return status;
    result = std::move(out);
    return kSuccess;
}

namespace {

// Rows copied out of GraphicsMagick at a time, between two looks at the cancel flag.
constexpr int kDispatchRows = 256;

// The Lanczos resampling proper, run on a thread of its own (runWatched): conversion 0 to 5 %,
// GraphicsMagick's resize 5 to 95 %, copying the result out 95 to 100 %.
// Leaves its result in `result` (empty when nothing changes); the caller takes it only when the
// call succeeded, so a cancel that arrives as the call ends leaves the image as it was.
Status resampleWatched(const Raster& raster, int width, int height, CallState& state,
                       Raster& result) {
    // Bilevel and palette images are resampled as gray or colour, never as dithered pixels.
    Raster converted;
    const Raster* source = &raster;
    Progress none;
    if (raster.format == PixelFormat::Bilevel) {
        if (const Status status = toGray(raster, converted, none); status != kSuccess)
            return status;
        converted.format = PixelFormat::Gray8;
        source = &converted;
    } else if (raster.format == PixelFormat::Indexed8) {
        if (const Status status = toRgb(raster, converted, none, unchanged); status != kSuccess)
            return status;
        source = &converted;
    }
    if (width == source->width && height == source->height) {
        if (source != &raster)
            result = std::move(converted);
        return kSuccess;
    }
    if (state.cancel)
        return kErrCancelled;

    magick::ensureInitialized();
    magick::Exception exception;
    magick::ImagePtr image = constitute(*source, exception);
    if (!image)
        return failureOf(exception);
    state.permille = 50;
    magick::ImagePtr resized;
    {
        magick::CallMonitor monitor(exception.get(), state, 50, 950);
        resized.reset(ResizeImage(image.get(), static_cast<unsigned long>(width),
                                  static_cast<unsigned long>(height), LanczosFilter, 1.0,
                                  exception.get()));
    }
    if (state.cancel)
        return kErrCancelled;
    if (!resized)
        return failureOf(exception);
    image.reset();
    Raster out;
    if (!makeRaster(out, width, height, source->format, source->significantBits))
        return kErrNoMemory;
    const char* map = out.channels() == 3 ? "RGB" : "I";
    for (int y = 0; y < height; y += kDispatchRows) {
        const int rows = std::min(kDispatchRows, height - y);
        if (!DispatchImage(resized.get(), 0, y, static_cast<unsigned long>(width),
                           static_cast<unsigned long>(rows), map,
                           out.isDeep() ? ShortPixel : CharPixel, out.row(y), exception.get()))
            return failureOf(exception);
        if (state.cancel)
            return kErrCancelled;
        state.permille = 950 + int(50 * (int64_t(y) + rows) / height);
    }
    result = std::move(out);
    return kSuccess;
}

}  // namespace

Status resample(Raster& raster, int width, int height, Progress* progress) {
    if (raster.empty())
        return kErrNoImage;
    if (width <= 0 || height <= 0)
        return kErrInvalidArgument;
    if (const Status status = checkImageSize(width, height); status != kSuccess)
        return status;
    Progress none;
    Raster result;
    const Status status = runWatched(progress != nullptr ? *progress : none, [&](CallState& state) {
        return resampleWatched(raster, width, height, state, result);
    });
    if (status == kSuccess && !result.empty())
        raster = std::move(result);
    return status;
}

Status applyOrientation(Raster& raster, int orientation) {
    if (orientation < 2 || orientation > 8 || raster.empty())
        return kSuccess;
    const int w = raster.width;
    const int h = raster.height;
    const bool swapsAxes = orientation >= 5;
    Raster out;
    if (!makeRaster(out, swapsAxes ? h : w, swapsAxes ? w : h, raster.format,
                    raster.significantBits))
        return kErrNoMemory;
    out.palette = raster.palette;
    const size_t channels = raster.pixelBytes();
    for (int y = 0; y < out.height; ++y) {
        uint8_t* dst = out.row(y);
        for (int x = 0; x < out.width; ++x) {
            // The stored pixel shown at (x, y).
            int sx = x, sy = y;
            switch (orientation) {
                case 2:
                    sx = w - 1 - x;
                    break;  // mirror
                case 3:
                    sx = w - 1 - x;
                    sy = h - 1 - y;
                    break;  // rotate 180
                case 4:
                    sy = h - 1 - y;
                    break;  // flip
                case 5:
                    sx = y;
                    sy = x;
                    break;  // transpose
                case 6:
                    sx = y;
                    sy = h - 1 - x;
                    break;  // rotate 90 clockwise
                case 7:
                    sx = w - 1 - y;
                    sy = h - 1 - x;
                    break;  // transverse
                case 8:
                    sx = w - 1 - y;
                    sy = x;
                    break;  // rotate 270 clockwise
                default:
                    break;
            }
            std::memcpy(dst + size_t(x) * channels, raster.row(sy) + size_t(sx) * channels,
                        channels);
        }
    }
    raster = std::move(out);
    return kSuccess;
}

}  // namespace pixavant::imaging
