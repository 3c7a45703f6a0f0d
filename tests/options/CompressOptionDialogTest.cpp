#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <initializer_list>
#include <memory>
#include <string>

#include "options/CompressOptionDialog.h"
#include "settings/CompressionSettings.h"

using namespace pixavant;

namespace {

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
    // Which compression options the user can operate.
    std::string enabledCompressions() {
        std::string names;
        for (const char* name : {"CompLZW", "CompCCITTG3", "CompCCITTG4", "CompJPEG1", "CompJPEG2",
                                 "CompMPEG", "Option1"}) {
            if (enabled(name))
                names += std::string(names.empty() ? "" : " ") + name;
        }
        return names;
    }
    std::string selectedIn(std::initializer_list<const char*> names) {
        std::string result;
        for (const char* name : names) {
            if (selected(name))
                result += std::string(result.empty() ? "" : " ") + name;
        }
        return result;
    }
    std::string selectedCompression() {
        return selectedIn({"CompLZW", "CompCCITTG3", "CompCCITTG4", "CompJPEG1", "CompJPEG2",
                           "CompMPEG", "Option1"});
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

TEST_F(CompressOptionTest, FirstOpeningShowsTheStartUpChoices) {
    open();
    EXPECT_EQ(dialog->windowTitle(), "Compression Palette");
    EXPECT_EQ(selectedIn({"DPI72", "DPI100", "DPI200", "DPI300", "DPI400", "DPIOther"}), "DPI72");
    EXPECT_EQ(get<QLineEdit>("DPIEnter")->text(), "72");
    EXPECT_FALSE(enabled("DPIEnter"));
    EXPECT_FALSE(enabled("labDPI"));
    EXPECT_EQ(selectedIn({"SizeSame", "SizeOther"}), "SizeSame");
    EXPECT_EQ(get<QLineEdit>("txtWidth")->text(), "0");
    EXPECT_EQ(get<QLineEdit>("txtHeight")->text(), "0");
    for (const char* name : {"txtWidth", "txtHeight", "labWidth", "labHeight", "ckAspect"}) {
        EXPECT_FALSE(enabled(name)) << name;
    }
    EXPECT_TRUE(get<QCheckBox>("ckAspect")->isChecked());
    EXPECT_EQ(selectedDepth(), "Bit24");
    EXPECT_EQ(selectedCompression(), "CompJPEG1");
    EXPECT_EQ(enabledCompressions(), "CompJPEG1 CompJPEG2");
    EXPECT_TRUE(slider()->isEnabled());
    EXPECT_EQ(slider()->value(), 0);
    EXPECT_EQ(slider()->minimum(), 0);
    EXPECT_EQ(slider()->maximum(), 25);
    EXPECT_TRUE(get<QPushButton>("Compress")->isDefault());
    EXPECT_EQ(compressionSettings().LastBilevelCompression, 1);
    EXPECT_EQ(compressionSettings().LastColorCompression, 1);
}

TEST_F(CompressOptionTest, CompressAtOnceStoresTheDefaults) {
    open();
    ASSERT_TRUE(pressCompress());
    const CompressionSettings& s = compressionSettings();
    EXPECT_EQ(s.DpiChoice, 0);
    EXPECT_EQ(s.Dpi, 72);
    EXPECT_EQ(s.SizeChoice, 0);
    EXPECT_EQ(s.DepthChoice, 4);
    EXPECT_EQ(s.BitsPerPixel, 24);
    EXPECT_EQ(s.CompressionChoice, 3);
    EXPECT_EQ(s.FileFormat, 10);
    EXPECT_EQ(s.QualityFactor, 2);
    EXPECT_EQ(s.OutWidth, 0);
    EXPECT_EQ(s.OutHeight, 0);
}

struct DepthOpening {
    int depthChoice;
    const char* depthOption;
    int bitsPerPixel;
    const char* enabledCompressions;
    int lastColor;
    int lastBilevel;
};

class DepthOpeningTest : public CompressOptionTest,
                         public ::testing::WithParamInterface<DepthOpening> {};

TEST_P(DepthOpeningTest, OpensAndStoresTheDepth) {
    const DepthOpening& p = GetParam();
    compressionSettings().DepthChoice = int16_t(p.depthChoice);
    open();
    EXPECT_EQ(selectedDepth(), p.depthOption);
    EXPECT_EQ(enabledCompressions(), p.enabledCompressions);
    // The stored compression type is selected after the depth's reaction, enabled or not.
    EXPECT_EQ(selectedCompression(), "CompJPEG1");
    EXPECT_EQ(slider()->maximum(), 25);
    EXPECT_EQ(compressionSettings().LastColorCompression, p.lastColor);
    EXPECT_EQ(compressionSettings().LastBilevelCompression, p.lastBilevel);
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().DepthChoice, p.depthChoice);
    EXPECT_EQ(compressionSettings().BitsPerPixel, p.bitsPerPixel);
}

INSTANTIATE_TEST_SUITE_P(
    EachDepth, DepthOpeningTest,
    ::testing::Values(DepthOpening{0, "Bit1", 1, "CompCCITTG3 CompCCITTG4", 3, 0},
                      DepthOpening{1, "BitGrayScale", 8, "CompJPEG1 CompJPEG2", 1, 1},
                      DepthOpening{2, "Bit8", 8, "CompJPEG1 CompJPEG2", 1, 1},
                      DepthOpening{3, "Bit16", 16, "CompJPEG1 CompJPEG2", 1, 1},
                      DepthOpening{4, "Bit24", 24, "CompJPEG1 CompJPEG2", 1, 1}));

struct CompressionOpening {
    int compressionChoice;
    const char* option;
    bool sliderEnabled;
    int sliderMaximum;
    int storedFormat;       // with the slider left at 0; FileFormat starts at 99 here
    int storedQuality;      // QualityFactor starts at 77 here
    int storedChoice = -1;  // -1: the opening's choice
};

class CompressionOpeningTest : public CompressOptionTest,
                               public ::testing::WithParamInterface<CompressionOpening> {};

TEST_P(CompressionOpeningTest, OpensAndStoresTheType) {
    const CompressionOpening& p = GetParam();
    compressionSettings().CompressionChoice = int16_t(p.compressionChoice);
    compressionSettings().FileFormat = 99;
    compressionSettings().QualityFactor = 77;
    open();
    EXPECT_EQ(selectedCompression(), p.option);
    EXPECT_EQ(slider()->isEnabled(), p.sliderEnabled);
    EXPECT_EQ(slider()->minimum(), 0);
    EXPECT_EQ(slider()->maximum(), p.sliderMaximum);
    EXPECT_EQ(slider()->value(), 0);
    EXPECT_EQ(enabledCompressions(), "CompJPEG1 CompJPEG2");  // 24-bit colour
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().CompressionChoice,
              p.storedChoice < 0 ? p.compressionChoice : p.storedChoice);
    EXPECT_EQ(compressionSettings().FileFormat, p.storedFormat);
    EXPECT_EQ(compressionSettings().QualityFactor, p.storedQuality);
}

INSTANTIATE_TEST_SUITE_P(EachType, CompressionOpeningTest,
                         ::testing::Values(CompressionOpening{0, "CompLZW", false, 25, 17, 77},
                                           CompressionOpening{1, "CompCCITTG3", true, 1, 27, 77},
                                           CompressionOpening{2, "CompCCITTG4", true, 1, 29, 77},
                                           CompressionOpening{3, "CompJPEG1", true, 25, 10, 2},
                                           CompressionOpening{4, "CompJPEG2", true, 8, 5, -1},
                                           CompressionOpening{5, "CompMPEG", true, 25, 99, 77},
                                           CompressionOpening{17, "CompMPEG", true, 25, 99, 77,
                                                              5}));

TEST_F(CompressOptionTest, ResolutionOpensSelectedAndIsStored) {
    const std::pair<const char*, int> options[] = {
        {"DPI72", 72},   {"DPI100", 100},  {"DPI200", 200}, {"DPI300", 300},
        {"DPI400", 400}, {"DPIOther", 72}, {"", 123}};
    for (int choice = 0; choice <= 6; ++choice) {
        const auto& [name, dpi] = options[choice];
        compressionSettings().DpiChoice = int16_t(choice);
        compressionSettings().Dpi = 123;
        open();
        EXPECT_EQ(selectedIn({"DPI72", "DPI100", "DPI200", "DPI300", "DPI400", "DPIOther"}), name);
        // Without a selected resolution the field keeps its enabled design state.
        EXPECT_EQ(enabled("DPIEnter"), choice >= 5) << choice;
        EXPECT_EQ(get<QLineEdit>("DPIEnter")->text(), "72");
        ASSERT_TRUE(pressCompress());
        EXPECT_EQ(compressionSettings().DpiChoice, choice);  // none selected: kept as it was
        EXPECT_EQ(compressionSettings().Dpi, dpi) << choice;
    }
}

TEST_F(CompressOptionTest, OtherResolutionReadsTheLeadingNumber) {
    const std::pair<QString, int> cases[] = {
        {"150", 150},        {"abc", 0},   {"72.5", 72},     {"73.5", 74},       {"", 0},
        {" 1 5 0 dpi", 150}, {"-20", -20}, {"32767", 32767}, {"-32768", -32768}, {"1.5e2", 150}};
    for (const auto& [text, dpi] : cases) {
        open();
        click("DPIOther");
        type("DPIEnter", text);
        ASSERT_TRUE(pressCompress()) << text.toStdString();
        EXPECT_EQ(compressionSettings().DpiChoice, 5);
        EXPECT_EQ(compressionSettings().Dpi, dpi) << text.toStdString();
    }
}

TEST_F(CompressOptionTest, OtherDpiDefaultIsShownAgainAtTheNextOpening) {
    open();
    click("DPIOther");
    type("DPIEnter", "150");
    ASSERT_TRUE(pressCompress());
    open();
    EXPECT_TRUE(selected("DPIOther"));
    EXPECT_EQ(get<QLineEdit>("DPIEnter")->text(), "72");
    EXPECT_EQ(compressionSettings().Dpi, 150);
    EXPECT_EQ(compressionSettings().OtherDpiDefault, 72);
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

TEST_F(CompressOptionTest, NumbersOutsideTheFieldRangeAreRefused) {
    struct Case {
        const char* field;
        const char* text;
        const char* named;
    };
    const Case cases[] = {{"DPIEnter", "32768", "resolution"},
                          {"DPIEnter", "-32769", "resolution"},
                          {"DPIEnter", "1e400", "resolution"},
                          {"txtWidth", "100000", "width"},
                          {"txtHeight", "-40000", "height"}};
    for (const Case& c : cases) {
        CompressionSettings before = CompressionSettings::defaults("/pictures/");
        before.DpiChoice = 5;
        before.SizeChoice = 1;
        before.Dpi = 11;
        before.OutWidth = 12;
        before.OutHeight = 13;
        compressionSettings() = before;
        open();
        type(c.field, c.text);
        const QString message = compressExpectingMessage(get<QAbstractButton>("Compress"));
        EXPECT_TRUE(message.startsWith("PIXAVANT: ")) << message.toStdString();
        EXPECT_TRUE(message.contains(c.named)) << message.toStdString();
        EXPECT_TRUE(message.contains("-32768 to 32767")) << message.toStdString();
        EXPECT_NE(dialog->result(), QDialog::Accepted);
        const CompressionSettings& after = compressionSettings();
        EXPECT_EQ(after.Dpi, 11);
        EXPECT_EQ(after.OutWidth, 12);
        EXPECT_EQ(after.OutHeight, 13);
        EXPECT_EQ(after.CompressionChoice, 3);
        EXPECT_EQ(after.FileFormat, 0);
        EXPECT_EQ(after.BitsPerPixel, 0);
    }
}

TEST_F(CompressOptionTest, OutOfRangeNumbersInUnusedFieldsAreIgnored) {
    open();  // fixed resolution, same size: the three fields are not read
    type("DPIEnter", "99999");
    type("txtWidth", "99999");
    EXPECT_TRUE(compressExpectingMessage(get<QAbstractButton>("Compress")).isEmpty());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
}

TEST_F(CompressOptionTest, OtherSizeStoresWidthAndHeight) {
    compressionSettings().OutWidth = 5;
    compressionSettings().OutHeight = 6;
    open();
    ASSERT_TRUE(pressCompress());  // "Same as Original" keeps the stored size
    EXPECT_EQ(compressionSettings().SizeChoice, 0);
    EXPECT_EQ(compressionSettings().OutWidth, 5);
    EXPECT_EQ(compressionSettings().OutHeight, 6);

    open();
    click("SizeOther");
    type("txtWidth", "640");
    type("txtHeight", "");
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().SizeChoice, 1);
    EXPECT_EQ(compressionSettings().OutWidth, 640);
    EXPECT_EQ(compressionSettings().OutHeight, 0);

    open();  // opens on "Other (Specify)" with the fields at 0, all enabled
    EXPECT_TRUE(selected("SizeOther"));
    EXPECT_FALSE(selected("SizeSame"));
    for (const char* name : {"txtWidth", "txtHeight", "labWidth", "labHeight", "ckAspect"}) {
        EXPECT_TRUE(enabled(name)) << name;
    }
    EXPECT_EQ(get<QLineEdit>("txtWidth")->text(), "0");
}

TEST_F(CompressOptionTest, KeepAspectFollowsTheTwoSizes) {
    compressionSettings().KeepAspect = 0;
    open();
    EXPECT_FALSE(get<QCheckBox>("ckAspect")->isChecked());
    click("SizeOther");
    EXPECT_TRUE(enabled("ckAspect"));
    type("txtWidth", "640");
    EXPECT_TRUE(enabled("ckAspect"));  // height still 0
    type("txtHeight", "480");
    EXPECT_FALSE(enabled("ckAspect"));
    type("txtHeight", "");
    EXPECT_TRUE(enabled("ckAspect"));
    type("txtHeight", "0.4");  // not rounded: counts as a size
    EXPECT_FALSE(enabled("ckAspect"));
    click("SizeSame");
    for (const char* name : {"txtWidth", "txtHeight", "labWidth", "labHeight", "ckAspect"}) {
        EXPECT_FALSE(enabled(name)) << name;
    }
    EXPECT_EQ(get<QLineEdit>("txtWidth")->text(), "640");
    click("SizeOther");  // enables all five whatever the sizes hold
    for (const char* name : {"txtWidth", "txtHeight", "labWidth", "labHeight", "ckAspect"}) {
        EXPECT_TRUE(enabled(name)) << name;
    }
}

TEST_F(CompressOptionTest, OtherResolutionEnablesItsField) {
    open();
    click("DPIOther");
    EXPECT_TRUE(enabled("DPIEnter"));
    EXPECT_TRUE(enabled("labDPI"));
    type("DPIEnter", "300");
    click("DPI200");
    EXPECT_FALSE(enabled("DPIEnter"));
    EXPECT_FALSE(enabled("labDPI"));
    EXPECT_EQ(get<QLineEdit>("DPIEnter")->text(), "300");
}

TEST_F(CompressOptionTest, BlackAndWhiteAfterColourOpening) {
    open();
    click("Bit1");
    EXPECT_EQ(compressionSettings().LastColorCompression, 1);
    EXPECT_EQ(enabledCompressions(), "CompCCITTG3 CompCCITTG4");
    EXPECT_EQ(selectedCompression(), "CompCCITTG4");
    EXPECT_EQ(slider()->maximum(), 1);

    click("Bit8");
    EXPECT_EQ(compressionSettings().LastBilevelCompression, 1);
    EXPECT_EQ(selectedCompression(), "CompJPEG1");
    EXPECT_EQ(slider()->maximum(), 25);
    EXPECT_EQ(enabledCompressions(), "CompJPEG1 CompJPEG2");
}

TEST_F(CompressOptionTest, GroupThreeIsRememberedAcrossAColourDepth) {
    open();
    click("Bit1");
    click("CompCCITTG3");
    click("BitGrayScale");
    EXPECT_EQ(compressionSettings().LastBilevelCompression, 0);
    click("Bit1");
    EXPECT_EQ(selectedCompression(), "CompCCITTG3");
}

TEST_F(CompressOptionTest, SliderIsClampedWhenTheRangeShrinks) {
    open();
    slider()->setValue(20);
    click("Bit1");
    EXPECT_EQ(selectedCompression(), "CompCCITTG4");
    EXPECT_EQ(slider()->value(), 1);
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().CompressionChoice, 2);
    EXPECT_EQ(compressionSettings().FileFormat, 26);
    EXPECT_EQ(compressionSettings().DepthChoice, 0);
    EXPECT_EQ(compressionSettings().BitsPerPixel, 1);
}

TEST_F(CompressOptionTest, SwitchingColourDepthsRestoresTheRememberedType) {
    open();
    click("Bit8");
    click("CompJPEG2");
    EXPECT_EQ(slider()->maximum(), 8);
    click("Bit16");  // LastColorCompression is still 1
    EXPECT_EQ(selectedCompression(), "CompJPEG1");

    compressionSettings().LastColorCompression = 2;
    click("CompJPEG2");
    click("Bit24");
    EXPECT_EQ(selectedCompression(), "CompJPEG2");
}

TEST_F(CompressOptionTest, BlackAndWhiteOpeningLeadsToTheDisabledJbig) {
    compressionSettings().DepthChoice = 0;
    compressionSettings().CompressionChoice = 1;
    compressionSettings().FileFormat = 27;
    compressionSettings().QualityFactor = 42;
    open();
    EXPECT_EQ(selectedCompression(), "CompCCITTG3");
    EXPECT_EQ(compressionSettings().LastColorCompression, 3);
    click("Bit24");
    EXPECT_EQ(selectedCompression(), "CompMPEG");
    EXPECT_FALSE(enabled("CompMPEG"));
    EXPECT_EQ(slider()->maximum(), 1);  // JBIG has no reaction: the range stays
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().CompressionChoice, 5);
    EXPECT_EQ(compressionSettings().FileFormat, 27);
    EXPECT_EQ(compressionSettings().QualityFactor, 42);
}

TEST_F(CompressOptionTest, LzwSelectedFromCodeDisablesTheSlider) {
    compressionSettings().LastColorCompression = 0;
    open();  // the 24-bit reaction selects LZW before the stored JPEG replaces it
    EXPECT_FALSE(enabled("CompLZW"));
    click("Bit1");
    EXPECT_EQ(compressionSettings().LastColorCompression, 1);
    compressionSettings().LastColorCompression = 0;
    click("Bit16");
    EXPECT_EQ(selectedCompression(), "CompLZW");
    EXPECT_FALSE(slider()->isEnabled());
    click("CompLZW");  // disabled for the user
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().CompressionChoice, 0);
    EXPECT_EQ(compressionSettings().FileFormat, 17);
}

TEST_F(CompressOptionTest, SliderEndsGiveTheFormatAndQuality) {
    struct Case {
        int compressionChoice;
        int depthChoice;
        int position;
        int format;
        int quality;  // QualityFactor starts at 77
    };
    const Case cases[] = {{3, 4, 0, 10, 2},  {3, 4, 25, 10, 252}, {3, 4, 1, 10, 12},
                          {4, 4, 0, 5, -1},  {4, 4, 7, 5, -8},    {4, 4, 8, 5, -9},
                          {1, 0, 0, 27, 77}, {1, 0, 1, 28, 77},   {2, 0, 0, 29, 77},
                          {2, 0, 1, 26, 77}};
    for (const Case& c : cases) {
        compressionSettings().CompressionChoice = int16_t(c.compressionChoice);
        compressionSettings().DepthChoice = int16_t(c.depthChoice);
        compressionSettings().LastBilevelCompression = c.compressionChoice == 1 ? 0 : 1;
        compressionSettings().QualityFactor = 77;
        open();
        slider()->setValue(c.position);
        ASSERT_EQ(slider()->value(), c.position);
        ASSERT_TRUE(pressCompress());
        EXPECT_EQ(compressionSettings().CompressionChoice, c.compressionChoice);
        EXPECT_EQ(compressionSettings().FileFormat, c.format) << c.position;
        EXPECT_EQ(compressionSettings().QualityFactor, c.quality) << c.position;
    }
}

TEST_F(CompressOptionTest, StoredLevelIsNotShownAgain) {
    open();
    slider()->setValue(20);
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().QualityFactor, 202);
    open();
    EXPECT_EQ(slider()->value(), 0);
    ASSERT_TRUE(pressCompress());
    EXPECT_EQ(compressionSettings().QualityFactor, 2);
}

TEST_F(CompressOptionTest, GoBackAndCloseBoxStoreNothingButTheRememberedTypes) {
    for (bool closeBox : {false, true}) {
        CompressionSettings before = CompressionSettings::defaults("/pictures/");
        compressionSettings() = before;
        open();
        click("DPI300");
        click("SizeOther");
        type("txtWidth", "100");
        click("Bit1");
        slider()->setValue(1);
        if (closeBox) {
            dialog->show();
            dialog->close();
        } else {
            click("Back");
        }
        EXPECT_EQ(dialog->result(), QDialog::Rejected);
        EXPECT_FALSE(dialog->isVisible());
        CompressionSettings after = compressionSettings();
        EXPECT_EQ(after.LastColorCompression, 1);
        after.LastColorCompression = before.LastColorCompression;
        after.LastBilevelCompression = before.LastBilevelCompression;
        EXPECT_EQ(after.DpiChoice, before.DpiChoice);
        EXPECT_EQ(after.Dpi, before.Dpi);
        EXPECT_EQ(after.SizeChoice, before.SizeChoice);
        EXPECT_EQ(after.OutWidth, before.OutWidth);
        EXPECT_EQ(after.DepthChoice, before.DepthChoice);
        EXPECT_EQ(after.BitsPerPixel, before.BitsPerPixel);
        EXPECT_EQ(after.CompressionChoice, before.CompressionChoice);
        EXPECT_EQ(after.FileFormat, before.FileFormat);
        EXPECT_EQ(after.QualityFactor, before.QualityFactor);
    }
}

// The room a control's caption needs, or its whole rectangle when it has no caption.
QRect occupied(QWidget* control) {
    QRect rect = control->geometry();
    if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control)) {
        rect.setWidth(control->sizeHint().width());
    }
    return rect;
}

TEST_F(CompressOptionTest, NoCaptionIsClippedAndNoControlsOverlap) {
    open();
    const QList<QWidget*> controls = dialog->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        const std::string name = control->objectName().toStdString();
        if (name.empty())
            continue;
        if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control)) {
            EXPECT_GE(control->width(), control->sizeHint().width()) << name;
            EXPECT_GE(control->height(), control->sizeHint().height()) << name;
        }
        EXPECT_TRUE(control->parentWidget()->rect().contains(occupied(control))) << name;
        for (QWidget* other : controls) {
            if (other == control || other->parentWidget() != control->parentWidget() ||
                other->objectName().isEmpty()) {
                continue;
            }
            EXPECT_FALSE(occupied(control).intersects(occupied(other)))
                << name << " / " << other->objectName().toStdString();
        }
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
    click("CompJPEG2");
    EXPECT_EQ(tabStops(), "DPI300 Bit24 SizeSame CompJPEG2");
    click("Bit1");  // B/W: the CCITT groups only
    EXPECT_EQ(tabStops(), "DPI300 Bit1 SizeSame " + selectedCompression());

    // The selected option is disabled: the first enabled option takes the Tab.
    compressionSettings().CompressionChoice = 5;
    open();
    EXPECT_EQ(selectedCompression(), "CompMPEG");
    EXPECT_EQ(tabStops(), "DPI72 Bit24 SizeSame CompJPEG1");
}

}  // namespace
