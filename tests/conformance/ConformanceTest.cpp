// Conversion of real files that others made: every file of the test data's conformance suites,
// format samples and modern/ (the inputs people have today: phone and web formats, colour keys,
// 16-bit masters, L*a*b*, float and signed samples, planes, TGA stored right to left) is converted
// losslessly (TIFF LZW, no resampling) and its pixels are compared by reference.py with
// independent decodings; the outputs must not depend on the files converted before them, whether
// in one run, in reverse order or one process per file, nor may what the preview and the viewer
// show. Skipped when the test data is absent.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cctype>
#include <map>
#include <memory>
#include <vector>

#include "Bytes.h"
#include "batch/BatchRules.h"
#include "imaging/ErrorDetail.h"
#include "imaging/FileInfo.h"
#include "imaging/FormatCodes.h"
#include "imaging/ImagingControl.h"
#include "inspect/ImageDisplay.h"

namespace pixavant {
namespace {

// Files that are refused, and why. Any other file must convert and match its reference; each of
// these must be refused, with a reason, and nothing written.
const std::map<QString, const char*> kRefused = {
    {"formats/01r_00.pcx", "cut short: its last rows are missing"},
    {"formats/p_8.tga", "an 18-byte header and nothing else; its colour map has 8-bit entries"},
    {"formats/truncated_jpeg.jpg", "cut short in the middle of its scan"},
    {"b/badbitcount.bmp", "30000 bits per pixel"},
    {"b/badfilesize.bmp", "states a file size larger than the file"},
    {"b/badheadersize.bmp", "a header size no BMP version has"},
    {"b/badpalettesize.bmp", "a colour table of 305402420 entries"},
    {"b/badplanes.bmp", "a plane count other than 1"},
    {"b/badwidth.bmp", "a negative width"},
    {"b/pal8badindex.bmp", "pixels that index past the colour table"},
    {"b/reallybig.bmp", "3000000 x 2000000 pixels, over the pixel limit"},
    {"b/rletopdown.bmp", "run-length encoded rows stored top-down, which the format forbids"},
    {"b/shortfile.bmp", "cut short"},
    {"q/pal2.bmp", "2 bits per pixel, which BMP does not define"},
    {"q/pal8os2v2-16.bmp", "an OS/2 header of 16 bytes, which the decoder does not take"},
    {"q/pal8oversizepal.bmp", "a colour table larger than 8 bits can index"},
    {"q/rgb24jpeg.bmp", "a JPEG stream inside a BMP (printer use only)"},
    {"q/rgb24png.bmp", "a PNG stream inside a BMP (printer use only)"},
    {"q/rgba32abf.bmp", "BI_ALPHABITFIELDS, a Windows CE compression the decoder does not take"},
};

// Files read without a check of their pixels: there is no independent decoder of them here (b/
// files are read "without harm": the suite defines no right image for them).
const std::map<QString, const char*> kUnverified = {
    {"formats/drawing.wmf", "no other WMF renderer is installed"},
    {"b/badbitssize.bmp", "bad file, read: its image size field is wrong but unused"},
    {"b/baddens1.bmp", "bad file, read: an absurd resolution"},
    {"b/baddens2.bmp", "bad file, read: an absurd resolution"},
    {"b/badrle.bmp", "bad file, read: runs past the row end are clipped"},
};

QString testData() {
    const QByteArray fromEnvironment = qgetenv("PIXAVANT_TESTDATA");
    return fromEnvironment.isEmpty() ? QStringLiteral(PIXAVANT_TESTDATA)
                                     : QString::fromLocal8Bit(fromEnvironment);
}

struct SourceFile {
    QString path;  // absolute
    QString key;   // "formats/hopper.bmp", "g/pal8.bmp"
};

std::vector<SourceFile> sourceFiles(const QString& root) {
    std::vector<SourceFile> files;
    const QString suite = root + "/conformance/bmpsuite/";
    const std::pair<QString, QString> folders[] = {{suite + "g", "g/"},
                                                   {suite + "q", "q/"},
                                                   {suite + "b", "b/"},
                                                   {root + "/formats", "formats/"},
                                                   {root + "/modern", "modern/"}};
    for (const auto& [folder, prefix] : folders)
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
            files.push_back({folder + "/" + name, prefix + name});
    return files;
}

// The decoder of a phone or web format's own suite (heif-convert, avifdec, dwebp), which its
// reference must be; empty for the other formats.
QString suiteDecoder(const QString& source) {
    const QString suffix = QFileInfo(source).suffix().toLower();
    if (suffix == "heic" || suffix == "heif")
        return QStringLiteral("heif-convert");
    return suffix == "avif"   ? QStringLiteral("avifdec")
           : suffix == "webp" ? QStringLiteral("dwebp")
                              : QString();
}

// Converts one file as a run does (file information, every page loaded at 24 bits, LZW at 72 dpi,
// same size).
// Returns 0, or the failure code with the reason in `reason`.
int convert(imaging::ImagingControl& control, const QString& source, const QString& output,
            QString& reason) {
    imaging::FileInfoRecord info;
    int code = imaging::readFileInfo(source, info);
    QString detail = imaging::errorDetail();
    int32_t pages = 1;
    if (code == imaging::kSuccess) {
        code = control.readPageCount(source, pages);
        detail = control.lastErrorDetail();
    }
    control.beginDocument();  // every page, into one TIFF
    for (int page = 0; page < pages && code == 0; ++page) {
        code = control.load(source, 24, page);
        detail = control.lastErrorDetail();
        if (code == 0) {
            code = control.save(output, {imaging::format::kTiffLzw, 24, 0, {72, 72}});
            detail = control.lastErrorDetail();
        }
        control.clear();
    }
    if (code == 0)
        code = control.commitDocument();
    control.abandonDocument();
    reason = code == 0 ? QString() : batch::failureReason(code, detail);
    return code;
}

struct Converted {
    QString output;  // empty when refused
    QString reason;
};

// Every file in the given order through one imaging control, as one run converts them, into
// `dir`; the outputs by key.
std::map<QString, Converted> convertAll(const QString& dir, const std::vector<SourceFile>& files) {
    std::map<QString, Converted> result;
    imaging::ImagingControl control;
    for (const SourceFile& file : files) {
        const QString output = dir + "/" + file.key + ".tif";
        QDir().mkpath(QFileInfo(output).path());
        QString reason;
        const int code = convert(control, file.path, output, reason);
        result[file.key] = {code == 0 ? output : QString(), reason};
    }
    return result;
}

// Runs the program with `arguments`; its exit code, its standard error in `errors`.
int runPixavant(const QStringList& arguments, QString* errors = nullptr) {
    QProcess run;
    run.start(QStringLiteral(PIXAVANT_BINARY), arguments);
    EXPECT_TRUE(run.waitForFinished(600000)) << arguments.join(' ').toStdString();
    if (errors != nullptr)
        *errors = QString::fromLocal8Bit(run.readAllStandardError());
    return run.exitCode();
}

// Runs reference.py (with `arguments`) over lines of "SOURCE<TAB>OUTPUT"; its JSON lines.
std::vector<QJsonObject> runReference(const QByteArray& pairs, const QStringList& arguments = {}) {
    QProcess script;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("BMPSUITE", testData() + "/conformance/bmpsuite");
    script.setProcessEnvironment(environment);
    script.start(QStringLiteral(PIXAVANT_PYTHON),
                 QStringList{QStringLiteral(PIXAVANT_REFERENCE_SCRIPT)} + arguments);
    EXPECT_TRUE(script.waitForStarted()) << "cannot run " PIXAVANT_PYTHON;
    script.write(pairs);
    script.closeWriteChannel();
    EXPECT_TRUE(script.waitForFinished(600000));
    std::vector<QJsonObject> results;
    for (const QByteArray& line : script.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            results.push_back(QJsonDocument::fromJson(line).object());
    EXPECT_EQ(results.size(), size_t(pairs.count('\n')))
        << script.readAllStandardError().toStdString();
    return results;
}

class Conformance : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = testData();
        if (!QFileInfo::exists(root_ + "/conformance/bmpsuite") ||
            !QFileInfo::exists(root_ + "/formats"))
            return;
        files_ = sourceFiles(root_);
        work_ = std::make_unique<QTemporaryDir>();
        forward_ = convertAll(work_->filePath("forward"), files_);
    }
    static void TearDownTestSuite() { work_.reset(); }

    void SetUp() override {
        if (files_.empty())
            GTEST_SKIP() << "no test data at " << root_.toStdString()
                         << " (set PIXAVANT_TESTDATA to the folder of conformance/ and formats/)";
    }

    static QString root_;
    static std::vector<SourceFile> files_;
    static std::unique_ptr<QTemporaryDir> work_;
    static std::map<QString, Converted> forward_;
};

QString Conformance::root_;
std::vector<SourceFile> Conformance::files_;
std::unique_ptr<QTemporaryDir> Conformance::work_;
std::map<QString, Converted> Conformance::forward_;

TEST_F(Conformance, EveryFileMatchesAnIndependentDecodingOrIsRefusedWithAReason) {
    QByteArray pairs;
    for (const SourceFile& file : files_) {
        const Converted& c = forward_[file.key];
        if (kRefused.count(file.key) != 0) {
            EXPECT_TRUE(c.output.isEmpty()) << file.key.toStdString() << " should be refused";
            EXPECT_FALSE(c.reason.isEmpty()) << file.key.toStdString() << ": refused, no reason";
            continue;
        }
        EXPECT_FALSE(c.output.isEmpty())
            << file.key.toStdString() << " refused: " << c.reason.toStdString();
        if (!c.output.isEmpty() && kUnverified.count(file.key) == 0)
            pairs += (file.path + '\t' + c.output + '\n').toUtf8();
    }

    const std::vector<QJsonObject> results = runReference(pairs);
    int checked = 0, exact = 0, close = 0;
    for (const QJsonObject& r : results) {
        const std::string source = r["source"].toString().toStdString();
        ++checked;
        ASSERT_FALSE(r["reference"].isNull())
            << source << ": no independent decoding (" << r["note"].toString().toStdString() << ")";
        ASSERT_FALSE(r["psnr"].isNull())
            << source << ": " << r["size"].toVariant().toString().toStdString()
            << " pixels against the reference's "
            << r["ref_size"].toVariant().toString().toStdString();
        const bool eightBit = r["kind"].toString() == "8bit";
        const int maxdiff = r["maxdiff"].toInt();
        const double psnr = r["psnr"].toDouble();
        const std::string reference = r["reference"].toString().toStdString();
        const QString decoder = suiteDecoder(r["source"].toString());
        if (!decoder.isEmpty()) {
            // Identical, or where the colour conversion rounds differently at least 50 dB.
            EXPECT_EQ(r["reference"].toString(), decoder) << source;
            EXPECT_TRUE(maxdiff == 0 || psnr >= 50.0)
                << source << ": " << psnr << " dB, at most " << maxdiff << " levels off";
        } else if (eightBit) {
            EXPECT_EQ(maxdiff, 0) << source << " differs from " << reference << " (" << psnr
                                  << " dB)";
        } else if (r["kind"].toString() == "lab") {
            // Within one level of ImageMagick's conversion to sRGB, or at 45 dB.
            EXPECT_TRUE(maxdiff <= 1 || psnr >= 45.0) << source << " against " << reference << ": "
                                                      << maxdiff << " levels, " << psnr << " dB";
        } else {
            EXPECT_GE(psnr, 50.0) << source << " against " << reference;
        }
        if (!r["suite_maxdiff"].isNull()) {
            EXPECT_LE(r["suite_maxdiff"].toInt(), 1)
                << source << " differs from the suite's " << r["suite"].toString().toStdString();
        }
        (maxdiff == 0 ? exact : close) += 1;
    }
    EXPECT_EQ(checked, pairs.count('\n'));
    std::printf("conformance: %zu files, %d exact, %d close, %zu refused, %zu unverified\n",
                files_.size(), exact, close, kRefused.size(), kUnverified.size());
}

TEST_F(Conformance, OutputsDoNotDependOnTheFilesBefore) {
    // The same run in reverse order.
    const std::vector<SourceFile> reversed(files_.rbegin(), files_.rend());
    const std::map<QString, Converted> backward = convertAll(work_->filePath("reverse"), reversed);
    // Each file in a process of its own, through the command line.
    for (const SourceFile& file : files_) {
        const Converted& first = forward_[file.key];
        EXPECT_EQ(testing::readBytes(backward.at(file.key).output),
                  testing::readBytes(first.output))
            << file.key.toStdString() << " converts differently after other files";
        const QString dir = work_->filePath("alone/" + file.key);
        QDir().mkpath(dir);
        QString errors;
        const int status = runPixavant({"convert", "--size", "0x0", "--dpi", "72", "--compression",
                                        "lzw", "-o", dir, "--", file.path},
                                       &errors);
        const QStringList written = QDir(dir).entryList(QDir::Files);
        if (first.output.isEmpty()) {
            EXPECT_NE(status, 0) << file.key.toStdString();
            EXPECT_TRUE(written.isEmpty()) << file.key.toStdString();
            EXPECT_TRUE(errors.contains("(")) << file.key.toStdString() << ": no reason given";
            continue;
        }
        ASSERT_EQ(written.size(), 1) << file.key.toStdString() << ": " << errors.toStdString();
        EXPECT_EQ(testing::readBytes(dir + "/" + written[0]), testing::readBytes(first.output))
            << file.key.toStdString() << " converts differently in a process of its own";
    }
}

// A parameter as a test's name: what is not a letter or a digit becomes '_'.
std::string nameOf(const std::string& fileName) {
    return fileName;
}
template <typename Param>
std::string caseName(const ::testing::TestParamInfo<Param>& info) {
    std::string name = nameOf(info.param);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

// The 16-bit masters of modern/, converted by the command line with --depth 48 into TIFF LZW and
// PIXAVANT lossless (and checked by --verify), hold the source's samples bit for bit as tifffile,
// ImageMagick and djxl read them.
class DeepMaster : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(work_.isValid());
        if (!QFileInfo::exists(source()))
            GTEST_SKIP() << "no test data at " << source().toStdString();
    }
    QString source() const { return testData() + "/modern/" + QString::fromStdString(GetParam()); }
    QTemporaryDir work_;
};

TEST_P(DeepMaster, RoundTripsBitExactAtFortyEightBits) {
    for (const char* compression : {"lzw", "pixavant-lossless"}) {
        const QString dir = work_.filePath(compression);
        QDir().mkpath(dir);
        QString errors;
        ASSERT_EQ(runPixavant({"convert", "--depth", "48", "--compression", compression, "--verify",
                               "-o", dir, "--", source()},
                              &errors),
                  0)
            << compression << ": " << errors.toStdString();
        const QStringList written = QDir(dir).entryList(QDir::Files);
        ASSERT_EQ(written.size(), 1) << compression;
        const std::vector<QJsonObject> results =
            runReference((source() + '\t' + dir + '/' + written[0] + '\n').toUtf8(), {"--deep"});
        ASSERT_EQ(results.size(), 1u);
        EXPECT_TRUE(results[0]["identical"].toBool())
            << compression << ": shapes "
            << QJsonDocument(results[0]["shapes"].toArray())
                   .toJson(QJsonDocument::Compact)
                   .toStdString()
            << " " << results[0]["note"].toString().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Modern, DeepMaster,
                         ::testing::Values("gray-16bit.png", "gray-16bit.tif", "rgb-16bit.png",
                                           "rgb-16bit.tif"),
                         caseName<std::string>);

// The documents of the test data (multi-page scans and faxes), converted by the command line in
// one run to each type of output with each file's own resolution: every page of every output
// against the same page of the source as Pillow reads it. A page whose pixels are not square is
// compared with Pillow's own resampling of it (Lanczos) to the size it must have.
struct DocumentOutput {
    const char* compression;
    const char* extension;
    bool pagesInOneFile;  // one multi-page TIFF, or NAME-1.EXT ... NAME-N.EXT
    bool lossless;
    bool bilevel;  // every page is made 1-bit
};

// PSNR floors, from the pages of documents/ and what a wrong page scores against them. A page
// resampled to square pixels against Pillow's Lanczos resampling: both are Lanczos-3, they differ
// by rounding (at most 1 level, 56 to 67 dB), and 50 dB still fails a page shifted by one row
// (23 dB), squashed, or another page (12 dB). Made 1-bit after resampling (g4), the page's edges
// fall on either side of the gray reference pixel by pixel, so its 4 x 4 block means are compared:
// 38 to 44 dB, against 26 to 30 dB for the same page one row off; hence 34 dB. JPEG at the best
// quality: 46 to 50 dB for photographic scans, 56 to 65 dB for text pages; 40 dB leaves room for
// another libjpeg and fails a page of the wrong depth or order (below 12 dB).
constexpr double kResampledFloor = 50.0;
constexpr double kResampledBilevelFloor = 34.0;
constexpr double kJpegFloor = 40.0;

const char* const kDamagedDocument = "manual-g4-page3-damaged.tif";

void PrintTo(const DocumentOutput& type, std::ostream* out) {
    *out << type.compression;
}

std::string nameOf(const DocumentOutput& type) {
    return type.compression;
}

class Documents : public ::testing::TestWithParam<DocumentOutput> {
  protected:
    void SetUp() override {
        folder_ = testData() + "/documents";
        if (!QFileInfo::exists(folder_))
            GTEST_SKIP() << "no documents at " << folder_.toStdString()
                         << " (set PIXAVANT_TESTDATA to the folder of documents/)";
        ASSERT_TRUE(work_.isValid());
    }

    // Runs the command line; its exit code, standard error in `errors`.
    int convert(const QStringList& sources, const QString& dir, QString& errors) const {
        QDir().mkpath(dir);
        QStringList arguments = {"convert", "--compression", GetParam().compression, "-o", dir};
        if (QByteArray(GetParam().compression) == "g4")
            arguments += {"--level", "0"};
        return runPixavant(arguments + QStringList{"--"} + sources, &errors);
    }

    QString folder_;
    QTemporaryDir work_;
};

// The outputs of one source in page order: NAME.EXT, or NAME-1.EXT ... NAME-N.EXT with the number
// zero-padded to the width of N. Empty (and a failure) when the names written are neither.
QStringList pageFiles(const QString& dir, const QString& stem, const QString& extension) {
    const QStringList written = QDir(dir).entryList({stem + "*"}, QDir::Files, QDir::Name);
    if (written == QStringList{stem + "." + extension})
        return {dir + "/" + written[0]};
    const int width = int(QString::number(written.size()).size());
    QStringList files;
    for (int page = 1; page <= written.size(); ++page) {
        const QString name =
            QString("%1-%2.%3").arg(stem).arg(page, width, 10, QChar('0')).arg(extension);
        EXPECT_TRUE(written.contains(name))
            << name.toStdString() << " missing from " << written.join(", ").toStdString();
        files += dir + "/" + name;
    }
    return files;
}

TEST_P(Documents, EveryPageMatchesAnIndependentDecodingAtItsOwnResolution) {
    const DocumentOutput& type = GetParam();
    QStringList sources;
    for (const QString& name :
         QDir(folder_).entryList({"*.tif", "*.tiff"}, QDir::Files, QDir::Name))
        if (name != kDamagedDocument)
            sources += folder_ + "/" + name;
    ASSERT_FALSE(sources.isEmpty());
    const QString dir = work_.filePath("out");
    QString errors;
    ASSERT_EQ(convert(sources, dir, errors), 0) << errors.toStdString();

    QByteArray lines;
    for (const QString& source : sources) {
        const QString stem = QFileInfo(source).completeBaseName();
        const QStringList outputs = pageFiles(dir, stem, type.extension);
        if (type.pagesInOneFile) {
            EXPECT_EQ(outputs.size(), 1) << stem.toStdString() << ": not one multi-page file";
        }
        lines += (source + '\t' + outputs.join('\t') + '\n').toUtf8();
    }
    const std::vector<QJsonObject> results = runReference(lines, {"--pages"});
    int pages = 0, exact = 0;
    for (const QJsonObject& r : results) {
        const std::string source = QFileInfo(r["source"].toString()).fileName().toStdString();
        ASSERT_TRUE(r["note"].toString().isEmpty())
            << source << ": " << r["note"].toString().toStdString();
        EXPECT_EQ(r["output_pages"].toInt(), r["source_pages"].toInt()) << source << " pages";
        const QJsonArray compared = r["pages"].toArray();
        for (int i = 0; i < compared.size(); ++i) {
            const QJsonObject page = compared[i].toObject();
            const std::string where = source + " page " + std::to_string(i + 1);
            ++pages;
            ASSERT_EQ(page["size"], page["ref_size"])
                << where << ": " << page["size"].toVariant().toString().toStdString();
            const double dpi = page["ref_dpi"].toDouble();
            EXPECT_EQ(page["dpi"].toArray(), (QJsonArray{dpi, dpi})) << where << " resolution";
            const bool resampled = page["resampled"].toBool();
            const int maxdiff = page["maxdiff"].toInt();
            const double psnr = page["psnr"].toDouble();
            exact += maxdiff == 0 ? 1 : 0;
            if (type.bilevel && !page["bilevel"].toBool())
                continue;  // dithered to 1 bit: its size and resolution are what is checked
            if (!type.lossless)
                EXPECT_GE(psnr, kJpegFloor) << where;
            else if (resampled && type.bilevel)
                EXPECT_GE(page["psnr_4x4"].toDouble(), kResampledBilevelFloor)
                    << where << " against Pillow's resampling, in 4 x 4 blocks";
            else if (resampled)
                EXPECT_GE(psnr, kResampledFloor) << where << " against Pillow's resampling";
            else
                EXPECT_EQ(maxdiff, 0) << where << " (" << psnr << " dB)";
        }
    }
    std::printf("documents, %s: %d pages, %d exact\n", type.compression, pages, exact);
}

// A damaged later page fails the whole file, naming the page, and nothing of it is written.
TEST_P(Documents, ADamagedPageFailsTheFileNamingItAndWritesNothing) {
    const QString dir = work_.filePath("damaged");
    QString errors;
    EXPECT_NE(convert({folder_ + "/" + kDamagedDocument}, dir, errors), 0);
    EXPECT_TRUE(errors.contains("page 3")) << errors.toStdString();
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Outputs, Documents,
                         ::testing::Values(DocumentOutput{"lzw", "TIF", true, true, false},
                                           DocumentOutput{"g4", "TIF", true, true, true},
                                           DocumentOutput{"jpeg", "JPG", false, false, false},
                                           DocumentOutput{"pixavant-lossless", "JXL", false, true,
                                                          false}),
                         caseName<DocumentOutput>);

TEST_F(Conformance, PreviewAndViewerShowTheSameWhateverCameBefore) {
    // The preview and the viewer show files through this control, sized before each load.
    const auto show = [](ImageDisplay& display, const QString& path) {
        display.resize(160, 120);
        return display.load(path, 0) == 0 ? display.shownImage() : QImage();
    };
    ImageDisplay inTurn;
    std::map<QString, QImage> shown;
    for (const SourceFile& file : files_)
        shown[file.key] = show(inTurn, file.path);
    ImageDisplay backwards;
    for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
        const QImage image = show(backwards, file->path);
        const QImage& first = shown[file->key];
        // A failed load leaves the previous image: only successful ones are compared.
        if (forward_[file->key].output.isEmpty())
            continue;
        EXPECT_EQ(image, first) << file->key.toStdString()
                                << " shows differently after other files";
        ImageDisplay alone;
        EXPECT_EQ(show(alone, file->path), first) << file->key.toStdString();
    }
}

}  // namespace
}  // namespace pixavant
