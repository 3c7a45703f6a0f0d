#include <gtest/gtest.h>

#include "InspectFixtures.h"
#include "inspect/ImageDisplay.h"
#include "inspect/InfoPanel.h"

namespace pixavant {
namespace {

using testing::ImageDir;

// The eight texts of the information panel, top to bottom: format, compression, width, height,
// bits, resolution, file size, image size.
using Texts = std::array<QString, 8>;

// A main window at a directory of a.jpg (640 x 480) and b.tif (100 x 400), and what more a test
// writes there before open().
class InspectionTest : public testing::InspectTest {
  protected:
    void SetUp() override {
        InspectTest::SetUp();
        dir.jpeg("a.jpg", 640, 480);
        dir.tiff("b.tif", 100, 400);
    }
    void open() { w = InspectTest::open(dir.path()); }
    Texts texts() const {
        Texts texts;
        for (int row = 0; row < 8; ++row)
            texts[size_t(row)] = inspection->panel().field(row)->text();
        return texts;
    }
    ImageDisplay& preview() { return inspection->preview(); }

    ImageDir dir;
    QTemporaryDir trash;
    std::unique_ptr<MainWindow> w;
};

TEST_F(InspectionTest, StartUpAndClicksShowTheFileInThePanelAndScaledIntoThePreview) {
    open();
    EXPECT_EQ(w->previewArea(), &preview());
    EXPECT_EQ(texts(),
              (Texts{" JPEG YUV4:4:4", " JPEG", " 640 pixels", " 480 pixels", " 24 bits", " 72 DPI",
                     " " + QString::number(QFileInfo(dir.path() + "a.jpg").size()) + " bytes",
                     " 921600 bytes"}));
    // Fitted into the box at 23, 250 (the arithmetic has tests of its own).
    EXPECT_TRUE(preview().hasImage());
    EXPECT_EQ(preview().geometry(), QRect(23, 250, 229, 172));

    click(w->sourceList(), 1);
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "b.tif");
    EXPECT_EQ(texts(), (Texts{" TIFF", " Uncompressed", " 100 pixels", " 400 pixels", " 8 bits",
                              " 300 DPI", texts()[6], " 40000 bytes"}));

    // What is painted: the whole image over the whole control, enlarged.
    dir.jpeg("c.jpg", 300, 300, 20, 40, 220);
    w->fillSourceList();
    click(w->sourceList(), 2);
    EXPECT_EQ(preview().geometry(), QRect(23 + 28, 250, 173, 173));
    const QImage shot = preview().grab().toImage();
    ASSERT_EQ(shot.size(), QSize(173, 173));
    for (const QPoint p : {QPoint(1, 1), QPoint(86, 86), QPoint(171, 171)}) {
        const QColor c = shot.pixelColor(p);
        EXPECT_TRUE(std::abs(c.red() - 20) + std::abs(c.green() - 40) + std::abs(c.blue() - 220) <=
                    12)
            << c.name().toStdString();
    }
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(InspectionTest, ALargePhotoIsDecodedAtReducedScale) {
    dir.jpeg("0.jpg", 2400, 1600);
    open();
    EXPECT_EQ(texts()[2], " 2400 pixels");
    EXPECT_EQ(preview().geometry(), QRect(23, 250 + 10, 229, 153));
    // 1/8 scale still covers 229 x 153; the control goes on reporting the file's size.
    EXPECT_EQ(preview().shownImage().size(), QSize(300, 200));
    EXPECT_EQ(preview().bitmapWidth(), 2400.0f);
    EXPECT_EQ(preview().bitmapHeight(), 1600.0f);
}

TEST_F(InspectionTest, WithInfoUncheckedBothAreKeptWithPreviewUncheckedThePreviewEmpties) {
    dir.brokenTiff("c.tif");
    open();
    const Texts before = texts();
    const QRect geometry = preview().geometry();
    const qint64 image = preview().shownImage().cacheKey();

    // Info unchecked: a click only changes the current file; checked again, nothing is
    // refreshed until the next click.
    w->imageInfoClick();
    click(w->sourceList(), 1);
    w->imageInfoClick();
    EXPECT_EQ(appState().CurrentImagePath, dir.path() + "b.tif");
    EXPECT_EQ(texts(), before);
    EXPECT_EQ(preview().shownImage().cacheKey(), image);

    // Preview unchecked: the panel is filled; the preview, which would show another file than
    // the panel, shows none.
    w->previewImageClick();
    click(w->sourceList(), 0);
    EXPECT_EQ(texts(), before);
    EXPECT_EQ(preview().shownImage().cacheKey(), image);  // the same file: kept
    click(w->sourceList(), 1);
    EXPECT_EQ(texts()[0], " TIFF");
    EXPECT_EQ(preview().geometry(), geometry);
    EXPECT_FALSE(preview().hasImage());
    // A file whose pixels cannot be read is no failure while only its information is shown.
    click(w->sourceList(), 2);
    EXPECT_EQ(texts()[2], " 64 pixels");
    EXPECT_EQ(inspection->shownPath(), dir.path() + "c.tif");
}

TEST_F(InspectionTest, AFileThatCannotBeReadEmptiesThePreviewWithThePanel) {
    dir.junk("c.gif");
    dir.brokenTiff("d.tif");
    open();
    // No image, or a file that vanished since the scan: an empty panel; the information reads but
    // the pixels do not: the failure state. The preview never goes on showing the file before.
    QFile::remove(dir.path() + "a.jpg");
    const std::pair<int, Texts> cases[] = {
        {2, Texts{}}, {0, Texts{}}, {3, Texts{"Unknown format", "", "", "", "", "", "", ""}}};
    for (const auto& [row, panel] : cases) {
        click(w->sourceList(), 1);
        ASSERT_TRUE(preview().hasImage());
        click(w->sourceList(), row);
        EXPECT_EQ(texts(), panel) << row;
        EXPECT_FALSE(preview().hasImage()) << row;
    }
    click(w->sourceList(), 1);  // the next good file is shown normally
    EXPECT_EQ(texts()[0], " TIFF");
    EXPECT_TRUE(preview().hasImage());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(InspectionTest, DeletingTheFileShownEmptiesThePanelAndThePreview) {
    qputenv("XDG_DATA_HOME", QByteArray(trash.path().toLocal8Bit()));
    open();
    // Another file deleted: both go on showing a.jpg.
    appState().ListClickUpdatesEnabled = false;
    w->sourceList()->setSelected(0, false);
    w->sourceList()->setSelected(1, true);
    appState().ListClickUpdatesEnabled = true;
    w->deleteFileClick();
    ASSERT_EQ(w->sourceList()->items(), QStringList({" a.jpg"}));
    EXPECT_EQ(texts()[0], " JPEG YUV4:4:4");
    EXPECT_TRUE(preview().hasImage());
    // The file shown deleted: neither shows it any more.
    click(w->sourceList(), 0);
    w->deleteFileClick();
    EXPECT_EQ(texts(), Texts{});
    EXPECT_FALSE(preview().hasImage());
    EXPECT_TRUE(inspection->shownPath().isEmpty());
    EXPECT_TRUE(w->sourceList()->items().isEmpty());
    EXPECT_TRUE(messages.isEmpty());
}

}  // namespace
}  // namespace pixavant
