#include "common/FocusMarks.h"

#include <QPainter>
#include <QWidget>

namespace pixavant {

void paintFocusFrame(QWidget* view) {
    QPainter painter(view);
    QPen pen(view->palette().color(QPalette::Active, QPalette::Highlight), 2);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(view->rect()).adjusted(1, 1, -1, -1));
}

void FocusItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);
    if (!(option.state & QStyle::State_HasFocus))
        return;
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    QPen pen(option.palette.color(QPalette::Active,
                                  selected ? QPalette::HighlightedText : QPalette::Highlight));
    pen.setStyle(Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    painter->restore();
}

}  // namespace pixavant
