#pragma once

#include <QCheckBox>
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;

namespace pixavant {

// The font of the dialogs: the platform's sans-serif at the given point size, semi-condensed.
QFont formFont(double pointSize = 8);

// Places a control at its designed place within its parent (`twipRect`). Buttons and labels grow to
// the right and text fields and buttons grow around their middle where the font needs more room, so
// that no caption is clipped.
void placeControl(QWidget* control, QRect design);

// `control` named (its objectName) and placed as placeControl places it.
template <class Control>
Control* placeNamed(Control* control, const char* name, QRect design) {
    control->setObjectName(QLatin1String(name));
    placeControl(control, design);
    return control;
}

// A check box whose caption wraps onto further lines when the box is narrower than the caption.
class WrappingCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }

  private:
    QRect indicatorRect() const;
    QRect captionRect() const;
};

}  // namespace pixavant
