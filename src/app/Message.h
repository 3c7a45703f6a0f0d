#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace pixavant {

// Shows a message box titled "PIXAVANT" with an OK button only, modal over parent, and returns
// when the user has closed it.
void showMessage(QWidget* parent, const QString& text);

// Replaces what showMessage() does (tests record the messages instead of showing them). An empty
// handler restores the message box. Returns the previous handler.
using MessageHandler = std::function<void(QWidget* parent, const QString& text)>;
MessageHandler setMessageHandler(MessageHandler handler);

}  // namespace pixavant
