#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "settings/CompressionSettings.h"

namespace pixavant::cli {

// The source files of one directory, converted by one run of the engine.
struct SourceGroup {
    QString sourceDir;  // absolute, ending in "/"
    QStringList names;  // bare file names, in the order given
};

// A parsed "convert" command.
struct ConvertJob {
    CompressionSettings settings;  // the encoding fields as the options dialog would store them
    QString outputDir;             // absolute, ending in "/"; empty: each file's own directory
    QString outputExt;
    std::vector<SourceGroup> groups;
    QStringList sourcePaths;  // every file, as absolute paths
};

struct ConvertParse {
    bool help = false;
    QString error;  // empty when the command is good
    ConvertJob job;
};

// Parses the arguments after "convert". Checks every option and value and that every file exists,
// so that a refused command touches nothing.
ConvertParse parseConvert(const QStringList& args);

}  // namespace pixavant::cli
