#include "common/FormLayout.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <algorithm>

namespace pixavant {

QFont formFont(double pointSize) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(pointSize);
    // The narrower face of the family keeps the captions within the dialogs' fixed positions.
    font.setStretch(QFont::SemiCondensed);
    return font;
}

void placeControl(QWidget* control, QRect design) {
    int top = design.top();
    int width = design.width();
    int height = design.height();
    const bool captioned =
        qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control);
    const bool textField = qobject_cast<QLineEdit*>(control) != nullptr;
    if (captioned || textField) {
        control->ensurePolished();
        const QSize hint = control->sizeHint();
        if (captioned)
            width = std::max(width, hint.width());
        if (hint.height() > height) {
            top -= (hint.height() - height) / 2;
            height = hint.height();
        }
    }
    control->setGeometry(design.left(), top, width, height);
}

QRect WrappingCheckBox::indicatorRect() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    return style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, this);
}

QRect WrappingCheckBox::captionRect() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    QRect caption = rect();
    caption.setLeft(indicatorRect().right() + 1 + spacing);
    return caption;
}

QSize WrappingCheckBox::sizeHint() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this) +
                          style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
    const QFontMetrics metrics = fontMetrics();
    int widestWord = 0;
    for (const QString& word : text().split(u' ', Qt::SkipEmptyParts)) {
        widestWord = std::max(widestWord, metrics.horizontalAdvance(word));
    }
    const int textWidth = std::max(widestWord, width() - indicator);
    const QRect wrapped =
        metrics.boundingRect(QRect(0, 0, textWidth, 10000), Qt::TextWordWrap, text());
    return {indicator + std::max(widestWord, wrapped.width()) + 2,
            std::max(wrapped.height(), metrics.height()) + 2};
}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.rect = indicatorRect();
    painter.drawPrimitive(QStyle::PE_IndicatorCheckBox, option);
    const QRect caption = captionRect();
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap | Qt::TextShowMnemonic;
    painter.drawItemText(caption, flags, palette(), isEnabled(), text(), QPalette::WindowText);
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = fontMetrics().boundingRect(caption, flags, text()).adjusted(-1, 0, 1, 0);
        painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
    }
}

}  // namespace pixavant
