#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QApplication;

namespace pixavant {

// The directory the main window opens at, ending in "/": the only argument when there is one,
// otherwise the working directory. An image file as the argument ("Open with" on a photo) opens
// its directory, and its name goes to *fileName. Nothing (and a message in *error) when the
// arguments do not name one directory or file.
std::optional<QString> startDirectory(const QStringList& arguments, QString* error,
                                      QString* fileName = nullptr);

// Runs the desktop program: the splash window for splashMs, then the main window until it is
// closed. arguments are the command-line arguments after the program name.
int runDesktop(QApplication& app, const QStringList& arguments, int splashMs = 4000);

}  // namespace pixavant
