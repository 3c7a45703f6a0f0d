#include "compress/FileOutputDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "browse/DirectoryBrowser.h"
#include "common/FormLayout.h"
#include "common/WindowLooks.h"
#include "compress/FileCompressWindow.h"
#include "settings/AppState.h"
#include "settings/CompressionChoices.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

FileOutputDialog::DirectoryPicker& directoryPicker() {
    static FileOutputDialog::DirectoryPicker picker;
    return picker;
}

}  // namespace

QString outputDirectoryFromText(const QString& text) {
    const QString directory = text.trimmed();
    return directory.endsWith(u'/') ? directory : directory + u'/';
}

FileOutputDialog::FileOutputDialog(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FileOutput"));
    setWindowTitle(QStringLiteral("Ouput As"));
    setFont(formFont(8));
    setFixedSize(341, 152);
    keepWindowFixed(this);

    Label2 = new QLabel(QStringLiteral("Output Extension"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    placeControl(Label2, 24, 24, 83, 21);
    txtExt = new QLineEdit(this);
    txtExt->setObjectName(QStringLiteral("txtExt"));
    placeControl(txtExt, 112, 20, 63, 21);
    Label1 = new QLabel(QStringLiteral("Output Dirctory"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    placeControl(Label1, 24, 66, 83, 21);
    TxtOutputDir = new QLineEdit(this);
    TxtOutputDir->setObjectName(QStringLiteral("TxtOutputDir"));
    placeControl(TxtOutputDir, 112, 62, 115, 21);
    OutputDirBrowser = new QPushButton(QStringLiteral("Change"), this);
    OutputDirBrowser->setObjectName(QStringLiteral("OutputDirBrowser"));
    placeControl(OutputDirBrowser, 246, 58, 67, 29);
    Compress = new QPushButton(QStringLiteral("OK"), this);
    Compress->setObjectName(QStringLiteral("Compress"));
    placeControl(Compress, 118, 104, 67, 29);
    Compress->setDefault(true);
    Label2->setBuddy(txtExt);
    Label1->setBuddy(TxtOutputDir);
    nameControls(this);

    connect(Compress, &QPushButton::clicked, this, [this] { Compress_Click(); });
    connect(OutputDirBrowser, &QPushButton::clicked, this, [this] { OutputDirBrowser_Click(); });
    Form_Load();
}

void FileOutputDialog::setDirectoryPicker(DirectoryPicker picker) {
    directoryPicker() = std::move(picker);
}

void FileOutputDialog::Form_Load() {
    const CompressionSettings& settings = compressionSettings();
    txtExt->setText(proposedExtension(settings.CompressionChoice, settings.FileFormat));
    TxtOutputDir->setText(settings.OutputDir);
}

void FileOutputDialog::Compress_Click() {
    CompressionSettings& settings = compressionSettings();
    settings.OutputExt = txtExt->text().trimmed();
    settings.OutputDir = outputDirectoryFromText(TxtOutputDir->text());
    accept();
}

void FileOutputDialog::OutputDirBrowser_Click() {
    // The picker starts at the source directory, whatever the field holds.
    const std::optional<QString> picked = directoryPicker()
                                              ? directoryPicker()(this, appState().SourceDir)
                                              : DirectoryBrowser::pickOutputDirectory(this);
    if (picked) {
        TxtOutputDir->setText(*picked);
    }
}

void openFileOutput(QWidget* parent, RunLists& lists) {
    bool confirmed = false;
    {
        FileOutputDialog dialog(parent);
        confirmed = dialog.exec() == QDialog::Accepted;
    }
    if (confirmed)
        openFileCompress(parent, lists);
}

}  // namespace pixavant
