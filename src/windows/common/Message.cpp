#include "common/Message.h"

#include <QMessageBox>

#include "common/WindowLooks.h"

namespace pixavant {

namespace {
MessageHandler& handler() {
    static MessageHandler h;
    return h;
}
DetailedMessageHandler& detailedHandler() {
    static DetailedMessageHandler h;
    return h;
}

void showBox(QWidget* parent, const QString& text, const QString& details) {
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("PIXAVANT"), text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    keepWindowFixed(&box);
    widenForTitle(box);
    box.exec();
}
}  // namespace

void showMessage(QWidget* parent, const QString& text) {
    if (handler()) {
        handler()(parent, text);
        return;
    }
    showBox(parent, text, {});
}

void showMessage(QWidget* parent, const QString& text, const QString& details) {
    if (detailedHandler()) {
        detailedHandler()(parent, text, details);
        return;
    }
    if (handler()) {
        handler()(parent, text);
        return;
    }
    showBox(parent, text, details);
}

DetailedMessageHandler setDetailedMessageHandler(DetailedMessageHandler h) {
    DetailedMessageHandler previous = std::move(detailedHandler());
    detailedHandler() = std::move(h);
    return previous;
}

MessageHandler setMessageHandler(MessageHandler h) {
    MessageHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

}  // namespace pixavant
