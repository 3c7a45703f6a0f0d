#include "cli/Cli.h"

int main(int argc, char** argv) {
    if (pixavant::cli::isCliCommand(argc, argv))
        return pixavant::cli::runCli(argc, argv);
    return pixavant::cli::showUsage();
}
