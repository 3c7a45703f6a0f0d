#include "settings/CompressionChoices.h"

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

int maxCompressionLevel(int compressionChoice) {
    switch (compressionChoice) {
        case 0:
            return 0;
        case 1:
        case 2:
            return 1;
        case 3:
            return 25;
        case 4:
            return 8;
        default:
            return -1;
    }
}

std::optional<int16_t> fileFormatFor(int compressionChoice, int level) {
    switch (compressionChoice) {
        case 0:
            return 17;
        case 1:
            return level == 0 ? 27 : 28;
        case 2:
            return level == 0 ? 29 : 26;
        case 3:
            return 10;
        case 4:
            return 5;
        default:
            return std::nullopt;
    }
}

std::optional<int16_t> qualityFactorFor(int compressionChoice, int level) {
    switch (compressionChoice) {
        case 3:
            return int16_t(10 * level + 2);
        case 4:
            return int16_t(level <= 7 ? -1 - level : -9);
        default:
            return std::nullopt;
    }
}

QString proposedExtension(int compressionChoice) {
    switch (compressionChoice) {
        case 0:
        case 1:
        case 2:
            return QStringLiteral("TIF");
        case 3:
        case 4:
            return QStringLiteral("JPG");
        case 5:
            return QStringLiteral("CMP");
        default:
            return {};
    }
}

QString proposedExtension(int compressionChoice, int fileFormat) {
    namespace format = imaging::format;
    if (fileFormat == format::kPixavant || fileFormat == format::kPixavant1Bit ||
        fileFormat == format::kPixavantLossless)
        return QStringLiteral("JXL");
    return proposedExtension(compressionChoice);
}

}  // namespace pixavant
