#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include "common/Message.h"

namespace pixavant {
namespace {

TEST(Message, DetailsGoBehindShowDetails) {
    // The box itself: the text, the details behind "Show Details...", OK only, titled PIXAVANT.
    QString text, details, title;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        text = box->text();
        details = box->detailedText();
        title = box->windowTitle();
        buttons = box->standardButtons();
        box->accept();
    });
    showMessage(nullptr, "Compression error.", "File: /p/a.tif\nReason: the file is damaged");
    EXPECT_EQ(text, "Compression error.");
    EXPECT_EQ(details, "File: /p/a.tif\nReason: the file is damaged");
    EXPECT_EQ(title, "PIXAVANT");
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

}  // namespace
}  // namespace pixavant
