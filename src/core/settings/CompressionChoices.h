#pragma once

#include <QString>
#include <cstdint>
#include <optional>

#include "settings/CompressionSettings.h"

namespace pixavant {

// How the options dialog's choices become settings fields: the resolution option, the colour
// depth and the compression type with its level (the slider position).

// The resolution option for a number of dots per inch: 0..4 for 72, 100, 200, 300, 400, else 5
// ("Other").
int16_t dpiChoiceFor(int dpi);

// Bits per pixel for a colour-depth choice (0 B/W .. 4 24-bit); 24 for any other value.
int16_t bitsPerPixelFor(int depthChoice);

// The colour compression remembered for a compression type (the CCITT groups count as Other), and
// the type a remembered one selects again.
ColorCompression colorCompressionOf(CompressionType type);
CompressionType compressionTypeOf(ColorCompression remembered);

// The highest level (slider position) of a compression type: 0 LZW (no slider), 1 for the CCITT
// groups, 25 JPEG, 8 PIXAVANT; -1 for types without one.
int maxCompressionLevel(CompressionType type);

// The format code for a compression type and level; nullopt for types that keep the previous code.
std::optional<int16_t> fileFormatFor(CompressionType type, int level);

// The quality factor for a compression type and level; nullopt for types that keep the previous
// factor (LZW, the CCITT groups and the rest).
std::optional<int16_t> qualityFactorFor(CompressionType type, int level);

// The output extension proposed for a compression type; empty for unknown values.
QString proposedExtension(CompressionType type);

// The extension proposed for what a batch writes: "JXL" whenever the format code is a PIXAVANT one
// (a JPEG XL file, which no JPEG or TIFF reader opens), otherwise the compression type's.
QString proposedExtension(CompressionType type, int fileFormat);

}  // namespace pixavant
