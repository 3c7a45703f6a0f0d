#include "options/CompressOptionDialog.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <array>
#include <optional>

#include "common/FormLayout.h"
#include "common/Message.h"
#include "common/WindowLooks.h"
#include "common/WindowMetrics.h"
#include "compare/CompareWindow.h"
#include "compress/FileOutputDialog.h"
#include "options/NumberReading.h"
#include "options/OptionGroupFocus.h"
#include "settings/CompressionChoices.h"
#include "settings/CompressionSettings.h"

namespace pixavant {

namespace {

template <class Control>
Control* makeControl(QWidget* parent, const char* name, const QString& caption, QPoint origin,
                     QRect design) {
    return placeNamed(new Control(caption, parent), name, design.translated(-origin));
}

QLineEdit* makeTextField(QWidget* parent, const char* name, QPoint origin, QRect design) {
    return placeNamed(new QLineEdit(parent), name, design.translated(-origin));
}

// A frame's option buttons are its children and form one group.
QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& caption, QRect design) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(design);
    return frame;
}

// The position of the first selected option in `options`, or their count when none is selected.
int firstSelected(std::initializer_list<QRadioButton*> options) {
    int index = 0;
    for (QRadioButton* option : options) {
        if (option->isChecked()) {
            return index;
        }
        ++index;
    }
    return index;
}

// The number in a field; when it does not fit the settings, nullopt and the refusal naming it.
std::optional<int16_t> readField(QLineEdit* field, const QString& fieldName,
                                 CompressOptionDialog::Choices& choices) {
    const std::optional<int16_t> value = readInt16(field->text());
    if (!value) {
        choices.refusedField = field;
        choices.refusal =
            QStringLiteral("%1 must be a number from -32768 to 32767.").arg(fieldName);
    }
    return value;
}

}  // namespace

CompressOptionDialog::CompressOptionDialog(QWidget* parent, const CompareSource* compareSource)
    : QDialog(parent), compareSource_(compareSource) {
    setObjectName(QStringLiteral("CompressOption"));
    setWindowTitle(QStringLiteral("Compression Palette"));
    setFont(formFont(8));
    setFixedSize(twipsToPixels(6915), twipsToPixels(6795));
    keepWindowFixed(this);
    buildControls();
    connectReactions();
    for (QGroupBox* group : {resolutionFrame_, depthFrame_, sizeFrame_, compressionFrame_})
        OptionGroupFocus::install(group);
    openFromSettings();
}

void CompressOptionDialog::buildResolutionFrame() {
    resolutionFrame_ =
        makeFrame(this, "Resolution", QStringLiteral("Resolution"), twipRect(0, 0, 6885, 1515));
    const QPoint r = resolutionFrame_->pos();
    dpi72Option_ = makeControl<QRadioButton>(resolutionFrame_, "DPI72", QStringLiteral("72  DPI "),
                                             r, twipRect(660, 390, 1095, 315));
    dpi100Option_ = makeControl<QRadioButton>(resolutionFrame_, "DPI100", QStringLiteral("100 DPI"),
                                              r, twipRect(660, 840, 1335, 375));
    dpi200Option_ = makeControl<QRadioButton>(resolutionFrame_, "DPI200", QStringLiteral("200 DPI"),
                                              r, twipRect(1980, 375, 1155, 345));
    dpi300Option_ = makeControl<QRadioButton>(resolutionFrame_, "DPI300", QStringLiteral("300 DPI"),
                                              r, twipRect(1980, 870, 1065, 315));
    dpi400Option_ = makeControl<QRadioButton>(resolutionFrame_, "DPI400", QStringLiteral("400 DPI"),
                                              r, twipRect(3240, 330, 1245, 435));
    otherDpiOption_ = makeControl<QRadioButton>(
        resolutionFrame_, "DPIOther", QStringLiteral("Other"), r, twipRect(3240, 855, 1365, 345));
    otherDpiField_ = makeTextField(resolutionFrame_, "DPIEnter", r, twipRect(4230, 870, 1185, 315));
    dpiUnitLabel_ = makeControl<QLabel>(resolutionFrame_, "labDPI", QStringLiteral("DPI"), r,
                                        twipRect(5490, 930, 555, 315));
}

void CompressOptionDialog::buildDepthFrame() {
    depthFrame_ =
        makeFrame(this, "ColorDepth", QStringLiteral("Color Depth"), twipRect(0, 1530, 6885, 1065));
    const QPoint c = depthFrame_->pos();
    blackWhiteOption_ = makeControl<QRadioButton>(depthFrame_, "Bit1", QStringLiteral("B/W"), c,
                                                  twipRect(660, 1920, 795, 345));
    grayScaleOption_ =
        makeControl<QRadioButton>(depthFrame_, "BitGrayScale", QStringLiteral("Gray Scale"), c,
                                  twipRect(1650, 1920, 1155, 345));
    color8Option_ = makeControl<QRadioButton>(depthFrame_, "Bit8", QStringLiteral("8-Bit Color"), c,
                                              twipRect(3000, 1920, 1035, 345));
    color16Option_ = makeControl<QRadioButton>(depthFrame_, "Bit16", QStringLiteral("16-Bit Color"),
                                               c, twipRect(4230, 1905, 1125, 375));
    color24Option_ = makeControl<QRadioButton>(depthFrame_, "Bit24", QStringLiteral("24-Bit Color"),
                                               c, twipRect(5550, 1890, 1125, 405));
}

void CompressOptionDialog::buildSizeFrame() {
    sizeFrame_ = makeFrame(this, "Frame1", QStringLiteral("Size"), twipRect(0, 2610, 6885, 1515));
    const QPoint s = sizeFrame_->pos();
    // Two pixels (30 twips) to the left, so that the caption ends where "Other (Specify)" begins.
    sameSizeOption_ =
        makeControl<QRadioButton>(sizeFrame_, "SizeSame", QStringLiteral("Same as Original"), s,
                                  twipRect(630, 3000, 1575, 375));
    otherSizeOption_ =
        makeControl<QRadioButton>(sizeFrame_, "SizeOther", QStringLiteral("Other (Specify)"), s,
                                  twipRect(2280, 3000, 1395, 375));
    keepAspectBox_ =
        makeControl<WrappingCheckBox>(sizeFrame_, "ckAspect", QStringLiteral("Keep Aspect Ratios"),
                                      s, twipRect(2280, 3555, 1305, 405));
    widthLabel_ = makeControl<QLabel>(sizeFrame_, "labWidth", QStringLiteral("Width"), s,
                                      twipRect(3870, 3090, 585, 315));
    widthField_ = makeTextField(sizeFrame_, "txtWidth", s, twipRect(4620, 3030, 1185, 315));
    heightLabel_ = makeControl<QLabel>(sizeFrame_, "labHeight", QStringLiteral("Height"), s,
                                       twipRect(3870, 3630, 585, 315));
    heightField_ = makeTextField(sizeFrame_, "txtHeight", s, twipRect(4620, 3600, 1185, 315));
}

void CompressOptionDialog::buildCompressionFrame() {
    compressionFrame_ = makeFrame(this, "Frame2", QStringLiteral("Compression Type"),
                                  twipRect(0, 4140, 6885, 1875));
    const QPoint k = compressionFrame_->pos();
    lzwOption_ = makeControl<QRadioButton>(compressionFrame_, "CompLZW", QStringLiteral("LZW"), k,
                                           twipRect(660, 4410, 1095, 405));
    ccittG3Option_ =
        makeControl<QRadioButton>(compressionFrame_, "CompCCITTG3", QStringLiteral("CCITT Group3"),
                                  k, twipRect(1860, 4410, 1605, 405));
    ccittG4Option_ =
        makeControl<QRadioButton>(compressionFrame_, "CompCCITTG4", QStringLiteral("CCITT Group4"),
                                  k, twipRect(3720, 4380, 1455, 465));
    jpegOption_ = makeControl<QRadioButton>(compressionFrame_, "CompJPEG1", QStringLiteral("JPEG"),
                                            k, twipRect(660, 5010, 1125, 315));
    pixavantOption_ =
        makeControl<QRadioButton>(compressionFrame_, "CompJPEG2", QStringLiteral("PIXAVANT"), k,
                                  twipRect(1860, 4935, 1515, 465));
    jbigOption_ = makeControl<QRadioButton>(compressionFrame_, "CompMPEG", QStringLiteral("JBIG"),
                                            k, twipRect(660, 5490, 1005, 375));
    pkzipOption_ = makeControl<QRadioButton>(compressionFrame_, "Option1", QStringLiteral("PKZIP"),
                                             k, twipRect(1860, 5490, 1005, 375));
    jbigOption_->setEnabled(false);
    pkzipOption_->setEnabled(false);

    qualitySlider_ = new QSlider(Qt::Horizontal, compressionFrame_);
    qualitySlider_->setObjectName(QStringLiteral("CompSlider"));
    qualitySlider_->setGeometry(twipRect(4170, 4935, 1635, 495).translated(-k));
    qualitySlider_->setRange(0, 10);
    qualitySlider_->setValue(0);
    qualitySlider_->setTickPosition(QSlider::TicksBelow);
    qualitySlider_->setTickInterval(1);
    qualitySlider_->setPageStep(1);
    lowLabel_ = makeControl<QLabel>(compressionFrame_, "Label2", QStringLiteral("Low"), k,
                                    twipRect(3750, 5040, 435, 255));
    highLabel_ = makeControl<QLabel>(compressionFrame_, "Label6", QStringLiteral("High"), k,
                                     twipRect(5970, 5040, 465, 255));
    levelLabel_ =
        makeControl<QLabel>(compressionFrame_, "Label4", QStringLiteral("Compression   Level"), k,
                            twipRect(4260, 5520, 1875, 285));
}

void CompressOptionDialog::buildButtons() {
    const QPoint top(0, 0);
    backButton_ = makeControl<QPushButton>(this, "Back", QStringLiteral("Go Back"), top,
                                           twipRect(1680, 6240, 1005, 435));
    compressButton_ = makeControl<QPushButton>(this, "Compress", QStringLiteral("Compress"), top,
                                               twipRect(4170, 6240, 1005, 435));
    compressButton_->setDefault(true);
    // Between the two, one step of their spacing from each.
    compareButton_ = makeControl<QPushButton>(this, "Compare", QStringLiteral("Co&mpare"), top,
                                              twipRect(2925, 6240, 1005, 435));
    compareButton_->setAutoDefault(false);
    compareButton_->setVisible(compareSource_ != nullptr);
    compareButton_->setToolTip(
        QStringLiteral("See the clicked file as these choices would write it"));
}

void CompressOptionDialog::buildControls() {
    buildResolutionFrame();
    buildDepthFrame();
    buildSizeFrame();
    buildCompressionFrame();
    buildButtons();

    // Names for screen readers where the caption is not the control's own.
    widthLabel_->setBuddy(widthField_);
    heightLabel_->setBuddy(heightField_);
    otherDpiField_->setAccessibleName(QStringLiteral("Other DPI"));
    qualitySlider_->setAccessibleName(QStringLiteral("Compression Level"));
    nameControls(this);
}

void CompressOptionDialog::connectReactions() {
    // An option's reaction runs when it becomes selected, by a click or from code.
    const auto onSelected = [this](QRadioButton* option, void (CompressOptionDialog::*reaction)()) {
        connect(option, &QRadioButton::toggled, this, [this, reaction](bool selected) {
            if (selected)
                (this->*reaction)();
        });
    };
    onSelected(dpi72Option_, &CompressOptionDialog::DPI72_Click);
    onSelected(dpi100Option_, &CompressOptionDialog::DPI100_Click);
    onSelected(dpi200Option_, &CompressOptionDialog::DPI200_Click);
    onSelected(dpi300Option_, &CompressOptionDialog::DPI300_Click);
    onSelected(dpi400Option_, &CompressOptionDialog::DPI400_Click);
    onSelected(otherDpiOption_, &CompressOptionDialog::DPIOther_Click);
    onSelected(sameSizeOption_, &CompressOptionDialog::SizeSame_Click);
    onSelected(otherSizeOption_, &CompressOptionDialog::SizeOther_Click);
    onSelected(blackWhiteOption_, &CompressOptionDialog::Bit1_Click);
    onSelected(grayScaleOption_, &CompressOptionDialog::BitGrayScale_Click);
    onSelected(color8Option_, &CompressOptionDialog::Bit8_Click);
    onSelected(color16Option_, &CompressOptionDialog::Bit16_Click);
    onSelected(color24Option_, &CompressOptionDialog::Bit24_Click);
    onSelected(lzwOption_, &CompressOptionDialog::CompLZW_Click);
    onSelected(ccittG3Option_, &CompressOptionDialog::CompCCITTG3_Click);
    onSelected(ccittG4Option_, &CompressOptionDialog::CompCCITTG4_Click);
    onSelected(jpegOption_, &CompressOptionDialog::CompJPEG1_Click);
    onSelected(pixavantOption_, &CompressOptionDialog::CompJPEG2_Click);

    // textChanged, unlike textEdited, also fires when code sets the text.
    connect(widthField_, &QLineEdit::textChanged, this, [this] { txtWidth_Change(); });
    connect(heightField_, &QLineEdit::textChanged, this, [this] { txtHeight_Change(); });

    connect(compressButton_, &QPushButton::clicked, this, [this] { Compress_Click(); });
    connect(compareButton_, &QPushButton::clicked, this, [this] { Compare_Click(); });

    // The compare view follows every change, once the reactions to it have run.
    choicesChanged_ = new QTimer(this);
    choicesChanged_->setSingleShot(true);
    choicesChanged_->setInterval(0);
    connect(choicesChanged_, &QTimer::timeout, this, [this] { updateCompareView(); });
    const auto follow = [this] {
        if (compareWindow_)
            choicesChanged_->start();
    };
    for (QRadioButton* option : findChildren<QRadioButton*>())
        connect(option, &QRadioButton::toggled, this, follow);
    for (QLineEdit* field : {otherDpiField_, widthField_, heightField_})
        connect(field, &QLineEdit::textChanged, this, follow);
    connect(qualitySlider_, &QSlider::valueChanged, this, follow);
    connect(backButton_, &QPushButton::clicked, this, [this] { Back_Click(); });
}

void CompressOptionDialog::select(QRadioButton* option) {
    option->setChecked(true);  // toggled(true) fires only when it was not selected
}

void CompressOptionDialog::deselect(QRadioButton* option) {
    // The selected option of an exclusive group cannot be cleared while the group is exclusive.
    option->setAutoExclusive(false);
    option->setChecked(false);
    option->setAutoExclusive(true);
}

void CompressOptionDialog::openFromSettings() {
    const CompressionSettings& settings = compressionSettings();

    // The options in the order of the choices the settings record counts.
    const std::array resolutions = {dpi72Option_,  dpi100Option_, dpi200Option_,
                                    dpi300Option_, dpi400Option_, otherDpiOption_};
    for (QRadioButton* option : resolutions)
        deselect(option);
    otherDpiField_->setText(QString::number(settings.OtherDpiDefault));
    if (settings.DpiChoice >= 0 && settings.DpiChoice < int(resolutions.size()))
        select(resolutions[size_t(settings.DpiChoice)]);
    if (settings.DpiChoice == 5)
        EnableDpiEntry();

    widthField_->setText(QStringLiteral("0"));
    heightField_->setText(QStringLiteral("0"));
    keepAspectBox_->setChecked(settings.KeepAspect == 1);
    if (settings.SizeChoice == 0) {
        select(sameSizeOption_);
        deselect(otherSizeOption_);
        DisableSizeEntry();
    } else {
        deselect(sameSizeOption_);
        EnableSizeEntry();
    }

    const std::array depths = {blackWhiteOption_, grayScaleOption_, color8Option_, color16Option_,
                               color24Option_};
    for (QRadioButton* option : depths)
        deselect(option);
    // Any other number: 24-bit colour.
    const bool knownDepth = settings.DepthChoice >= 0 && settings.DepthChoice < 4;
    select(knownDepth ? depths[size_t(settings.DepthChoice)] : color24Option_);

    lzwOption_->setEnabled(false);
    for (QRadioButton* option :
         {lzwOption_, ccittG3Option_, ccittG4Option_, jpegOption_, pixavantOption_, jbigOption_}) {
        deselect(option);
    }
    const auto setSliderRange = [this](int maximum) {
        qualitySlider_->setEnabled(true);
        qualitySlider_->setMinimum(0);
        qualitySlider_->setMaximum(maximum);
    };
    const CompressionType type = settings.CompressionChoice;
    if (maxCompressionLevel(type) > 0)
        setSliderRange(maxCompressionLevel(type));
    select(compressionButton(type));
    if (type == CompressionType::Lzw)
        qualitySlider_->setEnabled(false);
}

QRadioButton* CompressOptionDialog::compressionButton(CompressionType type) const {
    switch (type) {
        case CompressionType::Lzw:
            return lzwOption_;
        case CompressionType::CcittG3:
            return ccittG3Option_;
        case CompressionType::CcittG4:
            return ccittG4Option_;
        case CompressionType::Jpeg:
            return jpegOption_;
        case CompressionType::Pixavant:
            return pixavantOption_;
        default:
            return jbigOption_;
    }
}

// JBIG, PKZIP or nothing selected: Other, which keeps the format code and quality factor.
CompressionType CompressOptionDialog::selectedCompression() const {
    return CompressionType(
        firstSelected({lzwOption_, ccittG3Option_, ccittG4Option_, jpegOption_, pixavantOption_}));
}

CompressOptionDialog::Choices CompressOptionDialog::readChoices() const {
    Choices choices;
    choices.settings = compressionSettings();
    // Every number is read before anything is stored, so a refused number stores nothing.
    const int resolution = firstSelected({dpi72Option_, dpi100Option_, dpi200Option_, dpi300Option_,
                                          dpi400Option_, otherDpiOption_});
    std::optional<int16_t> otherDpi;
    if (resolution == 5) {
        otherDpi = readField(otherDpiField_, QStringLiteral("The \"Other\" resolution"), choices);
        if (!otherDpi)
            return choices;
    }
    std::optional<int16_t> width, height;
    if (!sameSizeOption_->isChecked()) {
        width = readField(widthField_, QStringLiteral("The width"), choices);
        if (!width)
            return choices;
        height = readField(heightField_, QStringLiteral("The height"), choices);
        if (!height)
            return choices;
    }

    CompressionSettings& settings = choices.settings;

    constexpr int16_t kFixedDpi[] = {72, 100, 200, 300, 400};
    if (resolution < 5) {
        settings.DpiChoice = int16_t(resolution);
        settings.Dpi = kFixedDpi[resolution];
    } else if (resolution == 5) {
        settings.DpiChoice = 5;
        settings.Dpi = *otherDpi;
    }  // none selected: both kept

    if (sameSizeOption_->isChecked()) {
        settings.SizeChoice = 0;  // the stored width and height are kept
    } else {
        settings.SizeChoice = 1;
        settings.OutWidth = *width;
        settings.OutHeight = *height;
    }

    // None of the four: 24-bit colour.
    settings.DepthChoice = int16_t(
        firstSelected({blackWhiteOption_, grayScaleOption_, color8Option_, color16Option_}));
    settings.BitsPerPixel = bitsPerPixelFor(settings.DepthChoice);

    const int level = qualitySlider_->value();
    settings.CompressionChoice = selectedCompression();
    if (const std::optional<int16_t> format = fileFormatFor(settings.CompressionChoice, level)) {
        settings.FileFormat = *format;
    }
    if (const std::optional<int16_t> quality =
            qualityFactorFor(settings.CompressionChoice, level)) {
        settings.QualityFactor = *quality;
    }
    return choices;
}

void CompressOptionDialog::Compress_Click() {
    const Choices choices = readChoices();
    if (choices.refusedField != nullptr) {
        showMessage(this, choices.refusal);
        choices.refusedField->setFocus();
        choices.refusedField->selectAll();
        return;
    }
    compressionSettings() = choices.settings;
    accept();
}

void CompressOptionDialog::Compare_Click() {
    if (compareSource_ == nullptr)
        return;
    if (!compareWindow_) {
        auto* window = new CompareWindow(*compareSource_, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        compareWindow_ = window;
        window->show();
        updateCompareView();
    }
    compareWindow_->raise();
    compareWindow_->activateWindow();
}

CompareWindow* CompressOptionDialog::compareWindow() const {
    return static_cast<CompareWindow*>(compareWindow_.data());
}

void CompressOptionDialog::updateCompareView() {
    CompareWindow* window = compareWindow();
    if (window == nullptr)
        return;
    const Choices choices = readChoices();
    if (choices.refusedField != nullptr)
        window->setRefusal(choices.refusal);
    else
        window->setChoices(choices.settings);
}

void CompressOptionDialog::Back_Click() {
    reject();
}

void CompressOptionDialog::DPI72_Click() {
    DisableDpiEntry();
}
void CompressOptionDialog::DPI100_Click() {
    DisableDpiEntry();
}
void CompressOptionDialog::DPI200_Click() {
    DisableDpiEntry();
}
void CompressOptionDialog::DPI300_Click() {
    DisableDpiEntry();
}
void CompressOptionDialog::DPI400_Click() {
    DisableDpiEntry();
}
void CompressOptionDialog::DPIOther_Click() {
    EnableDpiEntry();
}
void CompressOptionDialog::SizeSame_Click() {
    DisableSizeEntry();
}
void CompressOptionDialog::SizeOther_Click() {
    EnableSizeEntry();
}
void CompressOptionDialog::txtWidth_Change() {
    updateAspectAvailability();
}
void CompressOptionDialog::txtHeight_Change() {
    updateAspectAvailability();
}

void CompressOptionDialog::updateAspectAvailability() {
    // A fraction such as 0.4 counts as a size here: the values are not rounded.
    const bool bothGiven =
        leadingNumber(widthField_->text()) != 0.0 && leadingNumber(heightField_->text()) != 0.0;
    keepAspectBox_->setEnabled(!bothGiven);
}

void CompressOptionDialog::Bit1_Click() {
    CompressionSettings& settings = compressionSettings();
    settings.LastColorCompression = colorCompressionOf(selectedCompression());
    DisableCompressionChoices();
    ccittG3Option_->setEnabled(true);
    ccittG4Option_->setEnabled(true);
    select(settings.LastBilevelCompression == BilevelCompression::CcittG3 ? ccittG3Option_
                                                                          : ccittG4Option_);
}

void CompressOptionDialog::BitGrayScale_Click() {
    ApplyColorDepth();
}
void CompressOptionDialog::Bit8_Click() {
    ApplyColorDepth();
}
void CompressOptionDialog::Bit16_Click() {
    ApplyColorDepth();
}
void CompressOptionDialog::Bit24_Click() {
    ApplyColorDepth();
}

void CompressOptionDialog::CompLZW_Click() {
    qualitySlider_->setEnabled(false);
}

void CompressOptionDialog::CompCCITTG3_Click() {
    qualitySlider_->setEnabled(true);
    qualitySlider_->setMinimum(0);
    qualitySlider_->setMaximum(1);  // a position beyond the new end moves to it
}

void CompressOptionDialog::CompCCITTG4_Click() {
    qualitySlider_->setEnabled(true);
    qualitySlider_->setMinimum(0);
    qualitySlider_->setMaximum(1);
}

void CompressOptionDialog::CompJPEG1_Click() {
    qualitySlider_->setEnabled(true);
    qualitySlider_->setMinimum(0);
    qualitySlider_->setMaximum(25);
}

void CompressOptionDialog::CompJPEG2_Click() {
    qualitySlider_->setEnabled(true);
    qualitySlider_->setMinimum(0);
    qualitySlider_->setMaximum(8);
}

void CompressOptionDialog::EnableDpiEntry() {
    dpiUnitLabel_->setEnabled(true);
    otherDpiField_->setEnabled(true);
}

void CompressOptionDialog::DisableDpiEntry() {
    dpiUnitLabel_->setEnabled(false);
    otherDpiField_->setEnabled(false);
}

void CompressOptionDialog::DisableSizeEntry() {
    for (QWidget* control : std::initializer_list<QWidget*>{
             keepAspectBox_, widthLabel_, widthField_, heightLabel_, heightField_}) {
        control->setEnabled(false);
    }
}

void CompressOptionDialog::EnableSizeEntry() {
    select(otherSizeOption_);
    for (QWidget* control : std::initializer_list<QWidget*>{
             keepAspectBox_, widthLabel_, widthField_, heightLabel_, heightField_}) {
        control->setEnabled(true);
    }
}

void CompressOptionDialog::EnableCompressionChoices() {
    for (QRadioButton* option : {ccittG3Option_, ccittG4Option_, jpegOption_, pixavantOption_}) {
        option->setEnabled(true);
    }
}

void CompressOptionDialog::DisableCompressionChoices() {
    for (QRadioButton* option :
         {ccittG3Option_, ccittG4Option_, jpegOption_, pixavantOption_, jbigOption_}) {
        option->setEnabled(false);
    }
}

void CompressOptionDialog::ApplyColorDepth() {
    CompressionSettings& settings = compressionSettings();
    settings.LastBilevelCompression =
        ccittG3Option_->isChecked() ? BilevelCompression::CcittG3 : BilevelCompression::CcittG4;
    EnableCompressionChoices();
    select(compressionButton(compressionTypeOf(settings.LastColorCompression)));
    ccittG3Option_->setEnabled(false);
    ccittG4Option_->setEnabled(false);
}

void openCompressOption(QWidget* parent, RunLists& lists, const CompareSource* compareSource) {
    bool stored = false;
    {
        CompressOptionDialog dialog(parent, compareSource);
        stored = dialog.exec() == QDialog::Accepted;
    }
    if (stored)
        openFileOutput(parent, lists);
}

}  // namespace pixavant
