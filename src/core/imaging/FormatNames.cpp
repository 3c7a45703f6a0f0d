#include "imaging/FormatNames.h"

#include <iterator>

#include "imaging/FormatCodes.h"

namespace pixavant::imaging {

namespace {

struct FormatNameEntry {
    int32_t code;
    const char* name;
};

// The names of the codes the file information knows. Codes without a name of their own in
// FormatCodes.h are formats the program reads no file of; they are named for completeness.
constexpr FormatNameEntry kFormatNames[] = {
    {format::kPcx, "PCX"},
    {format::kGif, "GIF"},
    {format::kTiff, "TIFF"},
    {format::kTiffLzw, "TIFF"},
    {format::kTiffCcittRle, "TIFF"},
    {format::kTiffG3_1D, "TIFF"},
    {format::kTiffG3_2D, "TIFF"},
    {format::kTiffG4, "TIFF"},
    {format::kTiffPackBits, "TIFF"},
    {format::kTga, "TARGA"},
    {format::kPixavant, "Proprietary"},
    {format::kBmp, "Windows BMP"},
    {format::kBmpRle, "Windows BMP"},
    {format::kJpeg444, "JPEG YUV4:4:4"},
    {format::kTiffJpeg444, "JTIF YUV4:4:4"},
    {format::kOs2BmpV1, "OS/2 BMP version 1.x"},
    {format::kWmf, "Windows Meta File"},
    {format::kEps, "PostScript"},
    {format::kJpeg420, "JPEG YUV4:1:1"},
    {format::kTiffJpeg420, "JTIF YUV4:1:1"},
    {format::kJpeg422, "JPEG YUV4:2:2"},
    {format::kTiffJpeg422, "JTIF YUV4:2:2"},
    {format::kPixavant1Bit, "Proprietary 1-bit"},
    {format::kPixavantLossless, "Proprietary lossless"},
    {50, "CALS"},
    {51, "MacPaint"},
    {52, "GEM Image"},
    {53, "Microsoft Paint"},
    {54, "Word Perfect"},
    {format::kSunRaster, "Sun Raster"},
    {format::kPict, "PICT"},
    {format::kPhotoCd, "PhotoCD"},
    {59, "AVI"},
    {63, "PostScript TIFF"},
    {64, "PostScript WMF"},
    {66, "Raw Fax"},
    {67, "Raw Fax"},
    {68, "Raw Fax"},
    {69, "Winfax"},
    {70, "Winfax"},
    {71, "IOCA"},
    {72, "IOCA"},
    {73, "IOCA"},
    {77, "IOCA"},
    {78, "IOCA"},
    {79, "IOCA"},
    {format::kOs2BmpV2, "OS/2 BMP version 2.x"},
    {format::kPng, "PNG"},
    {format::kPsd, "Adobe Photoshop"},
    {80, "FlashPix"},
    {81, "FlashPix single color"},
    {82, "FlashPix JPEG"},
    {83, "FlashPix JPEG"},
    {format::kTiffCmyk, "TIFF CMYK"},
    {format::kTiffCmykLzw, "TIFF CMYK"},
    {format::kTiffCmykPackBits, "TIFF CMYK"},
    {89, "DICOM grayscae"},
    {90, "DICOM color (RGB)"},
    {format::kIcon, "Windows icon file"},
    {format::kCursor, "Windows cursor file"},
    {format::kTiffYcc, "TIFF YCbCr"},
    {format::kTiffYccLzw, "TIFF YCbCr"},
    {format::kTiffYccPackBits, "TIFF YCbCr"},
    {96, "Exif TIFF"},
    {97, "Exif YCC"},
    {format::kExifJpeg, "Exif JPEG"},
    {format::kExifJpeg420, "Exif JPEG"},
    {99, "Microsoft FAX format"},
    {format::kHeif, "HEIF"},
    {format::kAvif, "AVIF"},
    {format::kWebp, "WebP"},
};

constexpr bool eachCodeOnce() {
    for (size_t i = 0; i < std::size(kFormatNames); ++i)
        for (size_t j = i + 1; j < std::size(kFormatNames); ++j)
            if (kFormatNames[i].code == kFormatNames[j].code)
                return false;
    return true;
}
static_assert(eachCodeOnce(), "a format code named twice: the later name would never be found");

}  // namespace

QString formatName(int32_t code) {
    for (const FormatNameEntry& entry : kFormatNames)
        if (entry.code == code)
            return QString::fromLatin1(entry.name);
    return QStringLiteral("Unknown format");
}

ImageInfoTexts imageInfoTexts(const FileInfoRecord& info) {
    const QString space = QStringLiteral(" ");
    ImageInfoTexts t;
    t.width = space + QString::number(info.Width) + QStringLiteral(" pixels");
    t.height = space + QString::number(info.Height) + QStringLiteral(" pixels");
    t.bitsPerPixel = space + QString::number(info.BitsPerPixel) + QStringLiteral(" bits");
    t.fileSize = space + QString::number(info.SizeDisk) + QStringLiteral(" bytes");
    t.imageSize = space + QString::number(info.SizeMem) + QStringLiteral(" bytes");
    t.compress = space + info.Compression.left(20);
    t.format = formatName(info.Format);
    if (format::isPixavant(info.Format))
        t.compress = space + QStringLiteral("Proprietary");
    t.format.prepend(space);
    if (t.format.contains(QStringLiteral("TIFF"), Qt::CaseSensitive))
        t.resolution = space + QString::number(info.XResolution) + QStringLiteral(" DPI");
    else
        t.resolution = QStringLiteral(" 72 DPI");
    return t;
}

std::array<QString, kImageInfoRows> imageInfoCaptions() {
    return {QStringLiteral("Format:"),         QStringLiteral("Compress:"),
            QStringLiteral("Width:"),          QStringLiteral("Height:"),
            QStringLiteral("Bits Per Pixel:"), QStringLiteral("Resoultion:"),
            QStringLiteral("File Size:"),      QStringLiteral("Image Size:")};
}

std::array<QString, kImageInfoRows> imageInfoRows(const ImageInfoTexts& t) {
    return {t.format,       t.compress,   t.width,    t.height,
            t.bitsPerPixel, t.resolution, t.fileSize, t.imageSize};
}

}  // namespace pixavant::imaging
