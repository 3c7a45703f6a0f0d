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
    const QStringList lines = AboutBox::aboutLines();
    EXPECT_EQ(label->text().split('\n'), lines);
    EXPECT_EQ(lines.mid(0, 2), QStringList({"", "PIXAVANT Version 1.0"}));
    EXPECT_GE(label->height(), label->fontMetrics().lineSpacing() * lines.size());
    for (const QString& line : lines)
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width());

    box.show();
    box.findChild<QPushButton*>("OK")->click();
    EXPECT_TRUE(!box.isVisible() && box.result() == QDialog::Accepted);
}

}  // namespace
}  // namespace pixavant
