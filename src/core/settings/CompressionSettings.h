#pragma once

#include <QString>
#include <cstdint>

namespace pixavant {

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
    int16_t CompressionChoice = 3;// 0 LZW, 1 CCITT Group3, 2 CCITT Group4, 3 JPEG, 4 PIXAVANT, 5 other
    int16_t FileFormat = 0;       // format code handed to the save operation
    int16_t QualityFactor = 0;    // quality argument handed to the save operation
    int16_t LastColorCompression = 1;   // 0 LZW, 1 JPEG, 2 PIXAVANT, 3 any other
    int16_t LastBilevelCompression = 0; // 0 CCITT Group3, 1 anything else
    QString OutputDir;            // always ends in "/"
    QString OutputExt;            // without the dot

    // The start-up values, with OutputDir set to the source directory.
    static CompressionSettings defaults(const QString& sourceDir);
};

// The program's one settings record.
CompressionSettings& compressionSettings();

}  // namespace pixavant
