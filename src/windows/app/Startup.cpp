#include "app/Startup.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QScreen>
#include <QTextStream>
#include <memory>

#include "app/MainWindow.h"
#include "app/SplashWindow.h"
#include "inspect/Inspection.h"

namespace pixavant {

std::optional<QString> startDirectory(const QStringList& arguments, QString* error,
                                      QString* fileName) {
    QString dir;
    if (arguments.isEmpty()) {
        dir = QDir::currentPath();
        if (dir.isEmpty()) {
            dir = QDir::homePath();
        }
    } else if (arguments.size() == 1) {
        const QFileInfo info(arguments.front());
        if (!info.exists()) {
            *error = QStringLiteral("%1: no such directory").arg(arguments.front());
            return std::nullopt;
        }
        if (info.isFile()) {
            dir = info.absolutePath();
            if (fileName)
                *fileName = info.fileName();
        } else if (info.isDir()) {
            dir = info.absoluteFilePath();
        } else {
            *error = QStringLiteral("%1: neither a directory nor a file").arg(arguments.front());
            return std::nullopt;
        }
    } else {
        *error = QStringLiteral("usage: pixavant [DIRECTORY | FILE]");
        return std::nullopt;
    }
    dir = QDir::cleanPath(dir);
    if (!dir.endsWith(QLatin1Char('/'))) {
        dir += QLatin1Char('/');
    }
    return dir;
}

int runDesktop(QApplication& app, const QStringList& arguments, int splashMs) {
    QString error;
    QString fileName;
    const std::optional<QString> dir = startDirectory(arguments, &error, &fileName);
    if (!dir) {
        QTextStream(stderr) << "pixavant: " << error << '\n';
        return 2;
    }

    // The program ends when the main window closes (not when the splash gives way to it).
    app.setQuitOnLastWindowClosed(false);
    std::unique_ptr<MainWindow> mainWindow;
    SplashWindow splash(splashMs);
    QObject::connect(&splash, &SplashWindow::finished, &app, [&] {
        mainWindow = std::make_unique<MainWindow>();
        QObject::connect(mainWindow.get(), &MainWindow::closed, &app, &QApplication::quit);
        installInspection(*mainWindow);
        mainWindow->load(*dir);
        if (!fileName.isEmpty())
            mainWindow->selectSourceFile(fileName);
        mainWindow->show();
        if (QScreen* screen = mainWindow->screen()) {
            const QRect frame = mainWindow->frameGeometry();
            mainWindow->move(screen->availableGeometry().center() - frame.center() +
                             mainWindow->pos());
        }
    });
    splash.show();
    return app.exec();
}

}  // namespace pixavant
