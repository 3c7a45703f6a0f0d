#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include "AppFixtures.h"
#include "app/DisplayCheck.h"
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

TEST(Startup, StartDirectoryIsTheWorkingDirectoryTheArgumentOrTheFilesDirectory) {
    FixtureDir dir({"sub/", "file.gif"});
    QString error;
    const QString cwd = QDir::currentPath() + "/";
    EXPECT_EQ(startDirectory({}, &error), cwd);
    EXPECT_EQ(startDirectory({"."}, &error), cwd);
    EXPECT_EQ(startDirectory({"/"}, &error), "/");
    EXPECT_EQ(startDirectory({dir.path() + "sub/../sub"}, &error), dir.path() + "sub/");
    QString fileName;
    EXPECT_EQ(startDirectory({dir.path() + "file.gif"}, &error, &fileName), dir.path());
    EXPECT_EQ(fileName, "file.gif");

    const std::pair<QStringList, const char*> refused[] = {
        {{"/dev/null"}, "neither a directory nor a file"},
        {{dir.path() + "nowhere"}, "no such directory"},
        {{dir.path(), dir.path()}, "usage"}};
    for (const auto& [arguments, why] : refused) {
        EXPECT_FALSE(startDirectory(arguments, &error));
        EXPECT_TRUE(error.contains(why)) << error.toStdString();
    }
}

TEST(DisplayCheck, WindowsStartOnlyWhereADisplayAnswers) {
    struct Case {
        DisplayEnvironment env;
        bool x11Answers;
        const char* missing;  // nullptr: the windows can start
    };
    const Case cases[] = {
        {{"", "", ""}, true, "DISPLAY is not set"},
        {{"", ":0", ""}, true, nullptr},
        {{"", ":7", ""}, false, "the display :7 cannot be opened"},
        {{"", "", "wayland-0"}, false, nullptr},
        {{"offscreen", "", ""}, false, nullptr},
        {{"xcb", "", "wayland-0"}, true, "DISPLAY is not set"},
        {{"xcb:nograb", ":0", ""}, true, nullptr},
        {{"wayland;xcb", ":1", ""}, true, nullptr},
        {{"wayland", ":1", ""}, true, "DISPLAY is not set"},
    };
    for (const Case& c : cases) {
        const auto message =
            missingDisplayMessage(c.env, [&](const QString&) { return c.x11Answers; });
        const std::string what =
            (c.env.platform + "|" + c.env.x11Display + "|" + c.env.waylandDisplay).toStdString();
        if (!c.missing) {
            EXPECT_FALSE(message) << what;
            continue;
        }
        ASSERT_TRUE(message) << what;
        EXPECT_TRUE(message->contains(QLatin1String(c.missing))) << message->toStdString();
        EXPECT_TRUE(message->contains("pixavant convert") && message->contains("pixavant info"));
        EXPECT_FALSE(message->contains('\n'));
    }
}

struct ProgramRun {
    int exitCode;
    QString out;
    QString err;
};

// The program as a user starts it from a terminal without a graphical session.
ProgramRun runWithoutDisplay(const QStringList& arguments, const QString& display = {}) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    if (!display.isEmpty())
        env.insert(QStringLiteral("DISPLAY"), display);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PIXAVANT_EXECUTABLE), arguments);
    process.waitForFinished(30000);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(StartWithoutDisplay, CommandLineWorksAndWindowsSayWhyNot) {
    const ProgramRun version = runWithoutDisplay({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.startsWith("pixavant ")) << version.out.toStdString();
    EXPECT_EQ(version.err, "");

    const ProgramRun help = runWithoutDisplay({"-h"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.contains("pixavant convert")) << help.out.toStdString();
    EXPECT_EQ(help.err, "");

    for (const QString& display : {QString(), QStringLiteral(":4711")}) {
        const ProgramRun windows = runWithoutDisplay({}, display);
        EXPECT_EQ(windows.exitCode, 2) << display.toStdString();
        EXPECT_EQ(windows.out, "");
        // One line, and none of the toolkit's plugin messages.
        EXPECT_EQ(windows.err.count('\n'), 1) << windows.err.toStdString();
        EXPECT_TRUE(windows.err.contains("pixavant convert")) << windows.err.toStdString();
        EXPECT_FALSE(windows.err.contains("qt.qpa")) << windows.err.toStdString();
    }
}

}  // namespace
}  // namespace pixavant
