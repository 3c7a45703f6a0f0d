#include "app/DisplayCheck.h"

#include <xcb/xcb.h>

#include <QStringList>

namespace pixavant {

DisplayEnvironment DisplayEnvironment::fromProcess() {
    return {qEnvironmentVariable("QT_QPA_PLATFORM"), qEnvironmentVariable("DISPLAY"),
            qEnvironmentVariable("WAYLAND_DISPLAY")};
}

bool x11DisplayAnswers(const QString& display) {
    const QByteArray name = display.toLocal8Bit();
    xcb_connection_t* connection = xcb_connect(name.constData(), nullptr);
    const bool answers = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return answers;
}

std::optional<QString> missingDisplayMessage(const DisplayEnvironment& env, const X11Probe& probe) {
    // The platforms to try, in order, as the toolkit tries them ("wayland;xcb"); an option after
    // a colon does not change the platform.
    QStringList platforms;
    for (const QString& entry : env.platform.split(u';', Qt::SkipEmptyParts))
        platforms << entry.section(u':', 0, 0).trimmed();
    if (platforms.isEmpty())
        platforms = {QStringLiteral("wayland"), QStringLiteral("xcb")};

    QString reason;
    for (const QString& platform : platforms) {
        if (platform.startsWith(QLatin1String("wayland"))) {
            if (!env.waylandDisplay.isEmpty())
                return std::nullopt;
        } else if (platform == QLatin1String("xcb")) {
            if (env.x11Display.isEmpty())
                continue;
            if (probe(env.x11Display))
                return std::nullopt;
            reason = QStringLiteral("the display %1 cannot be opened").arg(env.x11Display);
        } else {
            return std::nullopt;  // offscreen, vnc, eglfs...: the user chose a platform of its own
        }
    }
    if (reason.isEmpty())
        reason = QStringLiteral("no display (DISPLAY is not set)");
    return QStringLiteral(
               "pixavant: cannot show the windows: %1; use 'pixavant convert' or "
               "'pixavant info' on the command line (see pixavant --help)")
        .arg(reason);
}

}  // namespace pixavant
