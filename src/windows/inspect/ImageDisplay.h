#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <cstdint>

#include "imaging/ImagingControl.h"
#include "inspect/Fit.h"

namespace pixavant {

// The imaging display control: an imaging control that shows the image it holds.
//
// Display mode 3 paints the whole image scaled to the control's size (the caller sizes the control
// to the image's aspect first). Any other mode paints the image at its own size, reduced to fit
// where it is larger than the control, centred in it.
//
// load() decodes only as much of the file as the control's current size needs (a large JPEG at
// 1/2, 1/4 or 1/8 scale), so callers size the control before they load. The control keeps showing
// its last image until another loads; a failed load leaves it showing that image as it was.
class ImageDisplay : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kScaleToFit = 3;

    explicit ImageDisplay(QWidget* parent = nullptr);

    imaging::ImagingControl& control() { return control_; }

    // The file information of `path`; 0 on success, bitmapWidth() and bitmapHeight() then give
    // the file's size.
    int16_t readFileInfo(const QString& path, int16_t flags);
    float bitmapWidth() const { return control_.bitmapWidth(); }
    float bitmapHeight() const { return control_.bitmapHeight(); }

    void setDisplayMode(int mode);
    int displayMode() const { return displayMode_; }

    // Loads and shows the file; 0 on success, otherwise the failure code.
    int16_t load(const QString& path, int16_t bitsPerPixel, int16_t page, int16_t pageCount);
    bool hasImage() const { return !image_.isNull(); }
    // The image as decoded for display (possibly at reduced scale).
    const QImage& shownImage() const { return image_; }

    // The area the image is painted in, in pixels (the whole control in mode 3).
    QRect imageRect() const;

    // The rectangle the control occupies now: inner size in pixels, position in twips.
    PreviewBox previewBox() const;
    // Moves and resizes the control to a geometry given in twips.
    void setControlGeometry(const ControlGeometry& twips);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    imaging::ImagingControl control_;
    int displayMode_ = 0;
    QImage image_;
    QImage scaled_;      // image_ at the size last painted
    QSize naturalSize_;  // the file's size in pixels of the image shown
    QRect shownGeometry_;
};

}  // namespace pixavant
