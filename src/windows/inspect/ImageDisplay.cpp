#include "inspect/ImageDisplay.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "common/WindowMetrics.h"
#include "imaging/ImagingStatus.h"
#include "inspect/RasterImage.h"

namespace pixavant {

namespace {
constexpr int kTwipsPerPixel = 15;

int16_t toTwips(int pixels) {
    return int16_t(std::clamp(pixels * kTwipsPerPixel, -32768, 32767));
}
}  // namespace

ImageDisplay::ImageDisplay(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("LEAD1"));
    setAttribute(Qt::WA_NoSystemBackground);
}

imaging::Status ImageDisplay::readFileInfo(const QString& path) {
    return control_.readFileInfo(path);
}

void ImageDisplay::setDisplayMode(int mode) {
    if (mode != displayMode_) {
        displayMode_ = mode;
        update();
    }
}

int16_t ImageDisplay::load(const QString& path, int16_t bitsPerPixel, int page) {
    // Decode for the control's size in device pixels: nothing larger than what is painted.
    const qreal ratio = devicePixelRatioF();
    if (actualSize_)
        control_.setDisplayFit(0, 0);
    else
        control_.setDisplayFit(std::max(1, int(std::ceil(width() * ratio))),
                               std::max(1, int(std::ceil(height() * ratio))));
    int16_t status = control_.load(path, bitsPerPixel, page);
    QImage image;
    if (status == imaging::kSuccess) {
        image = toQImage(control_.displayRaster());
        if (image.isNull())
            status = imaging::kErrNoMemory;
    }
    if (status != imaging::kSuccess) {
        // The last image stays as it was shown, not stretched to a geometry meant for another.
        if (hasImage() && geometry() != shownGeometry_)
            setGeometry(shownGeometry_);
        return status;
    }
    image_ = std::move(image);
    scaled_ = QImage();
    naturalSize_ =
        QSize(int(std::lround(control_.bitmapWidth())), int(std::lround(control_.bitmapHeight())));
    shownGeometry_ = geometry();
    pan_ = QPoint();
    update();
    return status;
}

void ImageDisplay::clearImage() {
    image_ = QImage();
    scaled_ = QImage();
    naturalSize_ = QSize();
    update();
}

void ImageDisplay::setActualSize(bool actual) {
    actualSize_ = actual;
    pan_ = QPoint();
    update();
}

void ImageDisplay::pan(int dx, int dy) {
    if (!actualSize_ || image_.isNull())
        return;
    // Each way, the image's centre may move by half of what it overhangs the control.
    const QSize size = naturalSize_.isEmpty() ? image_.size() : naturalSize_;
    const int spareX = std::max(0, (size.width() - width()) / 2);
    const int spareY = std::max(0, (size.height() - height()) / 2);
    const QPoint moved(std::clamp(pan_.x() + dx, -spareX, spareX),
                       std::clamp(pan_.y() + dy, -spareY, spareY));
    if (moved != pan_) {
        pan_ = moved;
        update();
    }
}

void ImageDisplay::mousePressEvent(QMouseEvent* event) {
    dragFrom_ = event->position().toPoint();
    QWidget::mousePressEvent(event);
}

void ImageDisplay::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint at = event->position().toPoint();
    pan(at.x() - dragFrom_.x(), at.y() - dragFrom_.y());
    dragFrom_ = at;
}

QRect ImageDisplay::imageRect() const {
    if (image_.isNull())
        return {};
    if (displayMode_ == kScaleToFit)
        return rect();
    QSize size = naturalSize_.isEmpty() ? image_.size() : naturalSize_;
    if (actualSize_)
        return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2) + pan_,
                     size);
    if (size.width() > width() || size.height() > height())
        size.scale(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

PreviewBox ImageDisplay::previewBox() const {
    return PreviewBox{int16_t(std::min(width(), 32767)), int16_t(std::min(height(), 32767)),
                      toTwips(x()), toTwips(y())};
}

void ImageDisplay::setControlGeometry(const ControlGeometry& twips) {
    setGeometry(twipRect(twips.left, twips.top, twips.width, twips.height));
}

void ImageDisplay::paintEvent(QPaintEvent*) {
    const QRect target = imageRect();
    if (target.isEmpty())
        return;
    QPainter painter(this);
    const qreal ratio = devicePixelRatioF();
    const QSize deviceSize(int(std::lround(target.width() * ratio)),
                           int(std::lround(target.height() * ratio)));
    if (deviceSize == image_.size()) {
        QImage same = image_;
        same.setDevicePixelRatio(ratio);
        painter.drawImage(target.topLeft(), same);
        return;
    }
    if (scaled_.size() != deviceSize) {
        scaled_ = image_.scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        scaled_.setDevicePixelRatio(ratio);
    }
    painter.drawImage(target.topLeft(), scaled_);
}

}  // namespace pixavant
