#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <thread>

#include "CliRunTest.h"
#include "EngineFixtures.h"
#include "Testdata.h"
#include "batch/Manifest.h"
#include "batch/RunTotals.h"
#include "cli/Cli.h"
#include "cli/ConvertOptions.h"
#include "cli/ConvertRunner.h"

namespace pixavant::cli {
namespace {

using namespace pixavant::testsupport;

using CliTest = test::CliRunTest;

TEST_F(CliTest, HelpIsTheUsageText) {
    // Which options the usage text names is checked against the manual page (DocumentedOptions).
    for (const QStringList& args : {QStringList{"--help"}, QStringList{"convert", "--help"}}) {
        EXPECT_EQ(run(args), kExitOk);
        EXPECT_EQ(out, usageText());
    }
}

TEST_F(CliTest, RefusedCommandsTouchNothing) {
    ASSERT_TRUE(writeEngineFile(dir + "a.tif", "not looked at"));
    const QStringList cases[] = {
        {"convert", "--depth", "32", dir + "a.tif"},
        {"convert", "-o", dir + "out", dir + "a.tif", dir + "missing.tif"},
        {"convert", "--level", "99", dir + "a.tif"},
        {"convert"},
        {"frobnicate"},
        {"info"},
        {"info", "--verbose", dir + "a.tif"},
    };
    for (const QStringList& args : cases) {
        EXPECT_EQ(run(args), kExitUsage) << args.join(' ').toStdString();
        EXPECT_TRUE(err.startsWith("pixavant: ")) << err.toStdString();
        // No output, and no output folder made.
        EXPECT_EQ(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList{"a.tif"});
    }
}

TEST_F(CliTest, ConvertsIntoTheOutputDirectory) {
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
    writeEngineTiff(dir + "a.tif", 40, 20, 3, 72);
    EXPECT_EQ(run({"convert", "--compression", "lzw", "--depth", "gray", "--dpi", "144", "--size",
                   "20x0", "--ext", "tiff", dir + "a.tif"}),
              kExitOk)
        << err.toStdString();
    const ProbedImage t = probeTiff(dir + "a.tiff");
    ASSERT_TRUE(t.ok);
    // 20 x 10, then scaled by 144 / 72; gray, LZW (5).
    EXPECT_EQ(std::tuple(t.width, t.height, t.channels, t.compression, t.xDpi),
              std::tuple(40, 20, 1, 5, 144.0));

    EXPECT_EQ(run({"convert", "--compression", "g4", dir + "a.tif"}), kExitOk) << err.toStdString();
    const ProbedImage g4 = probeTiff(dir + "a.TIF");
    ASSERT_TRUE(g4.ok);
    EXPECT_EQ(g4.compression, 4);  // CCITT Group 4
}

TEST_F(CliTest, FilesFromSeveralDirectoriesGoBesideTheirSources) {
    QDir(dir).mkpath("one");
    QDir(dir).mkpath("two");
    writeEngineTiff(dir + "one/a.tif", 10, 10, 3, 72);
    writeEngineTiff(dir + "two/b.tif", 10, 10, 3, 72);
    terminal = true;
    EXPECT_EQ(run({"convert", dir + "one/a.tif", dir + "two/b.tif"}), kExitOk) << err.toStdString();
    EXPECT_EQ(files(dir + "one"), (QStringList{"a.JPG", "a.tif"}));
    EXPECT_EQ(files(dir + "two"), (QStringList{"b.JPG", "b.tif"}));
    // A terminal: a progress line redrawn in place, ending at 100 %.
    EXPECT_TRUE(out.contains('\r'));
    EXPECT_TRUE(out.contains("100 % 2/2 b.tif")) << out.toStdString();
    // Its last line: the totals.
    batch::RunTotals totals;
    totals.add(dir + "one/a.tif", dir + "one/a.JPG");
    totals.add(dir + "two/b.tif", dir + "two/b.JPG");
    EXPECT_GT(totals.bytesAfter, 0);
    EXPECT_TRUE(out.endsWith("\n2 files converted: " + batch::bytesText(totals) + "\n"))
        << out.toStdString();
}

TEST_F(CliTest, AFailureStopsTheRunUnlessToldToKeepGoing) {
    QDir(dir).mkpath("out");
    writeEngineTiff(dir + "a.tif", 10, 10, 3, 72);
    ASSERT_TRUE(writeEngineFile(dir + "b.tif", "no image here"));
    writeEngineTiff(dir + "c.tif", 10, 10, 3, 72);
    const QStringList list = {dir + "a.tif", dir + "b.tif", dir + "c.tif"};
    EXPECT_EQ(run(QStringList{"convert", "--jobs", "1", "-o", dir + "out"} + list), kExitFailed);
    EXPECT_EQ(files(dir + "out"), QStringList{"a.JPG"});
    EXPECT_TRUE(err.startsWith("pixavant: " + dir + "b.tif: Compression error."))
        << err.toStdString();

    // Side by side, the files in progress are abandoned: nothing partial, nothing hidden.
    QDir(dir + "out").removeRecursively();
    QDir(dir).mkpath("out");
    EXPECT_EQ(run(QStringList{"convert", "--jobs", "3", "-o", dir + "out"} + list), kExitFailed);
    EXPECT_TRUE(err.contains("pixavant: " + dir + "b.tif: Compression error."))
        << err.toStdString();
    for (const QString& name : files(dir + "out"))
        EXPECT_TRUE(probeJpeg(dir + "out/" + name).ok) << name.toStdString();
    // --keep-going: every file that can be converted is (failures in list order: ALongList...).
    EXPECT_EQ(run(QStringList{"convert", "--keep-going", "-o", dir + "out"} + list), kExitFailed);
    EXPECT_EQ(files(dir + "out"), (QStringList{"a.JPG", "c.JPG"}));
}

TEST_F(CliTest, InterruptAbandonsTheFilesInProgress) {
    QDir(dir).mkpath("out");
    QStringList args = {"convert", "--jobs", "2", "-o", dir + "out"};
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) {
        writeEngineTiff(dir + name, 64, 64, 3, 72);
        args << dir + name;
    }
    // Ctrl-C as soon as a file is in progress: the first question from a conversion thread.
    interruptWhen = [main = std::this_thread::get_id()] {
        return std::this_thread::get_id() != main;
    };
    EXPECT_EQ(run(args), kExitInterrupted);
    EXPECT_TRUE(files(dir + "out").isEmpty()) << files(dir + "out").join(' ').toStdString();
    EXPECT_TRUE(err.contains("a.tif: abandoned (interrupted); nothing of it was written"))
        << err.toStdString();
    EXPECT_TRUE(err.endsWith("pixavant: interrupted\n")) << err.toStdString();
}

TEST_F(CliTest, InfoPrintsThePanelFields) {
    writeEngineTiff(dir + "a.tif", 40, 20, 3, 300);
    EXPECT_EQ(run({"info", dir + "a.tif"}), kExitOk) << err.toStdString();
    // The texts are the information panel's (InfoTextTest); here, one per line with its caption.
    EXPECT_TRUE(out.startsWith("Format:         TIFF\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("\nResolution:     300 DPI\n")) << out.toStdString();
    EXPECT_EQ(out.count('\n'), 8);
    // A file of several pages says how many.
    ASSERT_TRUE(writeEngineDocument(dir + "doc.tif", {{30, 20, 1}, {30, 20, 1}, {30, 20, 0}}));
    EXPECT_EQ(run({"info", dir + "doc.tif"}), kExitOk);
    EXPECT_TRUE(out.endsWith("\nPages:          3\n")) << out.toStdString();

    ASSERT_TRUE(writeEngineFile(dir + "x.tif", "no image"));
    EXPECT_EQ(run({"info", dir + "a.tif", dir + "x.tif", dir + "missing"}), kExitFailed);
    EXPECT_TRUE(out.startsWith(dir + "a.tif:\nFormat:")) << out.toStdString();
    EXPECT_EQ(err.count('\n'), 2) << err.toStdString();
}

TEST_F(CliTest, ParallelRunsWriteWhatOneJobWrites) {
    // Sizes that finish out of list order, and more files from a list.
    QStringList list;
    const int sides[] = {200, 12, 90, 33, 160, 8, 120};
    for (int i = 0; i < 7; ++i) {
        const QString name = dir + QStringLiteral("f%1.tif").arg(i);
        ASSERT_TRUE(writeEngineTiff(name, sides[i], sides[6 - i], i % 2 == 0 ? 3 : 1, 72));
        list << name;
    }
    ASSERT_TRUE(writeEngineTiff(dir + "a.tif", 50, 40, 3, 72));
    ASSERT_TRUE(writeEngineJpeg(dir + "b.jpg", 40, 50, 3, 72));
    QStringList given = list;
    list << dir + "a.tif" << dir + "b.jpg";
    ASSERT_TRUE(
        writeEngineFile(dir + "names.txt", QFile::encodeName(dir + "a.tif\n" + dir + "b.jpg\n")));
    given << "--files-from" << dir + "names.txt";

    const QStringList settings[] = {{},
                                    {"--compression", "pixavant"},
                                    {"--compression", "lzw", "--depth", "8"},
                                    {"--depth", "bw"}};
    for (const QStringList& options : settings) {
        const std::string what = options.join(' ').toStdString();
        QStringList logs;
        for (const char* jobs : {"1", "4"}) {
            const QString target = dir + "out" + jobs;
            QDir(target).removeRecursively();
            QDir(dir).mkpath("out" + QString(jobs));
            EXPECT_EQ(run(QStringList{"convert", "--jobs", jobs, "-o", target} + options + given),
                      kExitOk)
                << what << err.toStdString();
            logs << out.replace(target, "OUT");
        }
        EXPECT_EQ(logs[0], logs[1]) << what;  // one line per file, in list order
        EXPECT_EQ(logs[0].count('\n'), list.size()) << what;
        const QStringList written = files(dir + "out1");
        EXPECT_EQ(written.size(), 9) << what;
        EXPECT_EQ(files(dir + "out4"), written) << what;
        for (const QString& name : written)
            EXPECT_EQ(readAll(dir + "out1/" + name), readAll(dir + "out4/" + name))
                << what << " " << name.toStdString();
    }
}

TEST_F(CliTest, RealFilesConvertInABatchAsTheyDoAlone) {
    const QString testdata = QStringLiteral(PIXAVANT_TESTDATA "/formats");
    // Several samples share a name (hopper.*), which would be written to one output: the first
    // of each name is taken.
    QStringList list;
    QSet<QString> outputNames;
    for (const QString& name : QDir(testdata).entryList(QDir::Files, QDir::Name))
        if (!outputNames.contains(name.section('.', 0, 0))) {
            outputNames.insert(name.section('.', 0, 0));
            list << QDir::cleanPath(testdata + "/" + name);
        }
    if (list.isEmpty())
        GTEST_SKIP() << "no shared test files at " << testdata.toStdString();
    QDir(dir).mkpath("batch");
    ASSERT_TRUE(writeEngineFile(dir + "names.txt", (list.join('\n') + '\n').toUtf8()));
    const int status = run({"convert", "--keep-going", "--jobs", "3", "-o", dir + "batch",
                            "--files-from", dir + "names.txt"});
    EXPECT_NE(status, kExitUsage);
    const QStringList batchFailures = err.split('\n', Qt::SkipEmptyParts);

    QStringList aloneFailures;
    QMap<QString, QString> lastWriter;  // output name -> the last file of the list writing it
    for (int i = 0; i < list.size(); ++i) {
        const QString target = dir + QString::number(i);
        QDir(dir).mkpath(QString::number(i));
        run({"convert", "--jobs", "1", "-o", target, list[i]});
        aloneFailures += err.split('\n', Qt::SkipEmptyParts);
        for (const QString& name : files(target))
            lastWriter[name] = target + "/" + name;
    }
    EXPECT_EQ(batchFailures, aloneFailures);
    EXPECT_EQ(files(dir + "batch"), QStringList(lastWriter.keys()));
    for (auto it = lastWriter.cbegin(); it != lastWriter.cend(); ++it)
        EXPECT_EQ(readAll(dir + "batch/" + it.key()), readAll(it.value()))
            << it.key().toStdString();
}

TEST_F(CliTest, ALongListStreamsThroughInListOrder) {
    // More names than are read ahead of the first unreported one; most fail at once.
    QByteArray names;
    QStringList expectedErrors;
    QStringList expectedLines;
    for (int i = 0; i < 1300; ++i) {
        const QString name = QStringLiteral("f%1.tif").arg(i);
        if (i % 400 == 399) {
            ASSERT_TRUE(writeEngineTiff(dir + name, 40 + i / 100, 30, 3, 72));
            expectedLines << name + " -> " + dir + QStringLiteral("f%1.JPG").arg(i);
        } else {
            expectedErrors << "pixavant: " + name + ": Compression error. (no such file)";
        }
        names += QFile::encodeName(name) + '\n';
    }
    ASSERT_TRUE(writeEngineFile(dir + "list", names));
    EXPECT_EQ(runInDir({"convert", "--keep-going", "--jobs", "3", "--files-from", "list"}),
              kExitFailed);
    EXPECT_EQ(out.split('\n', Qt::SkipEmptyParts), expectedLines);
    EXPECT_EQ(err.split('\n', Qt::SkipEmptyParts), expectedErrors);
}

TEST_F(CliTest, StepsAfterTheWriteRunBeforeTheReport) {
    QStringList paths;
    for (int i = 0; i < 4; ++i) {
        paths << dir + QStringLiteral("s%1.tif").arg(i);
        ASSERT_TRUE(writeEngineTiff(paths.last(), 20 + 30 * i, 20, 3, 72));
    }
    const ConvertParse parse = parseConvert(QStringList{"--jobs", "3", "--keep-going"} + paths);
    ASSERT_TRUE(parse.error.isEmpty());
    ConvertRunner runner(parse.job, [] { return false; });
    runner.addAfterWrite([](FileOutcome& outcome) {
        EXPECT_TRUE(QFileInfo(outcome.output).isFile()) << outcome.output.toStdString();
        if (outcome.index == 2) {  // a check of the output that fails
            outcome.result = FileOutcome::Result::Failed;
            outcome.message = "Verification failed.";
        }
    });
    struct Recorder final : RunListener {
        std::vector<FileOutcome> outcomes;
        void finished(const FileOutcome& outcome) override { outcomes.push_back(outcome); }
    } recorder;
    SourceList list(parse.job.sourcePaths, {}, false, 0);
    const RunSummary summary = runner.run(list, recorder);
    EXPECT_EQ(summary.converted, 3);
    EXPECT_EQ(summary.failed, 1);
    ASSERT_EQ(recorder.outcomes.size(), 4u);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(recorder.outcomes[size_t(i)].index, i);
    EXPECT_EQ(recorder.outcomes[2].message, "Verification failed.");
}

TEST_F(CliTest, FilesFromReadsNamesFromAFileOrStandardInput) {
    QDir(dir).mkpath("in");
    for (const char* name : {"one.tif", " two.tif", "three.tif", "line\nbreak.tif"})
        writeEngineTiff(dir + "in/" + name, 16, 16, 3, 72);
    const QString line = QStringLiteral("%1 -> ") + dir + "out/%2.JPG\n";
    for (const bool nul : {false, true}) {
        for (const bool standardInput : {false, true}) {
            // An absolute name, an empty one, a relative one; no end after the last.
            const char end = nul ? '\0' : '\n';
            QByteArray names = QFile::encodeName(dir + "in/ two.tif") + end + end + "in/three.tif";
            // The command line's files first, then the list's in its order.
            QString expected = line.arg(dir + "in/one.tif", "one") +
                               line.arg(dir + "in/ two.tif", " two") +
                               line.arg("in/three.tif", "three");
            if (nul) {
                names += end + QByteArray("in/line\nbreak.tif");
                expected += line.arg("in/line\nbreak.tif", "line\nbreak");
            }
            QStringList args = {"convert", "--jobs", "2", "-o", "out", dir + "in/one.tif"};
            args << "--files-from" << (standardInput ? "-" : "list");
            if (nul)
                args << "-0";
            if (!standardInput) {
                ASSERT_TRUE(writeEngineFile(dir + "list", names));
            }
            QDir(dir + "out").removeRecursively();
            QDir(dir).mkpath("out");
            EXPECT_EQ(runInDir(args, standardInput ? names : QByteArray()), kExitOk)
                << err.toStdString();
            EXPECT_EQ(out, expected) << nul << standardInput;
        }
    }
}

TEST_F(CliTest, NeverReplacesAFileTheListNamesLater) {
    writeEngineTiff(dir + "x.tif", 20, 20, 3, 72);
    writeEngineJpeg(dir + "x.JPG", 10, 10, 3, 72);
    const QByteArray before = readAll(dir + "x.JPG");
    // Named through a link to its folder: not the same output path, the same file.
    ASSERT_TRUE(QFile::link(".", dir + "here"));
    ASSERT_TRUE(
        writeEngineFile(dir + "list", QFile::encodeName(dir + "x.tif\n" + dir + "here/x.JPG\n")));
    EXPECT_EQ(run({"convert", "--keep-going", "--files-from", dir + "list"}), kExitFailed);
    EXPECT_EQ(err.count("would replace a source file: x.JPG"), 2) << err.toStdString();
    EXPECT_EQ(readAll(dir + "x.JPG"), before);
    EXPECT_EQ(files(dir), (QStringList{"list", "x.JPG", "x.tif"}));
}

TEST_F(CliTest, SkipExistingLeavesOutputsAlone) {
    QDir(dir).mkpath("out");
    writeEngineTiff(dir + "a.tif", 20, 20, 3, 72);
    writeEngineTiff(dir + "b.tif", 20, 20, 3, 72);
    ASSERT_TRUE(writeEngineFile(dir + "out/a.JPG", "from an earlier run"));
    const QStringList args = {"convert",   "--skip-existing", "-o",
                              dir + "out", dir + "a.tif",     dir + "b.tif"};
    EXPECT_EQ(run(args), kExitOk) << err.toStdString();
    EXPECT_EQ(readAll(dir + "out/a.JPG"), "from an earlier run");
    EXPECT_TRUE(probeJpeg(dir + "out/b.JPG").ok);
    EXPECT_TRUE(out.startsWith(dir + "a.tif -> " + dir + "out/a.JPG (already there, skipped)\n"))
        << out.toStdString();
    terminal = true;
    EXPECT_EQ(run(args), kExitOk);
    EXPECT_TRUE(out.endsWith("0 files converted, 2 skipped\n")) << out.toStdString();
}

// Files under `root`, relative to it, in name order.
QStringList treeFiles(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next().mid(root.size() + 1);
    found.sort();
    return found;
}

TEST_F(CliTest, TreesAreMirroredAndLinksDoNotLeaveThem) {
    for (const char* folder : {"photos/2020/deep", "photos/.hidden", "elsewhere", "out"})
        QDir(dir).mkpath(folder);
    ASSERT_TRUE(writeEngineTiff(dir + "photos/a.tif", 20, 10, 3, 72));
    ASSERT_TRUE(writeEngineJpeg(dir + "photos/2020/deep/b.jpg", 20, 10, 3, 72));
    ASSERT_TRUE(writeEngineTiff(dir + "photos/.hidden/c.tif", 20, 10, 3, 72));
    ASSERT_TRUE(writeEngineTiff(dir + "elsewhere/d.tif", 20, 10, 3, 72));
    ASSERT_TRUE(writeEngineFile(dir + "photos/notes.txt", "not an image"));
    ASSERT_TRUE(QFile::link("2020/deep/b.jpg", dir + "photos/inside.jpg"));
    ASSERT_TRUE(QFile::link("../elsewhere/d.tif", dir + "photos/outside.tif"));
    ASSERT_TRUE(QFile::link("../elsewhere", dir + "photos/linked"));

    EXPECT_EQ(runInDir({"convert", "-r", "--jobs", "2", "-o", "out", "photos"}), kExitOk)
        << err.toStdString();
    EXPECT_EQ(treeFiles(dir + "out"),
              (QStringList{"photos/2020/deep/b.JPG", "photos/a.JPG", "photos/inside.JPG"}));
    // Files first, then the sub-directories, each in name order; names as given.
    EXPECT_TRUE(out.startsWith("photos/a.tif -> ")) << out.toStdString();
    EXPECT_TRUE(out.contains("photos/2020/deep/b.jpg -> " + dir + "out/photos/2020/deep/b.JPG"));

    // Without --output the outputs go beside their sources, and a second run passes over the
    // first run's outputs instead of failing on them.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(runInDir({"convert", "-r", "--ext", "JXL", "photos/2020"}), kExitOk)
            << err.toStdString();
        EXPECT_EQ(treeFiles(dir + "photos/2020"), (QStringList{"deep/b.JXL", "deep/b.jpg"}));
    }

    // Without --recursive a directory is refused, and so is a mirror inside its own tree.
    EXPECT_EQ(runInDir({"convert", "-o", "out", "photos"}), kExitUsage);
    EXPECT_TRUE(err.contains("--recursive")) << err.toStdString();
    EXPECT_EQ(runInDir({"convert", "-r", "-o", "photos/2020", "photos"}), kExitUsage);
    EXPECT_TRUE(err.contains("inside the tree")) << err.toStdString();
    EXPECT_EQ(treeFiles(dir + "photos/2020"), (QStringList{"deep/b.JXL", "deep/b.jpg"}));
}

TEST_F(CliTest, TreesTakeThePhoneAndWebFormats) {
    const QString modern = testing::testdataDir("modern");
    if (modern.isEmpty())
        GTEST_SKIP() << "no modern/ test data";
    QDir(dir).mkpath("phone/2024.06.01 beach");
    QDir(dir).mkpath("out");
    for (const char* name : {"kodim01.heic", "kodim03.avif", "kodim04.webp", "trns-rgb.png"})
        ASSERT_TRUE(QFile::copy(modern + "/" + name, dir + "phone/2024.06.01 beach/" + name));
    ASSERT_TRUE(QFile::copy(modern + "/kodim01.heic", dir + "phone/IMG_0001.HEIF"));
    ASSERT_TRUE(writeEngineFile(dir + "phone/notes.txt", "not an image"));
    EXPECT_EQ(runInDir({"convert", "-r", "-o", "out", "phone"}), kExitOk) << err.toStdString();
    EXPECT_EQ(
        treeFiles(dir + "out"),
        (QStringList{"phone/2024.06.01 beach/kodim01.JPG", "phone/2024.06.01 beach/kodim03.JPG",
                     "phone/2024.06.01 beach/kodim04.JPG", "phone/2024.06.01 beach/trns-rgb.JPG",
                     "phone/IMG_0001.JPG"}));
}

TEST_F(CliTest, VerifiedOutputsAreRecordedDatedAndCheckedLater) {
    QDir(dir).mkpath("out");
    QStringList sources;
    for (const char* name : {"a.tif", "b.tif"}) {
        sources << dir + name;
        ASSERT_TRUE(writeEngineTiff(sources.last(), 48, 32, 3, 72));
        const timespec times[2] = {{0, UTIME_OMIT}, {981173106, 123456789}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(sources.last()), times, 0), 0);
    }
    struct Case {
        QStringList options;
        const char* result;
    };
    const Case cases[] = {
        {{"--compression", "lzw"}, "(verified: identical pixels)"},
        {{"--compression", "pixavant-lossless"}, "(verified: identical pixels)"},
        {{"--compression", "jpeg", "--level", "5"}, "(verified: PSNR "},
        {{"--compression", "pixavant", "--level", "4"}, "(verified: PSNR "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        const QString manifest = dir + "m.jsonl";
        QFile::remove(manifest);
        ASSERT_EQ(run(QStringList{"convert", "--verify", "--keep-dates", "--manifest", manifest,
                                  "--jobs", "2", "-o", dir + "out"} +
                      c.options + sources),
                  kExitOk)
            << err.toStdString();
        EXPECT_EQ(out.count(c.result), 2) << out.toStdString();

        batch::Manifest read;
        QString error;
        ASSERT_TRUE(batch::readManifest(manifest, read, error));
        ASSERT_EQ(read.entries.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            const batch::ManifestEntry& entry = read.entries[i];
            // List order; paths relative to the manifest's folder.
            EXPECT_EQ(dir + entry.source, sources[qsizetype(i)]);
            EXPECT_TRUE(entry.output.startsWith("out/")) << entry.output.toStdString();
            EXPECT_EQ(entry.verification, "passed");
            EXPECT_EQ(entry.outputSha256, *batch::sha256OfFile(dir + entry.output));
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(dir + entry.output), &st), 0);
            EXPECT_EQ(st.st_mtim.tv_sec, 981173106);
            EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
        }
        // What a later check finds changed: ACopiedArchiveVerifiesWhereItIs.
        EXPECT_EQ(run({"verify", "--manifest", manifest}), kExitOk) << out.toStdString();
    }
}

TEST_F(CliTest, StripLeavesTheSourcesMetadataOut) {
    const QString camera = testing::testdataDir("exif") + "/Canon_40D.jpg";
    if (!QFileInfo::exists(camera))
        GTEST_SKIP() << "../shared/testdata/exif is not there";
    QDir(dir).mkpath("kept");
    QDir(dir).mkpath("stripped");
    ASSERT_EQ(run({"convert", "-o", dir + "kept", camera}), kExitOk) << err.toStdString();
    ASSERT_EQ(run({"convert", "--strip", "-o", dir + "stripped", camera}), kExitOk);
    const QByteArray exifMarker("Exif\0\0", 6);
    EXPECT_TRUE(readAll(dir + "kept/Canon_40D.JPG").contains(exifMarker));
    EXPECT_FALSE(readAll(dir + "stripped/Canon_40D.JPG").contains(exifMarker));
    EXPECT_FALSE(readAll(dir + "stripped/Canon_40D.JPG").contains("Canon"));
}

}  // namespace
}  // namespace pixavant::cli
