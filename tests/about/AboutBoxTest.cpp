#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "about/AboutBox.h"

namespace pixavant {
namespace {

TEST(AboutBox, ShowsEveryLineWholeAfterALineBreakAndOkCloses) {
    AboutBox box;
    auto* label = box.findChild<QLabel*>("lAbout");
    ASSERT_NE(label, nullptr);
    const QString text = label->text();
    EXPECT_TRUE(text.startsWith('\n'));
    const QStringList lines = AboutBox::aboutLines();
    EXPECT_EQ(text.split('\n'), lines);
    EXPECT_EQ(lines.value(1), "PIXAVANT Version 1.0");
    EXPECT_GE(label->height(), label->fontMetrics().lineSpacing() * lines.size());
    for (const QString& line : lines)
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width());

    box.show();
    box.findChild<QPushButton*>("OK")->click();
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.result(), QDialog::Accepted);
}

}  // namespace
}  // namespace pixavant
