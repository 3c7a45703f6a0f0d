#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "EngineFixtures.h"
#include "cli/Cli.h"

namespace pixavant::cli {
namespace {

using namespace pixavant::testsupport;

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + "/";
    }
    void needCodecs() {
        QString why;
        if (!engineCodecsReady(why))
            GTEST_SKIP() << why.toStdString();
    }
    int run(const QStringList& args, bool terminal = false) {
        out.clear();
        err.clear();
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        CliIo io{outStream, errStream};
        io.terminal = terminal;
        io.interrupted = [this] {
            return interruptAfter >= 0 && ++interruptChecks > interruptAfter;
        };
        const int status = runCli(args, io);
        outStream.flush();
        errStream.flush();
        return status;
    }
    QStringList files(const QString& path) const {
        return QDir(path).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QByteArray readAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir tmp;
    QString dir;
    QString out;
    QString err;
    int interruptAfter = -1;
    int interruptChecks = 0;
};

TEST_F(CliTest, HelpDocumentsEveryOption) {
    EXPECT_EQ(run({"--help"}), kExitOk);
    for (const char* option : {"--dpi", "--depth", "--size", "--compression", "--level", "--output",
                               "--ext", "pixavant-lossless", "info"})
        EXPECT_TRUE(out.contains(QLatin1String(option))) << option;
    EXPECT_EQ(run({"convert", "--help"}), kExitOk);
    EXPECT_FALSE(out.isEmpty());
}

TEST_F(CliTest, CommandDetection) {
    const char* convert[] = {"pixavant", "convert"};
    const char* info[] = {"pixavant", "info"};
    const char* help[] = {"pixavant", "-h"};
    const char* version[] = {"pixavant", "--version"};
    const char* directory[] = {"pixavant", "/home"};
    const char* none[] = {"pixavant"};
    EXPECT_TRUE(isCliCommand(2, const_cast<char**>(convert)));
    EXPECT_TRUE(isCliCommand(2, const_cast<char**>(info)));
    EXPECT_TRUE(isCliCommand(2, const_cast<char**>(help)));
    EXPECT_TRUE(isCliCommand(2, const_cast<char**>(version)));
    EXPECT_FALSE(isCliCommand(2, const_cast<char**>(directory)));
    EXPECT_FALSE(isCliCommand(1, const_cast<char**>(none)));
}

TEST_F(CliTest, RefusedCommandsTouchNothing) {
    ASSERT_TRUE(writeEngineFile(dir + "a.tif", "not looked at"));
    const QStringList cases[] = {
        {"convert", "--depth", "32", dir + "a.tif"},
        {"convert", dir + "a.tif", dir + "missing.tif"},
        {"convert", "--level", "99", dir + "a.tif"},
        {"convert"},
        {"frobnicate"},
        {"info"},
        {"info", "--verbose", dir + "a.tif"},
    };
    for (const QStringList& args : cases) {
        EXPECT_EQ(run(args), kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("pixavant: ")) << err.toStdString();
        EXPECT_EQ(files(dir), QStringList{"a.tif"});
    }
}

TEST_F(CliTest, ConvertsIntoTheOutputDirectory) {
    needCodecs();
    QDir(dir).mkpath("out");
    writeEngineTiff(dir + "a.tif", 40, 20, 3, 72);
    writeEngineJpeg(dir + "b.jpg", 30, 30, 3, 72);
    EXPECT_EQ(run({"convert", "-o", dir + "out", dir + "a.tif", dir + "b.jpg"}), kExitOk)
        << err.toStdString();
    EXPECT_EQ(files(dir + "out"), (QStringList{"a.JPG", "b.JPG"}));
    const ProbedImage a = probeJpeg(dir + "out/a.JPG");
    EXPECT_EQ(a.width, 40);
    EXPECT_EQ(a.xDpi, 72);
    // Not a terminal: one line per file.
    EXPECT_EQ(out.count('\n'), 2);
    EXPECT_TRUE(out.contains("a.tif -> " + dir + "out/a.JPG")) << out.toStdString();
    EXPECT_TRUE(err.isEmpty());
}

TEST_F(CliTest, OptionsReachTheOutput) {
    needCodecs();
    writeEngineTiff(dir + "a.tif", 40, 20, 3, 72);
    EXPECT_EQ(run({"convert", "--compression", "lzw", "--depth", "gray", "--dpi", "144", "--size",
                   "20x0", "--ext", "tiff", dir + "a.tif"}),
              kExitOk)
        << err.toStdString();
    const ProbedImage t = probeTiff(dir + "a.tiff");
    ASSERT_TRUE(t.ok);
    EXPECT_EQ(t.width, 40);  // 20 x 10, then scaled by 144 / 72
    EXPECT_EQ(t.height, 20);
    EXPECT_EQ(t.channels, 1);
    EXPECT_EQ(t.compression, 5);  // LZW
    EXPECT_EQ(t.xDpi, 144);

    EXPECT_EQ(run({"convert", "--compression", "g4", dir + "a.tif"}), kExitOk) << err.toStdString();
    const ProbedImage g4 = probeTiff(dir + "a.TIF");
    ASSERT_TRUE(g4.ok);
    EXPECT_EQ(g4.compression, 4);  // CCITT Group 4
}

TEST_F(CliTest, FilesFromSeveralDirectoriesGoBesideTheirSources) {
    needCodecs();
    QDir(dir).mkpath("one");
    QDir(dir).mkpath("two");
    writeEngineTiff(dir + "one/a.tif", 10, 10, 3, 72);
    writeEngineTiff(dir + "two/b.tif", 10, 10, 3, 72);
    EXPECT_EQ(run({"convert", dir + "one/a.tif", dir + "two/b.tif"}, true), kExitOk)
        << err.toStdString();
    EXPECT_EQ(files(dir + "one"), (QStringList{"a.JPG", "a.tif"}));
    EXPECT_EQ(files(dir + "two"), (QStringList{"b.JPG", "b.tif"}));
    // A terminal: a progress line redrawn in place, ending at 100 %.
    EXPECT_TRUE(out.contains('\r'));
    EXPECT_TRUE(out.contains("100 % 2/2 b.tif")) << out.toStdString();
    EXPECT_TRUE(out.endsWith("2 files converted\n")) << out.toStdString();
}

TEST_F(CliTest, StopsAtTheFirstFailure) {
    needCodecs();
    QDir(dir).mkpath("out");
    writeEngineTiff(dir + "a.tif", 10, 10, 3, 72);
    ASSERT_TRUE(writeEngineFile(dir + "b.tif", "no image here"));
    writeEngineTiff(dir + "c.tif", 10, 10, 3, 72);
    EXPECT_EQ(run({"convert", "-o", dir + "out", dir + "a.tif", dir + "b.tif", dir + "c.tif"}),
              kExitFailed);
    EXPECT_EQ(files(dir + "out"), QStringList{"a.JPG"});
    EXPECT_TRUE(err.startsWith("pixavant: b.tif: Compression error.")) << err.toStdString();
}

TEST_F(CliTest, NeverReplacesAFileOfTheCommand) {
    needCodecs();
    QDir(dir).mkpath("one");
    QDir(dir).mkpath("two");
    writeEngineTiff(dir + "one/a.tif", 10, 10, 3, 72);
    writeEngineJpeg(dir + "two/a.JPG", 10, 10, 3, 72);
    const QByteArray before = readAll(dir + "two/a.JPG");
    // two/a.JPG would become itself.
    EXPECT_EQ(run({"convert", "-o", dir + "two", dir + "two/a.JPG"}), kExitFailed);
    EXPECT_TRUE(err.contains("would replace a source file: a.JPG")) << err.toStdString();
    EXPECT_EQ(readAll(dir + "two/a.JPG"), before);
    // one/a.tif would become two/a.JPG too: the command is refused before anything is written.
    err.clear();
    EXPECT_EQ(run({"convert", "-o", dir + "two", dir + "one/a.tif", dir + "two/a.JPG"}),
              kExitUsage);
    EXPECT_TRUE(err.contains(dir + "one/a.tif and " + dir + "two/a.JPG would both be written to " +
                             dir + "two/a.JPG."))
        << err.toStdString();
    EXPECT_EQ(readAll(dir + "two/a.JPG"), before);
    EXPECT_EQ(files(dir + "two").size(), 1);
}

TEST_F(CliTest, InterruptAbandonsTheFileInProgress) {
    needCodecs();
    QDir(dir).mkpath("out");
    writeEngineTiff(dir + "a.tif", 64, 64, 3, 72);
    writeEngineTiff(dir + "b.tif", 64, 64, 3, 72);
    interruptAfter = 0;  // at the first progress notification
    EXPECT_EQ(run({"convert", "-o", dir + "out", dir + "a.tif", dir + "b.tif"}), kExitInterrupted);
    EXPECT_TRUE(files(dir + "out").isEmpty()) << files(dir + "out").join(' ').toStdString();
    EXPECT_TRUE(err.contains("interrupted")) << err.toStdString();
}

TEST_F(CliTest, InfoPrintsThePanelFields) {
    needCodecs();
    writeEngineTiff(dir + "a.tif", 40, 20, 3, 300);
    EXPECT_EQ(run({"info", dir + "a.tif"}), kExitOk) << err.toStdString();
    const QStringList lines = out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 8) << out.toStdString();
    EXPECT_EQ(lines[0], "Format:         TIFF");
    EXPECT_EQ(lines[2], "Width:          40 pixels");
    EXPECT_EQ(lines[3], "Height:         20 pixels");
    EXPECT_EQ(lines[4], "Bits Per Pixel: 24 bits");
    EXPECT_EQ(lines[5], "Resolution:     300 DPI");
    EXPECT_EQ(lines[6],
              "File Size:      " + QString::number(QFileInfo(dir + "a.tif").size()) + " bytes");

    ASSERT_TRUE(writeEngineFile(dir + "x.tif", "no image"));
    EXPECT_EQ(run({"info", dir + "a.tif", dir + "x.tif", dir + "missing"}), kExitFailed);
    EXPECT_TRUE(out.startsWith(dir + "a.tif:\nFormat:")) << out.toStdString();
    EXPECT_EQ(err.count('\n'), 2) << err.toStdString();
}

}  // namespace
}  // namespace pixavant::cli
