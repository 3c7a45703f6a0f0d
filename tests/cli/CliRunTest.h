#pragma once

#include <gtest/gtest.h>

#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>

#include "RawNames.h"
#include "cli/Cli.h"

namespace pixavant::cli::test {

// The command line with a folder of its own; what it prints is kept in `out` and `err`.
class CliRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + "/";
    }
    void TearDown() override { testing::removeTreeByBytes(tmp.path()); }  // names not UTF-8 too

    // Runs the command line; `input` is what standard input holds.
    int run(const QStringList& args, const QByteArray& input = {}) {
        int fds[2] = {-1, -1};
        if (!input.isEmpty()) {
            EXPECT_EQ(::pipe(fds), 0);
            EXPECT_EQ(::write(fds[1], input.constData(), size_t(input.size())), input.size());
            ::close(fds[1]);
        }
        out.clear();
        err.clear();
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        CliIo io{outStream, errStream};
        io.terminal = terminal;
        io.inputFd = fds[0];
        io.interrupted = interruptWhen;
        const int status = runCli(args, io);
        outStream.flush();
        errStream.flush();
        if (fds[0] >= 0)
            ::close(fds[0]);
        return status;
    }
    // The same with the test's folder as the working folder (elsewhere, a manifest's relative
    // paths would count from the working folder unnoticed).
    int runInDir(const QStringList& args, const QByteArray& input = {}) {
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir);
        const int status = run(args, input);
        QDir::setCurrent(cwd);
        return status;
    }
    // The files of a folder (absolute, or relative to the test's folder), hidden ones too.
    QStringList files(const QString& path) const {
        return QDir(QDir(dir).filePath(path)).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QByteArray readAll(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir tmp;
    QString dir;
    QString out;
    QString err;
    bool terminal = false;  // standard output is a terminal
    std::function<bool()> interruptWhen = [] { return false; };
};

}  // namespace pixavant::cli::test
