#include <QApplication>

#include "app/Startup.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
    if (pixavant::cli::isCliCommand(argc, argv)) {
        return pixavant::cli::runCli(argc, argv);
    }
    QApplication app(argc, argv);
    return pixavant::runDesktop(app, app.arguments().mid(1));
}
