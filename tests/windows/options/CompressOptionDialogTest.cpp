#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>

#include "options/CompressOptionDialog.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

constexpr std::initializer_list<const char*> kCompressions = {
    "CompLZW", "CompCCITTG3", "CompCCITTG4", "CompJPEG1", "CompJPEG2", "CompMPEG", "Option1"};

class CompressOptionTest : public ::testing::Test {
  protected:
    void SetUp() override { compressionSettings() = CompressionSettings::defaults("/pictures/"); }

    void open() { dialog = std::make_unique<CompressOptionDialog>(); }

    template <class T = QRadioButton>
    T* get(const char* name) {
        T* control = dialog->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(control, nullptr) << name;
        return control;
    }
    bool selected(const char* name) { return get(name)->isChecked(); }
    bool enabled(const char* name) { return get<QWidget>(name)->isEnabled(); }
    // A user's click: does nothing on a disabled control.
    void click(const char* name) { get<QAbstractButton>(name)->click(); }
    void type(const char* name, const QString& text) {
        QLineEdit* field = get<QLineEdit>(name);
        field->selectAll();
        field->insert(text);
    }
    QSlider* slider() { return get<QSlider>("CompSlider"); }
    // Those of `names` for which `test` holds, blank-separated.
    std::string which(std::initializer_list<const char*> names,
                      bool (CompressOptionTest::*test)(const char*)) {
        std::string result;
        for (const char* name : names)
            if ((this->*test)(name))
                result += (result.empty() ? "" : " ") + std::string(name);
        return result;
    }
    std::string selectedIn(std::initializer_list<const char*> names) {
        return which(names, &CompressOptionTest::selected);
    }
    std::string selectedCompression() { return selectedIn(kCompressions); }
    std::string enabledCompressions() { return which(kCompressions, &CompressOptionTest::enabled); }
    std::string selectedResolution() {
        return selectedIn({"DPI72", "DPI100", "DPI200", "DPI300", "DPI400", "DPIOther"});
    }
    std::string selectedDepth() {
        return selectedIn({"Bit1", "BitGrayScale", "Bit8", "Bit16", "Bit24"});
    }
    bool pressCompress() {
        click("Compress");
        return dialog->result() == QDialog::Accepted;
    }

    std::unique_ptr<CompressOptionDialog> dialog;
};

// The stored depth opens selected, with the compression types it allows (the stored type is
// selected after the depth's reaction, enabled or not), and is stored with its bits per pixel.
TEST_F(CompressOptionTest, EachDepthOpensSelectedAndIsStored) {
    const std::tuple<int, const char*, int, const char*, int, int> cases[] = {
        {0, "Bit1", 1, "CompCCITTG3 CompCCITTG4", 3, 0},
        {1, "BitGrayScale", 8, "CompJPEG1 CompJPEG2", 1, 1},
        {2, "Bit8", 8, "CompJPEG1 CompJPEG2", 1, 1},
        {3, "Bit16", 16, "CompJPEG1 CompJPEG2", 1, 1},
        {4, "Bit24", 24, "CompJPEG1 CompJPEG2", 1, 1}};
    const CompressionSettings& s = compressionSettings();
    for (const auto& [depth, option, bits, compressions, lastColor, lastBilevel] : cases) {
        SCOPED_TRACE(option);
        compressionSettings() = CompressionSettings::defaults("/pictures/");
        compressionSettings().DepthChoice = int16_t(depth);
        open();
        EXPECT_EQ(std::tuple(selectedDepth(), enabledCompressions(), selectedCompression()),
                  std::tuple(option, compressions, "CompJPEG1"));
        EXPECT_EQ(std::pair(int16_t(s.LastColorCompression), int16_t(s.LastBilevelCompression)),
                  std::pair(int16_t(lastColor), int16_t(lastBilevel)));
        ASSERT_TRUE(pressCompress());
        EXPECT_EQ(std::pair(s.DepthChoice, s.BitsPerPixel),
                  std::pair(int16_t(depth), int16_t(bits)));
    }
}

// The stored type opens selected with its slider (left at 0: a stored level is not shown again);
// with the slider moved to a position, the type is stored with the format and quality of that
// level. FileFormat and QualityFactor start at 99 and 77.
TEST_F(CompressOptionTest, EachCompressionTypeOpensSelectedAndStoresTheFormatOfItsLevel) {
    struct Case {
        int choice, depth, position;
        const char* option;
        bool sliderOn;
        int sliderMaximum, stored, format, quality;
    };
    const Case cases[] = {
        {0, 4, 0, "CompLZW", false, 25, 0, 17, 77},    {1, 4, 0, "CompCCITTG3", true, 1, 1, 27, 77},
        {2, 4, 0, "CompCCITTG4", true, 1, 2, 29, 77},  {3, 4, 0, "CompJPEG1", true, 25, 3, 10, 2},
        {4, 4, 0, "CompJPEG2", true, 8, 4, 5, -1},     {5, 4, 0, "CompMPEG", true, 25, 5, 99, 77},
        {17, 4, 0, "CompMPEG", true, 25, 5, 99, 77},   {3, 4, 1, "CompJPEG1", true, 25, 3, 10, 12},
        {3, 4, 25, "CompJPEG1", true, 25, 3, 10, 252}, {4, 4, 7, "CompJPEG2", true, 8, 4, 5, -8},
        {4, 4, 8, "CompJPEG2", true, 8, 4, 5, -9},     {1, 0, 1, "CompCCITTG3", true, 1, 1, 28, 77},
        {2, 0, 1, "CompCCITTG4", true, 1, 2, 26, 77}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.choice << " at " << c.position);
        CompressionSettings& s = compressionSettings();
        s.CompressionChoice = CompressionType(c.choice);
        s.DepthChoice = int16_t(c.depth);
        s.LastBilevelCompression =
            c.choice == 1 ? BilevelCompression::CcittG3 : BilevelCompression::CcittG4;
        std::tie(s.FileFormat, s.QualityFactor) = std::pair(99, 77);
        open();
        EXPECT_EQ(std::tuple(selectedCompression(), slider()->isEnabled(), slider()->maximum(),
                             slider()->value()),
                  std::tuple(c.option, c.sliderOn, c.sliderMaximum, 0));
        slider()->setValue(c.position);
        ASSERT_EQ(slider()->value(), c.position);
        ASSERT_TRUE(pressCompress());
        EXPECT_EQ(std::tuple(int(s.CompressionChoice), s.FileFormat, s.QualityFactor),
                  std::tuple(c.stored, c.format, c.quality));
    }
}

TEST_F(CompressOptionTest, ResolutionOpensSelectedAndIsStored) {
    // "Other" opens with its field enabled, at the default rather than the stored number; a
    // choice beyond the options selects none, leaves the field as designed and keeps the choice.
    const std::tuple<int, const char*, bool, int> cases[] = {{0, "DPI72", false, 72},
                                                             {3, "DPI300", false, 300},
                                                             {5, "DPIOther", true, 72},
                                                             {6, "", true, 123}};
    for (const auto& [choice, option, fieldEnabled, dpi] : cases) {
        compressionSettings().DpiChoice = int16_t(choice);
        compressionSettings().Dpi = 123;
        open();
        EXPECT_EQ(selectedResolution(), option);
        EXPECT_EQ(enabled("DPIEnter"), fieldEnabled) << choice;
        EXPECT_EQ(get<QLineEdit>("DPIEnter")->text(), "72");
        ASSERT_TRUE(pressCompress());
        EXPECT_EQ(std::pair(int(compressionSettings().DpiChoice), int(compressionSettings().Dpi)),
                  std::pair(choice, dpi));
    }
    click("DPI200");
    EXPECT_FALSE(enabled("DPIEnter"));

    // What is typed for "Other" is read as its leading number, rounded half to even.
    click("DPIOther");
    type("DPIEnter", " 7 3.5 dpi");
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(std::pair(int(compressionSettings().DpiChoice), int(compressionSettings().Dpi)),
              std::pair(5, 74));
}

// Presses "Compress" while a message box may come up; returns its text and dismisses it.
QString compressExpectingMessage(QAbstractButton* compress) {
    QString message;
    QTimer::singleShot(0, [&message] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                message = box->windowTitle() + ": " + box->text();
                box->accept();
            }
        }
    });
    compress->click();
    return message;
}

// A number outside the 16-bit range is refused with a message naming the field, and nothing is
// stored; in a field not in use (a fixed resolution, the same size) it is not read at all.
TEST_F(CompressOptionTest, NumbersOutsideTheFieldRangeAreRefusedWhereTheyAreUsed) {
    // The field, what is typed, and the name the message gives it ("": not in use).
    const std::tuple<const char*, const char*, QString> cases[] = {
        {"DPIEnter", "32768", "resolution"}, {"DPIEnter", "1e400", "resolution"},
        {"txtWidth", "100000", "width"},     {"txtHeight", "-40000", "height"},
        {"DPIEnter", "99999", ""},           {"txtWidth", "99999", ""}};
    for (const auto& [field, text, named] : cases) {
        CompressionSettings& before = compressionSettings() = CompressionSettings::defaults("/p/");
        const int choice = named.isEmpty() ? 0 : 1;
        std::tie(before.DpiChoice, before.SizeChoice, before.Dpi, before.OutWidth,
                 before.OutHeight) = std::tuple(5 * choice, choice, 11, 12, 13);
        open();
        type(field, text);
        const QString message = compressExpectingMessage(get<QAbstractButton>("Compress"));
        EXPECT_EQ(dialog->result() == QDialog::Accepted, named.isEmpty()) << field << text;
        EXPECT_EQ(message.isEmpty(), named.isEmpty()) << message.toStdString();
        EXPECT_TRUE(named.isEmpty() ||
                    (message.startsWith("PIXAVANT: ") && message.contains(named) &&
                     message.contains("-32768 to 32767")))
            << message.toStdString();
        if (!named.isEmpty()) {
            const CompressionSettings& after = compressionSettings();
            EXPECT_EQ(std::tuple(after.Dpi, after.OutWidth, after.OutHeight, after.FileFormat),
                      std::tuple(11, 12, 13, 0));
        }
    }
}

TEST_F(CompressOptionTest, OtherSizeStoresWidthAndHeightAndOffersKeepAspectUntilBothAreGiven) {
    compressionSettings().OutWidth = 5;
    compressionSettings().OutHeight = 6;
    open();
    ASSERT_TRUE(pressCompress());  // "Same as Original" keeps the stored size
    const CompressionSettings& s = compressionSettings();
    EXPECT_EQ(std::tuple(s.SizeChoice, s.OutWidth, s.OutHeight), std::tuple(0, 5, 6));

    open();
    click("SizeOther");
    type("txtWidth", "640");
    for (const auto& [height, offered] : {std::pair("480", false), {"0.4", false}, {"", true}}) {
        type("txtHeight", height);
        EXPECT_EQ(enabled("ckAspect"), offered) << height;
    }
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(std::tuple(s.SizeChoice, s.OutWidth, s.OutHeight), std::tuple(1, 640, 0));

    open();  // opens on "Other (Specify)" with the fields at 0, enabled
    EXPECT_EQ(std::pair(selectedIn({"SizeSame", "SizeOther"}), get<QLineEdit>("txtWidth")->text()),
              std::pair(std::string("SizeOther"), QString("0")));
    EXPECT_TRUE(enabled("txtWidth") && enabled("txtHeight") && enabled("ckAspect"));
    click("SizeSame");
    EXPECT_FALSE(enabled("txtWidth") || enabled("txtHeight") || enabled("ckAspect"));
}

// The colour depth limits the compression types; each side remembers the type last used.
TEST_F(CompressOptionTest, ColourDepthAndCompressionKeepEachOtherConsistent) {
    // The depth and type stored when the dialog opens, the clicks, the type then selected and the
    // slider's range. A click on a type is not remembered; the last case goes to the disabled JBIG,
    // whose reaction keeps the range.
    const std::tuple<int, int, const char*, const char*, int> cases[] = {
        {4, 3, "Bit1", "CompCCITTG4", 1},
        {4, 3, "Bit1 Bit8", "CompJPEG1", 25},
        {4, 3, "Bit1 CompCCITTG3 BitGrayScale Bit1", "CompCCITTG3", 1},
        {4, 3, "Bit8 CompJPEG2 Bit16", "CompJPEG1", 25},
        {0, 1, "Bit24", "CompMPEG", 1}};
    for (const auto& [depth, compression, clicks, chosen, sliderMaximum] : cases) {
        SCOPED_TRACE(clicks);
        compressionSettings() = CompressionSettings::defaults("/pictures/");
        compressionSettings().DepthChoice = int16_t(depth);
        compressionSettings().CompressionChoice = CompressionType(compression);
        open();
        for (const QString& name : QString(clicks).split(' '))
            click(name.toLatin1().constData());
        EXPECT_EQ(std::pair(selectedCompression(), slider()->maximum()),
                  std::pair(std::string(chosen), sliderMaximum));
        EXPECT_EQ(enabledCompressions(),
                  selected("Bit1") ? "CompCCITTG3 CompCCITTG4" : "CompJPEG1 CompJPEG2");
    }
    // JBIG cannot be written: its format and quality stay as they were.
    std::tie(compressionSettings().FileFormat, compressionSettings().QualityFactor) =
        std::pair(27, 42);
    ASSERT_TRUE(pressCompress());
    const CompressionSettings& s = compressionSettings();
    EXPECT_EQ(std::tuple(int(s.CompressionChoice), s.FileFormat, s.QualityFactor),
              std::tuple(5, 27, 42));

    // A level beyond the new range is clamped: group 4 at level 1 writes the 1-bit format.
    compressionSettings() = CompressionSettings::defaults("/pictures/");
    open();
    slider()->setValue(20);
    click("Bit1");
    EXPECT_EQ(slider()->value(), 1);
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(std::tuple(s.DepthChoice, s.BitsPerPixel, int(s.CompressionChoice), s.FileFormat),
              std::tuple(0, 1, 2, 26));
}

TEST_F(CompressOptionTest, GoBackAndCloseBoxStoreNothingButTheRememberedTypes) {
    const auto stored = [](const CompressionSettings& s) {
        return std::tuple(s.DpiChoice, s.Dpi, s.SizeChoice, s.OutWidth, s.DepthChoice,
                          s.BitsPerPixel, int(s.CompressionChoice), s.FileFormat, s.QualityFactor);
    };
    const CompressionSettings before = compressionSettings();
    for (bool closeBox : {false, true}) {
        compressionSettings() = before;
        open();
        for (const char* name : {"DPI300", "SizeOther", "Bit1"})
            click(name);
        type("txtWidth", "100");
        slider()->setValue(1);
        dialog->show();
        closeBox ? void(dialog->close()) : click("Back");
        EXPECT_TRUE(dialog->result() == QDialog::Rejected && !dialog->isVisible());
        EXPECT_EQ(compressionSettings().LastColorCompression, ColorCompression::Jpeg);
        EXPECT_EQ(stored(compressionSettings()), stored(before));
    }
}

// Tab into an option group lands on its selected option (an enabled one when that is not).
TEST_F(CompressOptionTest, TabReachesEachGroupAtItsSelectedOption) {
    auto tabStops = [this] {
        std::string stops;
        for (QWidget* w = dialog->nextInFocusChain(); w != dialog.get();
             w = w->nextInFocusChain()) {
            auto* option = qobject_cast<QRadioButton*>(w);
            if (option && option->isEnabled() && (option->focusPolicy() & Qt::TabFocus))
                stops += (stops.empty() ? "" : " ") + option->objectName().toStdString();
        }
        return stops;
    };
    open();
    EXPECT_EQ(tabStops(), "DPI72 Bit24 SizeSame CompJPEG1");
    click("DPI300");
    click("Bit1");  // B/W: the CCITT groups only
    EXPECT_EQ(tabStops(), "DPI300 Bit1 SizeSame " + selectedCompression());

    // The selected option is disabled: the first enabled option takes the Tab.
    compressionSettings().CompressionChoice = CompressionType::Other;
    open();
    EXPECT_EQ(selectedCompression(), "CompMPEG");
    EXPECT_EQ(tabStops(), "DPI72 Bit24 SizeSame CompJPEG1");
}

}  // namespace
