#pragma once

#include <QString>
#include <cstdint>

namespace pixavant {

// The compression types of the options dialog, in the order of its buttons. The numbers are the
// ones the settings record holds and the command line and the windows count in.
enum class CompressionType : int16_t {
    Lzw = 0,
    CcittG3 = 1,
    CcittG4 = 2,
    Jpeg = 3,
    Pixavant = 4,
    Other = 5,  // JBIG, PKZIP or none: the format code and quality factor are kept
};

// The colour compression remembered while B/W is chosen, to be selected again when a colour depth
// is (CompressionChoices.h maps it to and from the type).
enum class ColorCompression : int16_t { Lzw = 0, Jpeg = 1, Pixavant = 2, Other = 3 };

// The CCITT group remembered while a colour depth is chosen.
enum class BilevelCompression : int16_t { CcittG3 = 0, CcittG4 = 1 };

// Every choice that decides how a batch is encoded and where its output goes. One instance for the
// whole program (compressionSettings()): the dialogs write it, the batch engine reads it. Nothing of
// it is saved between runs.
struct CompressionSettings {
    int16_t DpiChoice = 0;        // 0..4: 72, 100, 200, 300, 400 DPI; 5: "Other"
    int16_t Dpi = 0;              // output resolution, dots per inch
    int16_t OtherDpiDefault = 72; // shown in the "Other" field at each opening of the options dialog
    int16_t SizeChoice = 0;       // 0: same as the original; 1: OutWidth x OutHeight
    int16_t OutWidth = 0;
    int16_t OutHeight = 0;
    int16_t KeepAspect = 1;       // initial state of "Keep Aspect Ratios": 0 unchecked, 1 checked
    int16_t DepthChoice = 4;      // 0 B/W, 1 Gray Scale, 2 8-bit, 3 16-bit, 4 24-bit colour
    int16_t BitsPerPixel = 0;     // 1, 8, 8, 16, 24 for the depth choices
    CompressionType CompressionChoice = CompressionType::Jpeg;
    int16_t FileFormat = 0;       // format code handed to the save operation
    int16_t QualityFactor = 0;    // quality argument handed to the save operation
    ColorCompression LastColorCompression = ColorCompression::Jpeg;
    BilevelCompression LastBilevelCompression = BilevelCompression::CcittG3;
    QString OutputDir;            // always ends in "/"
    QString OutputExt;            // without the dot

    // The start-up values, with OutputDir set to the source directory.
    static CompressionSettings defaults(const QString& sourceDir);
};

// The program's one settings record.
CompressionSettings& compressionSettings();

}  // namespace pixavant
