#include "settings/CompressionChoices.h"

#include <utility>

#include "imaging/FormatCodes.h"

namespace pixavant {

int16_t dpiChoiceFor(int dpi) {
    switch (dpi) {
        case 72:
            return 0;
        case 100:
            return 1;
        case 200:
            return 2;
        case 300:
            return 3;
        case 400:
            return 4;
        default:
            return 5;
    }
}

int16_t bitsPerPixelFor(int depthChoice) {
    switch (depthChoice) {
        case 0:
            return 1;
        case 1:
        case 2:
            return 8;
        case 3:
            return 16;
        case 5:
            return 48;  // the command line's 16 bits per channel
        default:
            return 24;
    }
}

// The colour compressions that are remembered by name; any other is remembered as Other.
constexpr std::pair<CompressionType, ColorCompression> kRememberedByName[] = {
    {CompressionType::Lzw, ColorCompression::Lzw},
    {CompressionType::Jpeg, ColorCompression::Jpeg},
    {CompressionType::Pixavant, ColorCompression::Pixavant},
};

ColorCompression colorCompressionOf(CompressionType type) {
    for (const auto& [named, remembered] : kRememberedByName)
        if (named == type)
            return remembered;
    return ColorCompression::Other;
}

CompressionType compressionTypeOf(ColorCompression remembered) {
    for (const auto& [named, value] : kRememberedByName)
        if (value == remembered)
            return named;
    return CompressionType::Other;
}

int maxCompressionLevel(CompressionType type) {
    switch (type) {
        case CompressionType::Lzw:
            return 0;
        case CompressionType::CcittG3:
        case CompressionType::CcittG4:
            return 1;
        case CompressionType::Jpeg:
            return 25;
        case CompressionType::Pixavant:
            return 8;
        default:
            return -1;
    }
}

std::optional<int16_t> fileFormatFor(CompressionType type, int level) {
    namespace format = imaging::format;
    switch (type) {
        case CompressionType::Lzw:
            return int16_t(format::kTiffLzw);
        case CompressionType::CcittG3:
            return int16_t(level == 0 ? format::kTiffG3_1D : format::kTiffG3_2D);
        case CompressionType::CcittG4:
            // The second level of Group 4 is PIXAVANT's 1-bit format.
            return int16_t(level == 0 ? format::kTiffG4 : format::kPixavant1Bit);
        case CompressionType::Jpeg:
            return int16_t(format::kJpeg444);
        case CompressionType::Pixavant:
            return int16_t(format::kPixavant);
        default:
            return std::nullopt;
    }
}

std::optional<int16_t> qualityFactorFor(CompressionType type, int level) {
    switch (type) {
        case CompressionType::Jpeg:
            return int16_t(10 * level + 2);
        case CompressionType::Pixavant:
            return int16_t(level <= 7 ? -1 - level : -9);
        default:
            return std::nullopt;
    }
}

QString proposedExtension(CompressionType type) {
    switch (type) {
        case CompressionType::Lzw:
        case CompressionType::CcittG3:
        case CompressionType::CcittG4:
            return QStringLiteral("TIF");
        case CompressionType::Jpeg:
        case CompressionType::Pixavant:
            return QStringLiteral("JPG");
        case CompressionType::Other:
            return QStringLiteral("CMP");
        default:
            return {};
    }
}

QString proposedExtension(CompressionType type, int fileFormat) {
    if (imaging::format::isPixavant(fileFormat))
        return QStringLiteral("JXL");
    return proposedExtension(type);
}

}  // namespace pixavant
