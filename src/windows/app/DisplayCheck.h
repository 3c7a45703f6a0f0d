#pragma once

#include <QString>
#include <functional>
#include <optional>

namespace pixavant {

// What decides whether the windows can be shown: the environment's platform and display names.
struct DisplayEnvironment {
    QString platform;        // QT_QPA_PLATFORM
    QString x11Display;      // DISPLAY
    QString waylandDisplay;  // WAYLAND_DISPLAY

    static DisplayEnvironment fromProcess();
};

// Whether an X server answers on a display name.
using X11Probe = std::function<bool(const QString& display)>;
bool x11DisplayAnswers(const QString& display);

// Nothing when the windows can be shown; otherwise the one line to print instead of starting them
// (the toolkit would only abort with its own messages).
std::optional<QString> missingDisplayMessage(const DisplayEnvironment& environment,
                                             const X11Probe& probe = x11DisplayAnswers);

}  // namespace pixavant
