// Archiving as people do it: dated names, a tree and a list, names that are not UTF-8, an archive
// copied elsewhere, folders that are missing or locked.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QDir>
#include <QFile>

#include "CliRunTest.h"
#include "EngineFixtures.h"
#include "Unprivileged.h"
#include "batch/Manifest.h"
#include "cli/Cli.h"
#include "imaging/FileNames.h"

namespace pixavant::cli {
namespace {

using namespace pixavant::testsupport;
using imaging::decodeFileName;

class ArchiveRunTest : public test::CliRunTest {
  protected:
    // Whether a file exists under these very bytes (relative to the test's folder).
    bool exists(const QByteArray& path) const {
        struct stat st {};
        return ::stat((QFile::encodeName(dir) + path).constData(), &st) == 0 && S_ISREG(st.st_mode);
    }
};

// The ways a run is given its files, with what standard input holds.
struct Way {
    const char* name;
    QStringList args;
    QByteArray input;
};

TEST_F(ArchiveRunTest, OutputsThatWouldClashRefuseTheRunHoweverTheFilesAreNamed) {
    const QStringList dated = {"dated/2024.06.01 beach.jpg", "dated/2024.06.02 party.jpg",
                               "dated/2024.06.03 hills.jpg"};
    QDir(dir).mkpath("dated");
    for (const QString& name : dated)
        ASSERT_TRUE(writeEngineJpeg(dir + name, 24, 16, 3, 72));
    ASSERT_TRUE(writeEngineFile(dir + "names.txt", dated.join('\n').toUtf8() + '\n'));
    const QByteArray nulNames = dated.join(QChar(0)).toUtf8() + '\0';

    const Way ways[] = {
        {"arguments", dated, {}},
        {"-r", {"-r", "dated"}, {}},
        {"--files-from", {"--files-from", "names.txt"}, {}},
        {"--files-from - -0", {"--files-from", "-", "-0"}, nulNames},
    };
    const QStringList archiving = {"convert",  "--compression", "pixavant-lossless",
                                   "--verify", "--manifest",    "archive/m.jsonl",
                                   "-o",       "archive"};
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        QDir(dir + "archive").removeRecursively();
        EXPECT_EQ(runInDir(archiving + way.args, way.input), kExitUsage);
        for (const QString& name : dated)
            EXPECT_TRUE(err.contains(name)) << err.toStdString();
        EXPECT_TRUE(err.contains("would all be written to " + dir + "archive/"))
            << err.toStdString();
        EXPECT_TRUE(err.contains("--full-names")) << err.toStdString();
        EXPECT_FALSE(QFileInfo::exists(dir + "archive"));  // nothing made, nothing written
        EXPECT_TRUE(out.isEmpty());

        // By the last dot, each keeps a name of its own.
        ASSERT_EQ(runInDir(archiving + QStringList{"--full-names"} + way.args, way.input), kExitOk)
            << err.toStdString();
        EXPECT_EQ(out.count("(verified: "), 3) << out.toStdString();
        const QString outputs = way.args.contains("-r") ? "archive/dated" : "archive";
        EXPECT_EQ(
            files(outputs).filter(".JXL"),
            (QStringList{"2024.06.01 beach.JXL", "2024.06.02 party.JXL", "2024.06.03 hills.JXL"}));
        EXPECT_EQ(runInDir({"verify", "archive/m.jsonl"}), kExitOk) << out.toStdString();
        EXPECT_TRUE(out.endsWith("3 outputs checked: 3 intact\n")) << out.toStdString();
    }

    // One camera's TIFF and JPEG side by side, converted beside themselves from a tree.
    QDir(dir).mkpath("camera");
    ASSERT_TRUE(writeEngineTiff(dir + "camera/Nikon_D70.TIF", 20, 10, 3, 72));
    ASSERT_TRUE(writeEngineJpeg(dir + "camera/Nikon_D70.jpg", 20, 10, 3, 72));
    EXPECT_EQ(runInDir({"convert", "-r", "--ext", "JPEG", "camera"}), kExitUsage);
    EXPECT_TRUE(
        err.contains("camera/Nikon_D70.TIF and camera/Nikon_D70.jpg would both be written "
                     "to " +
                     dir + "camera/Nikon_D70.JPEG."))
        << err.toStdString();
    EXPECT_EQ(files("camera"), (QStringList{"Nikon_D70.TIF", "Nikon_D70.jpg"}));
}

TEST_F(ArchiveRunTest, ALatin1NameIsConvertedHoweverItIsNamed) {
    const QByteArray root = QFile::encodeName(dir);
    QDir(dir).mkpath("in/sub");
    ASSERT_TRUE(writeEngineJpeg(dir + "in/a.jpg", 30, 20, 3, 72));
    ASSERT_TRUE(writeEngineJpeg(dir + "in/sub/b.jpg", 20, 30, 3, 72));
    ASSERT_EQ(::rename(root + "in/a.jpg", root + "in/Caf\xe9.jpg"), 0);
    ASSERT_EQ(::rename(root + "in/sub", root + "in/\xc9t\xe9"), 0);
    ASSERT_TRUE(writeEngineFile(dir + "list", "in/Caf\xe9.jpg\n"));
    // Arguments come as bytes too: decoded as the program decodes its own.
    const QString cafe = decodeFileName("in/Caf\xe9.jpg");

    const Way ways[] = {
        {"argument", {cafe}, {}},
        {"-r", {"-r", "in"}, {}},
        {"--files-from", {"--files-from", "list"}, {}},
        {"--files-from - -0", {"--files-from", "-", "-0"}, QByteArray("in/Caf\xe9.jpg", 12) + '\0'},
    };
    int round = 0;
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        const QByteArray target = "out" + QByteArray::number(++round);
        const QStringList args = {"convert", "--manifest", "m" + QString::number(round) + ".jsonl",
                                  "-o", QString::fromLatin1(target)};
        ASSERT_EQ(runInDir(args + way.args, way.input), kExitOk) << err.toStdString();
        const bool tree = way.args.contains("-r");
        const QByteArray output = target + (tree ? "/in/Caf\xe9.JPG" : "/Caf\xe9.JPG");
        EXPECT_TRUE(exists(output));
        EXPECT_TRUE(out.contains("in/Caf\\xE9.jpg -> " + dir + QString::fromLatin1(target) +
                                 (tree ? "/in/Caf\\xE9.JPG" : "/Caf\\xE9.JPG")))
            << out.toStdString();
        if (tree) {
            EXPECT_TRUE(exists(target + "/in/\xc9t\xe9/b.JPG"));
        }
        // The output holds the source's pixels, and its manifest line finds it again.
        ASSERT_EQ(::symlink(root + output, root + target + "/probe.JPG"), 0);
        EXPECT_EQ(probeJpeg(dir + QString::fromLatin1(target) + "/probe.JPG").width, 30);
        EXPECT_EQ(runInDir({"verify", "m" + QString::number(round) + ".jsonl"}), kExitOk)
            << out.toStdString();
        EXPECT_TRUE(out.contains("intact     " + QString::fromLatin1(target) +
                                 (tree ? "/in/Caf\\xE9.JPG" : "/Caf\\xE9.JPG")))
            << out.toStdString();
    }
    // Beside the source, and what info says of it.
    ASSERT_EQ(runInDir({"convert", "--compression", "lzw", cafe}), kExitOk) << err.toStdString();
    EXPECT_TRUE(exists("in/Caf\xe9.TIF"));
    EXPECT_EQ(runInDir({"info", cafe, decodeFileName("in/Caf\xe9.TIF")}), kExitOk)
        << err.toStdString();
    EXPECT_TRUE(out.contains("in/Caf\\xE9.TIF:\n")) << out.toStdString();
}

TEST_F(ArchiveRunTest, ACopiedArchiveVerifiesWhereItIs) {
    QDir(dir).mkpath("photos");
    ASSERT_TRUE(writeEngineTiff(dir + "photos/a.tif", 30, 20, 3, 72));
    ASSERT_TRUE(writeEngineTiff(dir + "photos/b.tif", 20, 30, 3, 72));
    const QStringList args = {"convert",      "--manifest",   "archive/m.jsonl", "-o",
                              "archive/2024", "photos/a.tif", "photos/b.tif"};
    ASSERT_EQ(runInDir(args), kExitOk) << err.toStdString();
    // The missing folder is made, and said so once.
    EXPECT_EQ(err, "pixavant: made the folder " + dir + "archive/2024/\n");
    batch::Manifest manifest;
    QString error;
    ASSERT_TRUE(batch::readManifest(dir + "archive/m.jsonl", manifest, error));
    ASSERT_EQ(manifest.entries.size(), 2u);
    EXPECT_EQ(manifest.entries[0].output, "2024/a.JPG");
    EXPECT_EQ(manifest.entries[0].source, "../photos/a.tif");

    // Copied to another disk and damaged there: the copy is checked, not the original.
    QDir(dir).mkpath("usb/archive/2024");
    for (const char* name : {"m.jsonl", "2024/a.JPG", "2024/b.JPG"})
        ASSERT_TRUE(QFile::copy(dir + "archive/" + name, dir + "usb/archive/" + name));
    QFile damaged(dir + "usb/archive/2024/b.JPG");
    ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
    damaged.seek(damaged.size() / 2);
    damaged.write("\x55\xAA");
    damaged.close();
    EXPECT_EQ(runInDir({"verify", dir + "usb/archive/m.jsonl"}), kExitFailed);
    EXPECT_EQ(out,
              "intact     2024/a.JPG\nCHANGED    2024/b.JPG (SHA-256 differs)\n"
              "2 outputs checked: 1 intact, 1 changed\n");
    EXPECT_EQ(runInDir({"verify", "--manifest", "archive/m.jsonl"}), kExitOk) << out.toStdString();

    // A rerun records its outputs again: the latest line of each counts, once.
    ASSERT_EQ(runInDir(args), kExitOk) << err.toStdString();
    EXPECT_TRUE(err.isEmpty()) << err.toStdString();
    EXPECT_EQ(runInDir({"verify", "archive/m.jsonl"}), kExitOk);
    EXPECT_EQ(out, "intact     2024/a.JPG\nintact     2024/b.JPG\n2 outputs checked: 2 intact\n");

    // Missing, unrecorded and unreadable lines fail the check, each counted.
    ASSERT_TRUE(QFile::remove(dir + "usb/archive/2024/a.JPG"));
    QFile manifestCopy(dir + "usb/archive/m.jsonl");
    ASSERT_TRUE(manifestCopy.open(QIODevice::Append));
    manifestCopy.write("not json\n{\"output\":\"2024/c.JPG\"}\n");
    manifestCopy.close();
    EXPECT_EQ(runInDir({"verify", dir + "usb/archive/m.jsonl"}), kExitFailed);
    EXPECT_TRUE(
        out.endsWith("3 outputs checked: 0 intact, 1 missing, 1 changed, 1 without a "
                     "digest; 1 lines of the manifest unreadable\n"))
        << out.toStdString();
    EXPECT_TRUE(err.contains("m.jsonl: line 3: not a JSON object")) << err.toStdString();
    EXPECT_EQ(runInDir({"verify", "absent.jsonl"}), kExitFailed);
    for (const QStringList& wrong : {QStringList{"verify"}, QStringList{"verify", "--manifest"},
                                     QStringList{"verify", "archive/m.jsonl", "other.jsonl"}})
        EXPECT_EQ(runInDir(wrong), kExitUsage) << wrong.join(' ').toStdString();
    // A file on another file system keeps its absolute path.
    EXPECT_EQ(batch::manifestRelativePath("/proc/self/status", dir), "/proc/self/status");
}

TEST_F(ArchiveRunTest, FailuresNameTheOutputAndTheCause) {
    // The longest name a folder takes converts: its temporary name is cut to fit.
    const QString longest = QString(251, QLatin1Char('x'));
    ASSERT_TRUE(writeEngineTiff(dir + longest + ".tif", 10, 10, 3, 72));
    ASSERT_EQ(runInDir({"convert", longest + ".tif"}), kExitOk) << err.toStdString();
    EXPECT_TRUE(QFileInfo(dir + longest + ".JPG").isFile());
    // An output name longer than that: said so, naming the output.
    EXPECT_EQ(runInDir({"convert", "--ext", "JPEG2", longest + ".tif"}), kExitFailed);
    EXPECT_TRUE(err.contains(dir + longest + ".JPEG2 (name too long)")) << err.toStdString();

    // A folder that cannot be written, as a user who may not write it (root writes anywhere).
    QDir(dir).mkpath("locked");
    ASSERT_EQ(::chmod(QFile::encodeName(dir + "locked").constData(), 0555), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir + longest + ".tif").constData(), 0644), 0);
    const testing::UnprivilegedRun locked = testing::runUnprivileged([&](QByteArray& text) {
        const int status = runInDir({"convert", "--jobs", "1", "-o", "locked", longest + ".tif"});
        text = err.toUtf8();
        return status;
    });
    ASSERT_TRUE(locked.ran);
    EXPECT_EQ(locked.status, kExitFailed);
    const QByteArray& text = locked.text;
    EXPECT_TRUE(text.contains("Error writing file, or disk is full")) << text.toStdString();
    EXPECT_TRUE(text.contains((dir + "locked/" + longest + ".JPG (permission denied)").toUtf8()))
        << text.toStdString();

    // A manifest that cannot be written fails the run, though every file converted.
    EXPECT_EQ(runInDir({"convert", "--manifest", "/dev/full", "-o", "out", longest + ".tif"}),
              kExitFailed);
    EXPECT_TRUE(err.contains("the manifest cannot be written")) << err.toStdString();
}

}  // namespace
}  // namespace pixavant::cli
