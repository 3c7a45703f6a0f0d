#pragma once

#include <QString>
#include <array>
#include <cstdint>

#include "imaging/FileInfo.h"

namespace pixavant::imaging {

// The name the information panel shows for a format code ("Unknown format" for codes it does not
// know).
QString formatName(int32_t formatCode);

// The eight texts of the information panel for a file, as shown in its value fields.
struct ImageInfoTexts {
    QString format;
    QString compress;
    QString width;
    QString height;
    QString bitsPerPixel;
    QString resolution;
    QString fileSize;
    QString imageSize;
};

ImageInfoTexts imageInfoTexts(const FileInfoRecord& info);

// The panel's captions, top to bottom, and the texts in the same order.
inline constexpr int kImageInfoRows = 8;
std::array<QString, kImageInfoRows> imageInfoCaptions();
std::array<QString, kImageInfoRows> imageInfoRows(const ImageInfoTexts& texts);

}  // namespace pixavant::imaging
