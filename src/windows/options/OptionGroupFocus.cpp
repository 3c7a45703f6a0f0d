#include "options/OptionGroupFocus.h"

#include <QEvent>
#include <QRadioButton>

namespace pixavant {

OptionGroupFocus* OptionGroupFocus::install(QWidget* group) {
    return new OptionGroupFocus(group);
}

OptionGroupFocus::OptionGroupFocus(QWidget* group) : QObject(group) {
    options_ = group->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    for (QRadioButton* option : options_) {
        connect(option, &QRadioButton::toggled, this, &OptionGroupFocus::update);
        option->installEventFilter(this);
    }
    update();
}

QRadioButton* OptionGroupFocus::tabStop() const {
    QRadioButton* firstEnabled = nullptr;
    for (QRadioButton* option : options_) {
        if (!option->isEnabled())
            continue;
        if (option->isChecked())
            return option;
        if (!firstEnabled)
            firstEnabled = option;
    }
    return firstEnabled;
}

bool OptionGroupFocus::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::EnabledChange)
        update();
    return QObject::eventFilter(watched, event);
}

void OptionGroupFocus::update() {
    const QRadioButton* stop = tabStop();
    for (QRadioButton* option : options_) {
        const Qt::FocusPolicy policy = option->focusPolicy();
        option->setFocusPolicy(option == stop ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                              : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    }
}

}  // namespace pixavant
