#include "compare/ComparePane.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

namespace pixavant {

ComparePane::ComparePane(const CompareViewState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setMinimumSize(160, 120);
    setCursor(Qt::OpenHandCursor);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ComparePane::setImage(const QImage& image, QSize size) {
    image_ = image;
    size_ = size.isValid() ? size : image.size();
    part_ = {};
    note_.clear();
    update();
}

void ComparePane::setNote(const QString& note) {
    note_ = note;
    update();
}

void ComparePane::setUnderlay(const QImage& image) {
    underlay_ = image;
    update();
}

void ComparePane::setPart(const QImage& part, QPoint at) {
    part_ = part;
    partAt_ = at;
    update();
}

void ComparePane::clear() {
    image_ = {};
    part_ = {};
    note_.clear();
    underlay_ = {};
    size_ = {};
    update();
}

double ComparePane::scale() const {
    if (!state_.fitted || size_.isEmpty())
        return 1.0;
    // Fitted, but never enlarged: a small image is shown at its size.
    return std::min({1.0, double(width()) / size_.width(), double(height()) / size_.height()});
}

QRectF ComparePane::pictureRect() const {
    const double s = scale();
    const QSizeF shown(size_.width() * s, size_.height() * s);
    QPointF topLeft((width() - shown.width()) / 2, (height() - shown.height()) / 2);
    if (!state_.fitted) {
        // The view's centre point in the middle of the pane, the picture kept within its edges.
        const auto place = [](double pane, double picture, double centre) {
            if (picture <= pane)
                return (pane - picture) / 2;
            return std::clamp(pane / 2 - centre * picture, pane - picture, 0.0);
        };
        topLeft = {place(width(), shown.width(), state_.centre.x()),
                   place(height(), shown.height(), state_.centre.y())};
    }
    return {topLeft, shown};
}

void ComparePane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Dark));
    if (image_.isNull() && part_.isNull())
        return;
    const QRectF picture = pictureRect();
    // Smoothed whenever the pixels are not drawn one to one: an original of another size than
    // the output, or a reduced preview, would alias badly otherwise.
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          scale() < 1.0 || (!image_.isNull() && image_.size() != size_));
    if (!image_.isNull())
        painter.drawImage(picture, image_);
    if (!part_.isNull()) {
        const double s = scale();
        painter.drawImage(
            QRectF(picture.topLeft() + QPointF(partAt_) * s, QSizeF(part_.size()) * s), part_);
    }
    if (state_.divided) {
        const double x = std::round(width() * state_.divider);
        if (!underlay_.isNull()) {
            painter.save();
            painter.setClipRect(QRectF(0, 0, x, height()));
            painter.setRenderHint(QPainter::SmoothPixmapTransform,
                                  scale() < 1.0 || underlay_.size() != size_);
            painter.drawImage(picture, underlay_);
            painter.restore();
        }
        painter.fillRect(QRectF(x - 1, 0, 2, height()), palette().color(QPalette::Highlight));
    }
    if (!note_.isEmpty()) {
        const int margin = fontMetrics().height() / 3;
        QRect box = fontMetrics().boundingRect(note_).adjusted(-margin, -margin, margin, margin);
        // Over the result's side of a divided view.
        if (state_.divided)
            box.moveTopRight(QPoint(width() - 1 - margin, margin));
        else
            box.moveTopLeft(QPoint(margin, margin));
        painter.fillRect(box, palette().color(QPalette::ToolTipBase));
        painter.setPen(palette().color(QPalette::ToolTipText));
        painter.drawText(box, Qt::AlignCenter, note_);
    }
}

void ComparePane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    dragging_ = true;
    lastDrag_ = event->position().toPoint();
    setCursor(Qt::ClosedHandCursor);
}

void ComparePane::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_)
        return;
    const QPoint now = event->position().toPoint();
    const QPoint moved = now - lastDrag_;
    lastDrag_ = now;
    if (dragged_)
        dragged_(QPointF(moved) / scale());
}

void ComparePane::mouseReleaseEvent(QMouseEvent*) {
    dragging_ = false;
    setCursor(Qt::OpenHandCursor);
}

}  // namespace pixavant
