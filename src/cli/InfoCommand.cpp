#include <QFileInfo>
#include <algorithm>

#include "cli/Cli.h"
#include "imaging/FileInfo.h"
#include "imaging/FileNames.h"
#include "imaging/FormatNames.h"
#include "imaging/ImagingStatus.h"

namespace pixavant::cli {

namespace {

QString infoFailure(int32_t code) {
    switch (code) {
        case imaging::kErrFileNotFound:
            return QStringLiteral("no such file, or it cannot be read");
        case imaging::kErrFormat:
            return QStringLiteral("not an image in a format PIXAVANT reads");
        case imaging::kErrCorrupt:
            return QStringLiteral("the file is damaged");
        case imaging::kErrNoMemory:
            return QStringLiteral("Not enough memory available.");
        default:
            return QStringLiteral("the file's information cannot be read (code %1)").arg(code);
    }
}

}  // namespace

int runInfo(const QStringList& args, CliIo& io) {
    QStringList files;
    bool optionsEnded = false;
    for (const QString& arg : args) {
        if (!optionsEnded && (arg == QLatin1String("--help") || arg == QLatin1String("-h"))) {
            io.out << usageText();
            return kExitOk;
        }
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && arg.startsWith(QLatin1Char('-')) && arg != QLatin1String("-")) {
            io.err << "pixavant: unknown option '" << arg << "' (see pixavant --help)\n";
            return kExitUsage;
        }
        files << arg;
    }
    if (files.isEmpty()) {
        io.err << "pixavant: no files given (see pixavant --help)\n";
        return kExitUsage;
    }

    // The command line spells its own captions; the window's panel keeps its label.
    auto captions = imaging::imageInfoCaptions();
    captions[5] = QStringLiteral("Resolution:");
    int width = 0;
    for (const QString& caption : captions)
        width = std::max(width, int(caption.size()));
    int status = kExitOk;
    bool first = true;
    for (const QString& file : files) {
        imaging::FileInfoRecord info;
        const imaging::Status result = imaging::fileStatus(file).isFile
                                           ? imaging::readFileInfo(file, info)
                                           : imaging::kErrFileNotFound;
        if (result != imaging::kSuccess) {
            io.out.flush();
            io.err << "pixavant: " << imaging::displayFileName(file) << ": " << infoFailure(result)
                   << "\n";
            io.err.flush();
            status = kExitFailed;
            continue;
        }
        if (files.size() > 1) {
            if (!first)
                io.out << "\n";
            io.out << imaging::displayFileName(file) << ":\n";
        }
        first = false;
        const auto rows = imaging::imageInfoRows(imaging::imageInfoTexts(info));
        for (int i = 0; i < imaging::kImageInfoRows; ++i)
            io.out << captions[size_t(i)].leftJustified(width) << rows[size_t(i)] << "\n";
        if (info.TotalPages > 1)  // the fields above are the first page's
            io.out << QStringLiteral("Pages:").leftJustified(width) << " " << info.TotalPages
                   << "\n";
    }
    io.out.flush();
    return status;
}

}  // namespace pixavant::cli
