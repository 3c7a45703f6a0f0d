#include <gtest/gtest.h>

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtTest/QTest>

#include "about/AboutBox.h"

namespace pixavant {
namespace {

// The version `pixavant --version` reports ("pixavant 1.0" gives "1.0").
QString reportedVersion() {
    QProcess program;
    program.start(QStringLiteral(PIXAVANT_EXECUTABLE), {QStringLiteral("--version")});
    if (!program.waitForFinished(30000) || program.exitCode() != 0)
        return {};
    const QString line = QString::fromUtf8(program.readAllStandardOutput()).trimmed();
    return line.section(QLatin1Char(' '), 1);
}

TEST(AboutBox, NamesTheVersionTheProgramReportsInLinesShownWhole) {
    const QString version = reportedVersion();
    ASSERT_FALSE(version.isEmpty());
    AboutBox box;
    auto* label = box.findChild<QLabel*>("lAbout");
    ASSERT_NE(label, nullptr);
    const QStringList lines = label->text().split('\n');
    EXPECT_TRUE(lines.contains("PIXAVANT Version " + version)) << label->text().toStdString();
    EXPECT_GE(label->height(), label->fontMetrics().lineSpacing() * lines.size());
    for (const QString& line : lines)
        EXPECT_LE(label->fontMetrics().horizontalAdvance(line), label->width())
            << line.toStdString();

    // OK closes it, by the mouse or by Enter.
    for (const bool mouse : {true, false}) {
        box.show();
        if (mouse)
            box.findChild<QPushButton*>("OK")->click();
        else
            QTest::keyClick(&box, Qt::Key_Return);
        EXPECT_TRUE(!box.isVisible() && box.result() == QDialog::Accepted) << mouse;
    }
}

}  // namespace
}  // namespace pixavant
