// "pixavant verify --manifest FILE": the fixity check of the outputs a manifest lists.

#include <QFileInfo>

#include "batch/Manifest.h"
#include "cli/Cli.h"

namespace pixavant::cli {

namespace {

struct Tally {
    int intact = 0;
    int missing = 0;
    int changed = 0;
    int unreadable = 0;
    int unrecorded = 0;

    int problems() const { return missing + changed + unreadable + unrecorded; }
};

QString label(batch::Fixity fixity) {
    switch (fixity) {
        case batch::Fixity::Intact:
            return QStringLiteral("intact     ");
        case batch::Fixity::Missing:
            return QStringLiteral("MISSING    ");
        case batch::Fixity::Changed:
            return QStringLiteral("CHANGED    ");
        case batch::Fixity::Unreadable:
            return QStringLiteral("UNREADABLE ");
        case batch::Fixity::Unrecorded:
            break;
    }
    return QStringLiteral("UNRECORDED ");
}

void count(Tally& tally, batch::Fixity fixity) {
    switch (fixity) {
        case batch::Fixity::Intact:
            ++tally.intact;
            return;
        case batch::Fixity::Missing:
            ++tally.missing;
            return;
        case batch::Fixity::Changed:
            ++tally.changed;
            return;
        case batch::Fixity::Unreadable:
            ++tally.unreadable;
            return;
        case batch::Fixity::Unrecorded:
            ++tally.unrecorded;
            return;
    }
}

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
        if (arg.startsWith(QLatin1String("--manifest="))) {
            manifestPath = arg.mid(int(sizeof "--manifest=") - 1);
            continue;
        }
        io.err << "pixavant: verify: unexpected '" << arg << "' (see pixavant --help)\n";
        return kExitUsage;
    }
    if (manifestPath.isEmpty()) {
        io.err << "pixavant: verify: give the manifest: --manifest FILE (see pixavant --help)\n";
        return kExitUsage;
    }

    batch::Manifest manifest;
    QString error;
    if (!batch::readManifest(manifestPath, manifest, error)) {
        io.err << "pixavant: " << manifestPath << ": " << error << "\n";
        return kExitFailed;
    }
    for (const QString& problem : manifest.errors)
        io.err << "pixavant: " << manifestPath << ": " << problem << "\n";
    io.err.flush();

    const QString manifestDir = QFileInfo(manifestPath).absolutePath();
    Tally tally;
    for (const batch::ManifestEntry& entry : manifest.entries) {
        QString detail;
        const batch::Fixity fixity = batch::checkFixity(entry, manifestDir, detail);
        count(tally, fixity);
        io.out << label(fixity) << entry.output;
        if (fixity != batch::Fixity::Intact && fixity != batch::Fixity::Missing)
            io.out << " (" << detail << ")";
        io.out << "\n";
        io.out.flush();
    }
    io.out << manifest.entries.size() << " outputs checked: " << tally.intact << " intact";
    if (tally.missing > 0)
        io.out << ", " << tally.missing << " missing";
    if (tally.changed > 0)
        io.out << ", " << tally.changed << " changed";
    if (tally.unreadable > 0)
        io.out << ", " << tally.unreadable << " unreadable";
    if (tally.unrecorded > 0)
        io.out << ", " << tally.unrecorded << " without a digest";
    if (!manifest.errors.empty())
        io.out << "; " << manifest.errors.size() << " lines of the manifest unreadable";
    io.out << "\n";
    io.out.flush();
    return tally.problems() == 0 && manifest.errors.empty() ? kExitOk : kExitFailed;
}

}  // namespace pixavant::cli
