#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace pixavant {

// Shows a message box titled "PIXAVANT" with an OK button only, modal over parent, and returns
// when the user has closed it.
void showMessage(QWidget* parent, const QString& text);

// The same with `details` shown in the box's details area ("Show Details..."): for a failure, the
// file's name and the reason.
void showMessage(QWidget* parent, const QString& text, const QString& details);

// Replaces what showMessage() does (tests record the messages instead of showing them). An empty
// handler restores the message box. Returns the previous handler.
using MessageHandler = std::function<void(QWidget* parent, const QString& text)>;
MessageHandler setMessageHandler(MessageHandler handler);
// The same for messages with details; without one, they go to the message handler without them.
using DetailedMessageHandler =
    std::function<void(QWidget* parent, const QString& text, const QString& details)>;
DetailedMessageHandler setDetailedMessageHandler(DetailedMessageHandler handler);

}  // namespace pixavant
