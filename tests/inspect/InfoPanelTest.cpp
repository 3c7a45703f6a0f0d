#include <gtest/gtest.h>

#include <QWidget>
#include <memory>

#include "InspectFixtures.h"

namespace pixavant {
namespace {

using imaging::FileInfoRecord;
using testing::Texts;

class InfoPanelTest : public ::testing::Test {
  protected:
    InfoPanelTest() {
        client_.resize(544, 437);
        area_ = new QWidget(&client_);
        area_->setGeometry(282, 249, 217, 165);
        panel_ = std::make_unique<InfoPanel>(area_, 4230, 3735);
    }
    Texts show(const FileInfoRecord& info) {
        panel_->showImageInfo(info);
        return testing::panelTexts(*panel_);
    }

    QWidget client_;
    QWidget* area_ = nullptr;
    std::unique_ptr<InfoPanel> panel_;
};

FileInfoRecord record(int32_t format, int32_t resolution = 300) {
    FileInfoRecord r;
    std::tie(r.Format, r.Width, r.Height, r.BitsPerPixel, r.SizeDisk, r.SizeMem, r.XResolution,
             r.YResolution) =
        std::tuple(format, 640, 480, 24, 123456, 921600, resolution, resolution);
    r.Compression = QStringLiteral("LZW");
    return r;
}

TEST_F(InfoPanelTest, ResolutionIsShownOnlyForNamesContainingTiff) {
    EXPECT_EQ(show(record(3)), (Texts{" TIFF", " LZW", " 640 pixels", " 480 pixels", " 24 bits",
                                      " 300 DPI", " 123456 bytes", " 921600 bytes"}));
    struct Case {
        int32_t code;
        QString format;
        QString resolution;
    };
    const Case cases[] = {{10, " JPEG YUV4:4:4", " 72 DPI"},  // whatever the file says
                          {11, " JTIF YUV4:4:4", " 72 DPI"},  // "JTIF" is not "TIFF"
                          {63, " PostScript TIFF", " 300 DPI"}, {96, " Exif TIFF", " 300 DPI"},
                          {98, " Exif JPEG", " 72 DPI"},        {2, " GIF", " 72 DPI"}};
    for (const Case& c : cases) {
        const Texts t = show(record(c.code));
        EXPECT_EQ(std::pair(t[0], t[5]), std::pair(c.format, c.resolution)) << c.code;
    }
    // A TIFF that states no resolution shows 0.
    EXPECT_EQ(show(record(17, 0))[5], " 0 DPI");
}

TEST_F(InfoPanelTest, ProprietaryFormatsOverwriteTheCompressionAndUnknownCodesAreNoFailure) {
    for (const int32_t code : {5, 26, 30}) {
        const Texts t = show(record(code));
        EXPECT_EQ(std::pair(t[1], t[5]), std::pair(QString(" Proprietary"), QString(" 72 DPI")))
            << code;
    }
    for (int32_t code : {0, 7, 100, -1, 1000}) {
        const Texts t = show(record(code));
        EXPECT_EQ(QStringList({t[0], t[1], t[2], t[5]}),
                  QStringList({" Unknown format", " LZW", " 640 pixels", " 72 DPI"}))
            << code;
    }
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

}  // namespace
}  // namespace pixavant
