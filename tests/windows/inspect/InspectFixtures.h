#pragma once

#include <gtest/gtest.h>
#include <QLineEdit>
#include <QTemporaryDir>
#include <array>
#include <memory>

#include "JpegFixtures.h"
#include "TiffFixtures.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "common/Message.h"
#include "inspect/InfoPanel.h"
#include "inspect/Inspection.h"
#include "settings/AppState.h"
#include "settings/CompressionSettings.h"

namespace pixavant::testing {

// A temporary source directory with image files written into it.
class ImageDir {
  public:
    QString path() const { return dir_.path() + QLatin1Char('/'); }

    // A JPEG (4:4:4, JFIF) of one colour, with a resolution of `dpi`.
    void jpeg(const QString& name, int width, int height, uint8_t r = 200, uint8_t g = 30,
              uint8_t b = 30, int dpi = 300) {
        JpegFixture fixture;
        fixture.densityUnit = 1;
        fixture.xDensity = fixture.yDensity = dpi;
        ASSERT_TRUE(
            writeBytes(path() + name, makeJpeg(makeSolid(width, height, r, g, b), fixture)));
    }
    // An uncompressed gray TIFF with a resolution of `dpi`.
    void tiff(const QString& name, uint32_t width, uint32_t height, float dpi = 300) {
        TiffFixture fixture;
        fixture.width = width;
        fixture.height = height;
        fixture.xResolution = fixture.yResolution = dpi;
        fixture.data.assign(size_t(width) * height, 128);
        ASSERT_TRUE(writeTiffFixture(path() + name, fixture));
    }
    // A TIFF whose directory reads but whose pixels lie outside the file: its information can be
    // read, its image cannot.
    void brokenTiff(const QString& name) {
        RawTiff raw;
        raw.width = 64;
        raw.height = 48;
        raw.stripOffset = 1u << 20;
        ASSERT_TRUE(writeFile(path() + name, buildRawTiff(raw)));
    }
    // A file with an image name that holds no image.
    void junk(const QString& name) { ASSERT_TRUE(writeFile(path() + name, "not an image")); }

  private:
    QTemporaryDir dir_;
};

// Module-level state back at its start values; messages recorded instead of shown.
class InspectTest : public ::testing::Test {
  protected:
    void SetUp() override {
        appState() = AppState{};
        compressionSettings() = CompressionSettings{};
        previousHandler_ =
            setMessageHandler([this](QWidget*, const QString& text) { messages.append(text); });
    }
    void TearDown() override { setMessageHandler(previousHandler_); }

    // The main window with the inspection installed, loaded at dir.
    std::unique_ptr<MainWindow> open(const QString& dir) {
        auto window = std::make_unique<MainWindow>();
        inspection = installInspection(*window);
        window->load(dir);
        return window;
    }

    // A user's click on an item: it alone becomes selected and current, then the list's click.
    static void click(FileListBox* list, int row) {
        list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        emit list->listClicked();
    }

    QStringList messages;
    Inspection* inspection = nullptr;

  private:
    MessageHandler previousHandler_;
};

}  // namespace pixavant::testing
