#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <memory>

#include "compress/FileOutputDialog.h"
#include "settings/AppState.h"
#include "settings/CompressionChoices.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

class FileOutputTest : public ::testing::Test {
  protected:
    void SetUp() override {
        appState().SourceDir = "/home/user/pictures/";
        compressionSettings() = CompressionSettings::defaults("/home/user/pictures/");
    }
    void TearDown() override { FileOutputDialog::setDirectoryPicker({}); }

    void open() { dialog = std::make_unique<FileOutputDialog>(); }
    QLineEdit* field(const char* name) {
        return dialog->findChild<QLineEdit*>(QString::fromLatin1(name));
    }
    void click(const char* name) {
        dialog->findChild<QPushButton*>(QString::fromLatin1(name))->click();
    }

    std::unique_ptr<FileOutputDialog> dialog;
};

TEST(OutputRules, DirectoryAlwaysEndsInOneSlash) {
    const std::pair<const char*, const char*> cases[] = {
        {"/tmp/out", "/tmp/out/"}, {"/tmp/out/", "/tmp/out/"}, {"/", "/"}, {"", "/"}, {"   ", "/"},
        {"  /a b/c  ", "/a b/c/"}, {"relative", "relative/"}};
    for (const auto& [text, directory] : cases)
        EXPECT_EQ(outputDirectoryFromText(text), directory) << text;
}

// The dialog opens with the extension proposed for the type and the format it writes (a JPEG XL
// file its own) and the output directory; OK stores the fields trimmed, closing nothing.
TEST_F(FileOutputTest, OpensWithTheProposalAndOkStoresTrimmedFieldsAndClosingNothing) {
    std::tie(compressionSettings().CompressionChoice, compressionSettings().FileFormat) =
        std::pair(CompressionType::Pixavant, 5);
    for (const bool ok : {false, true}) {
        open();
        EXPECT_EQ(std::pair(field("txtExt")->text(), field("TxtOutputDir")->text()),
                  std::pair(QString("JXL"), QString("/home/user/pictures/")));
        field("txtExt")->setText("  jpeg ");
        field("TxtOutputDir")->setText(" /srv/out ");
        dialog->show();
        ok ? click("Compress") : void(dialog->close());
        EXPECT_EQ(dialog->result(), ok ? QDialog::Accepted : QDialog::Rejected);
        EXPECT_EQ(compressionSettings().OutputExt, ok ? "jpeg" : "");
        EXPECT_EQ(compressionSettings().OutputDir, ok ? "/srv/out/" : "/home/user/pictures/");
    }
}

TEST_F(FileOutputTest, ChangeStartsAtTheSourceDirectoryAndFillsTheField) {
    compressionSettings().OutputDir = "/srv/out/";
    QString startedAt;
    std::optional<QString> answer = QString("/mnt/disk/results");
    FileOutputDialog::setDirectoryPicker([&](QWidget*, const QString& start) {
        startedAt = start;
        return answer;
    });
    open();
    click("OutputDirBrowser");
    EXPECT_EQ(startedAt, "/home/user/pictures/");
    EXPECT_EQ(field("TxtOutputDir")->text(), "/mnt/disk/results");
    EXPECT_EQ(compressionSettings().OutputDir, "/srv/out/");  // stored only by "OK"

    answer.reset();  // the user closed the picker
    click("OutputDirBrowser");
    EXPECT_EQ(field("TxtOutputDir")->text(), "/mnt/disk/results");

    click("Compress");
    EXPECT_EQ(compressionSettings().OutputDir, "/mnt/disk/results/");
}

}  // namespace
