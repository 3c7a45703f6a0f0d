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

    QGroupBox* resolutionFrame_ = nullptr;
    QRadioButton* dpi72Option_ = nullptr;
    QRadioButton* dpi100Option_ = nullptr;
    QRadioButton* dpi200Option_ = nullptr;
    QRadioButton* dpi300Option_ = nullptr;
    QRadioButton* dpi400Option_ = nullptr;
    QRadioButton* otherDpiOption_ = nullptr;
    QLineEdit* otherDpiField_ = nullptr;
    QLabel* dpiUnitLabel_ = nullptr;
    QGroupBox* depthFrame_ = nullptr;
    QRadioButton* blackWhiteOption_ = nullptr;
    QRadioButton* grayScaleOption_ = nullptr;
    QRadioButton* color8Option_ = nullptr;
    QRadioButton* color16Option_ = nullptr;
    QRadioButton* color24Option_ = nullptr;
    QGroupBox* sizeFrame_ = nullptr;
    QRadioButton* sameSizeOption_ = nullptr;
    QRadioButton* otherSizeOption_ = nullptr;
    QCheckBox* keepAspectBox_ = nullptr;
    QLabel* widthLabel_ = nullptr;
    QLineEdit* widthField_ = nullptr;
    QLabel* heightLabel_ = nullptr;
    QLineEdit* heightField_ = nullptr;
    QGroupBox* compressionFrame_ = nullptr;
    QRadioButton* lzwOption_ = nullptr;
    QRadioButton* ccittG3Option_ = nullptr;
    QRadioButton* ccittG4Option_ = nullptr;
    QRadioButton* jpegOption_ = nullptr;
    QRadioButton* pixavantOption_ = nullptr;
    QRadioButton* jbigOption_ = nullptr;
    QRadioButton* pkzipOption_ = nullptr;
    QSlider* qualitySlider_ = nullptr;
    QLabel* lowLabel_ = nullptr;
    QLabel* highLabel_ = nullptr;
    QLabel* levelLabel_ = nullptr;
    QPushButton* backButton_ = nullptr;
    QPushButton* compressButton_ = nullptr;
    QPushButton* compareButton_ = nullptr;

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
