#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QTimer>

#include "AppFixtures.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "app/SplashWindow.h"
#include "app/Startup.h"

namespace pixavant {
namespace {

using testing::FixtureDir;

TEST(SplashWindow, ShowsItsWholeCaptionsAndAnOpaqueLogoAndGivesWayWhenTheTimeIsUp) {
    SplashWindow splash(0);
    for (const QLabel* label : splash.findChildren<QLabel*>()) {
        EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width());
    }
    const QImage logo = SplashWindow::drawLogo();
    int opaque = 0;
    for (int y = 0; y < logo.height(); ++y) {
        for (int x = 0; x < logo.width(); ++x) {
            opaque += qAlpha(logo.pixel(x, y)) == 255;
        }
    }
    EXPECT_GT(opaque, logo.width() * logo.height() / 2);

    bool finished = false;
    QObject::connect(&splash, &SplashWindow::finished, [&] { finished = true; });
    splash.show();
    for (int i = 0; i < 100 && !finished; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_TRUE(finished);
    EXPECT_FALSE(splash.isVisible());
}

TEST(Startup, SplashThenTheMainWindowAtTheStartDirectoryUntilItCloses) {
    testing::resetState();
    FixtureDir dir({"b.gif", "a.jpg"});
    QStringList seen;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (MainWindow* w = MainWindow::instance(); w && w->isVisible()) {
            seen = w->sourceList()->items();
            w->close();
        }
    });
    poll.start(10);
    const int status = runDesktop(*qApp, {dir.path()}, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(seen, QStringList({" a.jpg", " b.gif"}));
    EXPECT_EQ(appState().SourceDir, dir.path());
    EXPECT_EQ(MainWindow::instance(), nullptr);
    qApp->setQuitOnLastWindowClosed(true);
}

TEST(Startup, BadArgumentEndsAtOnceWithUsageStatus) {
    EXPECT_EQ(runDesktop(*qApp, {"/nonexistent/dir", "extra"}, 0), 2);
}

}  // namespace
}  // namespace pixavant
