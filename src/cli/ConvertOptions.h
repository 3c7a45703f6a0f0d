#pragma once

#include <QString>
#include <QStringList>

#include "settings/CompressionSettings.h"

namespace pixavant::cli {

// A parsed "convert" command.
struct ConvertJob {
    CompressionSettings settings;   // the encoding fields as the options dialog would store them
    bool keepOwnResolution = true;  // no --dpi: each file keeps the resolution it states
    QString outputDir;              // absolute, ending in "/"; empty: each file's own directory
    bool makeOutputDir = false;     // outputDir does not exist yet: the run makes it
    bool fullNames = false;         // outputs are named up to the last dot of a name, not the first
    QString outputExt;
    QStringList sourcePaths;    // the files named on the command line, as absolute paths
    QStringList treeRoots;      // --recursive: the directories named, as given, without a final "/"
    QString filesFrom;          // a file that names more files ("-": standard input); empty: none
    bool nulSeparated = false;  // the names in filesFrom end in NUL bytes, not in new lines
    int jobs = 1;               // files converted at the same time
    bool keepGoing = false;     // a failed file does not end the run
    bool skipExisting = false;  // a file whose output exists is left alone
    bool verify = false;        // each output is read back and checked before it is kept
    QString manifestPath;       // a JSON Lines record of every output; empty: none
    bool keepDates = false;     // each output gets its source's modification time
    bool strip = false;         // the pixels only: no EXIF, XMP or IPTC is carried over
    int effort = 0;             // PIXAVANT's encoder effort, 1 to 9; 0: each format's own
};

struct ConvertParse {
    bool help = false;
    QString error;  // empty when the command is good
    ConvertJob job;
};

// Parses the arguments after "convert". Checks every option and value, that every file named on
// the command line exists (with --keep-going a missing one fails when the run gets to it) and
// that the list file can be read, so that a refused command touches nothing. The files a list
// names, and those of the trees, are checked when the run gets to them. Names are taken as
// FileNames.h decodes them.
ConvertParse parseConvert(const QStringList& args);

// The processors this process may run on: the default number of jobs.
int availableProcessors();

}  // namespace pixavant::cli
