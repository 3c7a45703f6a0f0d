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

TEST_F(InfoPanelTest, ShowsTheFileLayersTextsInItsRows) {
    // The rules of each text are the file layer's (imageInfoTexts); here, that they reach the rows.
    EXPECT_EQ(show(record(3)), (Texts{" TIFF", " LZW", " 640 pixels", " 480 pixels", " 24 bits",
                                      " 300 DPI", " 123456 bytes", " 921600 bytes"}));
    EXPECT_EQ(show(record(30))[1], " Proprietary");
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
