#include "imaging/PixelOps.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

#include "imaging/ImagingStatus.h"
#include "imaging/MagickRuntime.h"

namespace pixavant::imaging {

namespace {

uint8_t luma(uint8_t r, uint8_t g, uint8_t b) {
    // Rec. 601 weights, rounded to the nearest level.
    return uint8_t((299u * r + 587u * g + 114u * b + 500u) / 1000u);
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

int toGray(const Raster& source, Raster& result) {
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
    const size_t count = size_t(source.width) * size_t(source.height);
    const uint8_t* in = source.pixels.data();
    uint8_t* out = result.pixels.data();
    if (source.format == PixelFormat::Indexed8) {
        std::array<uint8_t, 256> levels{};
        for (size_t i = 0; i < source.palette.size() && i < levels.size(); ++i) {
            const PaletteEntry& e = source.palette[i];
            levels[i] = luma(e[0], e[1], e[2]);
        }
        for (size_t i = 0; i < count; ++i)
            out[i] = levels[in[i]];
    } else {
        for (size_t i = 0; i < count; ++i, in += 3)
            out[i] = luma(in[0], in[1], in[2]);
    }
    return kSuccess;
}

// Floyd-Steinberg error diffusion of a Gray8 raster into 0 / 255, serpentine scan.
int ditherToBilevel(const Raster& gray, Raster& result) {
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
    }
    return kSuccess;
}

struct RgbHash {
    size_t operator()(uint32_t v) const { return std::hash<uint32_t>{}(v * 2654435761u); }
};

// An exact palette when the colour raster has at most 256 colours; false otherwise.
bool exactPalette(const Raster& rgb, Raster& result, int& status) {
    std::unordered_map<uint32_t, uint8_t, RgbHash> index;
    std::vector<PaletteEntry> palette;
    const size_t count = size_t(rgb.width) * size_t(rgb.height);
    const uint8_t* in = rgb.pixels.data();
    for (size_t i = 0; i < count; ++i, in += 3) {
        const uint32_t key = uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2];
        if (index.find(key) != index.end())
            continue;
        if (palette.size() == 256)
            return false;
        index.emplace(key, uint8_t(palette.size()));
        palette.push_back({in[0], in[1], in[2]});
    }
    if (!makeRaster(result, rgb.width, rgb.height, PixelFormat::Indexed8, 8)) {
        status = kErrNoMemory;
        return true;
    }
    result.palette = std::move(palette);
    in = rgb.pixels.data();
    uint8_t* out = result.pixels.data();
    for (size_t i = 0; i < count; ++i, in += 3)
        out[i] = index.find(uint32_t(in[0]) << 16 | uint32_t(in[1]) << 8 | in[2])->second;
    status = kSuccess;
    return true;
}

// Builds a GraphicsMagick image from a Gray8 or Rgb8 raster.
magick::ImagePtr constitute(const Raster& raster, magick::Exception& exception) {
    const char* map = raster.format == PixelFormat::Rgb8 ? "RGB" : "I";
    return magick::ImagePtr(ConstituteImage(static_cast<unsigned long>(raster.width),
                                            static_cast<unsigned long>(raster.height), map,
                                            CharPixel, raster.pixels.data(), exception.get()));
}

int failureOf(magick::Exception& exception) {
    const int status = magick::statusForSeverity(exception.severity());
    return status == kSuccess ? kErrNoMemory : status;
}

// Pixels GraphicsMagick's quantiser looks at to choose a palette: larger images are sampled
// (every n-th pixel of every n-th row), which chooses nearly the same colours many times faster.
constexpr int64_t kPaletteSamplePixels = int64_t{1} << 19;

// The palette GraphicsMagick's colour quantiser chooses for the image (at most 256 colours).
int choosePalette(const Raster& rgb, std::vector<PaletteEntry>& palette) {
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
int quantize(const Raster& rgb, Raster& result) {
    std::vector<PaletteEntry> palette;
    if (const int status = choosePalette(rgb, palette); status != kSuccess)
        return status;
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
    }
    result.palette = std::move(palette);
    return kSuccess;
}

uint8_t fiveBits(uint8_t v) {
    const unsigned level = (v * 31u + 127u) / 255u;
    return uint8_t((level * 255u + 15u) / 31u);
}

}  // namespace

int convertToRgb(const Raster& source, Raster& result) {
    if (source.format == PixelFormat::Rgb8) {
        try {
            result = source;
        } catch (const std::bad_alloc&) {
            return kErrNoMemory;
        }
        return kSuccess;
    }
    Raster out;
    if (!makeRaster(out, source.width, source.height, PixelFormat::Rgb8, source.significantBits))
        return kErrNoMemory;
    const size_t count = size_t(source.width) * size_t(source.height);
    const uint8_t* in = source.pixels.data();
    uint8_t* o = out.pixels.data();
    if (source.format == PixelFormat::Indexed8) {
        for (size_t i = 0; i < count; ++i, o += 3) {
            const PaletteEntry e =
                in[i] < source.palette.size() ? source.palette[in[i]] : PaletteEntry{0, 0, 0};
            o[0] = e[0];
            o[1] = e[1];
            o[2] = e[2];
        }
    } else {
        for (size_t i = 0; i < count; ++i, o += 3)
            o[0] = o[1] = o[2] = in[i];
    }
    result = std::move(out);
    return kSuccess;
}

int convertToGray(Raster& raster) {
    if (raster.isGray())
        return kSuccess;
    Raster gray;
    if (const int status = toGray(raster, gray); status != kSuccess)
        return status;
    raster = std::move(gray);
    return kSuccess;
}

int convertDepth(const Raster& source, int bitsPerPixel, Raster& result) {
    if (bitsPerPixel != 0 && bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 16 &&
        bitsPerPixel != 24)
        return kErrInvalidArgument;
    if (source.empty())
        return kErrNoImage;
    Raster out;
    int status = kSuccess;
    switch (bitsPerPixel) {
        case 0:
            try {
                out = source;
            } catch (const std::bad_alloc&) {
                return kErrNoMemory;
            }
            break;
        case 1: {
            if (source.format == PixelFormat::Bilevel) {
                try {
                    out = source;
                } catch (const std::bad_alloc&) {
                    return kErrNoMemory;
                }
                break;
            }
            Raster gray;
            if ((status = toGray(source, gray)) != kSuccess)
                return status;
            status = ditherToBilevel(gray, out);
            break;
        }
        case 8: {
            if (source.isGray()) {
                if ((status = toGray(source, out)) != kSuccess)
                    return status;
                out.format = PixelFormat::Gray8;
                break;
            }
            if (source.format == PixelFormat::Indexed8 && source.significantBits == 8) {
                try {
                    out = source;
                } catch (const std::bad_alloc&) {
                    return kErrNoMemory;
                }
                break;
            }
            Raster rgb;
            if ((status = convertToRgb(source, rgb)) != kSuccess)
                return status;
            if (!exactPalette(rgb, out, status))
                status = quantize(rgb, out);
            break;
        }
        case 16: {
            // 5 bits per channel of colour: a gray image gives gray-valued colour pixels.
            if ((status = convertToRgb(source, out)) != kSuccess)
                return status;
            for (uint8_t& v : out.pixels)
                v = fiveBits(v);
            out.significantBits = 5;
            break;
        }
        case 24:
            status = convertToRgb(source, out);
            break;
        default:
            return kErrInvalidArgument;
    }
    if (status != kSuccess)
        return status;
    result = std::move(out);
    return kSuccess;
}

int resample(Raster& raster, int width, int height) {
    if (raster.empty())
        return kErrNoImage;
    if (width <= 0 || height <= 0)
        return kErrInvalidArgument;
    if (const int status = checkImageSize(width, height); status != kSuccess)
        return status;
    // Bilevel and palette images are resampled as gray or colour, never as dithered pixels.
    Raster converted;
    const Raster* source = &raster;
    if (raster.format == PixelFormat::Bilevel) {
        if (const int status = toGray(raster, converted); status != kSuccess)
            return status;
        converted.format = PixelFormat::Gray8;
        source = &converted;
    } else if (raster.format == PixelFormat::Indexed8) {
        if (const int status = convertToRgb(raster, converted); status != kSuccess)
            return status;
        source = &converted;
    }
    if (width == source->width && height == source->height) {
        if (source != &raster)
            raster = std::move(converted);
        return kSuccess;
    }

    magick::ensureInitialized();
    magick::Exception exception;
    magick::ImagePtr image = constitute(*source, exception);
    if (!image)
        return failureOf(exception);
    magick::ImagePtr resized(ResizeImage(image.get(), static_cast<unsigned long>(width),
                                         static_cast<unsigned long>(height), LanczosFilter, 1.0,
                                         exception.get()));
    if (!resized)
        return failureOf(exception);
    image.reset();
    Raster out;
    if (!makeRaster(out, width, height, source->format, source->significantBits))
        return kErrNoMemory;
    const char* map = out.format == PixelFormat::Rgb8 ? "RGB" : "I";
    if (!DispatchImage(resized.get(), 0, 0, static_cast<unsigned long>(width),
                       static_cast<unsigned long>(height), map, CharPixel, out.pixels.data(),
                       exception.get()))
        return failureOf(exception);
    raster = std::move(out);
    return kSuccess;
}

int applyOrientation(Raster& raster, int orientation) {
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
    const size_t channels = size_t(raster.channels());
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
