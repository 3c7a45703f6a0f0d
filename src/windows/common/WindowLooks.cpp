#include "common/WindowLooks.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <algorithm>

namespace pixavant {

namespace {

// A caption as a name: no mnemonic ampersands, no colon at the end, blanks folded.
QString captionName(QString text) {
    text.remove(QLatin1Char('&'));
    text = text.simplified();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

}  // namespace

void keepWindowFixed(QWidget* window) {
    Qt::WindowFlags flags = window->windowFlags() & Qt::WindowType_Mask;
    flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
             Qt::WindowCloseButtonHint;
    if (flags.testFlag(Qt::Window) && !flags.testFlag(Qt::Dialog) && !window->parentWidget())
        flags |= Qt::WindowMinimizeButtonHint;
    window->setWindowFlags(flags);
}

void nameControls(QWidget* window) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        QWidget* buddy = label->buddy();
        if (buddy && buddy->accessibleName().isEmpty())
            buddy->setAccessibleName(captionName(label->text()));
    }
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (button->accessibleName().isEmpty())
            button->setAccessibleName(captionName(button->text()));
    }
    for (QGroupBox* group : window->findChildren<QGroupBox*>()) {
        if (group->accessibleName().isEmpty())
            group->setAccessibleName(captionName(group->title()));
    }
}

void widenForTitle(QMessageBox& box) {
    // Room for the title in a bold title-bar font, and for the frame's icon and buttons.
    QFont titleFont = box.font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    const int titleWidth = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle());
    const int width = std::max(240, titleWidth + 160);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

}  // namespace pixavant
