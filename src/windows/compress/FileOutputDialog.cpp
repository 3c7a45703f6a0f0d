#include "compress/FileOutputDialog.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "browse/DirectoryBrowser.h"
#include "common/FormLayout.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
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
    setFixedSize(twipsToPixels(5115), twipsToPixels(2280));
    keepWindowFixed(this);

    extensionLabel_ = placeNamed(new QLabel(QStringLiteral("Output Extension"), this), "Label2",
                                 twipRect(360, 360, 1245, 315));
    extensionField_ = placeNamed(new QLineEdit(this), "txtExt", twipRect(1680, 300, 945, 315));
    directoryLabel_ = placeNamed(new QLabel(QStringLiteral("Output Dirctory"), this), "Label1",
                                 twipRect(360, 990, 1245, 315));
    directoryField_ =
        placeNamed(new QLineEdit(this), "TxtOutputDir", twipRect(1680, 930, 1725, 315));
    changeDirectoryButton_ = placeNamed(new QPushButton(QStringLiteral("Change"), this),
                                        "OutputDirBrowser", twipRect(3690, 870, 1005, 435));
    okButton_ = placeNamed(new QPushButton(QStringLiteral("OK"), this), "Compress",
                           twipRect(1770, 1560, 1005, 435));
    okButton_->setDefault(true);
    extensionLabel_->setBuddy(extensionField_);
    directoryLabel_->setBuddy(directoryField_);
    nameControls(this);

    connect(okButton_, &QPushButton::clicked, this, [this] { Compress_Click(); });
    connect(changeDirectoryButton_, &QPushButton::clicked, this,
            [this] { OutputDirBrowser_Click(); });
    Form_Load();
}

void FileOutputDialog::setDirectoryPicker(DirectoryPicker picker) {
    directoryPicker() = std::move(picker);
}

void FileOutputDialog::Form_Load() {
    const CompressionSettings& settings = compressionSettings();
    extensionField_->setText(proposedExtension(settings.CompressionChoice, settings.FileFormat));
    directoryField_->setText(settings.OutputDir);
}

void FileOutputDialog::Compress_Click() {
    CompressionSettings& settings = compressionSettings();
    settings.OutputExt = extensionField_->text().trimmed();
    settings.OutputDir = outputDirectoryFromText(directoryField_->text());
    accept();
}

void FileOutputDialog::OutputDirBrowser_Click() {
    // The picker starts at the source directory, whatever the field holds.
    const std::optional<QString> picked = directoryPicker()
                                              ? directoryPicker()(this, appState().SourceDir)
                                              : DirectoryBrowser::pickOutputDirectory(this);
    if (picked) {
        directoryField_->setText(*picked);
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
