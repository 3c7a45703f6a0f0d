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
// its last image until another loads or clearImage(); a failed load leaves it showing that image
// as it was.
//
// At actual size (any mode but 3) the image is decoded whole and painted one image pixel to one
// screen pixel, centred; where it is larger than the control, dragging with the mouse moves it.
class ImageDisplay : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kScaleToFit = 3;

    explicit ImageDisplay(QWidget* parent = nullptr);

    imaging::ImagingControl& control() { return control_; }

    // The file information of `path`; 0 on success, bitmapWidth() and bitmapHeight() then give
    // the file's size.
    imaging::Status readFileInfo(const QString& path);
    float bitmapWidth() const { return control_.bitmapWidth(); }
    float bitmapHeight() const { return control_.bitmapHeight(); }

    void setDisplayMode(int mode);
    int displayMode() const { return displayMode_; }

    // Loads and shows the file; 0 on success, otherwise the failure code.
    int16_t load(const QString& path, int16_t bitsPerPixel, int page = 0);
    bool hasImage() const { return !image_.isNull(); }
    // Shows nothing until the next load.
    void clearImage();

    // Actual size instead of reduced to fit; takes effect with the next load.
    void setActualSize(bool actual);
    bool actualSize() const { return actualSize_; }
    // Moves an image shown at actual size by (dx, dy) pixels, as far as it still covers the
    // control where it is larger than it.
    void pan(int dx, int dy);
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
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

  private:
    imaging::ImagingControl control_;
    int displayMode_ = 0;
    QImage image_;
    QImage scaled_;      // image_ at the size last painted
    QSize naturalSize_;  // the file's size in pixels of the image shown
    QRect shownGeometry_;
    bool actualSize_ = false;
    QPoint pan_;  // of the image at actual size, from its centred place
    QPoint dragFrom_;
};

}  // namespace pixavant
