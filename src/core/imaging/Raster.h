#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pixavant::imaging {

enum class PixelFormat {
    Bilevel,   // one byte per pixel, 0 (black) or 255 (white)
    Gray8,     // one byte per pixel
    Indexed8,  // one byte per pixel, an index into `palette`
    Rgb8,      // three bytes per pixel, R G B
    // Deep colour: 16 bits per sample, each a native-endian uint16_t in `pixels`. Samples of other
    // widths are scaled to 16 bits (scaleSample). Only the 16-bit capable writers take them; the
    // imaging control reduces them to 8 bits for everything else.
    Gray16,  // two bytes per pixel
    Rgb16,   // six bytes per pixel, R G B
};

using PaletteEntry = std::array<uint8_t, 3>;

// An uncompressed image: rows top to bottom, tightly packed, no padding between rows.
struct Raster {
    int width = 0;
    int height = 0;
    PixelFormat format = PixelFormat::Rgb8;
    std::vector<uint8_t> pixels;
    std::vector<PaletteEntry> palette;  // Indexed8 only, at most 256 entries
    // Bits that carry information in each 8-bit sample: 8 normally, 5 for the 16-bit colour depth
    // (values are the 5-bit levels scaled to 0..255).
    int significantBits = 8;

    int channels() const {
        return format == PixelFormat::Rgb8 || format == PixelFormat::Rgb16 ? 3 : 1;
    }
    bool isDeep() const { return format == PixelFormat::Gray16 || format == PixelFormat::Rgb16; }
    int bytesPerSample() const { return isDeep() ? 2 : 1; }
    size_t pixelBytes() const { return size_t(channels()) * size_t(bytesPerSample()); }
    size_t rowBytes() const { return size_t(width) * pixelBytes(); }
    uint8_t* row(int y) { return pixels.data() + size_t(y) * rowBytes(); }
    const uint8_t* row(int y) const { return pixels.data() + size_t(y) * rowBytes(); }
    bool empty() const { return width <= 0 || height <= 0; }
    bool isGray() const {
        return format == PixelFormat::Bilevel || format == PixelFormat::Gray8 ||
               format == PixelFormat::Gray16;
    }
    // Row y of a deep raster as 16-bit samples.
    uint16_t* row16(int y) { return reinterpret_cast<uint16_t*>(row(y)); }
    const uint16_t* row16(int y) const { return reinterpret_cast<const uint16_t*>(row(y)); }

    // Sizes the pixel buffer for the current width, height and format. Returns false when the memory
    // cannot be had (the caller reports kErrNoMemory).
    bool allocate();
};

// A sample of `fromBits` bits scaled to `toBits` bits: round(v x (2^to - 1) / (2^from - 1)).
// Both from 1 to 32.
uint32_t scaleSample(uint32_t value, int fromBits, int toBits);

// The descriptive metadata of a file, each block as its standard stores it. Empty: none.
struct EmbeddedMetadata {
    // EXIF: a TIFF structure from its byte-order mark on, offsets counted from there (the payload
    // of a JPEG APP1 "Exif" marker after its identifier).
    std::vector<uint8_t> exif;
    std::vector<uint8_t> xmp;   // an XMP packet, UTF-8
    std::vector<uint8_t> iptc;  // IPTC-IIM data sets

    bool empty() const { return exif.empty() && xmp.empty() && iptc.empty(); }
};

// What a file carries besides its pixels.
struct ImageMeta {
    double xDpi = 0;  // 0: the file states no resolution
    double yDpi = 0;
    std::vector<uint8_t> iccProfile;  // empty: none
    EmbeddedMetadata embedded;
    // What the reader could not carry and why ("XMP packet damaged: left out"), for the user to be
    // told.
    std::vector<std::string> notes;
};

struct DecodedImage {
    Raster raster;  // Gray8 or Rgb8 from every reader; Gray16 or Rgb16 for deeper sources
    ImageMeta meta;
    // The image's size in the file when a reader decoded it at reduced scale for display
    // (ReadOptions); 0 when the raster has the file's own size.
    int fileWidth = 0;
    int fileHeight = 0;
};

}  // namespace pixavant::imaging
