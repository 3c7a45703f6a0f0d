#pragma once

#include <QStringList>
#include <QTextStream>
#include <functional>

namespace pixavant::cli {

// Where the command line writes, and what it knows of its terminal.
struct CliIo {
    QTextStream& out;
    QTextStream& err;
    bool terminal = false;  // `out` is a terminal: show a progress bar
    int terminalWidth = 80;
    // Asked during a conversion, from any of its threads: true when the user wants it stopped
    // (Ctrl-C).
    std::function<bool()> interrupted = [] { return false; };
    // Where "--files-from -" reads.
    int inputFd = 0;
};

// True when the arguments (program name first) ask for the command line rather than the windows.
bool isCliCommand(int argc, char** argv);

// Runs "convert", "info" or "--help" with the process's standard streams. Returns the exit status.
int runCli(int argc, char** argv);

// The same with the arguments after the program name.
int runCli(const QStringList& args, CliIo& io);

int runConvert(const QStringList& args, CliIo& io);
int runInfo(const QStringList& args, CliIo& io);
int runVerify(const QStringList& args, CliIo& io);

QString usageText();

// Prints the usage to standard output (for a start without a command).
int showUsage();

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a file could not be converted or read
inline constexpr int kExitUsage = 2;   // a wrong option or value; nothing was touched
inline constexpr int kExitInterrupted = 130;

}  // namespace pixavant::cli
