#pragma once

#include <sys/wait.h>
#include <unistd.h>
#include <QByteArray>
#include <functional>

namespace pixavant::testing {

// What a step run as an unprivileged user said, and how it ended.
struct UnprivilegedRun {
    bool ran = false;  // the process started, changed user and ended normally
    int status = 0;    // the step's own status
    QByteArray text;   // what it returned
};

// Runs `step` in a child process as the user nobody when the tests run as root (root writes into
// any folder, whatever its permissions), otherwise as the user itself.
inline UnprivilegedRun runUnprivileged(const std::function<int(QByteArray& text)>& step) {
    UnprivilegedRun run;
    int fds[2];
    if (::pipe(fds) != 0)
        return run;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        if (::geteuid() == 0 &&
            (::setresgid(65534, 65534, 65534) != 0 || ::setresuid(65534, 65534, 65534) != 0))
            ::_exit(255);
        QByteArray text;
        const int status = step(text);
        (void)!::write(fds[1], text.constData(), size_t(text.size()));
        ::_exit(status);
    }
    ::close(fds[1]);
    char buffer[4096];
    for (ssize_t n; child > 0 && (n = ::read(fds[0], buffer, sizeof buffer)) > 0;)
        run.text.append(buffer, n);
    ::close(fds[0]);
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) == 255)
        return run;
    run.ran = true;
    run.status = WEXITSTATUS(status);
    return run;
}

}  // namespace pixavant::testing
