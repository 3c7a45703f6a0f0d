#include "cli/ConvertOptions.h"

#include <sched.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <thread>

#include "cli/SourceList.h"
#include "imaging/FileNames.h"
#include "imaging/FormatCodes.h"
#include "imaging/PixavantEncoding.h"
#include "settings/CompressionChoices.h"

namespace pixavant::cli {

namespace {

struct Compression {
    const char* name;
    CompressionType type;
    bool lossless;
};
constexpr Compression kCompressions[] = {
    {"lzw", CompressionType::Lzw, false},
    {"g3", CompressionType::CcittG3, false},
    {"g4", CompressionType::CcittG4, false},
    {"jpeg", CompressionType::Jpeg, false},
    {"pixavant", CompressionType::Pixavant, false},
    {"pixavant-lossless", CompressionType::Pixavant, true},
};

struct Depth {
    const char* name;
    int choice;
};
constexpr Depth kDepths[] = {{"bw", 0}, {"gray", 1}, {"8", 2}, {"16", 3}, {"24", 4}, {"48", 5}};

// 16 bits per channel: a depth the command line has and the options dialog has not.
constexpr int kDeepDepthChoice = 5;

// Why --depth 48 cannot go with the compression, or nothing when it can: only TIFF LZW and
// PIXAVANT lossless hold 16 bits per channel.
std::optional<QString> deepDepthRefusal(const Compression& compression) {
    if (compression.type == CompressionType::Lzw || compression.lossless)
        return std::nullopt;
    return QStringLiteral(
               "--depth 48 keeps 16 bits per channel in --compression lzw or "
               "pixavant-lossless only, not in %1")
        .arg(QLatin1String(compression.name));
}

// A whole-text non-negative integer within 0..32767.
std::optional<int16_t> parsePixels(const QString& text) {
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 0 || value > 32767)
        return std::nullopt;
    return int16_t(value);
}

constexpr int kMaxJobs = 256;

// --effort: the JPEG XL encoder's effort, for the PIXAVANT formats only. Returns an error message,
// or nothing.
QString parseEffort(const std::map<QString, QString>& values, int formatCode, int& effort) {
    const auto given = values.find(QStringLiteral("--effort"));
    if (given == values.end())
        return {};
    if (!imaging::format::isPixavant(formatCode))
        return QStringLiteral(
            "--effort applies to PIXAVANT output only (--compression pixavant, "
            "pixavant-lossless, or g4 --level 1)");
    bool ok = false;
    effort = given->second.toInt(&ok);
    if (!ok || effort < imaging::kMinEffort || effort > imaging::kMaxEffort)
        return QStringLiteral("--effort: '%1' is not a number from %2 to %3")
            .arg(given->second)
            .arg(imaging::kMinEffort)
            .arg(imaging::kMaxEffort);
    return {};
}

}  // namespace

int availableProcessors() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        return std::clamp(CPU_COUNT(&set), 1, kMaxJobs);
    return std::clamp(int(std::thread::hardware_concurrency()), 1, kMaxJobs);
}

namespace {

// The command line as given: each option's value, the flags and the files named.
struct CommandLine {
    std::map<QString, QString> values;  // option name -> value
    std::set<QString> flags;
    QStringList files;
    bool help = false;
};

// Reads the options and their values, checking only that each is known and given once. Returns
// the refusal, or an empty text.
QString readCommandLine(const QStringList& args, CommandLine& line) {
    static const QStringList kValued = {"--dpi",        "--depth",   "--size", "--compression",
                                        "--level",      "--output",  "--ext",  "--jobs",
                                        "--files-from", "--manifest"};
    static const QStringList kEncoderOptions = {"--effort"};
    static const QStringList kFlags = {"--keep-going", "--skip-existing", "--null",
                                       "--verify",     "--recursive",     "--keep-dates",
                                       "--strip",      "--full-names"};
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == QLatin1String("-")) {
            line.files << arg;
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            line.help = true;
            return {};
        }
        QString name = arg;
        std::optional<QString> value;
        if (const qsizetype eq = arg.indexOf(QLatin1Char('='));
            arg.startsWith(QLatin1String("--")) && eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
        } else if (arg.startsWith(QLatin1String("-o")) && arg.size() > 2 &&
                   !arg.startsWith(QLatin1String("--"))) {
            name = QStringLiteral("-o");
            value = arg.mid(2);
        }
        if (name == QLatin1String("-o"))
            name = QStringLiteral("--output");
        if (name == QLatin1String("-0"))
            name = QStringLiteral("--null");
        if (name == QLatin1String("-r"))
            name = QStringLiteral("--recursive");
        if (kFlags.contains(name)) {
            if (value)
                return QStringLiteral("option '%1' takes no value").arg(name);
            if (!line.flags.insert(name).second)
                return QStringLiteral("option '%1' given twice").arg(arg);
            continue;
        }
        if (!kValued.contains(name) && !kEncoderOptions.contains(name))
            return QStringLiteral("unknown option '%1'").arg(arg);
        if (!value) {
            if (i + 1 >= args.size())
                return QStringLiteral("option '%1' needs a value").arg(name);
            value = args[++i];
        }
        if (line.values.count(name) != 0)
            return QStringLiteral("option '%1' given twice").arg(name);
        line.values[name] = *value;
    }
    return {};
}

// --dpi; without it, 72 in the settings and each file keeps its own.
QString checkResolution(std::map<QString, QString>& values, ConvertJob& job) {
    int dpi = 72;
    if (values.count("--dpi") != 0) {
        bool ok = false;
        const double number = values["--dpi"].trimmed().toDouble(&ok);
        const double rounded = std::nearbyint(number);
        if (!ok || !std::isfinite(number) || rounded < 1 || rounded > 32767)
            return QStringLiteral("--dpi: '%1' is not a number from 1 to 32767")
                .arg(values["--dpi"]);
        dpi = int(rounded);
        job.keepOwnResolution = false;
    }
    job.settings.DpiChoice = dpiChoiceFor(dpi);
    job.settings.Dpi = int16_t(dpi);
    return {};
}

QString checkSize(std::map<QString, QString>& values, CompressionSettings& s) {
    if (values.count("--size") == 0 || values["--size"] == QLatin1String("same"))
        return {};
    const QString text = values["--size"];
    const QStringList parts = text.toLower().split(QLatin1Char('x'));
    std::optional<int16_t> width;
    std::optional<int16_t> height;
    if (parts.size() == 2) {
        width = parsePixels(parts[0]);
        height = parsePixels(parts[1]);
    }
    if (!width || !height)
        return QStringLiteral(
                   "--size: '%1' is neither 'same' nor WIDTHxHEIGHT with each side from 0 to "
                   "32767")
            .arg(text);
    s.SizeChoice = 1;
    s.OutWidth = *width;
    s.OutHeight = *height;
    return {};
}

// --depth and --compression as named, before the rules between them.
QString readDepthAndCompression(std::map<QString, QString>& values, std::optional<int>& depth,
                                std::optional<Compression>& compression) {
    if (values.count("--depth") != 0) {
        for (const Depth& d : kDepths)
            if (values["--depth"] == QLatin1String(d.name))
                depth = d.choice;
        if (!depth)
            return QStringLiteral("--depth: '%1' is not one of bw, gray, 8, 16, 24, 48")
                .arg(values["--depth"]);
    }
    if (values.count("--compression") != 0) {
        for (const Compression& c : kCompressions)
            if (values["--compression"] == QLatin1String(c.name))
                compression = c;
        if (!compression)
            return QStringLiteral(
                       "--compression: '%1' is not one of lzw, g3, g4, jpeg, pixavant, "
                       "pixavant-lossless")
                .arg(values["--compression"]);
    }
    return {};
}

// Colour depth and compression type go together as in the options dialog: B/W only with the
// CCITT groups, the colour depths only with the others; what is not given follows from the other.
QString combineDepthAndCompression(std::optional<int>& depth,
                                   std::optional<Compression>& compression) {
    const bool ccitt = compression && (compression->type == CompressionType::CcittG3 ||
                                       compression->type == CompressionType::CcittG4);
    if (ccitt && depth && *depth != 0)
        return QStringLiteral(
                   "--compression %1 writes black and white only: use it with --depth bw (or "
                   "without --depth)")
            .arg(QLatin1String(compression->name));
    if (depth && *depth == 0 && compression && !ccitt)
        return QStringLiteral("--depth bw goes with --compression g3 or g4 only");
    if (!compression)
        compression = depth && *depth == 0 ? kCompressions[2] : kCompressions[3];
    if (!depth)
        depth = ccitt ? 0 : 4;
    if (*depth == kDeepDepthChoice)
        if (const std::optional<QString> refusal = deepDepthRefusal(*compression))
            return *refusal;
    return {};
}

// --level within the compression's levels; 0 without it.
QString checkLevel(std::map<QString, QString>& values, const Compression& compression, int& level) {
    level = 0;
    if (values.count("--level") == 0)
        return {};
    const int maxLevel = compression.lossless ? 0 : maxCompressionLevel(compression.type);
    const QString name = QLatin1String(compression.name);
    if (maxLevel == 0)
        return QStringLiteral("--level does not apply to --compression %1").arg(name);
    bool ok = false;
    level = values["--level"].toInt(&ok);
    if (!ok || level < 0 || level > maxLevel)
        return QStringLiteral("--level: '%1' is not a level of %2 (0 to %3)")
            .arg(values["--level"], name)
            .arg(maxLevel);
    return {};
}

// Depth, compression, level and effort, stored as the options dialog would store them.
QString checkEncoding(std::map<QString, QString>& values, ConvertJob& job) {
    std::optional<int> depth;
    std::optional<Compression> compression;
    if (QString error = readDepthAndCompression(values, depth, compression); !error.isEmpty())
        return error;
    if (QString error = combineDepthAndCompression(depth, compression); !error.isEmpty())
        return error;
    CompressionSettings& s = job.settings;
    s.DepthChoice = int16_t(*depth);
    s.BitsPerPixel = bitsPerPixelFor(*depth);

    int level = 0;
    if (QString error = checkLevel(values, *compression, level); !error.isEmpty())
        return error;
    s.CompressionChoice = compression->type;
    s.FileFormat = compression->lossless ? int16_t(imaging::format::kPixavantLossless)
                                         : *fileFormatFor(compression->type, level);
    if (const auto quality = qualityFactorFor(compression->type, level))
        s.QualityFactor = *quality;
    return parseEffort(values, s.FileFormat, job.effort);
}

// --ext, --output and --full-names.
QString checkOutput(std::map<QString, QString>& values, const std::set<QString>& flags,
                    const QString& cwd, ConvertJob& job) {
    if (values.count("--ext") != 0) {
        job.outputExt = values["--ext"].trimmed();
        if (job.outputExt.contains(QLatin1Char('/')))
            return QStringLiteral("--ext: '%1' must not contain '/'").arg(values["--ext"]);
    } else {
        job.outputExt = proposedExtension(job.settings.CompressionChoice, job.settings.FileFormat);
    }
    if (values.count("--output") != 0) {
        // A missing directory is made when the run starts (not before: a refused command
        // touches nothing).
        const imaging::FileStatus dir = imaging::fileStatus(values["--output"]);
        if (values["--output"].isEmpty() || (dir.exists && !dir.isDir))
            return QStringLiteral("--output: '%1' is not a directory")
                .arg(imaging::displayFileName(values["--output"]));
        job.makeOutputDir = !dir.exists;
        job.outputDir = absoluteCleanPath(values["--output"], cwd);
        if (!job.outputDir.endsWith(QLatin1Char('/')))
            job.outputDir += QLatin1Char('/');
    }
    job.fullNames = flags.count("--full-names") != 0;
    return {};
}

// --files-from and -0.
QString checkFileList(std::map<QString, QString>& values, ConvertJob& job) {
    if (values.count("--files-from") != 0) {
        job.filesFrom = values["--files-from"];
        const imaging::FileStatus list = imaging::fileStatus(job.filesFrom);
        const QString shown = imaging::displayFileName(job.filesFrom);
        if (job.filesFrom.isEmpty() ||
            (job.filesFrom != QLatin1String("-") && (!list.exists || list.isDir)))
            return QStringLiteral("--files-from: '%1' is not a file").arg(shown);
        if (job.filesFrom != QLatin1String("-") &&
            ::access(imaging::encodeFileName(job.filesFrom).constData(), R_OK) != 0)
            return QStringLiteral("--files-from: '%1' cannot be read").arg(shown);
    } else if (job.nulSeparated) {
        return QStringLiteral("-0 goes with --files-from only");
    }
    return {};
}

// How the files are run: --jobs, the flags, the list of files and the manifest.
QString checkRun(std::map<QString, QString>& values, const std::set<QString>& flags,
                 const QString& cwd, ConvertJob& job) {
    job.jobs = availableProcessors();
    if (values.count("--jobs") != 0) {
        bool ok = false;
        job.jobs = values["--jobs"].toInt(&ok);
        if (!ok || job.jobs < 1 || job.jobs > kMaxJobs)
            return QStringLiteral("--jobs: '%1' is not a number from 1 to %2")
                .arg(values["--jobs"])
                .arg(kMaxJobs);
    }
    job.keepGoing = flags.count("--keep-going") != 0;
    job.skipExisting = flags.count("--skip-existing") != 0;
    job.nulSeparated = flags.count("--null") != 0;
    if (QString error = checkFileList(values, job); !error.isEmpty())
        return error;
    job.verify = flags.count("--verify") != 0;
    job.keepDates = flags.count("--keep-dates") != 0;
    job.strip = flags.count("--strip") != 0;
    if (values.count("--manifest") != 0) {
        const QString path = absoluteCleanPath(values["--manifest"], cwd);
        const QString folder = path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
        // Its folder may be the output directory the run makes, or one made on the way to it.
        const bool folderThere = imaging::fileStatus(folder).isDir ||
                                 (job.makeOutputDir && job.outputDir.startsWith(folder));
        if (values["--manifest"].isEmpty() || imaging::fileStatus(path).isDir || !folderThere)
            return QStringLiteral("--manifest: '%1' is a directory, or in none that exists")
                .arg(imaging::displayFileName(values["--manifest"]));
        job.manifestPath = path;
    }
    return {};
}

// Every file named exists (with --keep-going a missing one fails in its turn); a directory only
// with --recursive.
QString checkFiles(const QStringList& files, bool recursive, const QString& cwd, ConvertJob& job) {
    if (files.isEmpty() && job.filesFrom.isEmpty())
        return QStringLiteral("no files to convert");
    for (const QString& file : files) {
        const QString shown = imaging::displayFileName(file);
        const imaging::FileStatus info = imaging::fileStatus(file);
        if (!info.exists && job.keepGoing) {
            job.sourcePaths << absoluteCleanPath(file, cwd);  // fails in its turn
            continue;
        }
        if (!info.exists)
            return QStringLiteral("%1: no such file").arg(shown);
        if (info.isDir && recursive) {
            job.treeRoots << QDir::cleanPath(file);
            continue;
        }
        if (info.isDir)
            return QStringLiteral("%1: a directory (give --recursive to convert its tree)")
                .arg(shown);
        if (!info.isFile)
            return QStringLiteral("%1: not a regular file").arg(shown);
        job.sourcePaths << absoluteCleanPath(file, cwd);
    }
    return {};
}

// A mirror inside its own tree would be walked into while it is being written. A directory
// still to be made is as deep as its nearest existing parent, resolved.
QString checkOutputOutsideTrees(const QString& given, const ConvertJob& job) {
    if (job.outputDir.isEmpty())
        return {};
    QString existing = job.outputDir.chopped(1);
    QString missing;
    while (!existing.isEmpty() && imaging::resolvedPath(existing).isEmpty()) {
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        missing = existing.mid(slash) + missing;
        existing = existing.left(slash);
    }
    const QString output =
        imaging::resolvedPath(existing.isEmpty() ? QStringLiteral("/") : existing) + missing +
        QLatin1Char('/');
    for (const QString& root : job.treeRoots) {
        const QString tree = imaging::resolvedPath(root) + QLatin1Char('/');
        if (tree.size() == 1)
            continue;
        if (output.startsWith(tree))
            return QStringLiteral("--output: '%1' lies inside the tree '%2' being converted")
                .arg(imaging::displayFileName(given), imaging::displayFileName(root));
    }
    return {};
}

}  // namespace

ConvertParse parseConvert(const QStringList& args) {
    ConvertParse parse;
    CommandLine line;
    parse.error = readCommandLine(args, line);
    if (line.help) {
        parse.help = true;
        return parse;
    }
    if (!parse.error.isEmpty())
        return parse;

    ConvertJob& job = parse.job;
    job.settings = CompressionSettings{};
    const QString cwd = imaging::currentDirectory();
    std::map<QString, QString>& values = line.values;
    const auto refused = [&parse](QString error) {
        parse.error = std::move(error);
        return !parse.error.isEmpty();
    };
    if (refused(checkResolution(values, job)) || refused(checkSize(values, job.settings)) ||
        refused(checkEncoding(values, job)) || refused(checkOutput(values, line.flags, cwd, job)) ||
        refused(checkRun(values, line.flags, cwd, job)) ||
        refused(checkFiles(line.files, line.flags.count("--recursive") != 0, cwd, job)) ||
        refused(checkOutputOutsideTrees(values["--output"], job)))
        return parse;
    return parse;
}

}  // namespace pixavant::cli
