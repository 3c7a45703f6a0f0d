// "pixavant verify [--manifest] FILE": the fixity check of the outputs a manifest lists.

#include <QFileInfo>
#include <array>

#include "batch/Manifest.h"
#include "cli/Cli.h"
#include "imaging/FileNames.h"

namespace pixavant::cli {

namespace {

// Per fixity, in the order of batch::Fixity: the word a line starts with and the summary's name.
struct FixityText {
    const char* label;
    const char* summary;
};
constexpr std::array<FixityText, 5> kTexts = {{{"intact     ", "intact"},
                                               {"MISSING    ", "missing"},
                                               {"CHANGED    ", "changed"},
                                               {"UNREADABLE ", "unreadable"},
                                               {"UNRECORDED ", "without a digest"}}};

}  // namespace

int runVerify(const QStringList& args, CliIo& io) {
    QString manifestPath;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            io.out << usageText();
            return kExitOk;
        }
        if (arg == QLatin1String("--manifest") && i + 1 < args.size() && manifestPath.isEmpty()) {
            manifestPath = args[++i];
            continue;
        }
        if (arg.startsWith(QLatin1String("--manifest=")) && manifestPath.isEmpty()) {
            manifestPath = arg.mid(int(sizeof "--manifest=") - 1);
            continue;
        }
        // The manifest may be named alone, as the other commands name their files.
        if (!arg.startsWith(QLatin1Char('-')) && !arg.isEmpty() && manifestPath.isEmpty()) {
            manifestPath = arg;
            continue;
        }
        io.err << "pixavant: verify: unexpected '" << arg << "' (see pixavant --help)\n";
        return kExitUsage;
    }
    if (manifestPath.isEmpty()) {
        io.err
            << "pixavant: verify: give the manifest: pixavant verify FILE (see pixavant --help)\n";
        return kExitUsage;
    }

    batch::Manifest manifest;
    QString error;
    if (!batch::readManifest(manifestPath, manifest, error)) {
        io.err << "pixavant: " << imaging::displayFileName(manifestPath) << ": " << error << "\n";
        return kExitFailed;
    }
    for (const QString& problem : manifest.errors)
        io.err << "pixavant: " << imaging::displayFileName(manifestPath) << ": " << problem << "\n";
    io.err.flush();

    const QString manifestDir = QFileInfo(manifestPath).absolutePath();
    std::array<int, kTexts.size()> counts{};
    for (const batch::ManifestEntry& entry : manifest.entries) {
        QString detail;
        const batch::Fixity fixity = batch::checkFixity(entry, manifestDir, detail);
        ++counts[size_t(fixity)];
        io.out << kTexts[size_t(fixity)].label << imaging::displayFileName(entry.output);
        if (fixity != batch::Fixity::Intact && fixity != batch::Fixity::Missing)
            io.out << " (" << detail << ")";
        io.out << "\n";
        io.out.flush();
    }
    io.out << manifest.entries.size() << " outputs checked: " << counts[0] << " "
           << kTexts[0].summary;
    for (size_t i = 1; i < counts.size(); ++i)
        if (counts[i] > 0)
            io.out << ", " << counts[i] << " " << kTexts[i].summary;
    if (!manifest.errors.empty())
        io.out << "; " << manifest.errors.size() << " lines of the manifest unreadable";
    io.out << "\n";
    io.out.flush();
    const bool allIntact = size_t(counts[0]) == manifest.entries.size();
    return allIntact && manifest.errors.empty() ? kExitOk : kExitFailed;
}

}  // namespace pixavant::cli
