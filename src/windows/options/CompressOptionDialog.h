#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

#include "settings/CompressionSettings.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

namespace pixavant {

class CompareSource;
class CompareWindow;

// "Compression Palette": resolution, colour depth, size, compression type and level of a batch.
// Opens showing the settings record; "Compress" stores the choices in it and accepts, "Go Back" and
// the close box store nothing. While the dialog is open its options keep each other consistent; the
// remembered compressions (LastColorCompression, LastBilevelCompression) are written at once.
class CompressOptionDialog : public QDialog {
    Q_OBJECT

  public:
    // `compareSource`: the file "Compare" shows; without one there is no "Compare".
    explicit CompressOptionDialog(QWidget* parent = nullptr,
                                  const CompareSource* compareSource = nullptr);

    // The dialog's choices applied to a copy of the settings record, as "Compress" would store
    // them. When a typed number does not fit its field, `refusedField` names the field and
    // `refusal` says why, and the choices are not usable.
    struct Choices {
        CompressionSettings settings;
        QLineEdit* refusedField = nullptr;
        QString refusal;
    };
    Choices readChoices() const;

    // "Compare": opens the compare view of the clicked file, or brings it to the front.
    void Compare_Click();
    CompareWindow* compareWindow() const;

  private:
    void updateCompareView();
    void buildControls();
    void buildResolutionFrame();
    void buildDepthFrame();
    void buildSizeFrame();
    void buildCompressionFrame();
    void buildButtons();
    void connectReactions();
    void openFromSettings();

    // Selecting from code runs the option's reaction when it was not selected before; deselecting
    // runs nothing.
    static void select(QRadioButton* option);
    static void deselect(QRadioButton* option);

    void Compress_Click();
    void Back_Click();

    void DPI72_Click();
    void DPI100_Click();
    void DPI200_Click();
    void DPI300_Click();
    void DPI400_Click();
    void DPIOther_Click();
    void SizeSame_Click();
    void SizeOther_Click();
    void txtWidth_Change();
    void txtHeight_Change();
    void Bit1_Click();
    void BitGrayScale_Click();
    void Bit8_Click();
    void Bit16_Click();
    void Bit24_Click();
    void CompLZW_Click();
    void CompCCITTG3_Click();
    void CompCCITTG4_Click();
    void CompJPEG1_Click();
    void CompJPEG2_Click();

    void EnableDpiEntry();
    void DisableDpiEntry();
    void DisableSizeEntry();
    void EnableSizeEntry();
    void EnableCompressionChoices();
    void DisableCompressionChoices();
    void ApplyColorDepth();
    void updateAspectAvailability();
    QRadioButton* compressionButton(CompressionType type) const;
    CompressionType selectedCompression() const;

    QGroupBox* Resolution = nullptr;
    QRadioButton* DPI72 = nullptr;
    QRadioButton* DPI100 = nullptr;
    QRadioButton* DPI200 = nullptr;
    QRadioButton* DPI300 = nullptr;
    QRadioButton* DPI400 = nullptr;
    QRadioButton* DPIOther = nullptr;
    QLineEdit* DPIEnter = nullptr;
    QLabel* labDPI = nullptr;
    QGroupBox* ColorDepth = nullptr;
    QRadioButton* Bit1 = nullptr;
    QRadioButton* BitGrayScale = nullptr;
    QRadioButton* Bit8 = nullptr;
    QRadioButton* Bit16 = nullptr;
    QRadioButton* Bit24 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* SizeSame = nullptr;
    QRadioButton* SizeOther = nullptr;
    QCheckBox* ckAspect = nullptr;
    QLabel* labWidth = nullptr;
    QLineEdit* txtWidth = nullptr;
    QLabel* labHeight = nullptr;
    QLineEdit* txtHeight = nullptr;
    QGroupBox* Frame2 = nullptr;
    QRadioButton* CompLZW = nullptr;
    QRadioButton* CompCCITTG3 = nullptr;
    QRadioButton* CompCCITTG4 = nullptr;
    QRadioButton* CompJPEG1 = nullptr;
    QRadioButton* CompJPEG2 = nullptr;
    QRadioButton* CompMPEG = nullptr;
    QRadioButton* Option1 = nullptr;
    QSlider* CompSlider = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Back = nullptr;
    QPushButton* Compress = nullptr;
    QPushButton* Compare = nullptr;

    const CompareSource* compareSource_ = nullptr;
    QPointer<QWidget> compareWindow_;   // the compare view, while it is open
    QTimer* choicesChanged_ = nullptr;  // one compare update for the reactions of one change
};

class RunLists;

// The road to a batch from the main window's "Compress": the options dialog, then, when its choices
// were stored, the output dialog and the progress window, which runs the work list of `lists`.
// "Compare" in the dialog shows the file `compareSource` names.
void openCompressOption(QWidget* parent, RunLists& lists,
                        const CompareSource* compareSource = nullptr);

}  // namespace pixavant
