#include <QApplication>
#include <csignal>
#include <cstdio>

#include "app/DisplayCheck.h"
#include "app/Startup.h"
#include "cli/Cli.h"

int main(int argc, char** argv) {
    // A write past the file-size limit must fail with EFBIG, not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    if (pixavant::cli::isCliCommand(argc, argv)) {
        return pixavant::cli::runCli(argc, argv);
    }
    if (const auto message =
            pixavant::missingDisplayMessage(pixavant::DisplayEnvironment::fromProcess())) {
        std::fprintf(stderr, "%s\n", message->toLocal8Bit().constData());
        return 2;
    }
    QApplication app(argc, argv);
    return pixavant::runDesktop(app, app.arguments().mid(1));
}
