#include "cli/Cli.h"

#include <malloc.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <QFile>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "imaging/FileNames.h"

namespace pixavant::cli {

namespace {
// Read by every conversion thread; lock-free, so the signal handler may set it.
std::atomic<bool> interruptRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
extern "C" void onInterrupt(int) {
    interruptRequested.store(true);
}
}  // namespace

bool isCliCommand(int argc, char** argv) {
    if (argc < 2)
        return false;
    const char* first = argv[1];
    return std::strcmp(first, "convert") == 0 || std::strcmp(first, "info") == 0 ||
           std::strcmp(first, "verify") == 0 || std::strcmp(first, "--help") == 0 ||
           std::strcmp(first, "-h") == 0 || std::strcmp(first, "--version") == 0;
}

namespace {

// The commands, and what convert does by default.
QString usageSynopsis() {
    return QStringLiteral(
        "Usage:\n"
        "  pixavant convert [OPTIONS] FILE...   convert image files\n"
        "  pixavant convert [OPTIONS] --files-from LIST [FILE...]\n"
        "  pixavant convert [OPTIONS] --recursive DIR... [FILE...]\n"
        "  pixavant info FILE...                show what image files hold\n"
        "  pixavant verify [--manifest] FILE    check the outputs a manifest lists\n"
        "  pixavant --help, -h                  show this text\n"
        "  pixavant --version                   show the version\n"
        "\n"
        "convert: converts every FILE into a new image file, as the options dialog would.\n"
        "The defaults are the program's start-up settings (24-bit colour, same size, JPEG at\n"
        "the best quality, written as NAME.JPG beside each file), except the resolution: each\n"
        "file keeps its own.\n"
        "\n");
}

// The options of convert that decide the encoding.
QString encodingOptions() {
    return QStringLiteral(
        "  --dpi N            resolution of the output in dots per inch, 1 to 32767, as the\n"
        "                     options dialog's choice: TIFF files count by the resolution they\n"
        "                     state; files of every other format, and TIFF files that state\n"
        "                     none, count as 72 dpi. When the two differ the image is\n"
        "                     resampled so that its physical size stays the same. Without\n"
        "                     --dpi each file keeps the resolution it states (TIFF tags, JPEG\n"
        "                     density or EXIF, PNG pHYs; 72 dpi where it states none) and\n"
        "                     nothing is resampled. Either way, a page whose pixels are not\n"
        "                     square (a 204 x 98 dpi fax) is first resampled vertically to its\n"
        "                     horizontal resolution.\n"
        "  --depth D          colour depth: bw, gray, 8, 16, 24 or 48 (default 24).\n"
        "                     bw goes with g3 and g4 only (and is their default).\n"
        "                     48 keeps 16 bits per channel (gray stays gray, at 16 bits;\n"
        "                     files of 8 bits per sample stay at 8), with lzw and\n"
        "                     pixavant-lossless only. It exists only on the command line:\n"
        "                     the options dialog has no 48-bit choice.\n"
        "  --size S           same: keep the pixel size (default; rescaled for a change of\n"
        "                     resolution); WxH: that size in pixels, 0 for one side follows the\n"
        "                     aspect ratio (640x0). A given size is also scaled by the ratio of\n"
        "                     --dpi to the file's resolution when they differ.\n"
        "  --compression C    lzw                TIFF, LZW\n"
        "                     g3                 TIFF, CCITT Group 3 (level 0: 1-D, 1: 2-D)\n"
        "                     g4                 level 0: TIFF, CCITT Group 4;\n"
        "                                        level 1: PIXAVANT 1-bit\n"
        "                     jpeg               JPEG (default)\n"
        "                     pixavant           PIXAVANT (a JPEG XL file), lossy\n"
        "                     pixavant-lossless  PIXAVANT (a JPEG XL file), lossless\n"
        "  --level N          the compression level, the options dialog's slider position:\n"
        "                     jpeg 0 to 25 (quality factor 2 + 10 x N: 0 is the best quality,\n"
        "                     25 the smallest file; default 0), pixavant 0 to 8 (0 visually\n"
        "                     lossless, 8 smallest), g3 and g4 0 or 1. Not for lzw or\n"
        "                     pixavant-lossless.\n"
        "  --effort N         PIXAVANT only: how hard the JPEG XL encoder works, from 1 (fastest)\n"
        "                     to 9 (smallest file). Default: 7 for pixavant (6 at level 8), 3 for\n"
        "                     pixavant-lossless, 7 for g4 level 1 (1-bit); the window always\n"
        "                     uses these. Size and time on one core against the default\n"
        "                     (lossy at level 0 and lossless: Kodak photos; 1-bit: fax and\n"
        "                     scanned pages):\n"
        "                     effort            1     2     3     4     5     6     7     8     9\n"
        "                     lossy size     110%  110%  103%  103%  100%  100%  100%   97%   97%\n"
        "                           time     0.6x  0.6x  0.6x  0.6x  0.8x  0.9x  1.0x  8.0x 13.6x\n"
        "                     lossless size  117%  111%  100%   98%   96%   94%   92%     -     -\n"
        "                              time  0.8x  0.8x  1.0x  3.3x  4.0x  4.2x  6.3x     -     -\n"
        "                     1-bit size     716%  503%  443%  356%  101%  100%  100%     -     -\n"
        "                           time     0.1x  0.1x  0.1x  0.2x  0.9x  1.0x  1.0x     -     -\n"
        "                     Above 7 the encoder needs much more memory and time.\n");
}

// The options of convert that decide where outputs go and how the files are run.
QString outputAndRunOptions() {
    return QStringLiteral(
        "  -o, --output DIR   directory for the output files (default: each file's own); made,\n"
        "                     with its parents, when it is missing.\n"
        "  --full-names       name each output up to the last dot of its source's name instead\n"
        "                     of the first: 2024.06.01 beach.jpg becomes 2024.06.01 beach.JPG.\n"
        "  --ext EXT          extension of the output files, used exactly as given, letter case\n"
        "                     included (default: TIF for lzw, g3 and g4 level 0; JPG for jpeg;\n"
        "                     JXL for pixavant, pixavant-lossless and g4 level 1, which write\n"
        "                     JPEG XL files, as the output dialog proposes).\n"
        "  --files-from LIST  also convert the files that LIST names, one a line, after those\n"
        "                     given as FILE; - reads the names from standard input. Relative\n"
        "                     names are relative to the current directory. The list is read as\n"
        "                     a stream (twice: standard input is kept in a temporary file), so\n"
        "                     it may name millions of files.\n"
        "  -0, --null         the names in LIST each end in a NUL byte instead of a new line (as\n"
        "                     find prints them with its print0 action), so that they may hold\n"
        "                     any character.\n"
        "  --skip-existing    leave a file alone when its output file exists already, so that a\n"
        "                     run that was stopped or killed goes on where it stopped when it is\n"
        "                     started again (an output file appears complete or not at all).\n"
        "  --jobs N           convert N files at the same time, 1 to 256 (default: one per\n"
        "                     processor). The output files are the same for every N.\n"
        "  --keep-going       convert every file that can be converted, report each failure, and\n"
        "                     end with status 1 if any file failed (a FILE that does not exist\n"
        "                     fails in its turn instead of refusing the command).\n"
        "  -r, --recursive    a directory given converts the image files of its whole tree\n"
        "                     (after the files given, in name order), and with --output the\n"
        "                     tree is mirrored there: -o out photos writes out/photos/...\n"
        "                     Hidden files are passed over; links to directories are not\n"
        "                     followed, links to files only when the file is in the tree.\n"
        "                     Without --output, files named with the output extension (an\n"
        "                     earlier run's outputs) are passed over.\n"
        "  --verify           read each output back before it is kept: lossless outputs must\n"
        "                     hold the very pixels written, a JPEG recompressed into PIXAVANT\n"
        "                     must give back its source byte for byte, lossy outputs must\n"
        "                     reach their level's PSNR floor. An output that does not is\n"
        "                     removed and its file fails. Each file's line tells the result.\n"
        "  --manifest FILE    append one JSON line per output file to FILE: both paths,\n"
        "                     sizes and SHA-256 digests, the format written and the\n"
        "                     verification (docs/manifest.md); see pixavant verify. Paths are\n"
        "                     relative to FILE's directory (absolute on another file system),\n"
        "                     so that a copied archive is checked where it is.\n"
        "  --keep-dates       give each output its source's modification time.\n"
        "  --strip            write the pixels only: no EXIF, XMP or IPTC (kept by default,\n"
        "                     made true of the output: orientation 1, its size and resolution).\n");
}

// How convert names, replaces and reports.
QString convertNotes() {
    return QStringLiteral(
        "\n"
        "An output file is named after its source up to the first dot: scan.2.tif becomes\n"
        "scan.JPG (up to the last dot with --full-names). Files of the same name in the output\n"
        "directory are replaced, but never one of the files being converted: that file fails\n"
        "instead. Two files that would be written to one output file (photo.gif and photo.tif),\n"
        "however they are named (arguments, trees, lists), refuse the whole command before\n"
        "anything is written (exit status 2). A name that is not UTF-8 is converted all the same\n"
        "and shown with its other bytes as \\xHH. Without --keep-going, conversion stops at the\n"
        "first file that fails: the files being converted then are abandoned (nothing of them is\n"
        "written), the files converted before stay. Ctrl-C abandons the files in progress the\n"
        "same way and stops.\n"
        "\n"
        "Every page of a multi-page file is converted: TIFF outputs hold them all, JPEG and\n"
        "PIXAVANT outputs get a file per page, scan-1.JPG to scan-N.JPG (the number zero-padded\n"
        "to the width of N). A damaged page fails the whole file and nothing of it is written;\n"
        "so does a page file that would replace the output of another file of the run. Of an\n"
        "animation the first frame is converted, and a note says so.\n"
        "\n"
        "On a terminal one bar shows the progress of the whole run. Otherwise each file gets one\n"
        "line, in the order the files were given whatever order they finish in: 'FILE -> OUTPUT',\n"
        "with '(already there, skipped)' added for a file left alone. Failures go to standard\n"
        "error as 'pixavant: FILE: message (reason)' (a failed write names the output and the\n"
        "cause: permission denied, name too long, no space), and so does what of a file's\n"
        "metadata could not be carried (damaged metadata is left out; the pixels are still\n"
        "written).\n");
}

// The other commands, and the exit statuses.
QString infoAndVerifyUsage() {
    return QStringLiteral(
        "\n"
        "info: prints format, compression, width, height, bits per pixel, resolution, file size\n"
        "and image size of each FILE (of its first page), and the page count of a multi-page\n"
        "file.\n"
        "\n"
        "verify: checks that every output listed in the manifest of a conversion (JSON lines)\n"
        "still exists with the size and SHA-256 recorded, one line per file: intact, MISSING,\n"
        "CHANGED, UNREADABLE, or UNRECORDED (the manifest holds no digest for it). A relative\n"
        "path counts from the manifest's directory; an output recorded by several runs counts\n"
        "once, by its latest line. Exit status 0 when every output is intact, 1 otherwise.\n"
        "\n"
        "Exit status: 0 done; 1 a file could not be converted or read; 2 a wrong option or\n"
        "value (nothing was touched); 130 interrupted.\n");
}

}  // namespace

QString usageText() {
    return usageSynopsis() + encodingOptions() + outputAndRunOptions() + convertNotes() +
           infoAndVerifyUsage();
}

int showUsage() {
    QTextStream out(stdout);
    out << usageText();
    return kExitOk;
}

int runCli(const QStringList& args, CliIo& io) {
    if (args.isEmpty()) {
        io.out << usageText();
        return kExitOk;
    }
    const QString command = args.first();
    const QStringList rest = args.mid(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h")) {
        io.out << usageText();
        return kExitOk;
    }
    if (command == QLatin1String("--version")) {
        io.out << "pixavant " << PIXAVANT_VERSION << "\n";
        return kExitOk;
    }
    if (command == QLatin1String("convert"))
        return runConvert(rest, io);
    if (command == QLatin1String("info"))
        return runInfo(rest, io);
    if (command == QLatin1String("verify"))
        return runVerify(rest, io);
    io.err << "pixavant: unknown command '" << command << "' (see pixavant --help)\n";
    return kExitUsage;
}

int runCli(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << imaging::decodeFileName(QByteArray(argv[i]));
    QTextStream out(stdout);
    QTextStream err(stderr);
    CliIo io{out, err};
    io.inputFd = STDIN_FILENO;
    io.terminal = ::isatty(STDOUT_FILENO) == 1;
    if (io.terminal) {
        winsize size{};
        if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
            io.terminalWidth = size.ws_col;
    }
    if (!args.isEmpty() && args.first() == QLatin1String("convert")) {
        // Ctrl-C lets the file in progress be abandoned cleanly instead of ending the process.
        struct sigaction action {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, nullptr);
        ::sigaction(SIGTERM, &action, nullptr);
        io.interrupted = [] { return interruptRequested.load(); };
        // Image buffers come and go file after file: taking them all from the heap and keeping
        // freed memory there lets the next file reuse it instead of having fresh pages faulted
        // in, and the peak stays close to that of the largest file. One heap for every thread:
        // a heap per thread would keep each thread's freed buffers apart, and the peak of one
        // job would grow by what another job freed (allocations are few and large, so the
        // threads hardly ever wait for each other).
        ::mallopt(M_MMAP_MAX, 0);
        ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
        ::mallopt(M_ARENA_MAX, 1);
    }
    return runCli(args, io);
}

}  // namespace pixavant::cli
