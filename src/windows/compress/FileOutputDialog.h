#pragma once

#include <QDialog>
#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace pixavant {

// The output directory a typed text stands for: trimmed, with "/" appended unless it already ends
// in one (an empty text gives "/").
QString outputDirectoryFromText(const QString& text);

// "Ouput As": the output extension and directory of a batch. "OK" stores both in the settings
// record and accepts; closing the window stores nothing.
class FileOutputDialog : public QDialog {
    Q_OBJECT

  public:
    // Lets the user pick a directory, starting at `startDirectory`; nothing when the user gave up.
    using DirectoryPicker =
        std::function<std::optional<QString>(QWidget* parent, const QString& startDirectory)>;

    explicit FileOutputDialog(QWidget* parent = nullptr);

    // Replaces the picker that "Change" opens (tests); empty: the output directory picker.
    static void setDirectoryPicker(DirectoryPicker picker);

  private:
    void Form_Load();
    void Compress_Click();
    void OutputDirBrowser_Click();

    QLabel* extensionLabel_ = nullptr;
    QLineEdit* extensionField_ = nullptr;
    QLabel* directoryLabel_ = nullptr;
    QLineEdit* directoryField_ = nullptr;
    QPushButton* changeDirectoryButton_ = nullptr;
    QPushButton* okButton_ = nullptr;
};

class RunLists;

// The output dialog and, when it was confirmed, the progress window that runs the work list of
// `lists`.
void openFileOutput(QWidget* parent, RunLists& lists);

}  // namespace pixavant
