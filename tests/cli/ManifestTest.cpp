#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <cmath>

#include "batch/Manifest.h"
#include "cli/Cli.h"
#include "imaging/FormatCodes.h"

namespace pixavant::batch {
namespace {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

class ManifestTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    QString path(const QString& name) const { return tmp_.filePath(name); }

    // Runs "pixavant verify ARGS"; the exit status, with what it printed in out_ and err_.
    int verify(const QStringList& args) {
        out_.clear();
        err_.clear();
        QTextStream out(&out_);
        QTextStream err(&err_);
        cli::CliIo io{out, err};
        const int status = cli::runCli(QStringList{QStringLiteral("verify")} + args, io);
        out.flush();
        err.flush();
        return status;
    }

    QTemporaryDir tmp_;
    QString out_;
    QString err_;
};

TEST_F(ManifestTest, AnEntryRecordsBothFilesAndTheVerificationAndReadsBackTheSame) {
    ASSERT_TRUE(writeFile(path("a.tif"), "abc"));
    ASSERT_TRUE(writeFile(path("a.jpg"), "output bytes"));
    imaging::Verification check;
    check.method = imaging::VerifyMethod::Psnr;
    check.passed = true;
    check.psnr = 41.2345;
    check.floor = 38;
    const ManifestEntry entry =
        describeConversion(path("a.tif"), path("a.jpg"), imaging::format::kJpeg444, check);
    EXPECT_EQ(entry.sourceSha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");  // of "abc"
    EXPECT_EQ(entry.sourceBytes, 3);
    EXPECT_EQ(entry.outputBytes, 12);

    const QByteArray line = toJsonLine(entry);
    EXPECT_FALSE(line.contains('\n'));
    EXPECT_TRUE(line.contains("\"verification\":\"passed\"") && line.contains("\"psnr_db\":41.23"));
    QString error;
    const std::optional<ManifestEntry> back = fromJsonLine(line, error);
    ASSERT_TRUE(back) << error.toStdString();
    EXPECT_EQ(toJsonLine(*back), line);

    const ManifestEntry unverified = describeConversion(path("a.tif"), path("gone.jpg"), 10, {});
    EXPECT_EQ(unverified.verification, QStringLiteral("not-verified"));
    EXPECT_EQ(unverified.outputBytes, -1);
    EXPECT_TRUE(unverified.outputSha256.isEmpty());
}

TEST_F(ManifestTest, FixityTellsIntactMissingChangedAndUnrecordedOutputsApart) {
    ASSERT_TRUE(writeFile(path("src"), "source"));
    const QStringList names = {"same", "flipped", "longer", "gone", "relative"};
    ManifestWriter writer;
    QString error;
    ASSERT_TRUE(writer.open(path("manifest.jsonl"), error)) << error.toStdString();
    for (const QString& name : names) {
        ASSERT_TRUE(writeFile(path(name), "pixels"));
        ManifestEntry entry = describeConversion(path("src"), path(name), 17, {});
        if (name == QLatin1String("relative"))
            entry.output = name;  // counts from the manifest's directory
        ASSERT_TRUE(writer.write(entry));
    }
    ManifestEntry unrecorded = describeConversion(path("src"), path("never"), 17, {});
    ASSERT_TRUE(writer.write(unrecorded));
    ASSERT_TRUE(writeFile(path("flipped"), "pixelz"));
    ASSERT_TRUE(writeFile(path("longer"), "pixels!"));
    ASSERT_TRUE(QFile::remove(path("gone")));

    Manifest manifest;
    ASSERT_TRUE(readManifest(path("manifest.jsonl"), manifest, error));
    ASSERT_EQ(manifest.entries.size(), 6u);
    const Fixity expected[] = {Fixity::Intact,  Fixity::Changed, Fixity::Changed,
                               Fixity::Missing, Fixity::Intact,  Fixity::Unrecorded};
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        QString detail;
        EXPECT_EQ(checkFixity(manifest.entries[i], tmp_.path(), detail), expected[i])
            << manifest.entries[i].output.toStdString() << ": " << detail.toStdString();
    }

    EXPECT_EQ(verify({"--manifest", path("manifest.jsonl")}), cli::kExitFailed);
    EXPECT_TRUE(out_.contains(QStringLiteral("MISSING    ") + path("gone")));
    EXPECT_TRUE(
        out_.contains(QStringLiteral("CHANGED    ") + path("flipped") + " (SHA-256 differs)"));
    EXPECT_TRUE(
        out_.contains("6 outputs checked: 2 intact, 1 missing, 2 changed, 1 without a digest"))
        << out_.toStdString();
}

TEST_F(ManifestTest, VerifyExitsLikeTheOtherCommands) {
    ASSERT_TRUE(writeFile(path("out"), "pixels"));
    ASSERT_TRUE(
        writeFile(path("good.jsonl"),
                  toJsonLine(describeConversion(path("out"), path("out"), 17, {})) + "\n\n"));
    EXPECT_EQ(verify({"--manifest", path("good.jsonl")}), cli::kExitOk);
    EXPECT_TRUE(out_.contains("1 outputs checked: 1 intact\n")) << out_.toStdString();
    EXPECT_EQ(verify({QStringLiteral("--manifest=") + path("good.jsonl")}), cli::kExitOk);

    // Lines that are not entries are named and fail the check; the others are still checked.
    ASSERT_TRUE(writeFile(path("mixed.jsonl"),
                          "not json\n" +
                              toJsonLine(describeConversion(path("out"), path("out"), 17, {})) +
                              "\n{\"source\":\"x\"}\n"));
    EXPECT_EQ(verify({"--manifest", path("mixed.jsonl")}), cli::kExitFailed);
    EXPECT_TRUE(err_.contains("line 1: not a JSON object")) << err_.toStdString();
    EXPECT_TRUE(err_.contains("line 3: no output path")) << err_.toStdString();
    EXPECT_TRUE(out_.contains("1 intact; 2 lines of the manifest unreadable"))
        << out_.toStdString();

    EXPECT_EQ(verify({"--manifest", path("absent.jsonl")}), cli::kExitFailed);
    EXPECT_EQ(verify({}), cli::kExitUsage);
    EXPECT_EQ(verify({"--manifest"}), cli::kExitUsage);
    EXPECT_EQ(verify({"--manifest", path("good.jsonl"), "extra"}), cli::kExitUsage);
}

}  // namespace
}  // namespace pixavant::batch
