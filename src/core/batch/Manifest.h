#pragma once

#include <QFile>
#include <QString>
#include <mutex>
#include <optional>
#include <vector>

#include "imaging/Verification.h"

namespace pixavant::batch {

// A manifest records each conversion of a run, one JSON object per line (JSON Lines), so that the
// outputs can be checked later for fixity: that each still exists with the same size and SHA-256.
// docs/manifest.md describes the fields.

// One converted file.
struct ManifestEntry {
    QString source;  // paths as the run named them; a relative one counts from the manifest's
    QString output;  // directory
    qint64 sourceBytes = -1;
    qint64 outputBytes = -1;
    QString sourceSha256;  // 64 lower-case hexadecimal digits; empty when unknown
    QString outputSha256;
    int formatCode = 0;  // the format written
    int page = 0;        // of a file per page of a multi-page source: the page, from 1
    // "passed", "failed" or "not-verified"; with "passed" and "failed" also the method
    // ("identical", "psnr", "jpeg-reconstruction") and, for "psnr", the figure and the floor.
    QString verification = QStringLiteral("not-verified");
    QString method;
    std::optional<double> psnr;
    std::optional<double> floor;
};

// The SHA-256 of a file in lower-case hexadecimal, or nothing when it cannot be read.
std::optional<QString> sha256OfFile(const QString& path);

// The entry for a conversion from `source` to `output` in `formatCode`, with sizes and SHA-256 of
// both files and the outcome of `verification` (method None: not verified). A file that cannot be
// read keeps size -1 and an empty digest.
ManifestEntry describeConversion(const QString& source, const QString& output, int formatCode,
                                 const imaging::Verification& verification);

// How a manifest in `manifestDir` (ending in "/") records the absolute path `path`: relative to its
// own folder, so that a manifest moved or copied with its files still finds them, unless the file
// is on another file system than the manifest (then the absolute path). Links in the folders are
// resolved first, so that ".." steps where the file system does.
QString manifestRelativePath(const QString& path, const QString& manifestDir);

// The JSON line of an entry, without the line end.
QByteArray toJsonLine(const ManifestEntry& entry);
// The entry of a JSON line; nothing when the line is not a manifest entry (`error` says why).
std::optional<ManifestEntry> fromJsonLine(const QByteArray& line, QString& error);

// Appends entries to a manifest file, one line each, flushed as it is written. Several threads may
// write through one writer.
class ManifestWriter {
  public:
    // Opens `path` for appending (created when missing). False with `error` when it cannot be.
    bool open(const QString& path, QString& error);
    // Appends one entry. False when it could not be written (disk full).
    bool write(const ManifestEntry& entry) { return writeLine(toJsonLine(entry)); }
    // Appends a line made by toJsonLine(), given without its end.
    bool writeLine(const QByteArray& line);

  private:
    std::mutex mutex_;
    QFile file_;
};

// A manifest read back. Lines that are not entries are reported with their numbers (from 1).
// A run that converts a file again appends a new line for its output: only the latest line of
// each output counts, in the place of that output's first line.
struct Manifest {
    std::vector<ManifestEntry> entries;
    std::vector<QString> errors;  // "line 3: ..."
};
// False with `error` when the file cannot be read at all.
bool readManifest(const QString& path, Manifest& manifest, QString& error);

// The fixity of one output against its entry.
enum class Fixity {
    Intact,      // exists, same size and SHA-256
    Missing,     // no such file
    Changed,     // another size or SHA-256
    Unreadable,  // exists but cannot be read
    Unrecorded,  // the entry records no output size and digest to check against
};
// `manifestDir` resolves a relative output path.
Fixity checkFixity(const ManifestEntry& entry, const QString& manifestDir, QString& detail);

}  // namespace pixavant::batch
