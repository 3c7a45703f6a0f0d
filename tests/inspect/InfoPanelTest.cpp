#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QWidget>
#include <map>
#include <memory>

#include "inspect/InfoPanel.h"

namespace pixavant {
namespace {

using imaging::FileInfoRecord;

// The eight texts in panel order: format, compress, width, height, bits, resolution, file size,
// image size.
using Texts = std::array<QString, 8>;

class InfoPanelTest : public ::testing::Test {
  protected:
    InfoPanelTest() {
        client_.resize(544, 437);
        area_ = new QWidget(&client_);
        area_->setGeometry(282, 249, 217, 165);
        panel_ = std::make_unique<InfoPanel>(area_, 4230, 3735);
    }
    Texts texts() const {
        Texts t;
        for (int row = 0; row < 8; ++row)
            t[size_t(row)] = panel_->field(row)->text();
        return t;
    }
    Texts show(const FileInfoRecord& info) {
        panel_->showImageInfo(info);
        return texts();
    }

    QWidget client_;
    QWidget* area_ = nullptr;
    std::unique_ptr<InfoPanel> panel_;
};

FileInfoRecord record(int32_t format, int32_t resolution = 300) {
    FileInfoRecord r;
    r.Format = format;
    r.Width = 640;
    r.Height = 480;
    r.BitsPerPixel = 24;
    r.SizeDisk = 123456;
    r.SizeMem = 921600;
    r.Compression = QStringLiteral("LZW");
    r.XResolution = resolution;
    r.YResolution = resolution;
    return r;
}

TEST_F(InfoPanelTest, ATiffShowsItsStoredResolution) {
    EXPECT_EQ(show(record(3)), (Texts{" TIFF", " LZW", " 640 pixels", " 480 pixels", " 24 bits",
                                      " 300 DPI", " 123456 bytes", " 921600 bytes"}));
}

TEST_F(InfoPanelTest, ResolutionIsShownOnlyForNamesContainingTiff) {
    struct Case {
        int32_t code;
        QString format;
        QString resolution;
    };
    const Case cases[] = {
        {10, " JPEG YUV4:4:4", " 72 DPI"},     // whatever the file says
        {11, " JTIF YUV4:4:4", " 72 DPI"},     // "JTIF" is not "TIFF"
        {63, " PostScript TIFF", " 300 DPI"},  //
        {85, " TIFF CMYK", " 300 DPI"},        //
        {93, " TIFF YCbCr", " 300 DPI"},       //
        {96, " Exif TIFF", " 300 DPI"},        //
        {98, " Exif JPEG", " 72 DPI"},         //
        {101, " Exif JPEG", " 72 DPI"},        //
        {2, " GIF", " 72 DPI"},                //
        {75, " PNG", " 72 DPI"},               //
        {89, " DICOM grayscae", " 72 DPI"},    //
        {14, " OS/2 BMP version 1.x", " 72 DPI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const Texts t = show(record(c.code));
        EXPECT_EQ(t[0], c.format);
        EXPECT_EQ(t[5], c.resolution);
    }
    // A TIFF that states no resolution shows 0.
    EXPECT_EQ(show(record(17, 0))[5], " 0 DPI");
}

TEST(FormatNameTest, NamesEveryKnownCodeAndNoOther) {
    const std::map<int32_t, const char*> names = {
        {1, "PCX"},
        {2, "GIF"},
        {3, "TIFF"},
        {4, "TARGA"},
        {5, "Proprietary"},
        {6, "Windows BMP"},
        {10, "JPEG YUV4:4:4"},
        {11, "JTIF YUV4:4:4"},
        {14, "OS/2 BMP version 1.x"},
        {15, "Windows Meta File"},
        {16, "PostScript"},
        {17, "TIFF"},
        {21, "JPEG YUV4:1:1"},
        {22, "JTIF YUV4:1:1"},
        {23, "JPEG YUV4:2:2"},
        {24, "JTIF YUV4:2:2"},
        {25, "TIFF"},
        {26, "Proprietary 1-bit"},
        {27, "TIFF"},
        {28, "TIFF"},
        {29, "TIFF"},
        {30, "Proprietary lossless"},
        {50, "CALS"},
        {51, "MacPaint"},
        {52, "GEM Image"},
        {53, "Microsoft Paint"},
        {54, "Word Perfect"},
        {55, "Sun Raster"},
        {56, "PICT"},
        {57, "PhotoCD"},
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
        {74, "OS/2 BMP version 2.x"},
        {75, "PNG"},
        {76, "Adobe Photoshop"},
        {77, "IOCA"},
        {78, "IOCA"},
        {79, "IOCA"},
        {80, "FlashPix"},
        {81, "FlashPix single color"},
        {82, "FlashPix JPEG"},
        {83, "FlashPix JPEG"},
        {84, "Windows BMP"},
        {85, "TIFF CMYK"},
        {86, "TIFF CMYK"},
        {87, "TIFF"},
        {88, "TIFF CMYK"},
        {89, "DICOM grayscae"},
        {90, "DICOM color (RGB)"},
        {91, "Windows icon file"},
        {92, "Windows cursor file"},
        {93, "TIFF YCbCr"},
        {94, "TIFF YCbCr"},
        {95, "TIFF YCbCr"},
        {96, "Exif TIFF"},
        {97, "Exif YCC"},
        {98, "Exif JPEG"},
        {99, "Microsoft FAX format"},
        {101, "Exif JPEG"},
    };
    for (int32_t code = -3; code <= 130; ++code) {
        const auto known = names.find(code);
        EXPECT_EQ(imaging::formatName(code),
                  known != names.end() ? known->second : "Unknown format")
            << code;
    }
    EXPECT_EQ(imaging::formatName(INT32_MIN), "Unknown format");
    EXPECT_EQ(imaging::formatName(INT32_MAX), "Unknown format");
}

TEST_F(InfoPanelTest, ProprietaryFormatsOverwriteTheCompression) {
    Texts t = show(record(5));
    EXPECT_EQ(t[0], " Proprietary");
    EXPECT_EQ(t[1], " Proprietary");
    EXPECT_EQ(t[5], " 72 DPI");
    t = show(record(26));
    EXPECT_EQ(t[0], " Proprietary 1-bit");
    EXPECT_EQ(t[1], " Proprietary");
    t = show(record(30));
    EXPECT_EQ(t[0], " Proprietary lossless");
    EXPECT_EQ(t[1], " Proprietary");
}

TEST_F(InfoPanelTest, UnknownCodesAreNoFailure) {
    for (int32_t code : {0, 7, 100, 102, -1, 12, 58, 65, 1000}) {
        SCOPED_TRACE(code);
        const Texts t = show(record(code));
        EXPECT_EQ(t[0], " Unknown format");
        EXPECT_EQ(t[1], " LZW");
        EXPECT_EQ(t[2], " 640 pixels");
        EXPECT_EQ(t[5], " 72 DPI");
    }
}

TEST_F(InfoPanelTest, ZeroAndNegativeValuesAreShownAsNumbers) {
    FileInfoRecord r;  // every number 0, no compression name
    r.Format = 3;
    EXPECT_EQ(show(r), (Texts{" TIFF", " ", " 0 pixels", " 0 pixels", " 0 bits", " 0 DPI",
                              " 0 bytes", " 0 bytes"}));
    r.SizeDisk = 2147483647;
    r.SizeMem = -5;
    const Texts t = show(r);
    EXPECT_EQ(t[6], " 2147483647 bytes");
    EXPECT_EQ(t[7], " -5 bytes");
}

TEST_F(InfoPanelTest, ATwentyCharacterCompressionNameIsShownWhole) {
    // Through the file layer's block: the name fills its 20 bytes with no NUL after it.
    FileInfoRecord r = record(3);
    r.Compression = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    imaging::FileInfoBlock block = imaging::toBlock(r);
    block[imaging::fileinfo_offset::kCompression + 20] = 'X';  // the next field's first byte
    const FileInfoRecord back = imaging::fromBlock(block);
    EXPECT_EQ(show(back)[1], " ABCDEFGHIJKLMNOPQRST");
}

TEST_F(InfoPanelTest, FailureShowsUnknownFormatWithoutASpaceAndEmptiesTheRest) {
    show(record(10));
    panel_->showFailure();
    EXPECT_EQ(texts(), (Texts{"Unknown format", "", "", "", "", "", "", ""}));
    panel_->clear();
    EXPECT_EQ(texts(), Texts{});
}

TEST_F(InfoPanelTest, CaptionsAndFieldsFollowTheDesignRows) {
    const char* names[] = {"txtFormat",       "txtCompress",   "txtWidth",    "txtHeight",
                           "txtBitsPerPixel", "txtResoultion", "txtFileSize", "txtImageSize"};
    for (int row = 0; row < 8; ++row) {
        SCOPED_TRACE(names[row]);
        QLineEdit* field = area_->findChild<QLineEdit*>(names[row]);
        ASSERT_EQ(field, panel_->field(row));
        EXPECT_TRUE(field->isReadOnly());
        EXPECT_TRUE(field->text().isEmpty());
        const QRect g = field->geometry().translated(area_->pos());
        EXPECT_EQ(g.left(), 376);                               // 5640 twips
        EXPECT_EQ(g.top(), qRound((3735 + 312 * row) / 15.0));  // rows 312 twips apart
        EXPECT_EQ(g.height(), 19);                              // 285 twips
        EXPECT_GE(g.width(), 123);                              // 1845 twips or wider
        EXPECT_LE(g.right(), client_.width() - 1);
        EXPECT_LE(g.bottom(), area_->geometry().bottom());  // not cut off by the area
    }
    // Captions in the same rows, left of the fields, none clipped.
    const QList<QLabel*> captions = area_->findChildren<QLabel*>();
    ASSERT_EQ(captions.size(), 8);
    for (const QLabel* caption : captions) {
        SCOPED_TRACE(caption->text().toStdString());
        EXPECT_EQ(caption->x() + area_->x(), 282);  // 4230 twips
        EXPECT_GE(caption->width(), caption->fontMetrics().horizontalAdvance(caption->text()));
        EXPECT_LT(caption->geometry().right() + area_->x(), 376);
    }
}

}  // namespace
}  // namespace pixavant
