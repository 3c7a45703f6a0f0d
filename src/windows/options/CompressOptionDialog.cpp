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
                     int left, int top, int width, int height) {
    auto* control = new Control(caption, parent);
    control->setObjectName(QString::fromLatin1(name));
    placeControl(control, left - origin.x(), top - origin.y(), width, height);
    return control;
}

QLineEdit* makeTextField(QWidget* parent, const char* name, QPoint origin, int left, int top,
                         int width, int height) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(name));
    placeControl(field, left - origin.x(), top - origin.y(), width, height);
    return field;
}

// A frame's option buttons are its children and form one group.
QGroupBox* makeFrame(QWidget* parent, const char* name, const QString& caption, int left, int top,
                     int width, int height) {
    auto* frame = new QGroupBox(caption, parent);
    frame->setObjectName(QString::fromLatin1(name));
    frame->setGeometry(left, top, width, height);
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
    setFixedSize(461, 453);
    keepWindowFixed(this);
    buildControls();
    connectReactions();
    for (QGroupBox* group : {Resolution, ColorDepth, Frame1, Frame2})
        OptionGroupFocus::install(group);
    openFromSettings();
}

void CompressOptionDialog::buildResolutionFrame() {
    Resolution = makeFrame(this, "Resolution", QStringLiteral("Resolution"), 0, 0, 459, 101);
    const QPoint r = Resolution->pos();
    DPI72 = makeControl<QRadioButton>(Resolution, "DPI72", QStringLiteral("72  DPI "), r, 44, 26,
                                      73, 21);
    DPI100 = makeControl<QRadioButton>(Resolution, "DPI100", QStringLiteral("100 DPI"), r, 44, 56,
                                       89, 25);
    DPI200 = makeControl<QRadioButton>(Resolution, "DPI200", QStringLiteral("200 DPI"), r, 132, 25,
                                       77, 23);
    DPI300 = makeControl<QRadioButton>(Resolution, "DPI300", QStringLiteral("300 DPI"), r, 132, 58,
                                       71, 21);
    DPI400 = makeControl<QRadioButton>(Resolution, "DPI400", QStringLiteral("400 DPI"), r, 216, 22,
                                       83, 29);
    DPIOther = makeControl<QRadioButton>(Resolution, "DPIOther", QStringLiteral("Other"), r, 216,
                                         57, 91, 23);
    DPIEnter = makeTextField(Resolution, "DPIEnter", r, 282, 58, 79, 21);
    labDPI = makeControl<QLabel>(Resolution, "labDPI", QStringLiteral("DPI"), r, 366, 62, 37, 21);
}

void CompressOptionDialog::buildDepthFrame() {
    ColorDepth = makeFrame(this, "ColorDepth", QStringLiteral("Color Depth"), 0, 102, 459, 71);
    const QPoint c = ColorDepth->pos();
    Bit1 = makeControl<QRadioButton>(ColorDepth, "Bit1", QStringLiteral("B/W"), c, 44, 128, 53, 23);
    BitGrayScale = makeControl<QRadioButton>(ColorDepth, "BitGrayScale",
                                             QStringLiteral("Gray Scale"), c, 110, 128, 77, 23);
    Bit8 = makeControl<QRadioButton>(ColorDepth, "Bit8", QStringLiteral("8-Bit Color"), c, 200, 128,
                                     69, 23);
    Bit16 = makeControl<QRadioButton>(ColorDepth, "Bit16", QStringLiteral("16-Bit Color"), c, 282,
                                      127, 75, 25);
    Bit24 = makeControl<QRadioButton>(ColorDepth, "Bit24", QStringLiteral("24-Bit Color"), c, 370,
                                      126, 75, 27);
}

void CompressOptionDialog::buildSizeFrame() {
    Frame1 = makeFrame(this, "Frame1", QStringLiteral("Size"), 0, 174, 459, 101);
    const QPoint s = Frame1->pos();
    // Two pixels to the left, so that the caption ends where "Other (Specify)" begins.
    SizeSame = makeControl<QRadioButton>(Frame1, "SizeSame", QStringLiteral("Same as Original"), s,
                                         42, 200, 105, 25);
    SizeOther = makeControl<QRadioButton>(Frame1, "SizeOther", QStringLiteral("Other (Specify)"), s,
                                          152, 200, 93, 25);
    ckAspect = makeControl<WrappingCheckBox>(
        Frame1, "ckAspect", QStringLiteral("Keep Aspect Ratios"), s, 152, 237, 87, 27);
    labWidth =
        makeControl<QLabel>(Frame1, "labWidth", QStringLiteral("Width"), s, 258, 206, 39, 21);
    txtWidth = makeTextField(Frame1, "txtWidth", s, 308, 202, 79, 21);
    labHeight =
        makeControl<QLabel>(Frame1, "labHeight", QStringLiteral("Height"), s, 258, 242, 39, 21);
    txtHeight = makeTextField(Frame1, "txtHeight", s, 308, 240, 79, 21);
}

void CompressOptionDialog::buildCompressionFrame() {
    Frame2 = makeFrame(this, "Frame2", QStringLiteral("Compression Type"), 0, 276, 459, 125);
    const QPoint k = Frame2->pos();
    CompLZW =
        makeControl<QRadioButton>(Frame2, "CompLZW", QStringLiteral("LZW"), k, 44, 294, 73, 27);
    CompCCITTG3 = makeControl<QRadioButton>(Frame2, "CompCCITTG3", QStringLiteral("CCITT Group3"),
                                            k, 124, 294, 107, 27);
    CompCCITTG4 = makeControl<QRadioButton>(Frame2, "CompCCITTG4", QStringLiteral("CCITT Group4"),
                                            k, 248, 292, 97, 31);
    CompJPEG1 =
        makeControl<QRadioButton>(Frame2, "CompJPEG1", QStringLiteral("JPEG"), k, 44, 334, 75, 21);
    CompJPEG2 = makeControl<QRadioButton>(Frame2, "CompJPEG2", QStringLiteral("PIXAVANT"), k, 124,
                                          329, 101, 31);
    CompMPEG =
        makeControl<QRadioButton>(Frame2, "CompMPEG", QStringLiteral("JBIG"), k, 44, 366, 67, 25);
    Option1 =
        makeControl<QRadioButton>(Frame2, "Option1", QStringLiteral("PKZIP"), k, 124, 366, 67, 25);
    CompMPEG->setEnabled(false);
    Option1->setEnabled(false);

    CompSlider = new QSlider(Qt::Horizontal, Frame2);
    CompSlider->setObjectName(QStringLiteral("CompSlider"));
    CompSlider->setGeometry(278 - k.x(), 329 - k.y(), 109, 33);
    CompSlider->setRange(0, 10);
    CompSlider->setValue(0);
    CompSlider->setTickPosition(QSlider::TicksBelow);
    CompSlider->setTickInterval(1);
    CompSlider->setPageStep(1);
    Label2 = makeControl<QLabel>(Frame2, "Label2", QStringLiteral("Low"), k, 250, 336, 29, 17);
    Label6 = makeControl<QLabel>(Frame2, "Label6", QStringLiteral("High"), k, 398, 336, 31, 17);
    Label4 = makeControl<QLabel>(Frame2, "Label4", QStringLiteral("Compression   Level"), k, 284,
                                 368, 125, 19);
}

void CompressOptionDialog::buildButtons() {
    const QPoint top(0, 0);
    Back = makeControl<QPushButton>(this, "Back", QStringLiteral("Go Back"), top, 112, 416, 67, 29);
    Compress = makeControl<QPushButton>(this, "Compress", QStringLiteral("Compress"), top, 278, 416,
                                        67, 29);
    Compress->setDefault(true);
    // Between the two, one step of their spacing from each.
    Compare = makeControl<QPushButton>(this, "Compare", QStringLiteral("Co&mpare"), top, 195, 416,
                                       67, 29);
    Compare->setAutoDefault(false);
    Compare->setVisible(compareSource_ != nullptr);
    Compare->setToolTip(QStringLiteral("See the clicked file as these choices would write it"));
}

void CompressOptionDialog::buildControls() {
    buildResolutionFrame();
    buildDepthFrame();
    buildSizeFrame();
    buildCompressionFrame();
    buildButtons();

    // Names for screen readers where the caption is not the control's own.
    labWidth->setBuddy(txtWidth);
    labHeight->setBuddy(txtHeight);
    DPIEnter->setAccessibleName(QStringLiteral("Other DPI"));
    CompSlider->setAccessibleName(QStringLiteral("Compression Level"));
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
    onSelected(DPI72, &CompressOptionDialog::DPI72_Click);
    onSelected(DPI100, &CompressOptionDialog::DPI100_Click);
    onSelected(DPI200, &CompressOptionDialog::DPI200_Click);
    onSelected(DPI300, &CompressOptionDialog::DPI300_Click);
    onSelected(DPI400, &CompressOptionDialog::DPI400_Click);
    onSelected(DPIOther, &CompressOptionDialog::DPIOther_Click);
    onSelected(SizeSame, &CompressOptionDialog::SizeSame_Click);
    onSelected(SizeOther, &CompressOptionDialog::SizeOther_Click);
    onSelected(Bit1, &CompressOptionDialog::Bit1_Click);
    onSelected(BitGrayScale, &CompressOptionDialog::BitGrayScale_Click);
    onSelected(Bit8, &CompressOptionDialog::Bit8_Click);
    onSelected(Bit16, &CompressOptionDialog::Bit16_Click);
    onSelected(Bit24, &CompressOptionDialog::Bit24_Click);
    onSelected(CompLZW, &CompressOptionDialog::CompLZW_Click);
    onSelected(CompCCITTG3, &CompressOptionDialog::CompCCITTG3_Click);
    onSelected(CompCCITTG4, &CompressOptionDialog::CompCCITTG4_Click);
    onSelected(CompJPEG1, &CompressOptionDialog::CompJPEG1_Click);
    onSelected(CompJPEG2, &CompressOptionDialog::CompJPEG2_Click);

    // textChanged, unlike textEdited, also fires when code sets the text.
    connect(txtWidth, &QLineEdit::textChanged, this, [this] { txtWidth_Change(); });
    connect(txtHeight, &QLineEdit::textChanged, this, [this] { txtHeight_Change(); });

    connect(Compress, &QPushButton::clicked, this, [this] { Compress_Click(); });
    connect(Compare, &QPushButton::clicked, this, [this] { Compare_Click(); });

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
    for (QLineEdit* field : {DPIEnter, txtWidth, txtHeight})
        connect(field, &QLineEdit::textChanged, this, follow);
    connect(CompSlider, &QSlider::valueChanged, this, follow);
    connect(Back, &QPushButton::clicked, this, [this] { Back_Click(); });
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
    const std::array resolutions = {DPI72, DPI100, DPI200, DPI300, DPI400, DPIOther};
    for (QRadioButton* option : resolutions)
        deselect(option);
    DPIEnter->setText(QString::number(settings.OtherDpiDefault));
    if (settings.DpiChoice >= 0 && settings.DpiChoice < int(resolutions.size()))
        select(resolutions[size_t(settings.DpiChoice)]);
    if (settings.DpiChoice == 5)
        EnableDpiEntry();

    txtWidth->setText(QStringLiteral("0"));
    txtHeight->setText(QStringLiteral("0"));
    ckAspect->setChecked(settings.KeepAspect == 1);
    if (settings.SizeChoice == 0) {
        select(SizeSame);
        deselect(SizeOther);
        DisableSizeEntry();
    } else {
        deselect(SizeSame);
        EnableSizeEntry();
    }

    const std::array depths = {Bit1, BitGrayScale, Bit8, Bit16, Bit24};
    for (QRadioButton* option : depths)
        deselect(option);
    // Any other number: 24-bit colour.
    const bool knownDepth = settings.DepthChoice >= 0 && settings.DepthChoice < 4;
    select(knownDepth ? depths[size_t(settings.DepthChoice)] : Bit24);

    CompLZW->setEnabled(false);
    for (QRadioButton* option :
         {CompLZW, CompCCITTG3, CompCCITTG4, CompJPEG1, CompJPEG2, CompMPEG}) {
        deselect(option);
    }
    const auto setSliderRange = [this](int maximum) {
        CompSlider->setEnabled(true);
        CompSlider->setMinimum(0);
        CompSlider->setMaximum(maximum);
    };
    const CompressionType type = settings.CompressionChoice;
    if (maxCompressionLevel(type) > 0)
        setSliderRange(maxCompressionLevel(type));
    select(compressionButton(type));
    if (type == CompressionType::Lzw)
        CompSlider->setEnabled(false);
}

QRadioButton* CompressOptionDialog::compressionButton(CompressionType type) const {
    switch (type) {
        case CompressionType::Lzw:
            return CompLZW;
        case CompressionType::CcittG3:
            return CompCCITTG3;
        case CompressionType::CcittG4:
            return CompCCITTG4;
        case CompressionType::Jpeg:
            return CompJPEG1;
        case CompressionType::Pixavant:
            return CompJPEG2;
        default:
            return CompMPEG;
    }
}

// JBIG, PKZIP or nothing selected: Other, which keeps the format code and quality factor.
CompressionType CompressOptionDialog::selectedCompression() const {
    return CompressionType(
        firstSelected({CompLZW, CompCCITTG3, CompCCITTG4, CompJPEG1, CompJPEG2}));
}

CompressOptionDialog::Choices CompressOptionDialog::readChoices() const {
    Choices choices;
    choices.settings = compressionSettings();
    // Every number is read before anything is stored, so a refused number stores nothing.
    const int resolution = firstSelected({DPI72, DPI100, DPI200, DPI300, DPI400, DPIOther});
    std::optional<int16_t> otherDpi;
    if (resolution == 5) {
        otherDpi = readField(DPIEnter, QStringLiteral("The \"Other\" resolution"), choices);
        if (!otherDpi)
            return choices;
    }
    std::optional<int16_t> width, height;
    if (!SizeSame->isChecked()) {
        width = readField(txtWidth, QStringLiteral("The width"), choices);
        if (!width)
            return choices;
        height = readField(txtHeight, QStringLiteral("The height"), choices);
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

    if (SizeSame->isChecked()) {
        settings.SizeChoice = 0;  // the stored width and height are kept
    } else {
        settings.SizeChoice = 1;
        settings.OutWidth = *width;
        settings.OutHeight = *height;
    }

    // None of the four: 24-bit colour.
    settings.DepthChoice = int16_t(firstSelected({Bit1, BitGrayScale, Bit8, Bit16}));
    settings.BitsPerPixel = bitsPerPixelFor(settings.DepthChoice);

    const int level = CompSlider->value();
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
        leadingNumber(txtWidth->text()) != 0.0 && leadingNumber(txtHeight->text()) != 0.0;
    ckAspect->setEnabled(!bothGiven);
}

void CompressOptionDialog::Bit1_Click() {
    CompressionSettings& settings = compressionSettings();
    settings.LastColorCompression = colorCompressionOf(selectedCompression());
    DisableCompressionChoices();
    CompCCITTG3->setEnabled(true);
    CompCCITTG4->setEnabled(true);
    select(settings.LastBilevelCompression == BilevelCompression::CcittG3 ? CompCCITTG3
                                                                          : CompCCITTG4);
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
    CompSlider->setEnabled(false);
}

void CompressOptionDialog::CompCCITTG3_Click() {
    CompSlider->setEnabled(true);
    CompSlider->setMinimum(0);
    CompSlider->setMaximum(1);  // a position beyond the new end moves to it
}

void CompressOptionDialog::CompCCITTG4_Click() {
    CompSlider->setEnabled(true);
    CompSlider->setMinimum(0);
    CompSlider->setMaximum(1);
}

void CompressOptionDialog::CompJPEG1_Click() {
    CompSlider->setEnabled(true);
    CompSlider->setMinimum(0);
    CompSlider->setMaximum(25);
}

void CompressOptionDialog::CompJPEG2_Click() {
    CompSlider->setEnabled(true);
    CompSlider->setMinimum(0);
    CompSlider->setMaximum(8);
}

void CompressOptionDialog::EnableDpiEntry() {
    labDPI->setEnabled(true);
    DPIEnter->setEnabled(true);
}

void CompressOptionDialog::DisableDpiEntry() {
    labDPI->setEnabled(false);
    DPIEnter->setEnabled(false);
}

void CompressOptionDialog::DisableSizeEntry() {
    for (QWidget* control :
         std::initializer_list<QWidget*>{ckAspect, labWidth, txtWidth, labHeight, txtHeight}) {
        control->setEnabled(false);
    }
}

void CompressOptionDialog::EnableSizeEntry() {
    select(SizeOther);
    for (QWidget* control :
         std::initializer_list<QWidget*>{ckAspect, labWidth, txtWidth, labHeight, txtHeight}) {
        control->setEnabled(true);
    }
}

void CompressOptionDialog::EnableCompressionChoices() {
    for (QRadioButton* option : {CompCCITTG3, CompCCITTG4, CompJPEG1, CompJPEG2}) {
        option->setEnabled(true);
    }
}

void CompressOptionDialog::DisableCompressionChoices() {
    for (QRadioButton* option : {CompCCITTG3, CompCCITTG4, CompJPEG1, CompJPEG2, CompMPEG}) {
        option->setEnabled(false);
    }
}

void CompressOptionDialog::ApplyColorDepth() {
    CompressionSettings& settings = compressionSettings();
    settings.LastBilevelCompression =
        CompCCITTG3->isChecked() ? BilevelCompression::CcittG3 : BilevelCompression::CcittG4;
    EnableCompressionChoices();
    select(compressionButton(compressionTypeOf(settings.LastColorCompression)));
    CompCCITTG3->setEnabled(false);
    CompCCITTG4->setEnabled(false);
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
