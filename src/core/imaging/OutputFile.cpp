#include "imaging/OutputFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "imaging/ImagingStatus.h"

namespace pixavant::imaging {

namespace {

// The umask can only be read by setting it. Reading it once, before any save can run on another
// thread, keeps two saves side by side from each seeing the other's temporary 0 (and leaving it
// set for the rest of the process).
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t current = ::umask(0);
        ::umask(current);
        return current;
    }();
    return mask;
}

}  // namespace

OutputFile::OutputFile(QString finalPath) : finalPath_(std::move(finalPath)) {}

OutputFile::OutputFile(InMemory) : inMemory_(true) {}

OutputFile::~OutputFile() {
    if (memoryFd_ >= 0)
        ::close(memoryFd_);
    if (inMemory_)
        return;
    if (!committed_ && !tempPath_.isEmpty())
        ::unlink(QFile::encodeName(tempPath_).constData());
}

int OutputFile::create() {
    if (inMemory_) {
        if (memoryFd_ < 0)
            memoryFd_ = ::memfd_create("pixavant-output", MFD_CLOEXEC);
        if (memoryFd_ < 0)
            return kErrWrite;
        tempPath_ = QStringLiteral("/proc/self/fd/%1").arg(memoryFd_);
        return kSuccess;
    }
    const QFileInfo target(finalPath_);
    if (finalPath_.isEmpty() || target.fileName().isEmpty())
        return kErrWrite;
    QByteArray pattern = QFile::encodeName(target.absolutePath() + QStringLiteral("/.") +
                                           target.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return kErrWrite;
    // mkstemp makes the file private; give it the permissions a newly created file would get.
    ::fchmod(fd, 0666 & ~processUmask());
    ::close(fd);
    tempPath_ = QFile::decodeName(pattern);
    return kSuccess;
}

int OutputFile::sync() {
    if (tempPath_.isEmpty())
        return kErrWrite;
    if (inMemory_)
        return kSuccess;
    const int fd = ::open(QFile::encodeName(tempPath_).constData(), O_RDONLY);
    if (fd < 0)
        return kErrWrite;
    synced_ = ::fsync(fd) == 0;
    ::close(fd);
    return synced_ ? kSuccess : kErrWrite;
}

int OutputFile::commit() {
    if (inMemory_)
        return commitToMemory();
    if (!synced_ && sync() != kSuccess)
        return kErrWrite;
    const QByteArray temp = QFile::encodeName(tempPath_);
    if (::rename(temp.constData(), QFile::encodeName(finalPath_).constData()) != 0)
        return kErrWrite;
    committed_ = true;
    return kSuccess;
}

int OutputFile::commitToMemory() {
    struct stat st {};
    if (memoryFd_ < 0 || ::fstat(memoryFd_, &st) != 0 || st.st_size > INT32_MAX)
        return kErrWrite;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n =
            ::pread(memoryFd_, bytes.data() + done, size_t(bytes.size() - done), done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return kErrWrite;
        done += n;
    }
    contents_ = std::move(bytes);
    committed_ = true;
    return kSuccess;
}

}  // namespace pixavant::imaging
