#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "Bytes.h"
#include "batch/Manifest.h"
#include "imaging/FormatCodes.h"

namespace pixavant::batch {
namespace {

using testing::writeBytes;

class ManifestTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(tmp_.isValid()); }
    QString path(const QString& name) const { return tmp_.filePath(name); }

    QTemporaryDir tmp_;
};

TEST_F(ManifestTest, AnEntryRecordsBothFilesAndTheVerificationAndReadsBackTheSame) {
    ASSERT_TRUE(writeBytes(path("a.tif"), "abc"));
    ASSERT_TRUE(writeBytes(path("a.jpg"), "output bytes"));
    imaging::Verification check;
    check.method = imaging::VerifyMethod::Psnr;
    check.passed = true;
    check.psnr = 41.2345;
    check.floor = 38;
    const ManifestEntry entry =
        describeConversion(path("a.tif"), path("a.jpg"), imaging::format::kJpeg444, check);
    // Each file's own digest and size ("abc" and "output bytes").
    EXPECT_EQ(entry.sourceSha256,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(entry.outputSha256,
              "296494844d31f593772396a84181860b2d00b252eeec3fe8117eaa7f84629124");
    EXPECT_EQ(std::pair(entry.sourceBytes, entry.outputBytes), std::pair(qint64(3), qint64(12)));

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

// Relative paths count from the manifest's folder wherever it is read from; a later line for the
// same output replaces the earlier; lines that are no entries are named by their number.
TEST_F(ManifestTest, FixityTellsIntactMissingChangedAndUnrecordedOutputsApart) {
    ASSERT_TRUE(writeBytes(path("src"), "source"));
    const QStringList names = {"same", "flipped", "longer", "gone", "relative"};
    ManifestWriter writer;
    QString error;
    ASSERT_TRUE(writer.open(path("manifest.jsonl"), error)) << error.toStdString();
    for (const QString& name : names) {
        ASSERT_TRUE(writeBytes(path(name), "pixels"));
        ManifestEntry entry = describeConversion(path("src"), path(name), 17, {});
        if (name == QLatin1String("relative"))
            entry.output = name;
        ASSERT_TRUE(writer.write(entry));
    }
    ASSERT_TRUE(writer.writeLine("not json"));
    ASSERT_TRUE(writer.write(describeConversion(path("src"), path("never"), 17, {})));
    ASSERT_TRUE(writer.writeLine("{\"source\":\"x\"}"));
    ASSERT_TRUE(writer.write(describeConversion(path("src"), path("same"), 17, {})));
    ASSERT_TRUE(writeBytes(path("flipped"), "pixelz"));
    ASSERT_TRUE(writeBytes(path("longer"), "pixels!"));
    ASSERT_TRUE(QFile::remove(path("gone")));

    // Read from another working folder: only the manifest's own folder places "relative".
    const QString elsewhere = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QDir::rootPath()));
    Manifest manifest;
    ASSERT_TRUE(readManifest(path("manifest.jsonl"), manifest, error)) << error.toStdString();
    EXPECT_EQ(manifest.errors,
              (std::vector<QString>{"line 6: not a JSON object", "line 8: no output path"}));
    ASSERT_EQ(manifest.entries.size(), 6u);
    const Fixity expected[] = {Fixity::Intact,  Fixity::Changed, Fixity::Changed,
                               Fixity::Missing, Fixity::Intact,  Fixity::Unrecorded};
    for (size_t i = 0; i < manifest.entries.size(); ++i) {
        QString detail;
        EXPECT_EQ(checkFixity(manifest.entries[i], tmp_.path(), detail), expected[i])
            << manifest.entries[i].output.toStdString() << ": " << detail.toStdString();
    }
    QDir::setCurrent(elsewhere);
}

}  // namespace
}  // namespace pixavant::batch
