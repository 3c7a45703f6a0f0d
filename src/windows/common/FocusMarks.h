#pragma once

#include <QEvent>
#include <QStyledItemDelegate>

class QAbstractItemView;

namespace pixavant {

// Paints a frame in the highlight colour over the border of a focused view: the style shows no
// focus on item views, so without it a keyboard user cannot tell which list has the focus.
void paintFocusFrame(QWidget* view);

// Draws the items as usual, and a rectangle around the current item while its view has the focus
// (where arrow keys and Space act, selected or not).
class FocusItemDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// An item view that shows where the focus is: a focus frame around the view and a mark on its
// current item.
template <class View>
class FocusMarkedView : public View {
  public:
    explicit FocusMarkedView(QWidget* parent = nullptr) : View(parent) {
        this->setItemDelegate(new FocusItemDelegate(this));
    }

  protected:
    bool event(QEvent* event) override {
        const bool handled = View::event(event);
        // The view's own paint event draws its border; the mark goes over it.
        if (event->type() == QEvent::Paint && this->hasFocus())
            paintFocusFrame(this);
        return handled;
    }
    void focusInEvent(QFocusEvent* event) override {
        View::focusInEvent(event);
        this->update();
    }
    void focusOutEvent(QFocusEvent* event) override {
        View::focusOutEvent(event);
        this->update();
    }
};

}  // namespace pixavant
