#pragma once

#include <QImage>
#include <QPointF>
#include <QWidget>
#include <functional>

namespace pixavant {

// How both panes of the compare view show their images: fitted into the pane, or at 100% around a
// point of the image (in fractions of its width and height), which dragging moves.
struct CompareViewState {
    bool fitted = true;
    QPointF centre{0.5, 0.5};
    // One over the other: the result pane shows the original left of a divider, at `divider`
    // (a fraction of the pane's width), and the result right of it.
    bool divided = false;
    double divider = 0.5;
};

// One side of the compare view: an image drawn at the size of the output's page (an original of
// another size, or a reduced copy, is scaled to it), optionally a part drawn over it where it
// lies, and a note in its corner (what a preview is).
class ComparePane : public QWidget {
    Q_OBJECT

  public:
    ComparePane(const CompareViewState& state, QWidget* parent = nullptr);

    // `size`: the output's page size, which both panes share.
    // Clears the part and the note.
    void setImage(const QImage& image, QSize size);
    void setPart(const QImage& part, QPoint at);
    void setNote(const QString& note);
    // The image drawn left of the divider when the view is divided (the original).
    void setUnderlay(const QImage& image);
    void clear();
    const QImage& image() const { return image_; }
    const QString& note() const { return note_; }
    // Called while the user drags the picture: the move in image pixels.
    void onDragged(std::function<void(QPointF)> handler) { dragged_ = std::move(handler); }
    // The scale the picture is drawn at.
    double scale() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QRectF pictureRect() const;

    const CompareViewState& state_;
    QImage image_;
    QImage part_;
    QPoint partAt_;
    QString note_;
    QImage underlay_;
    QSize size_;
    QPoint lastDrag_;
    bool dragging_ = false;
    std::function<void(QPointF)> dragged_;
};

}  // namespace pixavant
