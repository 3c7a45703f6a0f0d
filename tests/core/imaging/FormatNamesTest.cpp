#include <gtest/gtest.h>

#include <QStringList>

#include "imaging/FormatNames.h"

namespace pixavant::imaging {
namespace {

TEST(ImageInfoTexts, AsTheInformationPanelShowsThem) {
    FileInfoRecord info;
    info.Format = 3;
    info.Width = 640;
    info.Height = 0;
    info.BitsPerPixel = 24;
    info.SizeDisk = 12345;
    info.SizeMem = -1;
    info.Compression = "LZW";
    info.XResolution = 300;
    const ImageInfoTexts t = imageInfoTexts(info);
    EXPECT_EQ(QStringList({t.format, t.compress, t.width, t.height, t.bitsPerPixel, t.resolution,
                           t.fileSize, t.imageSize}),
              QStringList({" TIFF", " LZW", " 640 pixels", " 0 pixels", " 24 bits", " 300 DPI",
                           " 12345 bytes", " -1 bytes"}));

    // Only names containing "TIFF" show the stored resolution.
    const std::pair<int, const char*> resolution[] = {
        {10, " 72 DPI"},  {11, " 72 DPI"}, {63, " 300 DPI"}, {96, " 300 DPI"},
        {29, " 300 DPI"}, {0, " 72 DPI"},  {5, " 72 DPI"}};
    for (const auto& [code, text] : resolution) {
        info.Format = code;
        EXPECT_EQ(imageInfoTexts(info).resolution, QString::fromLatin1(text)) << code;
    }
    // The PIXAVANT formats show "Proprietary" as their compression.
    const std::tuple<int, const char*, const char*> proprietary[] = {
        {5, " Proprietary", " Proprietary"},
        {26, " Proprietary 1-bit", " Proprietary"},
        {30, " Proprietary lossless", " Proprietary"},
        {0, " Unknown format", " LZW"}};
    for (const auto& [code, format, compress] : proprietary) {
        info.Format = code;
        EXPECT_EQ(imageInfoTexts(info).format, QString::fromLatin1(format)) << code;
        EXPECT_EQ(imageInfoTexts(info).compress, QString::fromLatin1(compress)) << code;
    }
    info.Compression = "ABCDEFGHIJKLMNOPQRST";  // all 20 characters
    EXPECT_EQ(imageInfoTexts(info).compress, " ABCDEFGHIJKLMNOPQRST");
}

}  // namespace
}  // namespace pixavant::imaging
