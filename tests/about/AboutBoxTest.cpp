#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "about/AboutBox.h"

namespace pixavant {
namespace {

TEST(AboutBox, TextHasThirteenLinesInTheirOrder) {
    const QStringList lines = AboutBox::aboutLines();
    ASSERT_EQ(lines.size(), 13);
    for (int empty : {0, 2, 4, 6}) {
        EXPECT_TRUE(lines[empty].isEmpty()) << empty;
    }
    EXPECT_EQ(lines[1], "PIXAVANT Version 1.0");
    EXPECT_EQ(lines[3], "Professional Image Compression Program");
    EXPECT_EQ(lines[5], "Pixavant Software");
    EXPECT_FALSE(lines[7].isEmpty());
    EXPECT_FALSE(lines[8].isEmpty());
    EXPECT_TRUE(lines[9].startsWith("Tel: 555") || lines[9].startsWith("Tel: (555) 555"));
    EXPECT_TRUE(lines[10].startsWith("Fax: 555") || lines[10].startsWith("Fax: (555) 555"));
    EXPECT_TRUE(lines[11].startsWith("E-Mail: "));
    EXPECT_TRUE(lines[11].endsWith("example.com"));
    EXPECT_TRUE(lines[12].startsWith("Web: "));
    EXPECT_TRUE(lines[12].contains("example.com"));
    for (const QString& line : lines) {
        EXPECT_FALSE(line.contains('\n') || line.contains('\r')) << line.toStdString();
    }
}

TEST(AboutBox, LabelShowsTheLinesStartingWithALineBreak) {
    AboutBox box;
    EXPECT_EQ(box.windowTitle(), "About");
    auto* label = box.findChild<QLabel*>("lAbout");
    ASSERT_NE(label, nullptr);
    const QString text = label->text();
    EXPECT_TRUE(text.startsWith('\n'));
    EXPECT_FALSE(text.endsWith('\n'));
    EXPECT_EQ(text.split('\n'), AboutBox::aboutLines());
    EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    // Every line fits the label.
    EXPECT_GE(label->height(), label->fontMetrics().lineSpacing() * 13);
    for (const QString& line : AboutBox::aboutLines()) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width());
    }
}

TEST(AboutBox, OkClosesAndOpeningAgainShowsTheSameText) {
    QString first;
    {
        AboutBox box;
        box.show();
        first = box.findChild<QLabel*>("lAbout")->text();
        auto* ok = box.findChild<QPushButton*>("OK");
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), "OK");
        ok->click();
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(box.result(), QDialog::Accepted);
    }
    AboutBox again;
    EXPECT_EQ(again.findChild<QLabel*>("lAbout")->text(), first);
}

}  // namespace
}  // namespace pixavant
