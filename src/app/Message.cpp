#include "app/Message.h"

#include <QMessageBox>

#include "app/WindowLooks.h"

namespace pixavant {

namespace {
MessageHandler& handler() {
    static MessageHandler h;
    return h;
}
}  // namespace

void showMessage(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(parent, text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("PIXAVANT"), text, QMessageBox::Ok, parent);
    keepWindowFixed(&box);
    widenForTitle(box);
    box.exec();
}

MessageHandler setMessageHandler(MessageHandler h) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

}  // namespace pixavant
