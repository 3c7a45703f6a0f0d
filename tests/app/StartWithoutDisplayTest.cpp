#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>

#include "app/DisplayCheck.h"

namespace pixavant {
namespace {

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
