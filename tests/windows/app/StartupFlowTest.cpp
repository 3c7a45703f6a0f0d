#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include "AppFixtures.h"
#include "app/DisplayCheck.h"
#include "app/FileListBox.h"
#include "app/MainWindow.h"
#include "app/Startup.h"

namespace pixavant {
namespace {

using testing::FixtureDir;

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
        EXPECT_EQ(runDesktop(*qApp, arguments, 0), 2);  // at once, with the usage status
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
        SCOPED_TRACE((c.env.platform + "|" + c.env.x11Display + "|" + c.env.waylandDisplay + ": " +
                      message.value_or("(none)"))
                         .toStdString());
        ASSERT_EQ(message.has_value(), c.missing != nullptr);
        if (message) {
            EXPECT_TRUE(message->contains(QLatin1String(c.missing)) &&
                        message->contains("pixavant convert") &&
                        message->contains("pixavant info") && !message->contains('\n'));
        }
    }
}

// The program as a user starts it from a terminal without a graphical session: the command line
// works; the windows say why not, in one line and without the toolkit's plugin messages.
TEST(StartWithoutDisplay, CommandLineWorksAndWindowsSayWhyNot) {
    // Arguments, DISPLAY, exit status, the start of standard output ("": nothing) and a part of
    // standard error.
    struct Case {
        QStringList arguments;
        QString display;
        int exitCode;
        const char *out, *err;
    } const cases[] = {{{"--version"}, "", 0, "pixavant ", ""},
                       {{}, "", 2, "", "pixavant convert"},
                       {{}, ":4711", 2, "", "pixavant convert"}};
    for (const Case& c : cases) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        if (!c.display.isEmpty())
            env.insert(QStringLiteral("DISPLAY"), c.display);
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(PIXAVANT_EXECUTABLE), c.arguments);
        process.waitForFinished(30000);
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        SCOPED_TRACE(
            (c.arguments.join(' ') + " DISPLAY=" + c.display + ": " + out + err).toStdString());
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE(*c.out ? out.startsWith(QLatin1String(c.out)) : out.isEmpty());
        EXPECT_EQ(err.count('\n'), c.exitCode == 0 ? 0 : 1);
        EXPECT_TRUE(err.contains(QLatin1String(c.err)) && !err.contains("qt.qpa"));
    }
}

}  // namespace
}  // namespace pixavant
