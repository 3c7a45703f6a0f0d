#include "imaging/FormatNames.h"

namespace pixavant::imaging {

QString formatName(int32_t code) {
    const char* name = nullptr;
    switch (code) {
        case 1:
            name = "PCX";
            break;
        case 2:
            name = "GIF";
            break;
        case 3:
        case 17:
        case 25:
        case 27:
        case 28:
        case 29:
        case 87:
            name = "TIFF";
            break;
        case 4:
            name = "TARGA";
            break;
        case 5:
            name = "Proprietary";
            break;
        case 6:
        case 84:
            name = "Windows BMP";
            break;
        case 10:
            name = "JPEG YUV4:4:4";
            break;
        case 11:
            name = "JTIF YUV4:4:4";
            break;
        case 14:
            name = "OS/2 BMP version 1.x";
            break;
        case 15:
            name = "Windows Meta File";
            break;
        case 16:
            name = "PostScript";
            break;
        case 21:
            name = "JPEG YUV4:1:1";
            break;
        case 22:
            name = "JTIF YUV4:1:1";
            break;
        case 23:
            name = "JPEG YUV4:2:2";
            break;
        case 24:
            name = "JTIF YUV4:2:2";
            break;
        case 26:
            name = "Proprietary 1-bit";
            break;
        case 30:
            name = "Proprietary lossless";
            break;
        case 50:
            name = "CALS";
            break;
        case 51:
            name = "MacPaint";
            break;
        case 52:
            name = "GEM Image";
            break;
        case 53:
            name = "Microsoft Paint";
            break;
        case 54:
            name = "Word Perfect";
            break;
        case 55:
            name = "Sun Raster";
            break;
        case 56:
            name = "PICT";
            break;
        case 57:
            name = "PhotoCD";
            break;
        case 59:
            name = "AVI";
            break;
        case 63:
            name = "PostScript TIFF";
            break;
        case 64:
            name = "PostScript WMF";
            break;
        case 66:
        case 67:
        case 68:
            name = "Raw Fax";
            break;
        case 69:
        case 70:
            name = "Winfax";
            break;
        case 71:
        case 72:
        case 73:
        case 77:
        case 78:
        case 79:
            name = "IOCA";
            break;
        case 74:
            name = "OS/2 BMP version 2.x";
            break;
        case 75:
            name = "PNG";
            break;
        case 76:
            name = "Adobe Photoshop";
            break;
        case 80:
            name = "FlashPix";
            break;
        case 81:
            name = "FlashPix single color";
            break;
        case 82:
        case 83:
            name = "FlashPix JPEG";
            break;
        case 85:
        case 86:
        case 88:
            name = "TIFF CMYK";
            break;
        case 89:
            name = "DICOM grayscae";
            break;
        case 90:
            name = "DICOM color (RGB)";
            break;
        case 91:
            name = "Windows icon file";
            break;
        case 92:
            name = "Windows cursor file";
            break;
        case 93:
        case 94:
        case 95:
            name = "TIFF YCbCr";
            break;
        case 96:
            name = "Exif TIFF";
            break;
        case 97:
            name = "Exif YCC";
            break;
        case 98:
        case 101:
            name = "Exif JPEG";
            break;
        case 99:
            name = "Microsoft FAX format";
            break;
        case 102:
            name = "HEIF";
            break;
        case 103:
            name = "AVIF";
            break;
        case 104:
            name = "WebP";
            break;
        default:
            name = "Unknown format";
            break;
    }
    return QString::fromLatin1(name);
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
    if (info.Format == 5 || info.Format == 26 || info.Format == 30)
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
